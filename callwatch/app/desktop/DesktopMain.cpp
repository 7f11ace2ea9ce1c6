#include "app/desktop/DesktopMain.h"

#include <signal.h>

#include <QApplication>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <memory>

#include "app/desktop/DesktopMessages.h"
#include "link/DigitLink.h"
#include "app/desktop/MainFrame.h"
#include "core/Tapi.h"

namespace {
std::atomic<bool> g_quit{false};
void OnSignal(int) { g_quit = true; }
}  // namespace

int RunDesktop(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Callwatch");
  // SIGINT and SIGTERM close the window as its Exit command does (settings written, calls
  // finished), also while a message box waits.
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  QTimer quitCheck;
  QObject::connect(&quitCheck, &QTimer::timeout, &app, [] {
    if (g_quit) QCoreApplication::exit(0);
  });
  quitCheck.start(100);

  if (CTapiContext::LineInitialize(nullptr, "Callwatch", nullptr) < 0) {
    std::fprintf(stderr, "%s\n", messages::kCannotInitialise);
    std::fflush(stderr);
    ShowMessage(nullptr, messages::kCannotInitialise);
    return 1;
  }
  CTapiContext::PhoneInitialize(nullptr, "Callwatch", nullptr);  // without phones: no speaker
  int status = 0;
  {
    auto frame = std::make_unique<CMainFrame>();
    frame->show();
    int open = 0;
    if (const CCallMonitor* monitor = frame->View()->Monitor())
      for (const auto& line : monitor->Lines()) open += line->IsOpen();
    std::fprintf(stderr, "callwatch: watching %d of %u lines; messages in %s; end sequence '%s'\n",
                 open, CTapiContext::LineCount(), CallScreenSetup().messagesFolder.c_str(),
                 CallScreenSetup().endSequence.Text().c_str());
    std::fflush(stderr);
    status = app.exec();
    // The view goes with the frame: settings written, calls still going finished.
  }
  EndDataToLoomwork();
  CTapiContext::LineShutdown();
  CTapiContext::PhoneShutdown();
  std::fprintf(stderr, "callwatch: stopped\n");
  return status;
}
