// Calls on a SIP line, end to end: SIPp callers on loopback, callwatch --headless with
// CALLWATCH_TELEPHONY=sip, loomwork running the tones example for the digits.
#include <fcntl.h>
#include <sys/stat.h>

#include "tests/LoomworkDigits.h"
#include "tests/sip/SipFixture.h"

namespace {

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
  const ProcessResult sipp = runSipp(Sipp("caller.xml", port, Caller("VUD VEROD", "4255550123", alaw, heard.port())));
  EXPECT_EQ(sipp.status, 0) << sipp.err << sipp.out;  // Callwatch's BYE came
  ASSERT_TRUE(loomwork->readUntil([](const ProcessResult& r) { return DigitsHeard(r.out).size() >= 3; }, 10000))
      << loomwork->soFar().out;
  EXPECT_EQ(DigitsHeard(loomwork->soFar().out), "12#");
  ASSERT_TRUE(callwatch->readUntil([](const ProcessResult& r) { return Has(r.out, " Over "); }, 10000));
  const ProcessResult cw = stop(callwatch);
  EXPECT_EQ(cw.status, 0) << cw.err;
  // Rings counted up to the setting, then the answer.
  EXPECT_TRUE(Has(cw.out,
                  "call 1: \"VUD VEROD\" \"+1 (425) 5550123\" Ringing rings 2\n"
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
  EXPECT_GT(ToneLevel(message, message.size() - 2000, 1600, kSpeechHz), 2000)
      << "the caller's voice is not in the message";
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
  ASSERT_GT(message.size(), 8000u);                                               // over a second
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

// CALLWATCH_SIP_LISTEN takes calls over TCP as well as UDP.
TEST_F(SipTest, ACallOverTcpIsTakenToo) {
  writeSettings(4, {});
  const int port = directLine();
  auto callwatch = startCallwatch({});
  std::vector<std::string> args = Sipp("cancel.xml", port, Caller("OVER TCP", "5550198", true, 40000));
  args.insert(args.end(), {"-t", "t1"});
  const ProcessResult sipp = runSipp(args);
  EXPECT_EQ(sipp.status, 0) << sipp.err << sipp.out;
  ASSERT_TRUE(callwatch->readUntil([](const ProcessResult& r) { return Has(r.out, " Over "); }, 10000))
      << callwatch->soFar().out;
  const ProcessResult cw = stop(callwatch);
  EXPECT_TRUE(Has(cw.out, "call 1: \"OVER TCP\" \"+1 (425) 5550198\" Offering rings 1\n")) << cw.out;
}

// A caller asserted by its network (P-Asserted-Identity) is shown as asserted, and one that asks
// for privacy is blocked, whatever its From says.
TEST_F(SipTest, AssertedIdentityNamesTheCallerAndPrivacyBlocksIt) {
  writeSettings(0, {});  // never answered: the callers give up
  const int port = directLine();
  auto callwatch = startCallwatch({});
  const std::string scenario = TempFolder::read(kScenarios + "cancel.xml");
  ASSERT_FALSE(scenario.empty());
  const std::string from =
      "      Contact: <sip:[user]@[local_ip]:[local_port];transport=[transport]>\n      Max-Forwards: 70\n      "
      "Content-Type: application/sdp";
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

namespace {

// Another softphone from Debian places the call: baresip, its audio from a file (its aufile
// module), its keys typed on its console.
TEST_F(SipTest, BaresipPlacesACallThatIsAnsweredRecordedAndForwarded) {
  if (::access("/usr/bin/baresip", X_OK) != 0) GTEST_SKIP() << "baresip is not installed";
  writeSettings(1, {});
  shortGreeting();
  auto loomwork = startLoomwork();
  const int port = directLine();
  auto callwatch = startCallwatch({});
  // baresip's own folder: a direct account with a caller ID, G.711 only, no sound device.
  std::vector<int16_t> tone(5 * 8000);
  for (size_t i = 0; i < tone.size(); ++i)
    tone[i] = static_cast<int16_t>(6000 * std::sin(2 * M_PI * kSpeechHz * i / 8000.0));
  std::string why;
  ASSERT_TRUE(JWaveFile::writeSamples(folder.file("speech.wav"), JWaveFormat::pcm(8000, 1, 16), tone, why)) << why;
  ::mkdir(folder.file("baresip").c_str(), 0755);
  folder.write("baresip/config", "sip_listen 127.0.0.1:" + std::to_string(FreeSipPort()) + "\naudio_player aufile," +
                                     folder.file("heard.wav") + "\naudio_source aufile," + folder.file("speech.wav") +
                                     "\naudio_alert aufile,/dev/null\nmodule_path /usr/lib/baresip/modules\n"
                                     "module stdio.so\nmodule g711.so\nmodule aufile.so\n"
                                     "module_app account.so\nmodule_app menu.so\n");
  folder.write("baresip/accounts", "\"BARE SIP\" <sip:4255550188@127.0.0.1>;regint=0;audio_codecs=PCMA,PCMU\n");
  const std::string keys = folder.file("keys");
  ASSERT_EQ(::mkfifo(keys.c_str(), 0600), 0);
  RunningProcess baresip("/bin/sh", {"-c", "exec baresip -f \"$0\" < \"$1\"", folder.file("baresip"), keys});
  const int fd = ::open(keys.c_str(), O_WRONLY);  // once the shell has opened baresip's console
  ASSERT_GE(fd, 0);
  auto type = [&](const std::string& text) { return ::write(fd, text.data(), text.size()) == ssize_t(text.size()); };
  // A command typed before baresip has loaded its account is lost; a loaded machine starts it
  // slowly.
  ASSERT_TRUE(baresip.readUntil([](const ProcessResult& r) { return Has(r.out + r.err, "baresip is ready."); }, 30000))
      << baresip.soFar().out << baresip.soFar().err;
  ASSERT_TRUE(type("/dial sip:callwatch@127.0.0.1:" + std::to_string(port) + "\n"));
  ASSERT_TRUE(callwatch->readUntil([](const ProcessResult& r) { return Has(r.out, " Connect "); }, 10000))
      << callwatch->soFar().out << baresip.soFar().out;
  loomwork->readUntil([](const ProcessResult&) { return false; }, 1000);  // the caller speaks for a second
  std::string pressed;
  for (char key : std::string("12#")) {
    ASSERT_TRUE(type(std::string(1, key)));
    pressed += key;
    ASSERT_TRUE(loomwork->readUntil([&](const ProcessResult& r) { return DigitsHeard(r.out) == pressed; }, 5000))
        << loomwork->soFar().out;
  }
  ASSERT_TRUE(type("*"));
  ASSERT_TRUE(callwatch->readUntil([](const ProcessResult& r) { return Has(r.out, " Over "); }, 10000));
  type("/quit\n");
  ::close(fd);
  const ProcessResult bs = baresip.finish(10000);
  EXPECT_TRUE(Has(bs.out + bs.err, "terminated")) << bs.out;  // Callwatch hung up on it
  const ProcessResult cw = stop(callwatch);
  EXPECT_TRUE(Has(cw.out, "call 1: \"BARE SIP\" \"+1 (425) 5550188\" Connect rings 1\n")) << cw.out;
  std::string name;
  const std::vector<int16_t> message = onlyMessage(&name);
  EXPECT_EQ(name.rfind("BARE SIP , +1 (425) 5550188 ", 0), 0u) << name;
  ASSERT_GT(message.size(), 4000u);
  EXPECT_GT(ToneLevel(message, message.size() - 2000, 1600, kSpeechHz), 2000)
      << "baresip's audio is not in the message";
  loomwork->signal(SIGINT);
  EXPECT_EQ(loomwork->finish(10000).status, 0);
}

}  // namespace
