// Calls on a SIP line, end to end: SIPp callers on loopback, callwatch --headless with
// CALLWATCH_TELEPHONY=sip, loomwork running the tones example for the digits.
#include "tests/sip/SipFixture.h"

namespace {

std::string DigitsHeard(const std::string& out) {
  std::string digits;
  const std::string tag = "M digit.0 ";
  for (size_t at = out.find(tag); at != std::string::npos; at = out.find(tag, at + 1))
    digits += static_cast<char>(std::atoi(out.c_str() + at + tag.size()));
  return digits;
}

// A caller with a name and a number is counted two rings, answered, hears the greeting over RTP,
// speaks into the message file, and presses 1 2 # (forwarded to loomwork) and * (Callwatch
// hangs up with a BYE); once with A-law and once with mu-law.
class SipCallTest : public SipTest {
protected:
  void callerIsAnsweredRecordedAndForwarded(bool alaw);
};

void SipCallTest::callerIsAnsweredRecordedAndForwarded(bool alaw) {
  writeSettings(2, {});
  toneGreeting();
  auto loomwork = startLoomwork();
  const int port = directLine();
  auto callwatch = startCallwatch({});
  RtpListener heard;
  const ProcessResult sipp =
      runSipp(Sipp("caller.xml", port, Caller("VUD VEROD", "4255550123", alaw, heard.port())));
  EXPECT_EQ(sipp.status, 0) << sipp.err << sipp.out;  // Callwatch's BYE came
  ASSERT_TRUE(loomwork->readUntil([](const ProcessResult& r) { return DigitsHeard(r.out).size() >= 3; }, 10000))
      << loomwork->soFar().out;
  EXPECT_EQ(DigitsHeard(loomwork->soFar().out), "12#");
  ASSERT_TRUE(callwatch->readUntil([](const ProcessResult& r) { return Has(r.out, " Over "); }, 10000));
  const ProcessResult cw = stop(callwatch);
  EXPECT_EQ(cw.status, 0) << cw.err;
  // Rings counted up to the setting, then the answer.
  EXPECT_TRUE(Has(cw.out, "call 1: \"VUD VEROD\" \"+1 (425) 5550123\" Ringing rings 2\n"
                          "call 1: \"VUD VEROD\" \"+1 (425) 5550123\" Connect rings 2\n"))
      << cw.out;
  EXPECT_FALSE(Has(cw.out, "rings 3"));
  EXPECT_TRUE(Has(cw.out, "call 1: \"VUD VEROD\" \"+1 (425) 5550123\" Over rings 2\n"));

  // The greeting (a tone of 440 Hz) reached the caller in the codec it offered.
  size_t others = 0;
  const std::vector<int16_t> greeting = heard.audio(alaw ? 8 : 0, &others);
  ASSERT_GE(greeting.size(), 800u);
  double best = 0;
  for (size_t at = 0; at + 400 <= greeting.size(); at += 80) best = std::max(best, ToneLevel(greeting, at, 400, 440));
  EXPECT_GT(best, 4000) << "the greeting's tone is not in what the caller heard";
  // The caller's speech is in the message file, named after the caller.
  std::string name;
  const std::vector<int16_t> message = onlyMessage(&name);
  EXPECT_EQ(name.rfind("VUD VEROD , +1 (425) 5550123 ", 0), 0u) << name;
  ASSERT_GT(message.size(), 4000u);  // half a second at least: what the caller said before 1
  EXPECT_GT(ToneLevel(message, message.size() - 2000, 1600, kSpeechHz), 2000) << "the caller's voice is not in the message";
  loomwork->signal(SIGINT);
  EXPECT_EQ(loomwork->finish(10000).status, 0);
}

TEST_F(SipCallTest, ACallerOnALawIsAnsweredAfterTheRingsHearsTheGreetingIsRecordedAndItsDigitsReachLoomwork) {
  callerIsAnsweredRecordedAndForwarded(true);
}

TEST_F(SipCallTest, ACallerOnMuLawIsAnsweredAfterTheRingsHearsTheGreetingIsRecordedAndItsDigitsReachLoomwork) {
  callerIsAnsweredRecordedAndForwarded(false);
}

TEST_F(SipTest, DigitsSentAsSipInfoOfBothKindsReachLoomworkAndTheEndSequenceHangsUp) {
  writeSettings(1, {});
  shortGreeting();
  auto loomwork = startLoomwork();
  const int port = directLine();
  auto callwatch = startCallwatch({});
  RtpListener heard;
  const ProcessResult sipp = runSipp(Sipp("info.xml", port, Caller("INFO", "5550123", false, heard.port())));
  EXPECT_EQ(sipp.status, 0) << sipp.err << sipp.out;
  ASSERT_TRUE(loomwork->readUntil([](const ProcessResult& r) { return DigitsHeard(r.out).size() >= 3; }, 10000))
      << loomwork->soFar().out;
  loomwork->readUntil([](const ProcessResult&) { return false; }, 200);  // nothing more comes
  EXPECT_EQ(DigitsHeard(loomwork->soFar().out), "12#");
  const ProcessResult cw = stop(callwatch);
  EXPECT_TRUE(Has(cw.out, "call 1: \"INFO\" \"+1 (425) 5550123\" Over rings 1\n")) << cw.out;
  loomwork->signal(SIGINT);
  EXPECT_EQ(loomwork->finish(10000).status, 0);
}

TEST_F(SipTest, AnAnonymousCallerIsBlockedAndWhenItHangsUpWhileRecordingItsMessageIsKept) {
  writeSettings(1, {});
  shortGreeting();
  const int port = directLine();
  auto callwatch = startCallwatch({});
  RtpListener heard;
  const ProcessResult sipp = runSipp(Sipp("hangup.xml", port, Caller("Anonymous", "anonymous", true, heard.port())));
  EXPECT_EQ(sipp.status, 0) << sipp.err << sipp.out;
  ASSERT_TRUE(callwatch->readUntil([](const ProcessResult& r) { return Has(r.out, " Over "); }, 10000))
      << callwatch->soFar().out;
  const ProcessResult cw = stop(callwatch);
  EXPECT_TRUE(Has(cw.out, "call 1: \"<blocked>\" \"<blocked>\" Connect rings 1\n")) << cw.out;
  EXPECT_TRUE(Has(cw.out, "call 1: \"<blocked>\" \"<blocked>\" Disconnected rings 1\n"));
  EXPECT_TRUE(Has(cw.out, "call 1: \"<blocked>\" \"<blocked>\" Over rings 1\n"));
  // Named by the time alone, and holds what the caller said until it hung up.
  std::string name;
  const std::vector<int16_t> message = onlyMessage(&name);
  EXPECT_TRUE(name.size() > 4 && name.find(',') == 3 && name[0] != '<') << name;  // "Wed, Dec 09, 1508 hours.wav"
  ASSERT_GT(message.size(), 8000u);  // over a second
  EXPECT_GT(ToneLevel(message, message.size() - 4000, 1600, kSpeechHz), 2000);
}

TEST_F(SipTest, ACallerWhoGivesUpWhileItRingsIsAMissedCallWithNoMessage) {
  writeSettings(4, {});
  shortGreeting();
  const int port = directLine();
  auto callwatch = startCallwatch({});
  const ProcessResult sipp = runSipp(Sipp("cancel.xml", port, Caller("EARLY", "5550199", true, 40000)));
  EXPECT_EQ(sipp.status, 0) << sipp.err << sipp.out;  // 200 for the CANCEL, 487 for the INVITE
  ASSERT_TRUE(callwatch->readUntil([](const ProcessResult& r) { return Has(r.out, " Over "); }, 10000))
      << callwatch->soFar().out;
  const ProcessResult cw = stop(callwatch);
  EXPECT_FALSE(Has(cw.out, "Connect")) << cw.out;
  EXPECT_TRUE(Has(cw.out, "call 1: \"EARLY\" \"+1 (425) 5550199\" Over rings ")) << cw.out;
  EXPECT_TRUE(FilesIn(folder.file("Messages")).empty());
}

// A caller asserted by its network (P-Asserted-Identity) is shown as asserted, and one that asks
// for privacy is blocked, whatever its From says.
TEST_F(SipTest, AssertedIdentityNamesTheCallerAndPrivacyBlocksIt) {
  writeSettings(0, {});  // never answered: the callers give up
  const int port = directLine();
  auto callwatch = startCallwatch({});
  const std::string scenario = TempFolder::read(kScenarios + "cancel.xml");
  ASSERT_FALSE(scenario.empty());
  const std::string from = "      Contact: <sip:[user]@[local_ip]:[local_port];transport=[transport]>\n      Max-Forwards: 70\n      Content-Type: application/sdp";
  ASSERT_TRUE(Has(scenario, from));
  auto withHeader = [&](const std::string& file, const std::string& header) {
    std::string s = scenario;
    s.replace(s.find(from), from.size(),
              "      Contact: <sip:[user]@[local_ip]:[local_port];transport=[transport]>\n      " + header +
                  "\n      Max-Forwards: 70\n      Content-Type: application/sdp");
    return folder.write(file, s);
  };
  auto args = [&](const std::string& path) {
    std::vector<std::string> a = Sipp("cancel.xml", port, Caller("FROM NAME", "5550100", true, 40000));
    a[1] = path;
    return a;
  };
  ProcessResult asserted =
      runSipp(args(withHeader("asserted.xml", "P-Asserted-Identity: \"ASSERTED\" <sip:4255550177@carrier.test>")));
  EXPECT_EQ(asserted.status, 0) << asserted.err;
  ProcessResult hidden = runSipp(args(withHeader("privacy.xml", "Privacy: id")));
  EXPECT_EQ(hidden.status, 0) << hidden.err;
  ASSERT_TRUE(callwatch->readUntil([](const ProcessResult& r) { return CountOf(r.out, " Over ") >= 2; }, 10000))
      << callwatch->soFar().out;
  const ProcessResult cw = stop(callwatch);
  EXPECT_TRUE(Has(cw.out, "call 1: \"ASSERTED\" \"+1 (425) 5550177\" Over")) << cw.out;
  EXPECT_TRUE(Has(cw.out, "call 2: \"<blocked>\" \"<blocked>\" Over")) << cw.out;
  EXPECT_FALSE(Has(cw.out, "FROM NAME"));
}

}  // namespace
