#pragma once
// The main window: menus, a toolbar with Dial and Autosize Columns, a status bar showing the
// highlighted command's prompt, and the call log as its only content. It owns the monitoring
// flow, which tells the log's model of its records, and runs the telephony events on its thread.
#include <QMainWindow>
#include <QTimer>
#include <memory>

#include "app/desktop/CallwatchView.h"
#include "core/CallMonitor.h"
#include "core/CallScreen.h"
#include "core/Settings.h"

class QAction;

class CMainFrame : public QMainWindow {
public:
  // setup and settings outlive the frame.
  CMainFrame(CCallScreenSetup& setup, ISettingsStore& settings, QWidget* parent = nullptr);
  ~CMainFrame() override;

  CCallwatchView* View() const { return m_view; }
  // Made when the window is first shown: every line opened and its calls taken up.
  CCallMonitor* Monitor() const { return m_monitor.get(); }
  QAction* DialAction() const { return m_dial; }
  QAction* AutosizeAction() const { return m_autosize; }
  QAction* ActionNamed(const QString& text) const;  // by its menu text, "&Dial" and the like

  void OnSettings();
  void OnLines();
  void OnMessages();
  void OnAbout();
  void UpdateCommands();

protected:
  void showEvent(QShowEvent* event) override;
  // Closing the window ends the program, call screens still up or not.
  void closeEvent(QCloseEvent* event) override;

private:
  QAction* AddCommand(QMenu* menu, const QString& text, const QString& prompt);
  void StartMonitor();

  CCallScreenSetup& m_setup;
  ISettingsStore& m_settings;
  CCallwatchView* m_view;
  std::unique_ptr<CCallMonitor> m_monitor;
  QTimer m_pump;  // the telephony events, run on this thread
  QAction* m_dial = nullptr;
  QAction* m_autosize = nullptr;
};
