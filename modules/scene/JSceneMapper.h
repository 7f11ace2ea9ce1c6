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
  enum Input { kI1 = 0, kI2 = 1, kI3 = 2, kDefList = 3, kTimer = 4, kCalibrating = 5 };
  static constexpr int kMessageBytes = 24;
  static constexpr int kMessageTag = 4;  // first integer of every message

  JSceneMapper();

  // --- host operations ---
  void writeContent(JOutputStream& os) override;
  void readContent(JDictionary& dict) override;
  const char* className() const override { return "JSceneMapper"; }
  JObject* clone() const override { return new JSceneMapper(*this); }
  JArray getProperties() override;
  bool updateProperty(JProperty& p) override;
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

  // --- fields ---
  int i1Value = 0, i2Value = 0, i3Value = 0;
  int lastValue = -1;
  int previousValue = -1;
  JString defList;
  int timerSampled = 0;
  int calibratingValue = 0;
  bool calibrated = false;
  bool initialI1Set = false, initialI2Set = false, initialI3Set = false;
  int transformObject = 0;
  JString transformObjectName{"JSceneMapper"};
  int transformType = kLocation;
  int minI1 = 0, maxI1 = 0, mapToMinI1 = 0, mapToMaxI1 = 0;
  int minI2 = 0, maxI2 = 0, mapToMinI2 = 0, mapToMaxI2 = 0;
  int minI3 = 0, maxI3 = 0, mapToMinI3 = 0, mapToMaxI3 = 0;
  JBlock message;
};
