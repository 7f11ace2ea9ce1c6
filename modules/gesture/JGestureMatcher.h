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

  enum Input { kInputPattern, kSelectPattern, kCalibratePattern, kTimeAccuracy, kCreateCommand, kResetAll };
  static constexpr int kLastPatternMatched = 10;  // the output after the ten gesture outputs

  JGestureMatcher();

  void writeContent(JOutputStream& os) override;
  void readContent(JDictionary& dict) override;
  const char* className() const override { return "JGestureMatcher"; }
  JObject* clone() const override { return new JGestureMatcher(*this); }
  void paint(JGraphics& g, double dx, double dy, JRegion& region, double scale) override;
  JArray getProperties() override;
  bool updateProperty(JProperty& p) override;
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

  int inputValue = 0;
  int selectedPattern = 0;
  int timeAccuracyPercent = 30;
  int createCommand = 0;
  GesturePattern patterns[kSlots];
  int lastPatternMatched = 0;
  bool ignoreRepeats = true;
  bool recognitionClearsOthers = false;
  bool useTimerAccuracy = false;
  bool calibrating = false;
  bool debugging = false;
  bool gestureOutputs[kSlots] = {};
  ExactPatternMatcher exactMatcher;
  LoosePatternMatcher looseMatcher;
  GesturePattern candidate;  // values seen since the last recognition or creation

private:
  void dumpAll() const;
};
