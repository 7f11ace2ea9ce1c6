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

  // Inputs past the ten channels.
  enum {
    kTimer = 10, kCalibrator, kRowCount, kAdvanceTickCount, kDecayTickCount, kPercentPropagation,
    kAccuracyPercent, kSelectPattern, kMarkPattern, kDisplayPattern, kCreatePattern, kResetAllPatterns
  };
  // Outputs past the ten pattern flags.
  enum { kRecognizedPattern = 10, kAutoCreateSignal = 11 };

  JPoseMatcher();

  // --- host operations ---
  void writeContent(JOutputStream& os) override;
  void readContent(JDictionary& dict) override;
  const char* className() const override { return "JPoseMatcher"; }
  JObject* clone() const override;
  void startup() override;
  void paint(JGraphics& g, double dx, double dy, JRegion& region, double scale) override;
  JArray getProperties() override;
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

  // Paints of the live view by every instance; a full clear every 101 paints.
  static std::atomic<int> paintCounter;

  // --- fields ---
  BandSet bandSets[kChannels];
  JColor colors[kLevels];
  bool derivedColor[kLevels];
  int lastEditedColor = -1;
  int channelMin[kChannels];
  int channelMax[kChannels];
  int channelStep[kChannels];
  bool calibrated = false;
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
  int numberRows = 16;
  int numberColors = 16;
  int ticksNeededToAdvance = 1;
  int ticksNeededToDecay = 1;
  int percentPropagationWidth = 100;
  int propagationWidth = 0;
  int tickCounter = 0;
  JPatternFull patterns[kPatterns];
  DeltaTracker trackers[kPatterns];
  int matchDistance[kPatterns];
  bool matched[kPatterns];
  int recognizedPattern = 0;
  int maxDistance = 0;
  int errorThreshold = 0;
  int accuracyPercent = 80;
  bool adaptationEnabled = true;
  int adaptationSpeed = 30;
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
  bool updateColor(JProperty& p);
};
