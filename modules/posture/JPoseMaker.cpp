#include "JPoseMaker.h"

namespace {
const JPortTable kInputs{{kSideLeft, 0.1, 0.8, portsOf(JPoseMaker::kInputTags, 0, 1)},
                         {kSideTop, 0.25, 0.5, portsOf(JPoseMaker::kInputTags, 1, 2)}};
const JPortTable kOutputs{{kSideRight, 0.25, 0.5, portsOf(JPoseMaker::kOutputTags)}};

// "enabled" is stored first but offered last, so it has two rows: the stored one writes what the
// inputs left (any nonzero value) and loads it as 0 or 1; the offered one is a plain flag, which
// starts or ends no calibration. The learned range is stored only, as its three keys.
const JSettings kSettings{
    JSetting::custom<JPoseMaker>(
        JSetting::kInteger, "enabled",
        [](const JPoseMaker& m, int) {
          JSettingValue v;
          v.number = m.enabled;
          return v;
        },
        [](JPoseMaker& m, int, const JSettingValue& v) { m.enabled = v.number != 0 ? 1 : 0; })
        .init(0)
        .notProperty(),
    // Held to 0..100: it weighs the smoothing, and a weight past 100 would amplify the motion.
    JSetting::integer("easyToHardPercent", &JPoseMaker::easyToHardPercent).init(0).range(0, 100, JOutOfRange::kClamp),
    JSetting::block<JPoseMaker>(
        "minValue, maxValue, minMaxSet",
        [](JPoseMaker& m, JOutputStream& os) { m.range().put(os, "minValue", "maxValue", "minMaxSet"); },
        [](JPoseMaker& m, JDictionary& dict) { m.range().get(dict, "minValue", "maxValue", "minMaxSet"); }),
    JSetting::flag("enabled", &JPoseMaker::enabled).notStored(),
};
}  // namespace

JPoseMaker::JPoseMaker() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
}

// --- engine ---

void JPoseMaker::engine(int n, JLinkObj& link) {
  int v = readInteger(link);
  switch (n) {
    case kAutoCreateSignal: {
      acceleration = v;
      if (!enabled) break;
      // One percentage both smooths the motion and places the threshold in its range.
      const long long b = easyToHardPercent;
      smoothedAcceleration = saturate(acceleration * (100 - b) / 100 + smoothedAcceleration * b / 100);
      calibrateValue(smoothedAcceleration);
      erange = range().point(100 - easyToHardPercent, 100);
      if (smoothedAcceleration < erange) {
        autoCalibrateOn();
      } else {
        autoCalibrateOff();
      }
      break;
    }
    case kEnabled:
      enabled = v;
      if (v == 0) {
        endCalibration();
      } else if (!calibrating) {
        startCalibration();
      }
      break;
    case kEasyToHardPercent: easyToHardPercent = percentOf(v); break;
    default: break;
  }
}

void JPoseMaker::startCalibration() {
  calibrating = true;
  calibrateCounter = 0;
  range().clear();
}

// The range stays open: it keeps widening until the next start.
void JPoseMaker::endCalibration() { calibrating = false; }

void JPoseMaker::calibrateValue(int v) { range().learn(v); }

// The output is broadcast only when it changes.
void JPoseMaker::autoCalibrateOn() {
  if (accelerationExceedsThreshold) return;
  accelerationExceedsThreshold = true;
  value = 65535;
  broadcast(kExceedsThreshold);
}

void JPoseMaker::autoCalibrateOff() {
  if (!accelerationExceedsThreshold) return;
  accelerationExceedsThreshold = false;
  value = 0;
  broadcast(kExceedsThreshold);
}

void JPoseMaker::debugInfo() {
  JComponent::debugf("acceleration %d", acceleration);
  JComponent::debugf("enabled %d", enabled);
  JComponent::debugf("easyToHardPercent %d", easyToHardPercent);
  JComponent::debugf("calibrateCounter %d", calibrateCounter);
  JComponent::debugf("minValue %d, maxValue %d, minMaxSet %d, calibrating %d", minValue, maxValue, minMaxSet ? 1 : 0,
                     calibrating ? 1 : 0);
  JComponent::debugf("accelerationExceedsThreshold %d, erange %d", accelerationExceedsThreshold ? 1 : 0, erange);
}

void JPoseMaker::draw(JGraphics& g, int x, int y, int w, int h) { drawText(g, JString("sCrt"), JRect(x, y, w, h)); }

LOOMWORK_REGISTER(JPoseMaker)
