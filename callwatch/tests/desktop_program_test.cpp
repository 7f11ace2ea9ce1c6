// callwatch as a user starts it: with its window (offscreen here) unless --headless.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include "testing/Process.h"
#include "testing/TempFolder.h"

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class DesktopProgramTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(folder.ok());
    setenv("CALLWATCH_TELEPHONY", CALLWATCH_PROVIDER, 1);
    setenv("PHONESIM_SOCKET", folder.file("phonesim.sock").c_str(), 1);
    setenv("PHONESIM_LINES", "2", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("XDG_CONFIG_HOME", folder.file("config").c_str(), 1);  // never the user's settings
  }
  TempFolder folder{"callwatch-desktop-program"};
};

TEST_F(DesktopProgramTest, OpensItsWindowWatchesTheLinesAndWritesItsSettingsOnTheWayOut) {
  RunningProcess cw(CALLWATCH_BIN, {"--messages", folder.file("Messages"), "#9"});
  ASSERT_TRUE(cw.started());
  ASSERT_TRUE(cw.readUntil([](const ProcessResult& r) { return Has(r.err, "callwatch: watching"); }, 10000))
      << cw.soFar().err;
  EXPECT_TRUE(Has(cw.soFar().err, "watching 2 of 2 lines")) << cw.soFar().err;
  EXPECT_TRUE(Has(cw.soFar().err, "end sequence '#9'"));
  cw.signal(SIGTERM);
  const ProcessResult r = cw.finish(10000);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "callwatch: stopped"));
  // The window closed as its Exit command closes it: the view's settings written.
  const std::string conf = TempFolder::read(folder.file("config/Larkspur Soft/Callwatch.conf"));
  EXPECT_TRUE(Has(conf, "SortColumn=0")) << conf;
  EXPECT_TRUE(Has(conf, "SortAscending=1")) << conf;
  EXPECT_TRUE(Has(conf, "ColumnWidth5=")) << conf;
}

TEST_F(DesktopProgramTest, WithoutALineTheWindowSaysSoAndASignalStillEndsIt) {
  setenv("PHONESIM_LINES", "0", 1);
  RunningProcess cw(CALLWATCH_BIN, {});
  ASSERT_TRUE(cw.readUntil(
      [](const ProcessResult& r) { return Has(r.err, "Can't initialize the line of Windows Telephony."); }, 10000))
      << cw.soFar().err;
  cw.signal(SIGTERM);  // the message box waits for a user; the signal does not
  const ProcessResult r = cw.finish(10000);
  EXPECT_EQ(r.status, 1);
  // --headless is still the front end without a window.
  const ProcessResult headless = runProcess(CALLWATCH_BIN, {"--headless"}, 10000);
  EXPECT_EQ(headless.status, 1);
  EXPECT_EQ(headless.err, "Can't initialize the line of Windows Telephony.\n");
}

}  // namespace
