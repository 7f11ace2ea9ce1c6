#pragma once
// JPoseMaker ("sCrt"): decides when the user holds still. It smooths the posture recognizer's
// motion sum, learns its range, and holds its output at 65535 while the smoothed motion lies
// below a threshold placed within that range, at 0 otherwise. Wired to the recognizer's
// "create pattern" input, a posture held still is learned without a manual trigger.
#include "modules/Calibrated.h"
#include "modules/Module.h"

class JPoseMaker : public JAddObj {
public:
  static constexpr const char* kInputTags[] = {"auto create signal", "enabled", "easyToHardPercent"};
  static constexpr const char* kOutputTags[] = {"accelerationExceedsThreshold"};
  static constexpr int kAutoCreateSignal = portIndex(kInputTags, "auto create signal");
  static constexpr int kEnabled = portIndex(kInputTags, "enabled");
  static constexpr int kEasyToHardPercent = portIndex(kInputTags, "easyToHardPercent");
  static constexpr int kExceedsThreshold = portIndex(kOutputTags, "accelerationExceedsThreshold");

  JPoseMaker();

  // --- host operations (properties and persistence come from the settings table) ---
  const char* className() const override { return "JPoseMaker"; }
  JObject* clone() const override { return new JPoseMaker(*this); }
  void draw(JGraphics& g, int x, int y, int w, int h) override;
  void engine(int n, JLinkObj& link) override;

  // --- own operations ---
  void startCalibration();
  void endCalibration();
  void calibrateValue(int v);
  void autoCalibrateOn();
  void autoCalibrateOff();
  void debugInfo();
  // The learned range: a view on minValue, maxValue and minMaxSet.
  Calibrated<bool> range() { return Calibrated<bool>(minValue, maxValue, minMaxSet); }

  // --- fields (the stored ones start from the settings table) ---
  int acceleration = 0;
  int enabled;
  int easyToHardPercent;
  int calibrateCounter = 0;
  int minValue = 0;
  int maxValue = 0;
  bool minMaxSet = false;
  bool calibrating = false;
  bool accelerationExceedsThreshold = false;
  int erange = 0;
  int smoothedAcceleration = 0;
};
