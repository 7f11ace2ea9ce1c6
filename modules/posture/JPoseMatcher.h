#pragma once
// JPoseMatcher ("sPattern"): recognises static postures from up to ten sensor channels. Each
// channel drives a band column; on every timer tick the columns are compared with up to ten
// stored patterns, and the matched patterns, the recognised one and the motion sum go out.
#include <atomic>

#include "BandSet.h"
#include "JPatternFull.h"
#include "modules/Module.h"

class JPoseMatcher : public JAddObj {
public:
  static constexpr int kChannels = 10;
  static constexpr int kPatterns = 10;
  static constexpr int kLevels = 16;

  // Ports: ten channels, then the timer, settings and triggers; ten pattern flags, then the
  // recognised pattern and the motion sum.
  static constexpr const char* kInputTags[] = {"input1",
                                               "input2",
                                               "input3",
                                               "input4",
                                               "input5",
                                               "input6",
                                               "input7",
                                               "input8",
                                               "input9",
                                               "input10",
                                               "timer",
                                               "calibrator",
                                               "row count",
                                               "advance tick count",
                                               "decay tick count",
                                               "percent propagation",
                                               "accuracy percent",
                                               "select pattern",
                                               "mark pattern",
                                               "display pattern",
                                               "create pattern",
                                               "reset all patterns"};
  static constexpr const char* kOutputTags[] = {"pattern1", "pattern2",  "pattern3",           "pattern4",
                                                "pattern5", "pattern6",  "pattern7",           "pattern8",
                                                "pattern9", "pattern10", "recognized pattern", "auto create signal"};
  static constexpr int kTimer = portIndex(kInputTags, "timer");
  static constexpr int kCalibrator = portIndex(kInputTags, "calibrator");
  static constexpr int kRowCount = portIndex(kInputTags, "row count");
  static constexpr int kAdvanceTickCount = portIndex(kInputTags, "advance tick count");
  static constexpr int kDecayTickCount = portIndex(kInputTags, "decay tick count");
  static constexpr int kPercentPropagation = portIndex(kInputTags, "percent propagation");
  static constexpr int kAccuracyPercent = portIndex(kInputTags, "accuracy percent");
  static constexpr int kSelectPattern = portIndex(kInputTags, "select pattern");
  static constexpr int kMarkPattern = portIndex(kInputTags, "mark pattern");
  static constexpr int kDisplayPattern = portIndex(kInputTags, "display pattern");
  static constexpr int kCreatePattern = portIndex(kInputTags, "create pattern");
  static constexpr int kResetAllPatterns = portIndex(kInputTags, "reset all patterns");
  static constexpr int kRecognizedPattern = portIndex(kOutputTags, "recognized pattern");
  static constexpr int kAutoCreateSignal = portIndex(kOutputTags, "auto create signal");
  static_assert(kTimer == kChannels && kRecognizedPattern == kPatterns, "channels and flags come first");

  JPoseMatcher();

  // --- host operations (properties and persistence come from the settings table) ---
  void readContent(JDictionary& dict) override;
  const char* className() const override { return "JPoseMatcher"; }
  JObject* clone() const override;
  void startup() override;
  void paint(JGraphics& g, double dx, double dy, JRegion& region, double scale) override;
  bool updateProperty(JProperty& p) override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  void engine(int n, JLinkObj& link) override;

  // --- own operations ---
  void Init();
  void startCalibration();
  void endCalibration();
  void updateCalibration();
  void storeValue(int channel, int value);
  void updateBands();
  void activateRows();
  void updatePropagationWidth();
  void updateErrorThreshold();
  int getDistanceTo(JPatternFull& pattern, DeltaTracker& tracker);
  void cycleSelectedPattern();
  void cycleDisplayedPattern();
  void createSelectedPattern();
  void adaptSelectedPattern();
  void clearSelectedPattern(int k);
  void InterpolateColors();
  // A level colour edited through its property.
  void colourEdited(int level);
  // Stored state the module writes under keys of its own: the level colours (a derived colour
  // as black), the calibrated ranges (min and max per channel) and the pattern rows.
  void writeColours(JOutputStream& os) const;
  void readColours(JDictionary& dict);
  void writeRanges(JOutputStream& os) const;
  void readRanges(JDictionary& dict);
  void writePatterns(JOutputStream& os) const;
  void readPatterns(JDictionary& dict);

  // Paints of the live view by every instance; a full clear every 101 paints.
  static std::atomic<int> paintCounter;

  // --- fields (the settings start from the settings table) ---
  BandSet bandSets[kChannels];
  JColor colors[kLevels];
  bool derivedColor[kLevels] = {};
  int lastEditedColor = -1;
  int channelMin[kChannels];
  int channelMax[kChannels];
  int channelStep[kChannels];
  bool calibrated;
  bool calibrating = false;
  bool channelCalibrated[kChannels];
  int position[kChannels];
  int liveValue[kChannels];
  int olderValue[kChannels];
  int previousValue[kChannels];
  int delta[kChannels];
  int autoCreateSignal = 0;
  int currentRow[kChannels];
  int activeCount = 0;
  int numberRows;
  int numberColors;
  int ticksNeededToAdvance;
  int ticksNeededToDecay;
  int percentPropagationWidth;
  int propagationWidth = 0;
  int tickCounter = 0;
  JPatternFull patterns[kPatterns];
  DeltaTracker trackers[kPatterns];
  int matchDistance[kPatterns];
  bool matched[kPatterns];
  int recognizedPattern = 0;
  int maxDistance = 0;
  int errorThreshold = 0;
  int accuracyPercent;
  bool adaptationEnabled;
  int adaptationSpeed;
  bool displayingPattern = false;
  int displayedPattern = -1;
  int selectedPattern = 0;

private:
  void tick();
  void displayStep();
  void createStep();
  // The current row of every column, read once and compared with every pattern.
  void readRows(int* rows) const;
  int distanceFromRows(const int* rows, const JPatternFull& pattern, DeltaTracker& tracker) const;
};
