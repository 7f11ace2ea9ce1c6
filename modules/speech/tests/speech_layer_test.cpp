// The speech layer's own parts: text normalising, the grammar compiler (reading the grammar
// text, JSGF, mapping what was heard back to commands), its WAVE files and the speech queue.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "ScriptedEngines.h"
#include "SpeechAudio.h"
#include "SpeechGrammar.h"
#include "SpeechQueue.h"
#include "SpeechResample.h"
#include "testing/TempFolder.h"

namespace {

using speech::GrammarCompiler;

TEST(SpeechText, NormalisedLowerCaseWithoutPunctuation) {
  EXPECT_EQ(speech::normalise("  Lights,  ON! "), "lights on");
  EXPECT_EQ(speech::normalise("Don't stop"), "don't stop");
  EXPECT_EQ(speech::normalise("'quoted' words."), "quoted words");
  EXPECT_EQ(speech::normalise("the(2) door"), "the door");
  EXPECT_EQ(speech::normalise("open-the_door"), "open the door");
  EXPECT_EQ(speech::normalise("...!?"), "");
  EXPECT_EQ(speech::wordsOf("open the door"), (std::vector<std::string>{"open", "the", "door"}));
}

TEST(SpeechGrammar, ReadsTheGrammarTextAndRefusesAnythingElse) {
  GrammarCompiler g;
  std::string why;
  ASSERT_TRUE(g.compile("[(Commands)]\n=<0..9>\n101=Lights on\n103=lights off\n", why)) << why;
  EXPECT_TRUE(g.digits());
  ASSERT_EQ(g.phrases().size(), 2u);
  EXPECT_EQ(g.phrases()[0].command, 101);
  EXPECT_EQ(g.phrases()[0].words, "lights on");
  EXPECT_EQ(g.words().size(), 13u);  // ten digit words, then "lights" once, "on", "off"
  EXPECT_EQ(g.words().back(), "off");

  ASSERT_TRUE(g.compile("[(Commands)]\n", why));
  EXPECT_EQ(g.jsgf(), "");  // nothing can be said
  int command = -1;
  std::string text;
  bool hasText = false;
  EXPECT_FALSE(g.parse("one", command, text, hasText));

  for (const char* bad : {"", "Commands\n", "[(Commands)]\nlights on\n", "[(Commands)]\n=<0..8>\n",
                          "[(Commands)]\n12345=x\n", "[(Commands)]\n101=?!\n", "[(Commands)]\n-1=x\n"}) {
    why.clear();
    EXPECT_FALSE(g.compile(bad, why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
    EXPECT_FALSE(g.compiled());
  }
  EXPECT_FALSE(g.compile("[(Commands)]\n" + std::string(5000, 'a'), why));
  std::string many = "[(Commands)]\n";
  for (int i = 0; i < 70; ++i) many += "101=x\n";
  EXPECT_FALSE(g.compile(many, why));
}

TEST(SpeechGrammar, HeardWordsMapBackToCommands) {
  GrammarCompiler g;
  std::string why;
  ASSERT_TRUE(g.compile("[(Commands)]\n=<0..9>\n101=lights on\n103=Lights off\n110=open the door\n", why));
  EXPECT_EQ(g.jsgf(),
            "#JSGF V1.0;\ngrammar commands;\npublic <command> = zero | one | two | three | four | five | six | "
            "seven | eight | nine | lights on | lights off | open the door;\n");
  int command = -1;
  std::string text;
  bool hasText = false;
  ASSERT_TRUE(g.parse("seven", command, text, hasText));
  EXPECT_EQ(command, 0);
  EXPECT_EQ(text, "7");
  EXPECT_TRUE(hasText);
  ASSERT_TRUE(g.parse("LIGHTS OFF", command, text, hasText));
  EXPECT_EQ(command, 103);
  EXPECT_FALSE(hasText);
  ASSERT_TRUE(g.parse("open the(2) door", command, text, hasText));
  EXPECT_EQ(command, 110);
  for (const char* nothing : {"", "lights", "lights on please", "seventy", "ten"})
    EXPECT_FALSE(g.parse(nothing, command, text, hasText)) << nothing;

  // Without the digits line the digit words are nothing; the first of two equal phrases wins.
  ASSERT_TRUE(g.compile("[(Commands)]\n102=one\n105=One.\n", why));
  ASSERT_TRUE(g.parse("one", command, text, hasText));
  EXPECT_EQ(command, 102);
  EXPECT_FALSE(hasText);
}

// The file format itself is the host's JWaveFile (its own tests); here the speech layer's use of it.
TEST(SpeechWave, WrittenFilesReadBackAndOtherLayoutsAreRefused) {
  TempFolder tmp;
  std::vector<int16_t> samples{0, 1, -1, 32767, -32768, 1234};
  std::string why;
  ASSERT_TRUE(speech::writeWave(tmp.file("a.wav"), samples, 16000, why)) << why;
  std::vector<int16_t> back;
  int rate = 0;
  ASSERT_TRUE(speech::readMonoWave(tmp.file("a.wav"), back, rate, why)) << why;
  EXPECT_EQ(back, samples);
  EXPECT_EQ(rate, 16000);
  const std::string bytes = TempFolder::read(tmp.file("a.wav"));
  EXPECT_EQ(bytes.size(), 44u + 12);
  EXPECT_EQ(bytes.substr(20, 2), std::string("\x01\x00", 2));  // PCM

  std::string stereo = bytes;
  stereo[22] = 2;
  tmp.write("stereo.wav", stereo);
  EXPECT_FALSE(speech::readMonoWave(tmp.file("stereo.wav"), back, rate, why));
  EXPECT_EQ(why, tmp.file("stereo.wav") + ": not 16-bit mono PCM (format 1, 2 channels, 16 bits)");
  std::string eight = bytes;
  eight[34] = 8;
  tmp.write("eight.wav", eight);
  EXPECT_FALSE(speech::readMonoWave(tmp.file("eight.wav"), back, rate, why));
  EXPECT_NE(why.find("1 channels, 8 bits"), std::string::npos) << why;
  // A data size past the end (a recording never finished): what is there is read.
  tmp.write("cut.wav", bytes.substr(0, bytes.size() - 4));
  ASSERT_TRUE(speech::readMonoWave(tmp.file("cut.wav"), back, rate, why)) << why;
  EXPECT_EQ(back.size(), samples.size() - 2);
  tmp.write("short.wav", bytes.substr(0, 30));
  EXPECT_FALSE(speech::readMonoWave(tmp.file("short.wav"), back, rate, why));
  EXPECT_EQ(why, tmp.file("short.wav") + ": the format chunk is cut short");
  EXPECT_FALSE(speech::readMonoWave(tmp.file("missing.wav"), back, rate, why));
  EXPECT_NE(why.find("missing.wav"), std::string::npos);
  EXPECT_FALSE(speech::writeWave(tmp.file("b.wav"), samples, 0, why));
}

TEST(SpeechResampling, KeepsLevelAndLengthAndPassesOddRatesThrough) {
  const std::vector<int16_t> level(1600, 1000);
  const std::vector<int16_t> down = speech::resample(level, 16000, 8000);
  ASSERT_EQ(down.size(), 800u);
  for (size_t i = 16; i + 16 < down.size(); ++i)
    EXPECT_NEAR(down[i], 1000, 1) << i;  // clear of the filter's reach past the ends
  EXPECT_EQ(speech::resample(level, 8000, 16000).size(), 3200u);
  // A tone above the lower rate's Nyquist frequency is filtered out.
  std::vector<int16_t> high(1600);
  for (size_t i = 0; i < high.size(); ++i) high[i] = static_cast<int16_t>(i % 2 ? 10000 : -10000);
  long loudest = 0;
  const std::vector<int16_t> filtered = speech::resample(high, 16000, 8000);
  for (size_t i = 40; i + 40 < filtered.size(); ++i) loudest = std::max<long>(loudest, std::abs(filtered[i]));
  EXPECT_LT(loudest, 500);
  EXPECT_EQ(speech::resample(level, 0, 8000), level);
  EXPECT_EQ(speech::resample(level, 8000, 8000), level);
  EXPECT_TRUE(speech::resample({}, 16000, 8000).empty());
}

TEST(SpeechQueueTest, SpeaksInOrderWithNamedVoicesAndBoundsWhatWaits) {
  ScriptedEngines engines;
  speech::SpeechQueue queue(nullptr);
  std::string why;
  EXPECT_FALSE(queue.speak("early", "MALE", 42));  // not started
  ASSERT_TRUE(queue.start());
  auto audio = engines.createAudioDestination(why);
  EXPECT_TRUE(queue.registerAudio(audio));
  EXPECT_FALSE(queue.registerAudio(nullptr));
  EXPECT_TRUE(queue.addVoice("MALE", engines.selectSynthesizer(speech::Gender::male, audio, why)));
  EXPECT_TRUE(queue.addVoice("FEMALE", engines.selectSynthesizer(speech::Gender::female, audio, why)));
  EXPECT_FALSE(queue.addVoice("X", nullptr));
  EXPECT_FALSE(queue.speak("hello", "CHILD", 42));
  EXPECT_FALSE(queue.speak("", "MALE", 42));
  EXPECT_TRUE(queue.speak("one", "MALE", 42));
  EXPECT_TRUE(queue.speak("two", "FEMALE", 42));
  // A text is cut at the buffer's size, never inside a UTF-8 character.
  std::string longText = std::string(4095, 'a') + "\xc3\xa9" + "b";
  EXPECT_TRUE(queue.speak(longText, "MALE", 42));
  ASSERT_TRUE(queue.waitIdle(2000));
  auto spoken = engines.spoken();
  ASSERT_EQ(spoken.size(), 3u);
  EXPECT_EQ(spoken[0], "male: one");
  EXPECT_EQ(spoken[1], "female: two");
  EXPECT_EQ(spoken[2], "male: " + std::string(4095, 'a'));

  // With the synthesizer held, what waits behind it is bounded.
  engines.holdSpeech(true);
  int accepted = 0;
  for (int i = 0; i < 200; ++i) accepted += queue.speak("x", "MALE", i) ? 1 : 0;
  EXPECT_GE(accepted, static_cast<int>(speech::SpeechQueue::kMaxPending));
  EXPECT_LE(accepted, static_cast<int>(speech::SpeechQueue::kMaxPending) + 1);  // one may be in hand
  engines.holdSpeech(false);
  queue.stop();
  EXPECT_FALSE(queue.speak("late", "MALE", 42));
}

}  // namespace
