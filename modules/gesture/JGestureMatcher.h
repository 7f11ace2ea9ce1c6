#pragma once
// Learns and recognises dynamic gestures: short timed sequences of values (usually posture
// numbers). Ten gestures of up to ten values; a completed gesture pulses its output to 1 and
// "lastPatternMatched" names it.
#include "GesturePattern.h"
#include "PatternMatcher.h"
#include "modules/Module.h"

class JGestureMatcher : public JAddObj {
public:
  static constexpr int kSlots = 10;

  static constexpr const char* kInputTags[] = {"inputPattern",        "selectPattern",        "calibratePattern",
                                               "timeAccuracyPercent", "createPatternCommand", "resetAllPatterns"};
  static constexpr const char* kOutputTags[] = {"gesture_1", "gesture_2",  "gesture_3",         "gesture_4",
                                                "gesture_5", "gesture_6",  "gesture_7",         "gesture_8",
                                                "gesture_9", "gesture_10", "lastPatternMatched"};
  static constexpr int kInputPattern = portIndex(kInputTags, "inputPattern");
  static constexpr int kSelectPattern = portIndex(kInputTags, "selectPattern");
  static constexpr int kCalibratePattern = portIndex(kInputTags, "calibratePattern");
  static constexpr int kTimeAccuracy = portIndex(kInputTags, "timeAccuracyPercent");
  static constexpr int kCreateCommand = portIndex(kInputTags, "createPatternCommand");
  static constexpr int kResetAll = portIndex(kInputTags, "resetAllPatterns");
  static constexpr int kLastPatternMatched = portIndex(kOutputTags, "lastPatternMatched");
  static_assert(kLastPatternMatched == kSlots, "one output per slot, then lastPatternMatched");

  JGestureMatcher();

  // Properties and persistence come from the settings table; loading recomputes the slack.
  void readContent(JDictionary& dict) override;
  const char* className() const override { return "JGestureMatcher"; }
  JObject* clone() const override { return new JGestureMatcher(*this); }
  void paint(JGraphics& g, double dx, double dy, JRegion& region, double scale) override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  void engine(int n, JLinkObj& link) override;

  // Recognition of one value arriving at `time` (engine's input 0 reads the host clock).
  void recognize(int value, int time);
  void updateTimeAccuracy();
  // Learning from the teaching buffer.
  void createPattern();
  int matchPattern(const PatternMatcher& matcher) const;
  int getNextAvailablePattern() const;
  // The stored gestures, under keys of their own ("p-n", "pn-i", "tsn-i").
  void writePatterns(JOutputStream& os) const;
  void readPatterns(JDictionary& dict);
  void debuggingChanged();

  // Fields; the settings start from the settings table.
  int inputValue = 0;
  int selectedPattern = 0;
  int timeAccuracyPercent;
  int createCommand = 0;
  GesturePattern patterns[kSlots];
  int lastPatternMatched = 0;
  bool ignoreRepeats;
  bool recognitionClearsOthers;
  bool useTimerAccuracy;
  bool calibrating = false;
  bool debugging;
  bool gestureOutputs[kSlots] = {};
  ExactPatternMatcher exactMatcher;
  LoosePatternMatcher looseMatcher;
  GesturePattern candidate;  // values seen since the last recognition or creation

private:
  void dumpAll() const;
};
