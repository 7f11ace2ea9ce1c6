// JVoiceOutObj with scripted engines behind the speech layer: what is spoken with which voice,
// the queue's building with its messages, persistence, and the queue every instance shares.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "JVoiceOutObj.h"
#include "ScriptedEngines.h"
#include "testing/Harness.h"

namespace {

using Lines = std::vector<std::string>;

class VoiceOutTest : public ::testing::Test {
protected:
  ScriptedEngines engines;
  JTestHarness harness;
  JVoiceOutObj& module = place("tts");

  // A module on the scripted engines.
  JVoiceOutObj& place(const std::string& id) {
    JVoiceOutObj& m = harness.place<JVoiceOutObj>(id);
    m.useEngines(&engines);
    return m;
  }

  void SetUp() override {
    module.phrases[0] = "lights on";
    module.phrases[3] = "open the door";
  }
  Lines spoken() {
    EXPECT_TRUE(JVoiceOutObj::waitQueueIdle(2000));
    return engines.spoken();
  }
};

TEST(VoiceOutShape, PortsTagsGeometryAndDefaults) {
  JVoiceOutObj m;
  EXPECT_STREQ(m.className(), "JVoiceOutObj");
  ASSERT_EQ(m.inputCount, 2);
  EXPECT_EQ(m.outputCount, 0);
  EXPECT_EQ(m.inputTag(0), JString("phrase"));
  EXPECT_EQ(m.inputFace(0), 0);
  EXPECT_EQ(m.inputArea(0), m.leftArea(0, 0, 1, 0.1, 0.8, 6));
  EXPECT_EQ(m.inputTag(1), JString("enabled"));
  EXPECT_EQ(m.inputFace(1), 1);
  EXPECT_EQ(m.inputArea(1), m.topArea(1, 1, 1, 0.25, 0.5, 6));
  EXPECT_EQ(m.isMale, 1);
  EXPECT_EQ(m.phraseIndex, 0);
}

TEST_F(VoiceOutTest, SpeaksTheNumberedPhraseInTheChosenVoice) {
  harness.send(module, 1, 1);
  ASSERT_TRUE(JVoiceOutObj::hasQueue());
  EXPECT_TRUE(harness.debugLines().empty());
  harness.send(module, 0, 3);
  harness.send(module, 0, 3);  // a repeated number speaks again
  harness.send(module, 0, 0);
  module.isMale = 0;
  harness.send(module, 0, 0);
  EXPECT_EQ(spoken(), (Lines{"male: open the door", "male: open the door", "male: lights on", "female: lights on"}));

  // Numbers outside 0..9 and empty phrases speak nothing and print nothing.
  harness.send(module, 0, 10);
  harness.send(module, 0, -1);
  harness.send(module, 0, 5);
  EXPECT_EQ(spoken().size(), 4u);
  EXPECT_TRUE(harness.debugLines().empty());
  EXPECT_EQ(module.phraseIndex, 5);
}

TEST_F(VoiceOutTest, NothingIsSpokenWhileDisabled) {
  harness.send(module, 0, 3);  // stored, not spoken, and not spoken later either
  EXPECT_EQ(module.phraseIndex, 3);
  harness.send(module, 1, 1);
  EXPECT_TRUE(spoken().empty());
  harness.send(module, 1, 0);
  EXPECT_FALSE(JVoiceOutObj::hasQueue());
  EXPECT_EQ(engines.synthesizers.load(), 0);
  EXPECT_EQ(engines.destinations.load(), 0);  // every audio reference is dropped
  harness.send(module, 0, 0);
  EXPECT_TRUE(spoken().empty());
  harness.send(module, 1, 0);  // no queue: nothing happens
  EXPECT_TRUE(harness.debugLines().empty());
}

TEST_F(VoiceOutTest, LongTextsAreCutToTheSpeakingBuffer) {
  module.phrases[7] = std::string(1500, 'x');
  std::string accents;
  for (int i = 0; i < 1100; ++i) accents += "\xc3\xa9";
  module.phrases[8] = accents;  // 1100 characters of two bytes each
  harness.send(module, 1, 1);
  harness.send(module, 0, 7);
  harness.send(module, 0, 8);
  Lines s = spoken();
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0], "male: " + std::string(1023, 'x'));
  EXPECT_EQ(s[1], "male: " + accents.substr(0, 2046));
}

TEST_F(VoiceOutTest, QueueBuildingFailuresAndTheirMessages) {
  engines.noAudio = true;
  harness.send(module, 1, 1);
  EXPECT_EQ(harness.debugLines(), (Lines{"tts: no scripted audio", "tts: Can't create audio destination",
                                         "tts: CreateAndPopulateQueue failed"}));
  // The queue built part-way stays; it has no voice, so speaking is refused.
  EXPECT_TRUE(JVoiceOutObj::hasQueue());
  harness.clear();
  harness.send(module, 0, 0);
  EXPECT_EQ(harness.debugLines(), (Lines{"tts: error speaking"}));
  engines.noAudio = false;

  harness.clear();
  engines.noSynthesizer = true;
  harness.send(module, 1, 1);
  EXPECT_EQ(harness.debugLines(), (Lines{"tts: no scripted synthesizer", "tts: Can't create male TTS engine.",
                                         "tts: CreateAndPopulateQueue failed"}));
  engines.noSynthesizer = false;

  // The female engine's audio is the one that is missing: the male voice still speaks.
  harness.clear();
  engines.audioLeft = 2;
  harness.send(module, 1, 1);
  EXPECT_EQ(harness.debugLines(), (Lines{"tts: no scripted audio", "tts: Can't create femail TTS engine.",
                                         "tts: CreateAndPopulateQueue failed"}));
  harness.clear();
  harness.send(module, 0, 0);
  module.isMale = 0;
  harness.send(module, 0, 0);
  EXPECT_EQ(spoken(), (Lines{"male: lights on"}));
  EXPECT_EQ(harness.debugLines(), (Lines{"tts: error speaking"}));
}

TEST_F(VoiceOutTest, EveryEnableBuildsANewQueueAndReleasesTheOld) {
  harness.send(module, 1, 1);
  EXPECT_EQ(engines.synthesizers.load(), 2);
  EXPECT_EQ(engines.destinations.load(), 3);  // the queue's and one per engine
  harness.send(module, 1, 5);
  EXPECT_EQ(engines.synthesizers.load(), 2);
  EXPECT_EQ(engines.destinations.load(), 3);
  harness.send(module, 0, 0);
  EXPECT_EQ(spoken(), (Lines{"male: lights on"}));
}

TEST_F(VoiceOutTest, InstancesShareOneQueue) {
  JVoiceOutObj& other = place("other");
  other.phrases[0] = "lights off";
  other.isMale = 0;
  harness.send(module, 1, 1);
  harness.send(other, 0, 0);  // other is not enabled itself
  EXPECT_TRUE(spoken().empty());
  harness.send(other, 1, 1);  // builds the queue anew, now in its own name
  harness.send(module, 0, 0);
  harness.send(other, 0, 0);
  EXPECT_EQ(spoken(), (Lines{"male: lights on", "female: lights off"}));
  harness.send(other, 1, 0);  // removes it for both
  EXPECT_FALSE(JVoiceOutObj::hasQueue());
  harness.send(module, 0, 0);
  EXPECT_EQ(spoken().size(), 2u);
}

TEST_F(VoiceOutTest, ACopySpeaksOnTheEnginesItsOriginalWasHanded) {
  JVoiceOutObj& copy = harness.place(static_cast<JVoiceOutObj*>(module.clone()), "copy");
  harness.send(copy, 1, 1);
  harness.send(copy, 0, 3);
  EXPECT_EQ(spoken(), (Lines{"male: open the door"}));
  EXPECT_EQ(engines.synthesizers.load(), 2);
  harness.send(copy, 1, 0);
}

TEST_F(VoiceOutTest, RemovingTheModuleThatBuiltTheQueueStopsIt) {
  harness.send(module, 1, 1);
  harness.send(module, 0, 3);
  harness.diagram().remove(&module);
  EXPECT_FALSE(JVoiceOutObj::hasQueue());
  EXPECT_EQ(engines.synthesizers.load(), 0);
}

TEST_F(VoiceOutTest, PersistenceKeysDefaultsAndProperties) {
  module.isMale = 0;
  JNode content = JTestHarness::content(module);
  Lines keys = JTestHarness::keysOf(content);
  Lines own(keys.end() - 11, keys.end());
  EXPECT_EQ(own, (Lines{"phrase-0", "phrase-1", "phrase-2", "phrase-3", "phrase-4", "phrase-5", "phrase-6", "phrase-7",
                        "phrase-8", "phrase-9", "isMale"}));
  auto copy = JTestHarness::roundTrip(module);
  auto& restored = static_cast<JVoiceOutObj&>(*copy);
  EXPECT_EQ(restored.isMale, 0);
  EXPECT_EQ(restored.phrases[3], JString("open the door"));

  // A missing "isMale" reads as 0 (the female voice), though a new module starts male.
  module.isMale = 1;
  JVoiceOutObj fresh;
  fresh.phrases[9] = "kept";
  const JNode stored = JTestHarness::without(JTestHarness::content(module), "isMale");
  JTestHarness::restore(fresh, JTestHarness::without(stored, "phrase-9"));
  EXPECT_EQ(fresh.isMale, 0);
  EXPECT_EQ(fresh.phrases[9], JString("kept"));
  EXPECT_EQ(fresh.phrases[0], JString("lights on"));

  JArray props = module.getProperties();
  ASSERT_EQ(props.size(), 10);
  for (int i = 0; i < 10; ++i) {
    auto& p = static_cast<JProperty&>(*props[i]);
    EXPECT_EQ(p.getName(), JString("phrase-" + std::to_string(i)));
    EXPECT_STREQ(p.kind(), "text");
  }
  JStringProperty edit("phrase-9", "good night");
  EXPECT_TRUE(module.updateProperty(edit));
  EXPECT_EQ(module.phrases[9], JString("good night"));
  JIntegerProperty male("isMale", 0, 0, 1);
  EXPECT_FALSE(module.updateProperty(male));
  JIntegerProperty wrongKind("phrase-1", 3, 0, 10);
  EXPECT_FALSE(module.updateProperty(wrongKind));
}

}  // namespace
