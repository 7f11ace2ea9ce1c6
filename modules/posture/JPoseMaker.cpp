#include "JPoseMaker.h"

namespace {
const JPortTable kInputs{{kSideLeft, 0.1, 0.8, {"auto create signal"}},
                        {kSideTop, 0.25, 0.5, {"enabled", "easyToHardPercent"}}};
const JPortTable kOutputs{{kSideRight, 0.25, 0.5, {"accelerationExceedsThreshold"}}};
}  // namespace

JPoseMaker::JPoseMaker() { setPorts(kInputs, kOutputs); }

// --- properties ---

JArray JPoseMaker::getProperties() {
  JArray a;
  a.append(new JIntegerProperty("easyToHardPercent", easyToHardPercent, 0, 100));
  a.append(new JIntegerListProperty("enabled", enabled != 0 ? 1 : 0, JIntegerListProperty::booleanTag));
  return a;
}

bool JPoseMaker::updateProperty(JProperty& p) {
  int v = 0;
  if (p.is("easyToHardPercent", v)) {
    easyToHardPercent = clampTo(v, 0, 100);
    return true;
  }
  if (!p.is("enabled", v)) return false;
  enabled = v != 0 ? 1 : 0;  // no calibration starts or ends here
  return true;
}

// --- persistence ---

void JPoseMaker::writeContent(JOutputStream& os) {
  JAddObj::writeContent(os);
  putInteger(os, "enabled", enabled);
  putInteger(os, "easyToHardPercent", easyToHardPercent);
  range().put(os, "minValue", "maxValue", "minMaxSet");
}

void JPoseMaker::readContent(JDictionary& dict) {
  JAddObj::readContent(dict);
  enabled = getFlag(dict, "enabled") ? 1 : 0;
  // Held to 0..100: it weighs the smoothing, and a weight past 100 would amplify the motion.
  easyToHardPercent = clampTo(getInteger(dict, "easyToHardPercent", 0), 0, 100);
  range().get(dict, "minValue", "maxValue", "minMaxSet");
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
    case kEasyToHardPercent:
      easyToHardPercent = percentOf(v);
      break;
    default:
      break;
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
  broadcast(0);
}

void JPoseMaker::autoCalibrateOff() {
  if (!accelerationExceedsThreshold) return;
  accelerationExceedsThreshold = false;
  value = 0;
  broadcast(0);
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
