#pragma once
// The three small dialogs: call screening settings, the lines, and About.
#include <QDialog>
#include <QSpinBox>

class QTreeWidget;
class CCallMonitor;

// Its arrows stay within 0 to 4 but any integer may be typed, so that OK can refuse it.
class CRingsSpinBox : public QSpinBox {
public:
  explicit CRingsSpinBox(QWidget* parent = nullptr);
  void stepBy(int steps) override;

protected:
  StepEnabled stepEnabled() const override;
};

class CScreenSettingsDlg : public QDialog {
public:
  static constexpr int kLowest = 0, kHighest = 4;
  explicit CScreenSettingsDlg(int rings, QWidget* parent = nullptr);
  int Rings() const { return m_rings; }
  QSpinBox* Field() const { return m_field; }
  void accept() override;  // refuses values outside 0 to 4

private:
  CRingsSpinBox* m_field;
  int m_rings;
};

class CLinesDlg : public QDialog {
public:
  // One row per line device; the monitor says which of them Callwatch holds open.
  explicit CLinesDlg(const CCallMonitor* monitor, QWidget* parent = nullptr);
  QTreeWidget* List() const { return m_list; }

protected:
  void showEvent(QShowEvent* event) override;

private:
  QTreeWidget* m_list;
};

class CAboutDlg : public QDialog {
public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};
