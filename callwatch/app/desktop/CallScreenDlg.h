#pragma once
// The call screen's window: a small modeless window per incoming call with the caller's name and
// number and the three choices. What it shows is set by the call screen's logic through
// ICallScreenView; its buttons call that logic.
#include <QDialog>

#include "core/CallRecord.h"
#include "core/CallScreen.h"

class QLabel;
class QLineEdit;
class QPushButton;

class CCallScreenDlg : public QDialog, public ICallScreenView {
public:
  // The record's screen receives the choices (it is made after this window).
  explicit CCallScreenDlg(CCallRecord* record, QWidget* parent = nullptr);

  void ShowScreen(bool visible) override;
  void ShowControl(int id, bool visible) override;
  void SetControlText(int id, const std::string& text) override;
  void MessageBox(const std::string& text) override;
  void CallerChanged(const std::string& name, const std::string& number) override;

  QWidget* Control(int id) const;
  QString ControlText(int id) const;

protected:
  void reject() override;  // Escape and the close box only hide it; the call goes on

private:
  // Grows the window when what it now shows needs more room than it has.
  void FitContents();
  CCallScreen* Screen() const { return m_record ? m_record->screen.get() : nullptr; }

  CCallRecord* m_record;
  QLineEdit* m_name;
  QLineEdit* m_number;
  QPushButton* m_takeCall;
  QPushButton* m_takeMessage;
  QPushButton* m_hangUp;
  QLabel* m_dtmf;
};
