#pragma once
// JSceneMapper: drives one property of one named object in the 3-D scene viewer from three
// signals. Calibration learns the range each signal covers; afterwards every tick of
// "timer_sampled" maps the three values linearly into the target ranges and sends one 24-byte
// message on "dataOut" (for the plot feed to carry to the viewer). Type 7 sends a marker
// message instead, once per change of the most recent signal value.
#include "SceneNames.h"
#include "modules/Calibrated.h"
#include "modules/Module.h"

class JSceneMapper : public JAddObj {
public:
  enum Type { kSignalData, kLocation, kOrientation, kEmissiveColor, kDiffuseColor, kScale, kTransparency, kMarker };
  static constexpr int kTypes = 8;
  // Ports: the tags, once; the index names follow from them.
  static constexpr const char* kInputTags[] = {"i1", "i2", "i3", "DEF list", "timer_sampled", "calibrating"};
  static constexpr const char* kOutputTags[] = {"dataOut"};
  static constexpr int kI1 = portIndex(kInputTags, "i1");
  static constexpr int kI2 = portIndex(kInputTags, "i2");
  static constexpr int kI3 = portIndex(kInputTags, "i3");
  static constexpr int kDefList = portIndex(kInputTags, "DEF list");
  static constexpr int kTimer = portIndex(kInputTags, "timer_sampled");
  static constexpr int kCalibrating = portIndex(kInputTags, "calibrating");
  static constexpr int kDataOut = portIndex(kOutputTags, "dataOut");
  static constexpr int kMessageBytes = 24;
  static constexpr int kMessageTag = 4;  // first integer of every message

  JSceneMapper();

  // --- host operations (properties and persistence come from the settings table) ---
  const char* className() const override { return "JSceneMapper"; }
  JObject* clone() const override { return new JSceneMapper(*this); }
  JArray getProperties() override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  void engine(int n, JLinkObj& link) override;

  // --- own operations ---
  // v from the learned range [min, max] into [lo, hi]: clamped, truncated toward zero.
  static int map(int v, int min, int max, int lo, int hi);
  // The message: 4, object, type, a1, a2, a3 as little-endian 32-bit integers.
  static JBlock buildMessage(int object, int type, int a1, int a2, int a3);
  // The learned range of axis kI1, kI2 or kI3: a view on its min, max and initial-set fields.
  Calibrated<bool> axisRange(int axis);
  void tick();
  // Follow-ups of the settings: the chosen object's name as the label; a type's target ranges.
  void objectChosen();
  void typeChosen();

  // --- fields (initial values of the stored ones in the settings table) ---
  int i1Value = 0, i2Value = 0, i3Value = 0;
  int lastValue = -1;
  int previousValue = -1;
  JString defList;
  int timerSampled = 0;
  int calibratingValue = 0;
  bool calibrated;
  bool initialI1Set, initialI2Set, initialI3Set;
  int transformObject;
  JString transformObjectName;
  int transformType;
  int minI1, maxI1, mapToMinI1, mapToMaxI1;
  int minI2, maxI2, mapToMinI2, mapToMaxI2;
  int minI3, maxI3, mapToMinI3, mapToMaxI3;
  JBlock message;
};
