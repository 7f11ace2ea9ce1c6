#pragma once
// The main window: menus, a toolbar with Dial and Autosize Columns, a status bar showing the
// highlighted command's prompt, and the call log as its only content.
#include <QMainWindow>

#include "app/desktop/CallwatchView.h"

class QAction;

class CMainFrame : public QMainWindow {
public:
  explicit CMainFrame(QWidget* parent = nullptr);

  CCallwatchView* View() const { return m_view; }
  QAction* DialAction() const { return m_dial; }
  QAction* AutosizeAction() const { return m_autosize; }
  QAction* ActionNamed(const QString& text) const;  // by its menu text, "&Dial" and the like

  void OnSettings();
  void OnLines();
  void OnMessages();
  void OnAbout();
  void UpdateCommands();

protected:
  // Closing the window ends the program, call screens still up or not.
  void closeEvent(QCloseEvent* event) override;

private:
  QAction* AddCommand(QMenu* menu, const QString& text, const QString& prompt);

  CCallwatchView* m_view;
  QAction* m_dial = nullptr;
  QAction* m_autosize = nullptr;
};
