// The session both front ends start and stop with, against the provider: configured from the
// command line and the environment, the telephony context started and shut down in order.
#include <map>

#include "app/Session.h"
#include "core/Debug.h"
#include "core/MessageFiles.h"
#include "core/Tapi.h"
#include "tests/ProviderFixture.h"

namespace {

class MemoryStore : public ISettingsStore {
public:
  std::optional<int> ReadInt(const std::string& key) const override {
    auto it = values.find(key);
    return it == values.end() ? std::nullopt : std::optional<int>(it->second);
  }
  void WriteInt(const std::string& key, int value) override { values[key] = value; }
  std::map<std::string, int> values;
};

class SessionTest : public ProviderTest {
protected:
  void TearDown() override {
    unsetenv("CALLWATCH_LOOMWORK_PORT");
    unsetenv("CALLWATCH_GREETING");
    ProviderTest::TearDown();
  }
  MemoryStore store;
};

TEST_F(SessionTest, ConfiguredFromTheCommandLineAndTheEnvironment) {
  CCallwatchSession session(store);
  EXPECT_EQ(&session.Settings(), &store);
  // The call screens forward their digits over the session's own link.
  EXPECT_EQ(session.ScreenSetup().link, &session.Link());
  setenv("CALLWATCH_LOOMWORK_PORT", "4100", 1);
  const std::string greeting = folder.write("greeting.wav", "not a wave file");
  setenv("CALLWATCH_GREETING", greeting.c_str(), 1);
  SetDebugOutput([](const std::string&) {});  // the unreadable greeting is reported
  session.Configure({"callwatch", "2024", "#9"}, folder.file("Messages"));
  SetDebugOutput(nullptr);
  EXPECT_EQ(session.ScreenSetup().endSequence.Text(), "#9");  // the last one that qualifies
  EXPECT_EQ(session.ScreenSetup().messagesFolder, folder.file("Messages"));
  EXPECT_EQ(session.Link().Setup().port, 4100);
  EXPECT_EQ(session.ScreenSetup().greeting.size(), 4000u);  // a tone instead

  CCallwatchSession defaults(store);
  setenv("CALLWATCH_LOOMWORK_PORT", "70000", 1);  // not a port: the link keeps 3502
  SetDebugOutput([](const std::string&) {});
  defaults.Configure({"callwatch"}, "");
  SetDebugOutput(nullptr);
  EXPECT_EQ(defaults.ScreenSetup().endSequence.Text(), "*");
  EXPECT_FALSE(defaults.ScreenSetup().endSequence.Given());
  EXPECT_EQ(defaults.ScreenSetup().messagesFolder, DefaultMessagesFolder());
  EXPECT_EQ(defaults.Link().Setup().port, CDigitSocket::kLoomworkPort);
}

TEST_F(SessionTest, StartsTheTelephonyContextAndShutsItDownOnce) {
  {
    CCallwatchSession session(store);
    ASSERT_TRUE(session.Start());
    EXPECT_NE(CTapiContext::LineApp(), 0u);
    EXPECT_NE(CTapiContext::PhoneApp(), 0u);
    CCallMonitor monitor(nullptr, session.ScreenSetup());
    monitor.OpenAllLines();
    testing::internal::CaptureStderr();
    session.Announce(&monitor);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "callwatch: watching 2 of 2 lines; messages in ; end sequence '*'\n");
  }
  // The session that went out of scope stopped: the context is free for the next one.
  EXPECT_EQ(CTapiContext::LineApp(), 0u);
  EXPECT_EQ(CTapiContext::PhoneApp(), 0u);
  CCallwatchSession again(store);
  ASSERT_TRUE(again.Start());
  testing::internal::CaptureStderr();
  again.Stop();
  again.Stop();  // once is enough
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "callwatch: stopped\n");
  EXPECT_EQ(CTapiContext::LineApp(), 0u);
}

TEST_F(SessionTest, WithoutALineTheSessionDoesNotStart) {
  setenv("PHONESIM_LINES", "0", 1);
  CCallwatchSession session(store);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(session.Start());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Can't initialize the line of Windows Telephony.\n");
  EXPECT_EQ(CTapiContext::LineApp(), 0u);
}

}  // namespace
