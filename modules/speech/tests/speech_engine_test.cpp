// The speech modules on the real engines, without a sound card: espeak-ng speaking into WAVE
// files (LOOMWORK_SPEECH_OUTPUT), PocketSphinx listening to a WAVE file (LOOMWORK_SPEECH_INPUT),
// the round trip from one to the other, and the example diagram through the loomwork command.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "base/JWaveFile.h"
#include "tests/SpeechRoundTrip.h"
#include "testing/Process.h"
#include "testing/TempFolder.h"

namespace {

using Lines = std::vector<std::string>;

// The environment variables hold for one test only.
class SpeechEngineTest : public ::testing::Test {
protected:
  void TearDown() override {
    ::unsetenv("LOOMWORK_SPEECH_OUTPUT");
    ::unsetenv("LOOMWORK_SPEECH_INPUT");
  }
  TempFolder tmp{"loomwork-speech"};
};

TEST_F(SpeechEngineTest, VoiceOutputWritesNumberedWaveFilesInTheVoiceChosen) {
  ::setenv("LOOMWORK_SPEECH_OUTPUT", tmp.path().c_str(), 1);
  JTestHarness harness;
  JVoiceOutObj& out = harness.place<JVoiceOutObj>("tts");
  out.phrases[2] = "lights on";
  harness.send(out, 1, 1);
  ASSERT_TRUE(harness.debugLines().empty()) << harness.debugLines()[0];
  harness.send(out, 0, 2);
  out.isMale = 0;
  harness.send(out, 0, 2);
  ASSERT_TRUE(JVoiceOutObj::waitQueueIdle(20000));

  std::vector<int16_t> male, female;
  int rate = 0;
  std::string why;
  ASSERT_TRUE(speech::readMonoWave(tmp.file("0001.wav"), male, rate, why)) << why;
  EXPECT_EQ(rate, 16000);
  ASSERT_TRUE(speech::readMonoWave(tmp.file("0002.wav"), female, rate, why)) << why;
  EXPECT_GT(male.size(), 8000u);  // about a second of speech
  const double malePitch = roundtrip::medianPitch(male, rate), femalePitch = roundtrip::medianPitch(female, rate);
  EXPECT_GT(malePitch, 60);
  EXPECT_LT(malePitch, femalePitch * 0.8) << malePitch << " Hz against " << femalePitch << " Hz";

  // A new enable goes on from the highest number already there.
  harness.send(out, 1, 1);
  harness.send(out, 0, 2);
  ASSERT_TRUE(JVoiceOutObj::waitQueueIdle(20000));
  EXPECT_TRUE(speech::readMonoWave(tmp.file("0003.wav"), male, rate, why)) << why;
  harness.send(out, 1, 0);

  // An output folder that is not there.
  ::setenv("LOOMWORK_SPEECH_OUTPUT", tmp.file("nowhere").c_str(), 1);
  harness.clear();
  harness.send(out, 1, 1);
  Lines debug = harness.debugLines();
  ASSERT_EQ(debug.size(), 3u);
  EXPECT_EQ(debug[1], "tts: Can't create audio destination");
  EXPECT_EQ(debug[2], "tts: CreateAndPopulateQueue failed");
  harness.send(out, 1, 0);
}

TEST_F(SpeechEngineTest, SpokenItemsComeBackAsTheirCodes) {
  std::string why;
  const std::string spoken = tmp.file("spoken");
  ASSERT_EQ(::mkdir(spoken.c_str(), 0700), 0);
  ASSERT_TRUE(roundtrip::speakItems(spoken, why)) << why;
  std::vector<std::string> files;
  std::vector<int> expected;
  for (int i = 0; i < 26; ++i) {
    files.push_back(roundtrip::fileNumbered(spoken, i + 1));
    expected.push_back(roundtrip::items()[static_cast<size_t>(i % 13)].code);
  }
  roundtrip::Recording rec;
  ASSERT_TRUE(roundtrip::joinFiles(files, 600, rec, why)) << why;
  ASSERT_TRUE(speech::writeWave(tmp.file("all.wav"), rec.samples, 16000, why)) << why;

  // The recognizer selects a text-to-speech engine too: its audio goes to the folder.
  ::setenv("LOOMWORK_SPEECH_OUTPUT", tmp.path().c_str(), 1);
  ::setenv("LOOMWORK_SPEECH_INPUT", tmp.file("all.wav").c_str(), 1);
  JTestHarness harness;
  JVoiceCommandObj& in = harness.place<JVoiceCommandObj>("voice");
  in.phrases[0] = "lights on";
  in.phrases[1] = "lights off";
  in.phrases[2] = "Open the door!";
  in.rejectLevel = 0;  // what is heard, right or wrong: the rejection has tests of its own
  harness.send(in, 0, 1);
  ASSERT_TRUE(JVoiceCommandObj::listening()) << ::testing::PrintToString(harness.debugLines());
  ASSERT_TRUE(JVoiceCommandObj::waitListenerDone(90000));
  harness.runFor(100);
  const std::vector<int> got = roundtrip::codesOf(harness.broadcastsOf(in));
  const int right = roundtrip::matched(expected, got);
  // The benchmark measures the accuracy; this holds it well clear of broken.
  EXPECT_GE(right, 20) << ::testing::PrintToString(got);
  std::printf("round trip: %d of 26 items heard right: %s\n", right, ::testing::PrintToString(got).c_str());
  EXPECT_LE(got.size(), 28u) << ::testing::PrintToString(got);
  harness.send(in, 0, 0);
  EXPECT_FALSE(JVoiceCommandObj::recognizerRunning());

  // The same speech at 8 kHz: "lights on" and "open the door" in the female voice.
  roundtrip::Recording low;
  ASSERT_TRUE(roundtrip::joinFiles({files[13], files[15]}, 600, low, why)) << why;
  ASSERT_TRUE(speech::writeWave(tmp.file("low.wav"), speech::resample(low.samples, 16000, 8000), 8000, why));
  ::setenv("LOOMWORK_SPEECH_INPUT", tmp.file("low.wav").c_str(), 1);
  in.rejectLevel = JVoiceCommandObj::kDefaultRejectLevel;
  in.debug = 1;
  harness.clear();
  harness.send(in, 0, 1);
  ASSERT_TRUE(JVoiceCommandObj::waitListenerDone(30000));
  harness.runFor(100);
  EXPECT_EQ(roundtrip::codesOf(harness.broadcastsOf(in)), (std::vector<int>{101, 103}))
      << ::testing::PrintToString(harness.debugLines());
  harness.send(in, 0, 0);
}

// A recognizer on a WAVE file, run until the file ends: the codes it gave and its debug lines.
struct Heard {
  std::vector<int> codes;
  Lines debug;
};
Heard listenTo(const std::string& wave, int rejectLevel, bool debug) {
  ::setenv("LOOMWORK_SPEECH_INPUT", wave.c_str(), 1);
  JTestHarness harness;
  JVoiceCommandObj& in = harness.place<JVoiceCommandObj>("voice");
  in.phrases[0] = "lights on";
  in.phrases[1] = "lights off";
  in.phrases[2] = "open the door";
  in.rejectLevel = rejectLevel;
  in.debug = debug ? 1 : 0;
  harness.send(in, 0, 1);
  Heard h;
  if (!JVoiceCommandObj::listening() || !JVoiceCommandObj::waitListenerDone(60000)) {
    h.debug = harness.debugLines();
    return h;
  }
  harness.runFor(50);
  h.codes = roundtrip::codesOf(harness.broadcastsOf(in));
  h.debug = harness.debugLines();
  harness.send(in, 0, 0);
  return h;
}

// Steady noise from the first sample to the last, 10 dB below the speech: the noise floor is
// learned as it goes, and the pauses between commands still end them. An energy gate that learns
// the floor only between utterances takes the whole recording for one.
TEST_F(SpeechEngineTest, CommandsInSteadyNoiseAreCutAtTheirPauses) {
  std::string why;
  const std::vector<std::string> files =
      roundtrip::speakTexts(tmp.path(), {"lights off", "two", "open the door", "four"}, false, why);
  ASSERT_EQ(files.size(), 4u) << why;
  roundtrip::Recording rec;
  ASSERT_TRUE(roundtrip::joinFiles(files, 700, rec, why)) << why;
  roundtrip::addSteadyNoise(rec, 10, 3);
  ASSERT_TRUE(speech::writeWave(tmp.file("noisy.wav"), rec.samples, 16000, why)) << why;
  ::setenv("LOOMWORK_SPEECH_OUTPUT", tmp.path().c_str(), 1);
  const Heard h = listenTo(tmp.file("noisy.wav"), JVoiceCommandObj::kDefaultRejectLevel, false);
  EXPECT_GE(roundtrip::matched({102, 2, 103, 4}, h.codes), 3) << ::testing::PrintToString(h.codes);
  EXPECT_LE(h.codes.size(), 5u) << ::testing::PrintToString(h.codes);
}

// Talk that is not a command and sounds that are no speech change no output, and each rejected
// one says so with "debug"; a command after them is still taken. At level 0 the same audio sets
// outputs all along, as before there was rejection.
TEST_F(SpeechEngineTest, OtherTalkAndNoisesAreRejected) {
  std::string why;
  const std::vector<std::string> files = roundtrip::speakTexts(
      tmp.path(), {"what time is it", "thank you very much", "where are my keys", "lights on"}, true, why);
  ASSERT_EQ(files.size(), 4u) << why;
  roundtrip::Recording rec;
  ASSERT_TRUE(roundtrip::joinFiles({files[0], files[1], files[2]}, 700, rec, why)) << why;
  std::mt19937 rng(9);
  roundtrip::appendNonSpeechSounds(rec.samples, rng);
  ASSERT_TRUE(roundtrip::joinFiles({files[3]}, 700, rec, why)) << why;  // appended: "lights on" last
  ASSERT_TRUE(speech::writeWave(tmp.file("other.wav"), rec.samples, 16000, why)) << why;
  ::setenv("LOOMWORK_SPEECH_OUTPUT", tmp.path().c_str(), 1);

  Heard h = listenTo(tmp.file("other.wav"), JVoiceCommandObj::kDefaultRejectLevel, true);
  EXPECT_EQ(h.codes, (std::vector<int>{101})) << ::testing::PrintToString(h.debug);
  size_t rejected = 0;
  for (const auto& line : h.debug) {
    if (line.rfind("voice: rejected \"", 0) != 0) continue;
    ++rejected;
    EXPECT_NE(line.find("\" (score "), std::string::npos) << line;
  }
  EXPECT_GE(rejected, 4u) << ::testing::PrintToString(h.debug);

  h = listenTo(tmp.file("other.wav"), 0, false);
  EXPECT_GE(h.codes.size(), 5u) << ::testing::PrintToString(h.codes);
}

// The same sounds under steady noise 10 dB below a command: with the noise taken out they fit
// the grammar and the phone loop alike badly, which must not pass for a good fit; the command
// after them, in the same noise, is still taken.
TEST_F(SpeechEngineTest, SoundsInSteadyNoiseAreRejected) {
  std::string why;
  const std::vector<std::string> files = roundtrip::speakTexts(tmp.path(), {"open the door"}, true, why);
  ASSERT_EQ(files.size(), 1u) << why;
  roundtrip::Recording rec;
  std::mt19937 rng(4);
  roundtrip::appendSilence(rec.samples, 11200, rng);
  roundtrip::appendNonSpeechSounds(rec.samples, rng);
  ASSERT_TRUE(roundtrip::joinFiles(files, 700, rec, why)) << why;
  roundtrip::addSteadyNoise(rec, 10, 6);
  ASSERT_TRUE(speech::writeWave(tmp.file("sounds.wav"), rec.samples, 16000, why)) << why;
  ::setenv("LOOMWORK_SPEECH_OUTPUT", tmp.path().c_str(), 1);
  const Heard h = listenTo(tmp.file("sounds.wav"), JVoiceCommandObj::kDefaultRejectLevel, true);
  EXPECT_EQ(h.codes, (std::vector<int>{103})) << ::testing::PrintToString(h.debug);
}

// Mains hum 10 dB below the speech: the hum's own periods hide the voice's pitch from the check
// that tells speech from other sounds, which must still find it once the hum is taken out; the
// sounds that are no speech stay rejected under the same hum.
TEST_F(SpeechEngineTest, CommandsUnderMainsHumAreHeardAndSoundsRejected) {
  std::string why;
  const std::vector<std::string> files =
      roundtrip::speakTexts(tmp.path(), {"eight", "three", "six", "lights off"}, false, why);
  ASSERT_EQ(files.size(), 4u) << why;
  roundtrip::Recording rec;
  ASSERT_TRUE(roundtrip::joinFiles(files, 700, rec, why)) << why;
  std::mt19937 rng(8);
  roundtrip::appendNonSpeechSounds(rec.samples, rng);
  roundtrip::addHum(rec, 10, 2);
  ASSERT_TRUE(speech::writeWave(tmp.file("hum.wav"), rec.samples, 16000, why)) << why;
  ::setenv("LOOMWORK_SPEECH_OUTPUT", tmp.path().c_str(), 1);
  const Heard h = listenTo(tmp.file("hum.wav"), JVoiceCommandObj::kDefaultRejectLevel, true);
  EXPECT_GE(roundtrip::matched({8, 3, 6, 102}, h.codes), 3) << ::testing::PrintToString(h.debug);
  EXPECT_LE(h.codes.size(), 4u) << ::testing::PrintToString(h.debug);
}

TEST_F(SpeechEngineTest, AFifoIsHeardAsItComesAndNeverEnds) {
  std::string why;
  const std::string spoken = tmp.file("spoken");
  ASSERT_EQ(::mkdir(spoken.c_str(), 0700), 0);
  ::setenv("LOOMWORK_SPEECH_OUTPUT", spoken.c_str(), 1);
  JTestHarness harness;
  JVoiceOutObj& out = harness.place<JVoiceOutObj>("tts");
  out.phrases[0] = "open the door";
  out.isMale = 0;
  harness.send(out, 1, 1);
  harness.send(out, 0, 0);
  ASSERT_TRUE(JVoiceOutObj::waitQueueIdle(20000));
  harness.send(out, 1, 0);
  roundtrip::Recording rec;
  ASSERT_TRUE(roundtrip::joinFiles({roundtrip::fileNumbered(spoken, 1)}, 600, rec, why)) << why;

  const std::string fifo = tmp.file("in.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ::setenv("LOOMWORK_SPEECH_INPUT", fifo.c_str(), 1);
  JVoiceCommandObj& in = harness.place<JVoiceCommandObj>("voice");
  in.phrases[2] = "open the door";
  harness.send(in, 0, 1);
  ASSERT_TRUE(JVoiceCommandObj::listening()) << ::testing::PrintToString(harness.debugLines());
  // A writer that comes and goes: the input does not end with it.
  int fd = ::open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const char* bytes = reinterpret_cast<const char*>(rec.samples.data());
  size_t left = rec.samples.size() * 2, at = 0;
  while (left > 0) {
    ssize_t n = ::write(fd, bytes + at, std::min<size_t>(left, 4097));  // odd pieces split samples
    ASSERT_GT(n, 0);
    at += static_cast<size_t>(n);
    left -= static_cast<size_t>(n);
  }
  ::close(fd);
  EXPECT_TRUE(harness.runUntil([&] { return !harness.outputsOf(in).empty(); }, 20000));
  EXPECT_EQ(harness.outputsOf(in), (Outputs{{0, -1}, {3, 1}}));
  EXPECT_TRUE(JVoiceCommandObj::listening());
  harness.send(in, 0, 0);  // stops a listener that waits for more
  EXPECT_FALSE(JVoiceCommandObj::listening());
}

TEST_F(SpeechEngineTest, InputsAndWordsTheRecognizerCannotTake) {
  ::setenv("LOOMWORK_SPEECH_OUTPUT", tmp.path().c_str(), 1);
  JTestHarness harness;
  JVoiceCommandObj& in = harness.place<JVoiceCommandObj>("voice");

  ::setenv("LOOMWORK_SPEECH_INPUT", tmp.file("missing.wav").c_str(), 1);
  harness.send(in, 0, 1);
  Lines debug = harness.debugLines();
  ASSERT_EQ(debug.size(), 2u);
  EXPECT_NE(debug[0].find("missing.wav: No such file or directory"), std::string::npos) << debug[0];
  EXPECT_EQ(debug[1], "voice: Can't initialize speech recognition");

  std::string why;
  ASSERT_TRUE(speech::writeWave(tmp.file("cd.wav"), std::vector<int16_t>(4410), 44100, why));
  ::setenv("LOOMWORK_SPEECH_INPUT", tmp.file("cd.wav").c_str(), 1);
  harness.clear();
  harness.send(in, 0, 1);
  debug = harness.debugLines();
  ASSERT_EQ(debug.size(), 2u);
  EXPECT_NE(debug[0].find("44100 Hz (16 kHz or 8 kHz wanted)"), std::string::npos) << debug[0];
  EXPECT_FALSE(JVoiceCommandObj::recognizerRunning());

  JWaveFile stereo;
  stereo.format = JWaveFormat::pcm(16000, 2, 16);
  stereo.samples.assign(3200, 0);
  ASSERT_TRUE(stereo.write(tmp.file("stereo.wav"), why)) << why;
  ::setenv("LOOMWORK_SPEECH_INPUT", tmp.file("stereo.wav").c_str(), 1);
  harness.clear();
  harness.send(in, 0, 1);
  EXPECT_EQ(harness.debugLines(), (Lines{"voice: speech input " + tmp.file("stereo.wav") +
                                             ": not 16-bit mono PCM (format 1, 2 channels, 16 bits)",
                                         "voice: Can't initialize speech recognition"}));

  ASSERT_TRUE(speech::writeWave(tmp.file("quiet.wav"), std::vector<int16_t>(16000), 16000, why));
  ::setenv("LOOMWORK_SPEECH_INPUT", tmp.file("quiet.wav").c_str(), 1);
  in.phrases[4] = "lights frobnicatorium";
  harness.clear();
  harness.send(in, 0, 1);
  EXPECT_EQ(harness.debugLines(), (Lines{"voice: \"frobnicatorium\" is not in the recognizer's dictionary",
                                         "voice: Couldn't load digits grammar."}));
  EXPECT_FALSE(JVoiceCommandObj::recognizerRunning());

  // A second of silence: nothing heard, nothing sent.
  in.phrases[4] = "lights on";
  harness.clear();
  harness.send(in, 0, 1);
  ASSERT_TRUE(JVoiceCommandObj::waitListenerDone(20000));
  harness.runFor(50);
  EXPECT_TRUE(harness.outputsOf(in).empty());
  EXPECT_TRUE(harness.debugLines().empty()) << harness.debugLines()[0];
  harness.send(in, 0, 0);
}

TEST_F(SpeechEngineTest, TheExampleDiagramSpeaksAndListens) {
  ::setenv("LOOMWORK_SPEECH_OUTPUT", tmp.path().c_str(), 1);
  ::setenv("LOOMWORK_SPEECH_INPUT", LOOMWORK_SOURCE_DIR "/examples/speech/commands.wav", 1);
  ProcessResult r = runProcess(
      LOOMWORK_BIN,
      {"run", LOOMWORK_SOURCE_DIR "/examples/speech/speech.lwd", "--seconds", "5", "--modules", LOOMWORK_MODULES_DIR},
      60000);
  ASSERT_EQ(r.status, 0) << r.err;
  const Lines lines = r.outLines();
  for (const char* want : {"M heard.0 3", "M heard.1 1", "M heard.2 1"})
    EXPECT_NE(std::find(lines.begin(), lines.end(), want), lines.end()) << want << "\n" << r.out;
  std::vector<int16_t> s;
  int rate = 0;
  std::string why;
  EXPECT_TRUE(speech::readMonoWave(tmp.file("0001.wav"), s, rate, why)) << why;
  EXPECT_TRUE(speech::readMonoWave(tmp.file("0002.wav"), s, rate, why)) << why;
}

}  // namespace
