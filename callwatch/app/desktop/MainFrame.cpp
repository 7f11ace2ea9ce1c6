#include "app/desktop/MainFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QUrl>

#include "app/desktop/CallScreenDlg.h"
#include "app/desktop/DesktopMessages.h"
#include "app/desktop/Dialogs.h"
#include "app/desktop/WindowLimits.h"
#include "base/MessageQueue.h"
#include "core/MessageFiles.h"

CMainFrame::CMainFrame(CCallScreenSetup& setup, ISettingsStore& settings, QWidget* parent)
    : QMainWindow(parent), m_setup(setup), m_settings(settings), m_view(new CCallwatchView(settings, this)) {
  setWindowTitle("Callwatch");
  setCentralWidget(m_view);

  QMenu* monitor = menuBar()->addMenu("&Monitor");
  m_dial = AddCommand(monitor, "&Dial", "Dial currently selected caller\nDial");
  m_dial->setIcon(style()->standardIcon(QStyle::SP_DialogYesButton));
  connect(m_dial, &QAction::triggered, m_view, [this] { m_view->Dial(); });
  connect(AddCommand(monitor, "&Call Screen Settings...", "Set call screen settings."), &QAction::triggered, this,
          [this] { OnSettings(); });
  monitor->addSeparator();
  connect(AddCommand(monitor, "E&xit", "Quit the application; prompts to save documents\nExit"), &QAction::triggered,
          this, &QWidget::close);

  QMenu* view = menuBar()->addMenu("&View");
  connect(AddCommand(view, "Lines...", "View TAPI lines and their monitor status\nLines"), &QAction::triggered, this,
          [this] { OnLines(); });
  connect(AddCommand(view, "&Messages...", QString()), &QAction::triggered, this, [this] { OnMessages(); });
  view->addSeparator();
  QToolBar* toolbar = addToolBar("Toolbar");
  toolbar->setObjectName("Toolbar");
  QAction* showToolbar = AddCommand(view, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar");
  showToolbar->setCheckable(true);
  showToolbar->setChecked(true);
  connect(showToolbar, &QAction::toggled, toolbar, &QWidget::setVisible);
  QAction* showStatus = AddCommand(view, "&Status Bar", "Show or hide the status bar\nToggle StatusBar");
  showStatus->setCheckable(true);
  showStatus->setChecked(true);
  connect(showStatus, &QAction::toggled, statusBar(), &QWidget::setVisible);
  view->addSeparator();
  m_autosize = AddCommand(view, "&Autosize Columns", "Resize columns to size of entries\nAutosize");
  m_autosize->setIcon(style()->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton));
  connect(m_autosize, &QAction::triggered, m_view, [this] { m_view->AutosizeColumns(); });

  QMenu* help = menuBar()->addMenu("&Help");
  connect(AddCommand(help, "&About Callwatch...", "Display program information, version number and copyright\nAbout"),
          &QAction::triggered, this, [this] { OnAbout(); });

  toolbar->addAction(m_dial);
  toolbar->addAction(m_autosize);
  toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  statusBar()->showMessage("Ready");
  m_view->SetCommandsChanged([this] { UpdateCommands(); });
  m_view->Model()->SetScreenViews([](CCallRecord* record) { return std::make_unique<CCallScreenDlg>(record); });
  UpdateCommands();
  // Wide enough for every column at its default width, where the screen has the room.
  int width = m_view->DefaultWidth();
  if (const QScreen* s = screen()) width = std::min(width, s->availableGeometry().width());
  resize(std::max(width, 400), 360);
  SettleSizeLimits(this);
  m_pump.setInterval(10);
  connect(&m_pump, &QTimer::timeout, this, [] { CMessageQueue::ForThisThread()->Pump(0); });
}

CMainFrame::~CMainFrame() {
  // Closing the view: its settings first, then every record finished (which may still redraw
  // rows and stop the refresh), then the rows.
  m_view->Finish();
  m_pump.stop();
  m_monitor.reset();
  m_view->Model()->Clear();
}

void CMainFrame::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);  // the view has set up its columns by now
  if (!m_monitor) StartMonitor();
}

void CMainFrame::StartMonitor() {
  m_monitor = std::make_unique<CCallMonitor>(m_view->Model(), m_setup);
  m_monitor->OpenAllLines();
  m_monitor->ApplyRings(CCallwatchSettings::Load(m_settings).rings);
  m_pump.start();
}

// The prompt's first line goes to the status bar, the part after the line break is the tooltip.
QAction* CMainFrame::AddCommand(QMenu* menu, const QString& text, const QString& prompt) {
  QAction* a = menu->addAction(text);
  const int cut = prompt.indexOf('\n');
  a->setStatusTip(cut < 0 ? prompt : prompt.left(cut));
  if (cut >= 0) a->setToolTip(prompt.mid(cut + 1));
  return a;
}

QAction* CMainFrame::ActionNamed(const QString& text) const {
  for (QAction* menu : menuBar()->actions())
    if (menu->menu())
      for (QAction* a : menu->menu()->actions())
        if (a->text() == text) return a;
  return nullptr;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  QMainWindow::closeEvent(event);
  if (event->isAccepted()) QCoreApplication::exit(0);
}

void CMainFrame::UpdateCommands() {
  m_dial->setEnabled(m_view->CanDial());
  m_autosize->setEnabled(m_view->CanAutosize());
}

void CMainFrame::OnSettings() {
  CScreenSettingsDlg dlg(CCallwatchSettings::Load(m_settings).rings, this);
  if (dlg.exec() != QDialog::Accepted) return;
  CCallwatchSettings::SaveRings(m_settings, dlg.Rings());
  if (m_monitor) m_monitor->ApplyRings(dlg.Rings());
}

void CMainFrame::OnLines() {
  CLinesDlg dlg(m_monitor.get(), this);
  dlg.exec();
}

void CMainFrame::OnMessages() {
  std::string folder = m_setup.messagesFolder;
  if (folder.empty()) folder = DefaultMessagesFolder();
  if (!EnsureFolder(folder) || !QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder))))
    ShowMessage(this, QString(messages::kCannotOpenMessages) + "\n" + QString::fromStdString(folder));
}

void CMainFrame::OnAbout() {
  CAboutDlg dlg(this);
  dlg.exec();
}
