#include "DesktopMain.h"

#include <QApplication>
#include <memory>

#include "DesktopMessages.h"
#include "DigitLink.h"
#include "MainFrame.h"
#include "Tapi.h"

int RunDesktop(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Callwatch");
  if (CTapiContext::LineInitialize(nullptr, "Callwatch", nullptr) < 0) {
    ShowMessage(nullptr, messages::kCannotInitialise);
    return 1;
  }
  CTapiContext::PhoneInitialize(nullptr, "Callwatch", nullptr);  // without phones: no speaker
  int status = 0;
  {
    auto frame = std::make_unique<CMainFrame>();
    frame->show();
    status = app.exec();
    // The view goes with the frame: settings written, calls still going finished.
  }
  EndDataToLoomwork();
  CTapiContext::LineShutdown();
  CTapiContext::PhoneShutdown();
  return status;
}
