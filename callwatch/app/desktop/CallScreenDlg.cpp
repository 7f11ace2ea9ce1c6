#include "app/desktop/CallScreenDlg.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/desktop/DesktopMessages.h"
#include "app/desktop/WindowLimits.h"

CCallScreenDlg::CCallScreenDlg(CCallRecord* record, QWidget* parent) : QDialog(parent), m_record(record) {
  setWindowTitle("Answered Call -- DTMF sent to loomwork");
  setModal(false);
  auto* caller = new QGroupBox("Caller", this);
  auto* grid = new QGridLayout(caller);
  m_name = new QLineEdit(caller);
  m_name->setReadOnly(true);
  m_number = new QLineEdit(caller);
  m_number->setReadOnly(true);
  auto* nameLabel = new QLabel("&Name", caller);
  nameLabel->setBuddy(m_name);
  auto* numberLabel = new QLabel("&Phone No.", caller);
  numberLabel->setBuddy(m_number);
  grid->addWidget(nameLabel, 0, 0);
  grid->addWidget(m_name, 0, 1);
  grid->addWidget(numberLabel, 1, 0);
  grid->addWidget(m_number, 1, 1);

  m_takeCall = new QPushButton("&Take the Call", this);
  m_takeMessage = new QPushButton("&Take a Message", this);
  m_hangUp = new QPushButton("&Hang Up", this);
  m_hangUp->hide();
  for (QPushButton* b : {m_takeCall, m_takeMessage, m_hangUp}) b->setAutoDefault(false);
  m_dtmf = new QLabel("Waiting for DTMF...", this);
  m_dtmf->setAlignment(Qt::AlignCenter);
  m_dtmf->hide();

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_takeCall);
  buttons->addWidget(m_takeMessage);
  buttons->addWidget(m_hangUp);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(caller);
  layout->addLayout(buttons);
  layout->addWidget(m_dtmf);
  setMinimumWidth(360);
  // Its limits are those of the first choice, set once: the controls it shows later change what
  // the layout asks for, and a window already up grows to fit them instead (FitContents).
  SettleSizeLimits(this);
  layout->setSizeConstraint(QLayout::SetNoConstraint);

  connect(m_takeCall, &QPushButton::clicked, this, [this] {
    if (CCallScreen* s = Screen()) s->TakeTheCall();
  });
  connect(m_takeMessage, &QPushButton::clicked, this, [this] {
    if (CCallScreen* s = Screen()) s->TakeMessage();
  });
  connect(m_hangUp, &QPushButton::clicked, this, [this] {
    if (CCallScreen* s = Screen()) s->HangUp();
  });
}

QWidget* CCallScreenDlg::Control(int id) const {
  switch (id) {
    case IDC_NAME: return m_name;
    case IDC_NUMBER: return m_number;
    case IDC_TAKE_CALL: return m_takeCall;
    case IDC_TAKE_MESSAGE: return m_takeMessage;
    case IDC_HANG_UP: return m_hangUp;
    case IDC_DTMF_TEXT: return m_dtmf;
    default: return nullptr;
  }
}

QString CCallScreenDlg::ControlText(int id) const {
  if (auto* e = qobject_cast<QLineEdit*>(Control(id))) return e->text();
  if (auto* b = qobject_cast<QPushButton*>(Control(id))) return b->text();
  if (auto* l = qobject_cast<QLabel*>(Control(id))) return l->text();
  return {};
}

void CCallScreenDlg::ShowScreen(bool visible) {
  // A window that appears comes up on top by itself; one already up is brought forward.
  const bool wasVisible = isVisible();
  setVisible(visible);
  if (visible && wasVisible) raise();
}

void CCallScreenDlg::ShowControl(int id, bool visible) {
  if (QWidget* w = Control(id)) w->setVisible(visible);
  FitContents();
}

void CCallScreenDlg::FitContents() {
  QLayout* l = layout();
  if (!l) return;
  l->activate();
  const QSize need = size().expandedTo(l->totalMinimumSize());
  if (need != size()) resize(need);
}

void CCallScreenDlg::SetControlText(int id, const std::string& text) {
  const QString t = QString::fromStdString(text);
  if (auto* e = qobject_cast<QLineEdit*>(Control(id))) e->setText(t);
  else if (auto* b = qobject_cast<QPushButton*>(Control(id))) b->setText(t);
  else if (auto* l = qobject_cast<QLabel*>(Control(id))) l->setText(t);
  FitContents();
}

// A modal box would run the events under this window, and the call's end would destroy it (and
// the box) while the box waits.
void CCallScreenDlg::MessageBox(const std::string& text) {
  ShowMessageWithoutWaiting(this, QString::fromStdString(text));
}

void CCallScreenDlg::CallerChanged(const std::string& name, const std::string& number) {
  m_name->setText(QString::fromStdString(name));
  m_number->setText(QString::fromStdString(number));
}

void CCallScreenDlg::reject() { hide(); }
