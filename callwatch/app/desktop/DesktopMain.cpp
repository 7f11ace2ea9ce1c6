#include "app/desktop/DesktopMain.h"

#include <QApplication>
#include <QTimer>
#include <memory>

#include "app/Session.h"
#include "app/desktop/DesktopMessages.h"
#include "app/desktop/MainFrame.h"

int RunDesktop(int argc, char** argv, CCallwatchSession& session) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Callwatch");
  // SIGINT and SIGTERM close the window as its Exit command does (settings written, calls
  // finished), also while a message box waits.
  CCallwatchSession::CatchSignals();
  QTimer quitCheck;
  QObject::connect(&quitCheck, &QTimer::timeout, &app, [] {
    if (CCallwatchSession::StopRequested()) QCoreApplication::exit(0);
  });
  quitCheck.start(100);

  if (!session.Start()) {
    ShowMessage(nullptr, messages::kCannotInitialise);
    return 1;
  }
  int status = 0;
  {
    auto frame = std::make_unique<CMainFrame>(session.ScreenSetup(), session.Settings());
    frame->show();
    session.Announce(frame->Monitor());
    status = app.exec();
    // The monitor goes with the frame: settings written, calls still going finished.
  }
  session.Stop();
  return status;
}
