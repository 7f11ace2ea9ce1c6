// The call screen's rules (end sequences, the digit display, message file names) and the
// recorder's WAVE files.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "base/WaveDefs.h"
#include "core/MessageFiles.h"
#include "tests/CallwatchFixture.h"

namespace {

struct tm At(int year, int month, int day, int hour, int minute) {
  struct tm t {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_isdst = -1;
  time_t when = mktime(&t);
  localtime_r(&when, &t);
  return t;
}

TEST(MessageFileNameTest, NamedAfterCallerNumberAndTime) {
  const struct tm monday = At(2021, 1, 4, 14, 25);
  EXPECT_EQ(MessageFileName("VUD VEROD", "+1 (425) 5550123", monday),
            "VUD VEROD , +1 (425) 5550123 Mon, Jan 04, 1425 hours.wav");
  EXPECT_EQ(MessageFileName("<blocked>", "<blocked>", monday), "Mon, Jan 04, 1425 hours.wav");
  EXPECT_EQ(MessageFileName("", "+1 (425) 5550123", monday), ", +1 (425) 5550123 Mon, Jan 04, 1425 hours.wav");
  EXPECT_EQ(MessageFileName("Ann", "<unknown>", monday), "Ann Mon, Jan 04, 1425 hours.wav");
}

TEST(MessageFileNameTest, CallerTextsCannotLeaveTheFolderOrHideTheFile) {
  const struct tm t = At(2021, 1, 4, 9, 5);
  EXPECT_EQ(MessageFileName("../../etc/passwd", "1/2", t), "_._.._etc_passwd , 1_2 Mon, Jan 04, 0905 hours.wav");
  EXPECT_EQ(MessageFileName(".hidden", "", t), "_hidden Mon, Jan 04, 0905 hours.wav");
  EXPECT_EQ(MessageFileName(std::string("a\tb\x01\x7f", 5) + "c\\d", "", t), "a_b__c_d Mon, Jan 04, 0905 hours.wav");
  // Safe names are kept exactly, whatever their script.
  EXPECT_EQ(SafeFileNamePart("Zoë O'Brien-Smith (home) #2"), "Zoë O'Brien-Smith (home) #2");
  // A name as long as caller ID allows still leaves a file name the system accepts.
  const std::string name = MessageFileName(std::string(255, 'x'), std::string(255, '9'), t);
  EXPECT_LE(name.size(), 255u);
}

TEST(MessageFileNameTest, NamesAreSafeForAShellAndValidUtf8) {
  const struct tm t = At(2021, 1, 4, 9, 5);
  // A caller named like an option: the file is not taken for one.
  EXPECT_EQ(MessageFileName("-rf", "", t), "_rf Mon, Jan 04, 0905 hours.wav");
  EXPECT_EQ(SafeFileNamePart("--x-y"), "_-x-y");
  // Bytes outside UTF-8: stray continuations, bad leads, overlong forms (a '/' in two bytes),
  // surrogates, past U+10FFFF, a sequence cut short by the end.
  EXPECT_EQ(SafeFileNamePart("a\x80" "b\xff" "c"), "a_b_c");
  EXPECT_EQ(SafeFileNamePart("\xc0\xaf"), "__");
  EXPECT_EQ(SafeFileNamePart("x\xed\xa0\x80"), "x___");
  EXPECT_EQ(SafeFileNamePart("x\xf4\x90\x80\x80"), "x____");
  EXPECT_EQ(SafeFileNamePart("x\xe2\x82"), "x__");
  // C1 controls (U+0080 to U+009F) are controls too; other characters are kept whole.
  EXPECT_EQ(SafeFileNamePart("a\xc2\x85" "b\xc2\xa0" "c\xf0\x9f\x93\x9e"), "a_b\xc2\xa0" "c\xf0\x9f\x93\x9e");
  // A NUL is a control like any other, not the end of the name.
  EXPECT_EQ(SafeFileNamePart(std::string("A\0B", 3)), "A_B");
  // The cut to the longest part never halves a character.
  const std::string cut = SafeFileNamePart(std::string(kMostCallerInFileName - 1, 'x') + "\xc3\xa9");
  EXPECT_EQ(cut, std::string(kMostCallerInFileName - 1, 'x'));
}

TEST(MessageFileNameTest, ASecondMessageInTheSameMinuteGetsItsOwnFile) {
  TempFolder folder("callwatch-names");
  EXPECT_EQ(FreeMessagePath(folder.path(), "Ann 1425 hours.wav"), folder.file("Ann 1425 hours.wav"));
  folder.write("Ann 1425 hours.wav", "x");
  EXPECT_EQ(FreeMessagePath(folder.path(), "Ann 1425 hours.wav"), folder.file("Ann 1425 hours (2).wav"));
  folder.write("Ann 1425 hours (2).wav", "x");
  EXPECT_EQ(FreeMessagePath(folder.path(), "Ann 1425 hours.wav"), folder.file("Ann 1425 hours (3).wav"));
}

TEST(EndSequenceTest, DefaultStarAndSequencesFromTheCommandLine) {
  CEndSequence seq;
  EXPECT_EQ(seq.Text(), "*");
  EXPECT_FALSE(seq.Ends('1'));
  EXPECT_FALSE(seq.Ends('#'));
  EXPECT_TRUE(seq.Ends('*'));

  const char* argv[] = {"callwatch", "--headless", "#9"};
  seq.SetFromCommandLine(3, argv);
  EXPECT_EQ(seq.Text(), "#9");
  EXPECT_FALSE(seq.Ends('4'));
  EXPECT_FALSE(seq.Ends('#'));
  EXPECT_TRUE(seq.Ends('9'));
  // A mismatch restarts the match and the digit is not tried again as a start.
  EXPECT_FALSE(seq.Ends('#'));
  EXPECT_FALSE(seq.Ends('4'));
  EXPECT_FALSE(seq.Ends('9'));
  EXPECT_FALSE(seq.Ends('#'));
  EXPECT_FALSE(seq.Ends('#'));
  EXPECT_FALSE(seq.Ends('9'));  // "##9": the second # broke the match
  EXPECT_FALSE(seq.Ends('*'));  // given a sequence, '*' is an ordinary digit

  const char* other[] = {"callwatch", "hello", "-x"};  // no digit parameter: nothing changes
  CEndSequence untouched;
  untouched.SetFromCommandLine(3, other);
  EXPECT_FALSE(untouched.Given());
  EXPECT_EQ(untouched.Text(), "*");

  const std::string longer(150, '1');
  const char* tooLong[] = {"callwatch", longer.c_str()};
  seq.SetFromCommandLine(2, tooLong);
  EXPECT_EQ(seq.Text(), std::string(103, '1'));
}

class CallScreenTest : public CallwatchTest {};

TEST_F(CallScreenTest, DigitsAreForwardedAndTheDisplayShowsTheLastEight) {
  UseBuiltProvider();
  CTapiCall call(4242, nullptr);  // a call the provider does not know: requests just fail
  auto shown = std::make_shared<ShownScreen>();
  CCallScreen screen(&call, "Ann", "+1 (425) 5550123", std::make_unique<TestScreenView>(shown), setup);
  EXPECT_TRUE(shown->visible);
  EXPECT_EQ(shown->name, "Ann");
  EXPECT_FALSE(shown->shown[IDC_HANG_UP]);
  EXPECT_EQ(shown->texts[IDC_DTMF_TEXT], "Waiting for DTMF...");
  setup.endSequence.Set("#9");
  screen.TakeMessage();
  EXPECT_EQ(screen.GetMode(), CCallScreen::kMessage);
  EXPECT_EQ(shown->texts[IDC_DTMF_TEXT], "Accepted call -- press '#9' to end call");
  EXPECT_EQ(shown->boxes, (std::vector<std::string>{"Can't answer the call"}));
  for (char c : std::string("0123456789")) screen.OnMonitorDigit(&call, c, LINEDIGITMODE_DTMF);
  EXPECT_EQ(shown->texts[IDC_DTMF_TEXT], "23456789");
  EXPECT_EQ(digits.forwarded, "0123456789");
  EXPECT_EQ(digits.ends, 0);
  screen.OnMonitorDigit(&call, '#', LINEDIGITMODE_DTMF);
  screen.OnMonitorDigit(&call, '9', LINEDIGITMODE_DTMF);  // ends: not forwarded, link closed
  EXPECT_EQ(digits.forwarded, "0123456789#");
  EXPECT_EQ(digits.ends, 1);
  EXPECT_EQ(setup.digitDisplay, "456789#9");
  screen.TakeTheCall();  // clears the display
  EXPECT_EQ(setup.digitDisplay, "");
  screen.HangUp();
  EXPECT_EQ(digits.ends, 2);
  EXPECT_FALSE(shown->visible);
  EXPECT_EQ(shown->boxes.back(), "Can't drop the call");
}

// ---- the recorder -----------------------------------------------------------------------------

class RecorderTest : public CallwatchTest, public IWaveSink {
protected:
  void OnInputData() override { ++inputData; }
  void OnOutputDone() override { ++outputDone; }
  void OnInputOpen() override { ++opened; }
  void OnInputClose() override { ++closed; }
  int inputData = 0, outputDone = 0, opened = 0, closed = 0;
};

TEST_F(RecorderTest, ThreeSecondsGiveTheWaveLayoutByteForByte) {
  start(0);
  CWaveRecorder recorder(this);
  ASSERT_TRUE(recorder.Record(0, 3));
  EXPECT_TRUE(recorder.IsRecording());
  ASSERT_TRUE(pumpUntil([&] { return inputData == 1; }, 10000));  // the buffer filled
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(recorder.DataSize(), 48000u);
  const std::string path = folder.file("three.wav");
  ASSERT_TRUE(recorder.Save(path));
  const std::string wav = TempFolder::read(path);
  ASSERT_EQ(wav.size(), 46u + 48000u);
  const unsigned char header[46] = {'R', 'I', 'F', 'F',  0xA6, 0xBB, 0x00, 0x00,  // 48038
                                    'W', 'A', 'V', 'E',  'f',  'm',  't',  ' ',  18,   0,    0,    0,   1,
                                    0,   1,   0,   0x40, 0x1F, 0,    0,    0x80, 0x3E, 0,    0,    2,   0,
                                    16,  0,   0,   0,    'd',  'a',  't',  'a',  0x80, 0xBB, 0x00, 0x00};  // 48000
  EXPECT_EQ(std::memcmp(wav.data(), header, sizeof header), 0);
  std::vector<int16_t> samples;
  std::string error;
  ASSERT_TRUE(ReadWaveFile(path, &samples, &error)) << error;
  ASSERT_EQ(samples.size(), 24000u);
  EXPECT_EQ(std::memcmp(samples.data(), recorder.Data(), 48000), 0);
  recorder.Release();
  EXPECT_EQ(recorder.DataSize(), 0u);
  EXPECT_FALSE(recorder.Save(path));  // nothing to save
  pumpFor(50);
  EXPECT_EQ(closed, 1);
}

TEST_F(RecorderTest, StoppingEarlyKeepsWhatWasRecordedAndRefusesBadDevices) {
  start(0);
  CWaveRecorder recorder(this);
  EXPECT_FALSE(recorder.Record(7, 3));  // no such device
  ASSERT_TRUE(recorder.Record(1, 120));
  EXPECT_EQ(recorder.DataSize(), 0u);
  pumpFor(200);
  EXPECT_TRUE(recorder.Stop());
  EXPECT_FALSE(recorder.IsRecording());
  EXPECT_GT(recorder.DataSize(), 0u);
  EXPECT_LT(recorder.DataSize(), 16000u * 5);
  EXPECT_EQ(recorder.DataSize() % 2, 0u);
  ASSERT_TRUE(pumpUntil([&] { return inputData == 1; }));  // the reset hands the buffer back
  EXPECT_TRUE(recorder.HasRecording());
}

TEST_F(RecorderTest, FailedSavesSayWhyAndWriteNothingElsewhere) {
  start(0);
  CWaveRecorder recorder(this);
  ASSERT_TRUE(recorder.Record(0, 1));
  ASSERT_TRUE(pumpUntil([&] { return inputData == 1; }));
  EXPECT_FALSE(recorder.Save(folder.file("no/such/folder.wav")));
  EXPECT_EQ(debug,
            (std::vector<std::string>{"CreateFile() -- Can't open file: " + folder.file("no/such/folder.wav") + "\n"}));
  debug.clear();
  EXPECT_FALSE(recorder.Save("/dev/full"));
  EXPECT_EQ(debug, (std::vector<std::string>{"Can't write RIFF chunk\n"}));  // the first write fails
}

// Sound files Callwatch reads (a caller's words, the greeting): 8000 Hz, 16-bit, mono, whole and
// within bounds, or refused with the reason.
TEST(CallwatchSoundFileTest, OnlyTheCallFormatIsReadAndDamagedFilesAreRefusedWithinTheirBytes) {
  TempFolder folder("callwatch-sound");
  auto le16 = [](uint16_t v) { return std::string{char(v & 255), char(v >> 8)}; };
  auto le32 = [&](uint32_t v) { return le16(uint16_t(v & 0xFFFF)) + le16(uint16_t(v >> 16)); };
  auto fmt = [&](uint16_t channels, uint32_t rate, uint16_t bits) {
    const uint16_t align = uint16_t(channels * bits / 8);
    return "fmt " + le32(16) + le16(1) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits);
  };
  auto riff = [&](const std::string& chunks) { return "RIFF" + le32(uint32_t(chunks.size() + 4)) + "WAVE" + chunks; };
  const std::string mustBe = ": sound must be 8000 Hz, 16-bit, mono (this is ";
  std::vector<int16_t> samples{1};
  std::string error;
  auto read = [&](const std::string& name, const std::string& bytes) {
    samples.assign(1, 7);
    error.clear();
    return ReadWaveFile(folder.write(name, bytes), &samples, &error);
  };

  EXPECT_TRUE(read("good.wav", riff(fmt(1, 8000, 16) + "data" + le32(4) + le16(1) + le16(0xFFFF)))) << error;
  EXPECT_EQ(samples, (std::vector<int16_t>{1, -1}));

  // 45 bytes: the last chunk has an odd length and so no pad byte; nothing is read past the end.
  const std::string odd = riff(fmt(1, 8000, 16) + "junk" + le32(1) + "x");
  ASSERT_EQ(odd.size(), 45u);
  EXPECT_FALSE(read("odd.wav", odd));
  EXPECT_EQ(error, folder.file("odd.wav") + ": no sound data");
  EXPECT_TRUE(samples.empty());
  // 45 bytes whose odd last chunk is the sound: half a sample is no sample.
  EXPECT_TRUE(read("half.wav", riff(fmt(1, 8000, 16) + "data" + le32(1) + "x"))) << error;
  EXPECT_TRUE(samples.empty());

  // Other layouts the host reads are still not the telephone's.
  EXPECT_FALSE(read("fast.wav", riff(fmt(1, 44100, 16) + "data" + le32(2) + le16(0))));
  EXPECT_EQ(error, folder.file("fast.wav") + mustBe + "44100 Hz, 16-bit, 1 channel(s))");
  EXPECT_FALSE(read("eight.wav", riff(fmt(1, 8000, 8) + "data" + le32(2) + "xy")));
  EXPECT_EQ(error, folder.file("eight.wav") + mustBe + "8000 Hz, 8-bit, 1 channel(s))");
  EXPECT_FALSE(read("stereo.wav", riff(fmt(2, 8000, 16) + "data" + le32(4) + le32(0))));
  EXPECT_EQ(error, folder.file("stereo.wav") + mustBe + "8000 Hz, 16-bit, 2 channel(s))");
  EXPECT_TRUE(samples.empty());
  EXPECT_FALSE(read("cut.wav", riff(fmt(1, 8000, 16)).substr(0, 30)));
  EXPECT_EQ(error, folder.file("cut.wav") + ": the format chunk is cut short");
  EXPECT_FALSE(read("text.wav", "not a wave file"));
  EXPECT_EQ(error, folder.file("text.wav") + ": not a RIFF WAVE file");
  EXPECT_FALSE(ReadWaveFile(folder.file("missing.wav"), &samples, &error));
  EXPECT_EQ(error.rfind(folder.file("missing.wav") + ": ", 0), 0u) << error;

  // Larger than Callwatch takes (a sparse file: nothing of it is read).
  const std::string big = folder.write("big.wav", riff(fmt(1, 8000, 16) + "data" + le32(0)));
  ASSERT_EQ(::truncate(big.c_str(), off_t(kMostWaveBytes) + 1), 0);
  EXPECT_FALSE(ReadWaveFile(big, &samples, &error));
  EXPECT_EQ(error, big + ": larger than 64 MiB");
}

TEST_F(CallScreenTest, ScreensOfOneSetupShareTheMatcherAndAnotherSetupHasItsOwn) {
  UseBuiltProvider();
  CTapiCall first(4244, nullptr), second(4245, nullptr), third(4246, nullptr);
  setup.endSequence.Set("12");
  CCallScreenSetup otherSetup;
  KeptDigitLink otherDigits;
  otherSetup.link = &otherDigits;
  otherSetup.endSequence.Set("12");
  CCallScreen a(&first, "A", "", nullptr, setup);
  CCallScreen b(&second, "B", "", nullptr, setup);
  CCallScreen c(&third, "C", "", nullptr, otherSetup);
  for (CCallScreen* s : {&a, &b, &c}) s->TakeMessage();
  a.OnMonitorDigit(&first, '1', LINEDIGITMODE_DTMF);   // the run's matcher moves on
  c.OnMonitorDigit(&third, '2', LINEDIGITMODE_DTMF);   // the other's does not: forwarded there
  b.OnMonitorDigit(&second, '2', LINEDIGITMODE_DTMF);  // completes the run's sequence
  EXPECT_EQ(digits.forwarded, "1");
  EXPECT_EQ(digits.ends, 1);
  EXPECT_EQ(setup.digitDisplay, "12");
  EXPECT_EQ(otherDigits.forwarded, "2");
  EXPECT_EQ(otherDigits.ends, 0);
  EXPECT_EQ(otherSetup.digitDisplay, "2");
}

TEST_F(RecorderTest, AMessageThatCannotBeSavedIsReportedNotLostSilently) {
  start(0);
  setup.messagesFolder = "/proc/callwatch-cannot-exist/Messages";
  CTapiCall call(4343, nullptr);
  CCallScreen screen(&call, "Ann", "", nullptr, setup);
  EXPECT_FALSE(screen.SaveMessage());
  ASSERT_EQ(debug.size(), 1u);
  EXPECT_EQ(debug[0], "Can't create folder: /proc/callwatch-cannot-exist/Messages\n");
}

}  // namespace
