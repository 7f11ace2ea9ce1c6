#include "app/desktop/Dialogs.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <climits>

#include "app/desktop/DesktopMessages.h"
#include "app/desktop/WindowLimits.h"
#include "core/CallMonitor.h"
#include "core/TapiBuffer.h"

// ---- call screening settings ------------------------------------------------------------------

CRingsSpinBox::CRingsSpinBox(QWidget* parent) : QSpinBox(parent) {
  setRange(-999999, 999999);  // typing is free; the dialog judges the value
}

void CRingsSpinBox::stepBy(int steps) {
  const int v = std::clamp(value() + steps, CScreenSettingsDlg::kLowest, CScreenSettingsDlg::kHighest);
  setValue(v);
  selectAll();
}

QAbstractSpinBox::StepEnabled CRingsSpinBox::stepEnabled() const {
  StepEnabled e = StepNone;
  if (value() < CScreenSettingsDlg::kHighest) e |= StepUpEnabled;
  if (value() > CScreenSettingsDlg::kLowest) e |= StepDownEnabled;
  return e;
}

CScreenSettingsDlg::CScreenSettingsDlg(int rings, QWidget* parent)
    : QDialog(parent), m_field(new CRingsSpinBox(this)), m_rings(rings) {
  setWindowTitle("Call Screening Settings");
  m_field->setValue(rings);
  auto* label = new QLabel("&Answer calls after", this);
  label->setBuddy(m_field);
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(m_field);
  row->addWidget(new QLabel("rings.", this));
  auto* ok = new QPushButton("OK", this);
  ok->setDefault(true);
  auto* cancel = new QPushButton("Cancel", this);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(row);
  layout->addLayout(buttons);
  SettleSizeLimits(this);
}

void CScreenSettingsDlg::accept() {
  bool ok = false;
  const int value = m_field->text().trimmed().toInt(&ok);
  if (!ok || value < kLowest || value > kHighest) {
    ShowMessage(this, QString("Please enter an integer between %1 and %2.").arg(kLowest).arg(kHighest));
    m_field->setFocus();
    m_field->selectAll();
    return;
  }
  m_rings = value;
  QDialog::accept();
}

// ---- lines ------------------------------------------------------------------------------------

CLinesDlg::CLinesDlg(const CCallMonitor* monitor, QWidget* parent) : QDialog(parent), m_list(new QTreeWidget(this)) {
  setWindowTitle("Lines");
  m_list->setRootIsDecorated(false);
  m_list->setColumnCount(3);
  m_list->setHeaderLabels({"Line ID", "Line Name", "Monitor Status"});
  m_list->header()->setStretchLastSection(false);
  const DWORD count = CTapiContext::LineCount();
  for (DWORD i = 0; i < count; ++i) {
    QString name;
    CTapiBuffer caps;
    if (caps.FetchLineDevCaps(CTapiContext::LineApp(), i, CTapiContext::LineVersion(i)) < 0) {
      name = "<unknown>";
    } else if (const LINEDEVCAPS* c = caps.As<LINEDEVCAPS>()) {
      if (c->dwStringFormat == STRINGFORMAT_ASCII)
        name = QString::fromStdString(caps.TextAt(c->dwLineNameOffset, c->dwLineNameSize));
    } else {
      name = "<unknown>";
    }
    bool open = false;
    if (monitor)
      for (const auto& line : monitor->Lines())
        if (line->IsOpen() && line->DeviceID() == static_cast<LONG>(i)) open = true;
    auto* item = new QTreeWidgetItem(m_list);
    item->setText(0, QString::asprintf("%lu", static_cast<unsigned long>(i)));
    item->setText(1, name);
    item->setText(2, open ? "Open" : "Not open");
  }
  auto* ok = new QPushButton("OK", this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_list);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(ok);
  layout->addLayout(row);
  resize(420, 220);
  SettleSizeLimits(this);
}

void CLinesDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  const int third = m_list->viewport()->width() / 3;
  for (int c = 0; c < 3; ++c) m_list->setColumnWidth(c, third);
}

// ---- about ------------------------------------------------------------------------------------

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle("About Callwatch");
  auto* icon = new QLabel(this);
  const QIcon programIcon =
      qApp->windowIcon().isNull() ? style()->standardIcon(QStyle::SP_MessageBoxInformation) : qApp->windowIcon();
  icon->setPixmap(programIcon.pixmap(32, 32));
  auto* cool = new QPushButton("Cool", this);
  cool->setDefault(true);
  connect(cool, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(icon, 0, Qt::AlignTop);
  layout->addWidget(new QLabel("Callwatch Version 1.0", this), 1);
  layout->addWidget(cool, 0, Qt::AlignTop);
  SettleSizeLimits(this);
}
