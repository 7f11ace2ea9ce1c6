// The programs as a user runs them: callwatch --headless against the provider, phonesim placing
// calls, and the whole telephone path into loomwork's tone digit receiver.
#include "tests/ProgramsFixture.h"

namespace {

TEST_F(ProgramsTest, ATelephoneCallEndsAsKeysInLoomworkAndAMessageOnDisk) {
  const int port = FreePort();
  setenv("CALLWATCH_LOOMWORK_PORT", std::to_string(port).c_str(), 1);
  folder.write("connect.txt", "127.0.0.1\n");
  RunningProcess loomwork(LOOMWORK_BIN, {"run", kSource + "/examples/tones/tones.lwd", "--modules",
                                         LOOMWORK_MODULES_DIR, "--set", "dtmf.port=" + std::to_string(port)});
  auto callwatch = startCallwatch({});
  const std::string audio = kSource + "/examples/phone/caller.wav";
  ProcessResult call = runProcess(PHONESIM_BIN,
                                  {"call", "--line", "0", "--name", "VUD VEROD", "--number", "14255550123", "--audio",
                                   audio, "--digits", "12#*", "--ring-ms", "400", "--digit-ms", "300"},
                                  60000);
  EXPECT_EQ(call.status, 0) << call.err;
  EXPECT_EQ(call.outLines(),
            (std::vector<std::string>{"offered", "rung 1", "rung 2", "rung 3", "rung 4", "answered", "digit sent 1",
                                      "digit sent 2", "digit sent #", "digit sent *", "dropped", "idle"}));
  // The keys 1, 2 and # went up in loomwork; * ended the call and never left callwatch.
  EXPECT_TRUE(loomwork.readUntil([](const ProcessResult& r) { return Has(r.out, "M keys.11 65535"); }, 20000))
      << loomwork.soFar().out << loomwork.soFar().err;
  callwatch->readUntil([](const ProcessResult& r) { return Has(r.out, "Over"); }, 5000);
  callwatch->signal(SIGTERM);
  ProcessResult cw = callwatch->finish(10000);
  loomwork.signal(SIGINT);
  ProcessResult lw = loomwork.finish(10000);
  EXPECT_EQ(cw.status, 0) << cw.err;
  EXPECT_EQ(lw.status, 0) << lw.err;
  EXPECT_TRUE(Has(lw.out, "M keys.1 65535"));
  EXPECT_TRUE(Has(lw.out, "M keys.2 65535"));
  EXPECT_TRUE(Has(lw.out, "M keys.11 65535"));
  EXPECT_FALSE(Has(lw.out, "M keys.10 65535"));
  EXPECT_FALSE(Has(lw.out, "M digit.0 42"));
  // callwatch told the record's life, one line per change.
  EXPECT_TRUE(Has(cw.out, "call 1: \"VUD VEROD\" \"+1 (425) 5550123\" Offering rings 1\n"));
  EXPECT_TRUE(Has(cw.out, "call 1: \"VUD VEROD\" \"+1 (425) 5550123\" Ringing rings 4\n"));
  EXPECT_TRUE(Has(cw.out, "Connect rings 4\n"));
  EXPECT_TRUE(Has(cw.out, "Over rings 4\n"));
  EXPECT_TRUE(Has(cw.err, "callwatch: stopped"));
  EXPECT_TRUE(Has(TempFolder::read(folder.file("test.txt")), "Send digit # to loomwork"));

  // The message: the caller's words from their start, up to the first digit.
  std::vector<std::string> files;
  ProcessResult ls = runProcess("/bin/ls", {folder.file("Messages")}, 5000);
  files = ls.outLines();
  ASSERT_EQ(files.size(), 1u) << ls.out;
  EXPECT_EQ(files[0].rfind("VUD VEROD , +1 (425) 5550123 ", 0), 0u) << files[0];
  EXPECT_EQ(files[0].substr(files[0].size() - 10), " hours.wav");
  std::vector<int16_t> said, message;
  std::string error;
  ASSERT_TRUE(ReadWaveFile(audio, &said, &error)) << error;
  ASSERT_TRUE(ReadWaveFile(folder.file("Messages/" + files[0]), &message, &error)) << error;
  ASSERT_GE(message.size(), said.size());
  EXPECT_TRUE(std::equal(said.begin(), said.end(), message.begin()));
  EXPECT_LT(message.size(), said.size() + 8000 * 3);  // silence only until the first digit
}

TEST_F(ProgramsTest, CallwatchWithoutALineSaysSoAndEnds) {
  setenv("PHONESIM_LINES", "0", 1);
  ProcessResult r = runProcess(CALLWATCH_BIN, {"--headless"}, 10000);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Can't initialize the line of Windows Telephony.\n");
  r = runProcess(CALLWATCH_BIN, {"--bogus"}, 10000);
  EXPECT_EQ(r.status, 2);
}

TEST_F(ProgramsTest, PhonesimSaysClearlyWhyACallCannotBePlaced) {
  // No provider running.
  ProcessResult r = runProcess(PHONESIM_BIN, {"call", "--line", "0"}, 10000);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "phonesim: cannot reach the telephony provider at ")) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
  // A sound at another rate.
  std::string wav = "RIFF";
  auto le32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  wav += le32(40) + "WAVEfmt " + le32(16) + std::string{1, 0, 1, 0} + le32(44100) + le32(88200) +
         std::string{2, 0, 16, 0} + "data" + le32(4) + std::string(4, '\0');
  const std::string file = folder.write("fast.wav", wav);
  r = runProcess(PHONESIM_BIN, {"call", "--line", "0", "--audio", file}, 10000);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "sound must be 8000 Hz, 16-bit, mono (this is 44100 Hz")) << r.err;
  // 45 bytes whose last chunk has an odd length (and so no pad byte): no sound, said so.
  wav = "RIFF" + le32(37) + "WAVEfmt " + le32(16) + std::string{1, 0, 1, 0} + le32(8000) + le32(16000) +
        std::string{2, 0, 16, 0} + "junk" + le32(1) + "x";
  ASSERT_EQ(wav.size(), 45u);
  const std::string odd = folder.write("odd.wav", wav);
  r = runProcess(PHONESIM_BIN, {"call", "--line", "0", "--audio", odd}, 10000);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "phonesim: " + odd + ": no sound data\n");
  // A line the provider does not have.
  auto callwatch = startCallwatch({"#9"});
  r = runProcess(PHONESIM_BIN, {"call", "--line", "5"}, 10000);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "phonesim: the provider refused the call: no line 5 (the provider has 2)\n");
  // Bad command lines.
  EXPECT_EQ(runProcess(PHONESIM_BIN, {"call"}, 10000).status, 2);
  EXPECT_EQ(runProcess(PHONESIM_BIN, {"call", "--line", "0", "--digits", "12x"}, 10000).status, 2);
  EXPECT_EQ(runProcess(PHONESIM_BIN, {"hangup"}, 10000).status, 2);
  callwatch->signal(SIGINT);
  ProcessResult cw = callwatch->finish(10000);
  EXPECT_EQ(cw.status, 0);
  EXPECT_TRUE(Has(cw.err, "end sequence '#9'"));
}

}  // namespace
