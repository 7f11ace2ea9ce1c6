#include "JPoseMaker.h"

#include <climits>
#include <cstdio>

namespace {
const JPortTable kInputs{{kSideLeft, 0.1, 0.8, {"auto create signal"}},
                        {kSideTop, 0.25, 0.5, {"enabled", "easyToHardPercent"}}};
const JPortTable kOutputs{{kSideRight, 0.25, 0.5, {"accelerationExceedsThreshold"}}};
}  // namespace

JPoseMaker::JPoseMaker() { setPorts(kInputs, kOutputs); }

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
      erange = saturate(minValue + (static_cast<long long>(maxValue) - minValue) * (100 - b) / 100);
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
  minMaxSet = false;
  calibrateCounter = 0;
  minValue = 0;
  maxValue = 0;
}

// The range stays open: it keeps widening until the next start.
void JPoseMaker::endCalibration() { calibrating = false; }

void JPoseMaker::calibrateValue(int v) {
  if (!minMaxSet) {
    minValue = maxValue = v;
    minMaxSet = true;
  } else if (v < minValue) {
    minValue = v;
  } else if (v > maxValue) {
    maxValue = v;
  }
}

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
  char line[160];
  std::snprintf(line, sizeof line, "acceleration %d", acceleration);
  JComponent::debug(JString(line));
  std::snprintf(line, sizeof line, "enabled %d", enabled);
  JComponent::debug(JString(line));
  std::snprintf(line, sizeof line, "easyToHardPercent %d", easyToHardPercent);
  JComponent::debug(JString(line));
  std::snprintf(line, sizeof line, "calibrateCounter %d", calibrateCounter);
  JComponent::debug(JString(line));
  std::snprintf(line, sizeof line, "minValue %d, maxValue %d, minMaxSet %d, calibrating %d", minValue, maxValue,
                minMaxSet ? 1 : 0, calibrating ? 1 : 0);
  JComponent::debug(JString(line));
  std::snprintf(line, sizeof line, "accelerationExceedsThreshold %d, erange %d", accelerationExceedsThreshold ? 1 : 0,
                erange);
  JComponent::debug(JString(line));
}

void JPoseMaker::writeContent(JOutputStream& os) {
  JAddObj::writeContent(os);
  putInteger(os, "enabled", enabled);
  putInteger(os, "easyToHardPercent", easyToHardPercent);
  putInteger(os, "minValue", minValue);
  putInteger(os, "maxValue", maxValue);
  putInteger(os, "minMaxSet", minMaxSet ? 1 : 0);
}

void JPoseMaker::readContent(JDictionary& dict) {
  JAddObj::readContent(dict);
  enabled = getInteger(dict, "enabled", 0) != 0 ? 1 : 0;
  minMaxSet = getInteger(dict, "minMaxSet", 0) != 0;
  // Held to 0..100: it weighs the smoothing, and a weight past 100 would amplify the motion.
  easyToHardPercent = clampTo(getInteger(dict, "easyToHardPercent", 0), 0, 100);
  minValue = getInteger(dict, "minValue", 0);
  maxValue = getInteger(dict, "maxValue", 0);
}

JArray JPoseMaker::getProperties() {
  JArray a;
  a.append(new JIntegerProperty("easyToHardPercent", easyToHardPercent, 0, 100));
  a.append(new JIntegerListProperty("enabled", enabled != 0 ? 1 : 0, JIntegerListProperty::booleanTag));
  return a;
}

bool JPoseMaker::updateProperty(JProperty& p) {
  const JString& name = p.getName();
  if (auto* ip = dynamic_cast<JIntegerProperty*>(&p)) {
    if (name == "easyToHardPercent") {
      easyToHardPercent = clampTo(ip->value, 0, 100);
      return true;
    }
    return false;
  }
  if (auto* lp = dynamic_cast<JIntegerListProperty*>(&p)) {
    if (name == "enabled") {
      enabled = lp->value != 0 ? 1 : 0;  // no calibration starts or ends here
      return true;
    }
  }
  return false;
}

void JPoseMaker::draw(JGraphics& g, int x, int y, int w, int h) { drawText(g, JString("sCrt"), JRect(x, y, w, h)); }

LOOMWORK_REGISTER(JPoseMaker)
