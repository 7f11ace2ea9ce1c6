#include <gtest/gtest.h>

#include "JPoseMaker.h"
#include "testing/Harness.h"

namespace {
using Lines = std::vector<std::string>;

struct MakerRig {
  MakerRig() : m(h.place<JPoseMaker>("maker")) {}
  void motion(std::initializer_list<int> values) {
    for (int v : values) h.send(m, JPoseMaker::kAutoCreateSignal, v);
  }
  JTestHarness h;
  JPoseMaker& m;
};
}  // namespace

TEST(JPoseMakerPorts, TagsSidesAndGeometry) {
  JPoseMaker m;
  EXPECT_EQ(m.inputCount, 3);
  EXPECT_EQ(m.outputCount, 1);
  EXPECT_STREQ(m.className(), "JPoseMaker");
  EXPECT_EQ(m.inputTag(0), JString("auto create signal"));
  EXPECT_EQ(m.inputTag(1), JString("enabled"));
  EXPECT_EQ(m.inputTag(2), JString("easyToHardPercent"));
  EXPECT_EQ(m.outputTag(0), JString("accelerationExceedsThreshold"));
  EXPECT_EQ(m.inputFace(0), 0);
  EXPECT_EQ(m.inputFace(1), 1);
  EXPECT_EQ(m.inputFace(2), 1);
  EXPECT_EQ(m.outputFace(0), 2);
  m.rect = JRect(0, 0, 80, 40);
  JLinkObj link(nullptr, 0, &m, 0);
  EXPECT_EQ(m.inputArea(0), m.leftArea(0, 0, 1, 0.1, 0.8, 6));
  EXPECT_EQ(m.inputArea(2), m.topArea(2, 1, 2, 0.25, 0.5, 6));
  EXPECT_EQ(m.inputPoint(1, link), m.topPoint(1, link, 1, 2, 0.25, 0.5));
  EXPECT_EQ(m.outputArea(0), m.rightArea(0, 0, 1, 0.25, 0.5, 6));
  EXPECT_EQ(m.outputPoint(0, link), m.rightPoint(0, link, 0, 1, 0.25, 0.5));
}

TEST(JPoseMakerEngine, RangeThresholdAndChangeOnlyBroadcasts) {
  MakerRig r;
  // Disabled: values are recorded, nothing else happens.
  r.motion({500});
  EXPECT_EQ(r.m.acceleration, 500);
  EXPECT_EQ(r.m.smoothedAcceleration, 0);
  EXPECT_FALSE(r.m.minMaxSet);

  // No smoothing: 10, 50, 30 give the range 10..50 and thresholds 10, 50, 50.
  r.h.send(r.m, JPoseMaker::kEnabled, 65535);
  EXPECT_TRUE(r.m.calibrating);
  std::vector<int> thresholds;
  for (int v : {10, 50, 30}) {
    r.motion({v});
    thresholds.push_back(r.m.erange);
  }
  EXPECT_EQ(thresholds, (std::vector<int>{10, 50, 50}));
  EXPECT_EQ(r.m.minValue, 10);
  EXPECT_EQ(r.m.maxValue, 50);
  EXPECT_EQ(r.h.outputsOf(r.m), (Outputs{{0, 65535}}));
  EXPECT_EQ(r.h.readInt(r.m, 0), 65535);

  // Further low values keep it high without repeating; reaching the threshold drops it once.
  r.motion({20, 15, 50, 60, 70});
  EXPECT_EQ(r.h.outputsOf(r.m), (Outputs{{0, 65535}, {0, 0}}));
  EXPECT_FALSE(r.m.accelerationExceedsThreshold);

  // Repeated nonzero values at "enabled" restart the range only once.
  r.h.send(r.m, JPoseMaker::kEnabled, 1);
  EXPECT_EQ(r.m.maxValue, 70);
  r.h.send(r.m, JPoseMaker::kEnabled, 0);
  EXPECT_FALSE(r.m.calibrating);
  EXPECT_EQ(r.m.maxValue, 70);  // ending keeps the range
  r.h.send(r.m, JPoseMaker::kEnabled, 7);
  EXPECT_FALSE(r.m.minMaxSet);
  EXPECT_EQ(r.m.maxValue, 0);
  EXPECT_EQ(r.m.calibrateCounter, 0);
  // The first value after a restart is the whole range: the output stays low.
  r.h.clear();
  r.motion({40});
  EXPECT_EQ(r.m.minValue, 40);
  EXPECT_EQ(r.m.erange, 40);
  EXPECT_TRUE(r.h.outputsOf(r.m).empty());

  // Disabled again: the range is not frozen by ending, but nothing moves while disabled.
  r.h.send(r.m, JPoseMaker::kEnabled, 0);
  r.motion({1, 99});
  EXPECT_EQ(r.m.minValue, 40);
  EXPECT_EQ(r.m.acceleration, 99);
}

TEST(JPoseMakerEngine, SmoothingAndPercentInput) {
  MakerRig r;
  r.h.send(r.m, JPoseMaker::kEasyToHardPercent, 65535);
  EXPECT_EQ(r.m.easyToHardPercent, 100);
  r.h.send(r.m, JPoseMaker::kEasyToHardPercent, 327);
  EXPECT_EQ(r.m.easyToHardPercent, 0);
  r.h.send(r.m, JPoseMaker::kEasyToHardPercent, -65535);
  EXPECT_EQ(r.m.easyToHardPercent, 0);
  r.h.send(r.m, JPoseMaker::kEasyToHardPercent, 50 * 655);
  EXPECT_EQ(r.m.easyToHardPercent, 50);

  r.h.send(r.m, JPoseMaker::kEnabled, 65535);
  r.m.smoothedAcceleration = 40;
  r.motion({100});
  EXPECT_EQ(r.m.smoothedAcceleration, 70);  // 50 + 20
  // Each quotient truncates on its own: 33 * 50 / 100 + 70 * 50 / 100 = 16 + 35.
  r.motion({33});
  EXPECT_EQ(r.m.smoothedAcceleration, 51);

  // At 100 the smoothed value never changes and the threshold sits at the minimum.
  r.h.send(r.m, JPoseMaker::kEasyToHardPercent, 65535);
  r.motion({0, 90000});
  EXPECT_EQ(r.m.smoothedAcceleration, 51);
  EXPECT_EQ(r.m.erange, r.m.minValue);
  EXPECT_FALSE(r.m.accelerationExceedsThreshold);

  // Extreme inputs neither overflow nor wrap.
  r.h.send(r.m, JPoseMaker::kEasyToHardPercent, 0);
  r.motion({2147483647, -2147483647 - 1});
  EXPECT_EQ(r.m.minValue, -2147483647 - 1);
  EXPECT_EQ(r.m.maxValue, 2147483647);
}

TEST(JPoseMakerPersistence, KeysPropertiesAndDebugInfo) {
  MakerRig r;
  r.m.enabled = 9;
  r.m.easyToHardPercent = 35;
  r.m.minValue = 120;
  r.m.maxValue = 4000;
  r.m.minMaxSet = true;
  r.m.smoothedAcceleration = 777;
  JNode saved = JTestHarness::content(r.m);
  EXPECT_EQ(JTestHarness::keysOf(saved),
            (std::vector<std::string>{"enabled", "easyToHardPercent", "minValue", "maxValue", "minMaxSet"}));
  auto back = JTestHarness::roundTrip(r.m);
  auto& b = static_cast<JPoseMaker&>(*back);
  EXPECT_EQ(b.enabled, 1);  // nonzero is stored as 1
  EXPECT_EQ(b.easyToHardPercent, 35);
  EXPECT_EQ(b.minValue, 120);
  EXPECT_EQ(b.maxValue, 4000);
  EXPECT_TRUE(b.minMaxSet);
  EXPECT_EQ(b.smoothedAcceleration, 0);  // the smoothing starts again after loading
  EXPECT_FALSE(b.calibrating);

  JPoseMaker missing;
  missing.easyToHardPercent = 60;
  JTestHarness::restore(missing, JNode::map());
  EXPECT_EQ(missing.easyToHardPercent, 0);
  EXPECT_FALSE(missing.minMaxSet);

  JArray props = r.m.getProperties();
  ASSERT_EQ(props.size(), 2);
  auto* hard = dynamic_cast<JIntegerProperty*>(props[0]);
  ASSERT_NE(hard, nullptr);
  EXPECT_EQ(hard->getName(), JString("easyToHardPercent"));
  EXPECT_EQ(hard->maximum, 100);
  auto* en = dynamic_cast<JIntegerListProperty*>(props[1]);
  ASSERT_NE(en, nullptr);
  EXPECT_EQ(en->getName(), JString("enabled"));
  EXPECT_EQ(en->value, 1);
  EXPECT_EQ(en->tags, JIntegerListProperty::booleanTag);

  // Enabling through the dialog starts no calibration.
  JIntegerListProperty off("enabled", 0, JIntegerListProperty::booleanTag);
  EXPECT_TRUE(r.m.updateProperty(off));
  EXPECT_EQ(r.m.enabled, 0);
  JIntegerListProperty on("enabled", 1, JIntegerListProperty::booleanTag);
  EXPECT_TRUE(r.m.updateProperty(on));
  EXPECT_EQ(r.m.enabled, 1);
  EXPECT_FALSE(r.m.calibrating);
  EXPECT_TRUE(r.m.minMaxSet);
  JIntegerProperty pct("easyToHardPercent", 70, 0, 100);
  EXPECT_TRUE(r.m.updateProperty(pct));
  EXPECT_EQ(r.m.easyToHardPercent, 70);
  JIntegerProperty other("minValue", 1, 0, 9);
  EXPECT_FALSE(r.m.updateProperty(other));

  r.h.clear();
  {
    JComponent::Scope scope(&r.m);
    r.m.debugInfo();
  }
  EXPECT_EQ(r.h.debugLines(),
            (Lines{"maker: acceleration 0", "maker: enabled 1", "maker: easyToHardPercent 70",
                   "maker: calibrateCounter 0", "maker: minValue 120, maxValue 4000, minMaxSet 1, calibrating 0",
                   "maker: accelerationExceedsThreshold 0, erange 0"}));
}
