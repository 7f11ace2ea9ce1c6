// JVoiceCommandObj with scripted engines behind the speech layer: its grammar text, the outputs
// recognised utterances give, the start and stop sequences with their messages, persistence, and
// the recognizer that every instance shares.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "JVoiceCommandObj.h"
#include "ScriptedEngines.h"
#include "testing/Harness.h"

namespace {

using Lines = std::vector<std::string>;

bool contains(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class VoiceCommandTest : public ::testing::Test {
protected:
  ScriptedEngines engines;
  JTestHarness harness;
  JVoiceCommandObj& module = place("voice");

  // A module on the scripted engines.
  JVoiceCommandObj& place(const std::string& id) {
    JVoiceCommandObj& m = harness.place<JVoiceCommandObj>(id);
    m.useEngines(&engines);
    return m;
  }

  // Says each utterance and runs the host loop until their codes are applied.
  void hear(const std::vector<std::string>& utterances) {
    for (const auto& u : utterances) engines.say(u);
    ASSERT_TRUE(engines.waitHeard(2000));
    harness.runUntil([] { return false; }, 50);
    harness.runPending();
  }
  Outputs outputs() { return harness.outputsOf(module); }
};

TEST(VoiceCommandShape, PortsTagsGeometryAndLabel) {
  JVoiceCommandObj m;
  EXPECT_STREQ(m.className(), "JVoiceCommandObj");
  ASSERT_EQ(m.inputCount, 1);
  ASSERT_EQ(m.outputCount, 11);
  EXPECT_EQ(m.inputTag(0), JString("enabled"));
  EXPECT_EQ(m.inputFace(0), 1);
  EXPECT_EQ(m.inputArea(0), m.topArea(0, 0, 1, 0.25, 0.5, 6));
  EXPECT_EQ(m.outputTag(0), JString("word"));
  for (int n = 0; n < 11; ++n) {
    if (n > 0) { EXPECT_EQ(m.outputTag(n), JString("phrase " + std::to_string(n))); }
    EXPECT_EQ(m.outputType(n), JIntegerData::id);
    EXPECT_EQ(m.outputFace(n), 2);
    EXPECT_EQ(m.outputArea(n), m.rightArea(n, 0, 11, 0.25, 0.5, 6));
  }
  EXPECT_EQ(m.digitsEnabled, 1);
  EXPECT_EQ(m.debug.load(), 0);
}

TEST_F(VoiceCommandTest, GrammarTextOfThePhrasesThatAreSet) {
  JComponent::Scope scope(&module);  // debug lines carry the module's name
  EXPECT_EQ(module.createGrammar()->str(), "[(Commands)]\n=<0..9>\n");
  module.digitsEnabled = 0;
  EXPECT_EQ(module.createGrammar()->str(), "[(Commands)]\n");
  module.digitsEnabled = 1;
  module.phrases[0] = "lights on";
  module.phrases[2] = "lights off";
  EXPECT_EQ(module.createGrammar()->str(), "[(Commands)]\n=<0..9>\n101=lights on\n103=lights off\n");
  module.phrases[9] = "open the door";
  EXPECT_EQ(module.createGrammar()->str(), "[(Commands)]\n=<0..9>\n101=lights on\n103=lights off\n110=open the door\n");
  EXPECT_TRUE(harness.debugLines().empty());

  // With debug set every line is also printed, without its newline.
  module.debug = 1;
  harness.clear();
  module.createGrammar();
  EXPECT_EQ(harness.debugLines(), (Lines{"voice: [(Commands)]", "voice: =<0..9>", "voice: 101=lights on",
                                         "voice: 103=lights off", "voice: 110=open the door"}));
}

TEST_F(VoiceCommandTest, PhrasesThatWouldBreakTheirLineAreLeftOut) {
  JComponent::Scope scope(&module);
  module.phrases[9] = std::string(95, 'a');  // "110=" + 95 + newline: exactly the line
  module.phrases[0] = std::string(96, 'b');
  module.phrases[1] = "lights\n105=open the door";
  std::string text = module.createGrammar()->str();
  EXPECT_EQ(text, "[(Commands)]\n=<0..9>\n110=" + std::string(95, 'a') + "\n");
  EXPECT_EQ(harness.debugLines(), (Lines{"voice: phrase-1 is longer than 95 characters: left out of the grammar",
                                         "voice: phrase-2 holds a line break: left out of the grammar"}));
  // Ten phrases of the longest kind fit the grammar buffer whole.
  for (auto& p : module.phrases) p = std::string(95, 'c');
  EXPECT_EQ(module.createGrammar()->length(), 13 + 8 + 10 * 100);
}

TEST_F(VoiceCommandTest, GotDataBroadcastsOfDigitsAndPhrases) {
  module.gotData(7);
  module.gotData(7);
  EXPECT_EQ(outputs(), (Outputs{{0, 7}, {0, 7}}));  // a repeated digit is sent again

  harness.clear();
  module.gotData(105);
  EXPECT_EQ(outputs(), (Outputs{{0, -1}, {5, 1}}));
  harness.clear();
  module.gotData(102);
  EXPECT_EQ(outputs(), (Outputs{{2, 1}, {5, 0}}));  // output 0 already -1: not sent again
  harness.clear();
  module.gotData(102);
  EXPECT_TRUE(outputs().empty());
  EXPECT_EQ(harness.readInt(module, 0), -1);
  EXPECT_EQ(harness.readInt(module, 2), 1);

  harness.clear();
  module.gotData(4);
  EXPECT_EQ(outputs(), (Outputs{{0, 4}, {2, 0}}));
  EXPECT_EQ(harness.readInt(module, 2), 0);

  harness.clear();
  module.gotData(111);
  module.gotData(5000);
  EXPECT_TRUE(outputs().empty());
  module.gotData(100);  // up to 100 counts as a digit value
  module.gotData(-3);
  EXPECT_EQ(outputs(), (Outputs{{0, 100}, {0, -3}}));
  // access hands out the phrase entry for outputs 1 to 10.
  module.gotData(110);
  EXPECT_EQ(harness.readInt(module, 10), 1);
  EXPECT_EQ(harness.readInt(module, 0), -1);
}

TEST_F(VoiceCommandTest, RecognisedUtterancesBecomeCodes) {
  module.phrases[0] = "Lights on";
  module.phrases[2] = "lights off";
  module.phrases[9] = "open the door";
  harness.send(module, 0, 1);
  ASSERT_TRUE(JVoiceCommandObj::recognizerRunning());
  ASSERT_TRUE(JVoiceCommandObj::listening());
  EXPECT_EQ(engines.lastGrammar,
            "#JSGF V1.0;\ngrammar commands;\npublic <command> = zero | one | two | three | four | five | six | "
            "seven | eight | nine | lights on | lights off | open the door;\n");
  hear({"seven", "LIGHTS OFF.", "banana", "", "open the door", "three"});
  EXPECT_EQ(outputs(), (Outputs{{0, 7}, {0, -1}, {3, 1}, {3, 0}, {10, 1}, {0, 3}, {10, 0}}));
  EXPECT_TRUE(harness.debugLines().empty());

  module.debug = 1;
  harness.clear();
  hear({"nine", "lights on"});
  EXPECT_EQ(harness.debugLines(), (Lines{"voice: got something", "voice: 9", "voice: 0 0", "voice: got something",
                                         "voice: pszRet is NULL", "voice: 101 0"}));
  EXPECT_EQ(outputs(), (Outputs{{0, 9}, {0, -1}, {1, 1}}));
}

TEST_F(VoiceCommandTest, WithoutDigitsTheDigitWordsMeanNothing) {
  module.digitsEnabled = 0;
  module.phrases[1] = "one";
  harness.send(module, 0, 1);
  hear({"two", "one"});
  EXPECT_EQ(outputs(), (Outputs{{0, -1}, {2, 1}}));
}

TEST_F(VoiceCommandTest, StartFailuresAndTheirMessages) {
  // No engine: nothing is left running, and the next nonzero value tries again.
  engines.noRecognizer = true;
  harness.send(module, 0, 1);
  EXPECT_EQ(harness.debugLines(),
            (Lines{"voice: no scripted recognizer", "voice: Can't initialize speech recognition"}));
  EXPECT_FALSE(JVoiceCommandObj::recognizerRunning());
  engines.noRecognizer = false;

  // A word the recognizer does not know refuses the grammar, and names the word.
  harness.clear();
  module.phrases[3] = "lights blorp";
  harness.send(module, 0, 2);
  EXPECT_EQ(harness.debugLines(),
            (Lines{"voice: \"blorp\" is not in the recognizer's dictionary", "voice: Couldn't load digits grammar."}));
  EXPECT_FALSE(JVoiceCommandObj::recognizerRunning());
  EXPECT_EQ(engines.recognizers.load(), 0);  // the engine of the failed start is released
  EXPECT_EQ(engines.recognizersMade.load(), 1);

  harness.clear();
  module.phrases[3] = "lights on";
  engines.refuseGrammar = true;
  harness.send(module, 0, 1);
  EXPECT_EQ(harness.debugLines(), (Lines{"voice: scripted refusal", "voice: Couldn't load digits grammar."}));
  EXPECT_FALSE(JVoiceCommandObj::recognizerRunning());
  engines.refuseGrammar = false;

  // No text-to-speech engine: the grammar stays loaded, but is active only from the next
  // nonzero value on, which tries no text-to-speech engine again.
  harness.clear();
  engines.noSynthesizer = true;
  harness.send(module, 0, 1);
  EXPECT_EQ(harness.debugLines(), (Lines{"voice: no scripted synthesizer", "voice: Couldn't initialize TTS."}));
  EXPECT_TRUE(JVoiceCommandObj::recognizerRunning());
  EXPECT_FALSE(JVoiceCommandObj::listening());
  EXPECT_EQ(engines.destinations.load(), 0);
  engines.noSynthesizer = false;
  harness.clear();
  harness.send(module, 0, 1);
  EXPECT_TRUE(harness.debugLines().empty());
  EXPECT_TRUE(JVoiceCommandObj::listening());
  EXPECT_EQ(engines.synthesizers.load(), 0);
  hear({"four"});
  EXPECT_EQ(outputs(), (Outputs{{0, 4}}));
}

TEST_F(VoiceCommandTest, StopReleasesEverySpeechObject) {
  harness.send(module, 0, 0);  // before any start: nothing at all
  EXPECT_TRUE(harness.debugLines().empty());
  EXPECT_FALSE(JVoiceCommandObj::recognizerRunning());

  harness.send(module, 0, 1);
  EXPECT_EQ(engines.recognizers.load(), 1);
  EXPECT_EQ(engines.synthesizers.load(), 1);
  EXPECT_EQ(engines.destinations.load(), 1);
  harness.send(module, 0, 1);  // only activates again
  EXPECT_EQ(engines.recognizersMade.load(), 1);
  EXPECT_EQ(engines.grammarsLoaded.load(), 1);

  harness.send(module, 0, 0);
  EXPECT_FALSE(JVoiceCommandObj::recognizerRunning());
  EXPECT_FALSE(JVoiceCommandObj::listening());
  EXPECT_EQ(engines.recognizers.load(), 0);
  EXPECT_EQ(engines.synthesizers.load(), 0);
  EXPECT_EQ(engines.destinations.load(), 0);
  EXPECT_EQ(JVoiceCommandObj::resultsGoTo(), nullptr);
  engines.say("five");  // nobody listens now
  harness.runFor(50);
  EXPECT_TRUE(outputs().empty());
  engines.heard.clear();

  // A new start selects a new engine.
  harness.send(module, 0, 1);
  EXPECT_EQ(engines.recognizersMade.load(), 2);
  EXPECT_EQ(engines.recognizers.load(), 1);
}

TEST_F(VoiceCommandTest, PropertyChangesWaitForTheNextStart) {
  harness.send(module, 0, 1);
  JStringProperty phrase("phrase-4", "open the door");
  EXPECT_TRUE(module.updateProperty(phrase));
  EXPECT_EQ(module.phrases[3], JString("open the door"));
  hear({"open the door"});
  EXPECT_TRUE(outputs().empty());  // not in the loaded grammar
  harness.send(module, 0, 0);
  harness.send(module, 0, 1);
  hear({"open the door"});
  EXPECT_EQ(outputs(), (Outputs{{0, -1}, {4, 1}}));
}

TEST_F(VoiceCommandTest, InstancesShareOneRecognizer) {
  JVoiceCommandObj& other = place("other");
  module.phrases[0] = "lights on";
  other.phrases[0] = "lights off";
  harness.send(module, 0, 1);
  harness.send(other, 0, 1);  // re-activates the loaded grammar; results still go to the first
  EXPECT_EQ(engines.recognizersMade.load(), 1);
  EXPECT_EQ(JVoiceCommandObj::resultsGoTo(), &module);
  hear({"lights on", "lights off", "two"});
  EXPECT_EQ(outputs(), (Outputs{{0, -1}, {1, 1}, {0, 2}, {1, 0}}));
  EXPECT_TRUE(harness.outputsOf(other).empty());

  harness.send(other, 0, 0);  // stops it for both
  EXPECT_FALSE(JVoiceCommandObj::recognizerRunning());
  EXPECT_EQ(engines.recognizers.load(), 0);

  // The second one starts it with its own grammar, and gets the results.
  harness.send(other, 0, 1);
  EXPECT_EQ(JVoiceCommandObj::resultsGoTo(), &other);
  hear({"lights off"});
  EXPECT_EQ(harness.outputsOf(other), (Outputs{{0, -1}, {1, 1}}));
}

TEST_F(VoiceCommandTest, ACopyStartsOnTheEnginesItsOriginalWasHanded) {
  JVoiceCommandObj& copy = harness.place(static_cast<JVoiceCommandObj*>(module.clone()), "copy");
  harness.send(copy, 0, 1);
  EXPECT_TRUE(harness.debugLines().empty());
  EXPECT_EQ(engines.recognizersMade.load(), 1);
  EXPECT_EQ(JVoiceCommandObj::resultsGoTo(), &copy);
  harness.send(copy, 0, 0);
}

TEST_F(VoiceCommandTest, RemovingTheListeningInstanceStopsTheRecognizer) {
  harness.send(module, 0, 1);
  ASSERT_TRUE(JVoiceCommandObj::listening());
  engines.say("one");
  harness.diagram().remove(&module);
  EXPECT_FALSE(JVoiceCommandObj::listening());
  EXPECT_FALSE(JVoiceCommandObj::recognizerRunning());
  EXPECT_EQ(engines.recognizers.load(), 0);
  harness.runFor(50);  // a code already on its way to the host is dropped with its module
}

TEST_F(VoiceCommandTest, UtterancesScoringBelowTheRejectLevelChangeNothing) {
  module.phrases[0] = "lights on";
  module.rejectLevel = 40;
  harness.send(module, 0, 1);
  ASSERT_TRUE(JVoiceCommandObj::listening());
  hear({});
  harness.clear();
  engines.say("lights on", 39);
  engines.say("seven", 0);
  engines.say("three", 40);  // the level itself is taken
  hear({});
  EXPECT_EQ(outputs(), (Outputs{{0, 3}}));
  EXPECT_TRUE(harness.debugLines().empty());  // rejected silently without "debug"

  // With "debug", one line per rejected utterance, and none for one taken.
  module.debug = 1;
  harness.clear();
  engines.say("Lights on", 12);
  engines.say("banana", 3);  // outside the grammar: dropped before any score counts
  engines.say("four", 90);
  hear({});
  EXPECT_EQ(outputs(), (Outputs{{0, 4}}));
  const Lines debug = harness.debugLines();
  ASSERT_FALSE(debug.empty());
  EXPECT_EQ(debug[0], "voice: rejected \"Lights on\" (score 12)");
  EXPECT_EQ(std::count_if(debug.begin(), debug.end(),
                          [](const std::string& l) { return l.find("rejected") != std::string::npos; }),
            1);

  // Level 0 takes everything heard, as a recognizer without rejection did.
  module.rejectLevel = 0;
  harness.clear();
  engines.say("lights on", 0);
  hear({});
  EXPECT_EQ(outputs(), (Outputs{{0, -1}, {1, 1}}));
  harness.send(module, 0, 0);
}

TEST_F(VoiceCommandTest, PersistenceKeysAndDefaults) {
  module.phrases[0] = "lights on";
  module.phrases[9] = "open the door";
  module.digitsEnabled = 0;
  module.debug = 1;
  JNode content = JTestHarness::content(module);
  Lines keys = JTestHarness::keysOf(content);
  Lines own(keys.end() - 12, keys.end());
  EXPECT_EQ(own, (Lines{"phrase-1", "phrase-2", "phrase-3", "phrase-4", "phrase-5", "phrase-6", "phrase-7", "phrase-8",
                        "phrase-9", "phrase-10", "digitsEnabled", "rejectLevel"}));
  EXPECT_FALSE(contains(keys, "debug"));

  auto copy = JTestHarness::roundTrip(module);
  auto& restored = static_cast<JVoiceCommandObj&>(*copy);
  EXPECT_EQ(restored.phrases[0], JString("lights on"));
  EXPECT_EQ(restored.phrases[9], JString("open the door"));
  EXPECT_EQ(restored.digitsEnabled, 0);
  EXPECT_EQ(restored.debug.load(), 0);

  // A missing "digitsEnabled" reads as 0; a missing phrase leaves the phrase as it was.
  module.digitsEnabled = 1;
  JVoiceCommandObj fresh;
  fresh.phrases[9] = "kept";
  const JNode stored = JTestHarness::without(JTestHarness::content(module), "digitsEnabled");
  JTestHarness::restore(fresh, JTestHarness::without(stored, "phrase-10"));
  EXPECT_EQ(fresh.digitsEnabled, 0);
  EXPECT_EQ(fresh.phrases[9], JString("kept"));
  EXPECT_EQ(fresh.phrases[0], JString("lights on"));

  std::unique_ptr<JObject> clone(module.clone());
  auto& c = static_cast<JVoiceCommandObj&>(*clone);
  EXPECT_EQ(c.phrases[9], JString("open the door"));
  EXPECT_EQ(c.debug.load(), 1);

  // "rejectLevel": a diagram from before the setting gets the level a new module has, a stored 0
  // stays 0 (take everything), a stored level past the range is held to it.
  EXPECT_EQ(module.rejectLevel.load(), JVoiceCommandObj::kDefaultRejectLevel);
  module.rejectLevel = 0;
  JVoiceCommandObj older;
  older.rejectLevel = 17;
  JTestHarness::restore(older, JTestHarness::without(JTestHarness::content(module), "rejectLevel"));
  EXPECT_EQ(older.rejectLevel.load(), JVoiceCommandObj::kDefaultRejectLevel);
  JTestHarness::restore(older, JTestHarness::content(module));
  EXPECT_EQ(older.rejectLevel.load(), 0);
  module.rejectLevel = 250;
  JTestHarness::restore(older, JTestHarness::content(module));
  EXPECT_EQ(older.rejectLevel.load(), 100);
}

TEST_F(VoiceCommandTest, PropertiesInOrderAndOfTheirKind) {
  module.phrases[1] = "lights off";
  JArray props = module.getProperties();
  ASSERT_EQ(props.size(), 13);
  EXPECT_EQ(static_cast<JProperty&>(*props[0]).getName(), JString("digitsEnabled"));
  EXPECT_STREQ(static_cast<JProperty&>(*props[0]).kind(), "choice");
  for (int i = 1; i <= 10; ++i) {
    auto& p = static_cast<JProperty&>(*props[i]);
    EXPECT_EQ(p.getName(), JString("phrase-" + std::to_string(i)));
    EXPECT_STREQ(p.kind(), "text");
  }
  EXPECT_EQ(static_cast<JProperty&>(*props[2]).valueText(), JString("lights off"));
  EXPECT_EQ(static_cast<JProperty&>(*props[11]).getName(), JString("debug"));
  EXPECT_EQ(static_cast<JProperty&>(*props[12]).getName(), JString("reject level"));
  EXPECT_STREQ(static_cast<JProperty&>(*props[12]).kind(), "integer");
  JIntegerProperty level("reject level", 35, 0, 100);
  EXPECT_TRUE(module.updateProperty(level));
  EXPECT_EQ(module.rejectLevel.load(), 35);

  JIntegerListProperty digits("digitsEnabled", 0, JIntegerListProperty::booleanTag);
  EXPECT_TRUE(module.updateProperty(digits));
  EXPECT_EQ(module.digitsEnabled, 0);
  JIntegerListProperty debugOn("debug", 1, JIntegerListProperty::booleanTag);
  EXPECT_TRUE(module.updateProperty(debugOn));
  EXPECT_EQ(module.debug.load(), 1);
  JIntegerProperty wrongKind("phrase-1", 3, 0, 10);
  EXPECT_FALSE(module.updateProperty(wrongKind));
  JStringProperty unknown("phrase-11", "x");
  EXPECT_FALSE(module.updateProperty(unknown));
}

}  // namespace
