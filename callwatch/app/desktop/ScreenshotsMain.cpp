// callwatch_screenshots OUT-FOLDER
// Pictures of the desktop window against the simulated provider: the call log with a blocked
// caller, a long name and calls in progress, a call screen in each of its modes, and the dialogs.
// Runs on any Qt platform (offscreen included); its provider's socket, its messages and its
// settings stay in a temporary folder, so the user's own settings are never touched.
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QPushButton>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "app/desktop/CallScreenDlg.h"
#include "app/desktop/Dialogs.h"
#include "app/desktop/MainFrame.h"
#include "app/settings/QtSettingsStore.h"
#include "core/Tapi.h"
#include "platform/ControlClient.h"

namespace {

CCallRequest Request(int line, const char* name, const char* number, int rings, int ringMs) {
  CCallRequest r;
  r.line = line;
  r.name = name;
  r.number = number;
  r.rings = rings;
  r.ringMs = ringMs;
  r.hangupMs = 60000;
  return r;
}

bool Save(QWidget* w, const QString& path) {
  QApplication::processEvents();
  if (!w->grab().save(path)) {
    std::fprintf(stderr, "callwatch_screenshots: cannot write %s\n", path.toUtf8().constData());
    return false;
  }
  std::printf("%s\n", path.toUtf8().constData());
  return true;
}

// Runs the window's events until done() holds or ms pass; whether it held.
template <typename F>
bool WaitFor(F done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() >= ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

CCallScreenDlg* ScreenOf(CCallRecord* r) {
  return r && r->screen ? dynamic_cast<CCallScreenDlg*>(r->screen->View()) : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: callwatch_screenshots OUT-FOLDER\n");
    return 2;
  }
  char work[] = "/tmp/callwatch-screenshots-XXXXXX";
  if (!mkdtemp(work)) {
    std::perror("callwatch_screenshots");
    return 1;
  }
  setenv("PHONESIM_SOCKET", (std::string(work) + "/phonesim.sock").c_str(), 1);
  setenv("PHONESIM_LINES", "2", 1);
  setenv("PHONESIM_LOCATION", "1,425", 1);
  setenv("XDG_CONFIG_HOME", work, 1);
  // Qt wants a runtime folder of the user's own (0700, as mkdtemp makes it); a shell without a
  // login session has none.
  if (!getenv("XDG_RUNTIME_DIR")) setenv("XDG_RUNTIME_DIR", work, 1);
  QApplication app(argc, argv);
  const QString out = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(out)) {
    std::fprintf(stderr, "callwatch_screenshots: cannot make %s\n", argv[1]);
    return 1;
  }
  CCallScreenSetup setup;  // no digit link: no loomwork to forward to here
  setup.messagesFolder = std::string(work) + "/Messages";
  CQtSettingsStore settings;
  CCallwatchSettings::SaveRings(settings, 0);  // the calls wait for the pictures, never answered alone
  if (CTapiContext::LineInitialize(nullptr, "Callwatch", nullptr) < 0) {
    std::fprintf(stderr, "callwatch_screenshots: Can't initialize the line of Windows Telephony.\n");
    return 1;
  }
  CTapiContext::PhoneInitialize(nullptr, "Callwatch", nullptr);

  bool ok = true;
  {
    auto frame = std::make_unique<CMainFrame>(setup, settings);
    frame->resize(frame->View()->DefaultWidth(), 300);  // every column whole, whatever the screen
    frame->show();
    CCallwatchView* view = frame->View();
    auto rowCount = [&] { return view->Model()->rowCount(); };
    std::vector<std::unique_ptr<CSimulatedCall>> callers;
    // The record of the call placed: the row that was not there before (rows are placed in the
    // log's order, not at its end).
    auto place = [&](const CCallRequest& r) -> CCallRecord* {
      std::vector<CCallRecord*> before;
      for (int row = 0; row < rowCount(); ++row) before.push_back(view->Model()->Record(row));
      callers.push_back(std::make_unique<CSimulatedCall>(r));
      if (!callers.back()->Lines().empty() && callers.back()->Lines().front().rfind("error ", 0) == 0)
        std::fprintf(stderr, "callwatch_screenshots: cannot place a call: %s\n",
                     callers.back()->Lines().front().c_str() + 6);
      WaitFor([&] { return rowCount() > static_cast<int>(before.size()) || callers.back()->Done(); }, 10000);
      for (int row = 0; row < rowCount(); ++row)
        if (std::find(before.begin(), before.end(), view->Model()->Record(row)) == before.end())
          return view->Model()->Record(row);
      return nullptr;
    };
    // Two calls over: a blocked caller and a long name; nobody answers, they give up.
    CCallRequest blocked = Request(0, "", "", 2, 300);
    blocked.blocked = true;
    place(blocked);
    ok &= WaitFor([&] { return callers.back()->Done(); }, 10000);
    place(Request(0, "Maximilian Aurelius Featherstonehaugh-Cholmondeley", "12065550142", 2, 300));
    ok &= WaitFor([&] { return callers.back()->Done(); }, 10000);
    // Two calls in progress.
    CCallRecord* offered = place(Request(1, "VUD VEROD", "14255550123", 20, 1500));
    CCallRecord* taken = place(Request(0, "ANN OTHERTON", "12065550199", 20, 1500));
    WaitFor([] { return false; }, 2500);
    CCallScreenDlg* first = ScreenOf(offered);
    CCallScreenDlg* second = ScreenOf(taken);
    if (!first || !second) {
      std::fprintf(stderr, "callwatch_screenshots: the calls brought no call screens (%d rows)\n", rowCount());
      ok = false;
    } else {
      ok &= Save(first, out + "/callscreen-offered.png");
      static_cast<QPushButton*>(second->Control(IDC_TAKE_CALL))->click();
      ok &= WaitFor([&] { return callers.back()->Has("answered"); }, 5000);
      ok &= Save(second, out + "/callscreen-take-call.png");
      static_cast<QPushButton*>(first->Control(IDC_TAKE_MESSAGE))->click();
      ok &= WaitFor([&] { return callers[2]->Has("answered"); }, 5000);
      ok &= Save(first, out + "/callscreen-message.png");
    }
    view->SortBy(kColDateTime, true);
    view->selectionModel()->select(view->Model()->index(1, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->setCurrentIndex(view->Model()->index(1, 0));
    view->setFocus();
    ok &= Save(frame.get(), out + "/mainwindow.png");
    frame->AutosizeAction()->trigger();
    ok &= Save(frame.get(), out + "/mainwindow-autosized.png");

    {
      // The dialog as a user first sees it.
      CCallwatchSettings::SaveRings(settings, CCallMonitor::kDefaultRings);
      CScreenSettingsDlg rings(CCallwatchSettings::Load(settings).rings);
      rings.show();
      ok &= Save(&rings, out + "/settings.png");
      CLinesDlg lines(frame->Monitor());
      lines.show();
      ok &= Save(&lines, out + "/lines.png");
      CAboutDlg about;
      about.show();
      ok &= Save(&about, out + "/about.png");
    }
    frame.reset();  // the calls still going are finished
    callers.clear();
  }
  CTapiContext::LineShutdown();
  CTapiContext::PhoneShutdown();
  QDir(work).removeRecursively();
  return ok ? 0 : 1;
}
