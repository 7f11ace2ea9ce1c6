// JRegionPickerObj: teaching, selecting with its every-value broadcasts, select and reset, its
// settings and saved content, and the drawn plane.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "JRegionPickerObj.h"
#include "testing/Harness.h"

namespace {

using P = JRegionPickerObj;

class RegionPickerTest : public ::testing::Test {
protected:
  // Teaches the current region the bounding box of the given corners.
  void teach(int x1, int y1, int x2, int y2) {
    h.send(m, P::kDefine, 65535);
    h.send(m, P::kX, x1);
    h.send(m, P::kY, y1);
    h.send(m, P::kX, x2);
    h.send(m, P::kY, y2);
    h.send(m, P::kDefine, 0);
  }
  void moveTo(int x, int y) {
    h.send(m, P::kX, x);
    h.send(m, P::kY, y);
  }
  void selectNext() {
    h.send(m, P::kSelect, 65535);
    h.send(m, P::kSelect, 0);
  }
  JTestHarness h;
  P& m = h.place<P>("picker");
};

TEST_F(RegionPickerTest, TeachingStretchesTheBoundingBoxWithoutOutputs) {
  h.send(m, P::kDefine, 1);
  for (int x : {100, 50, 300}) h.send(m, P::kX, x);
  EXPECT_EQ(m.minX[0], 50);
  EXPECT_EQ(m.maxX[0], 300);
  EXPECT_TRUE(h.outputsOf(m).empty());
  // Only x was seen: the region takes no part in selecting.
  h.send(m, P::kDefine, 0);
  moveTo(100, 0);
  EXPECT_TRUE(h.outputsOf(m).empty());
  EXPECT_FALSE(m.regionDefined(0));

  // Turning teaching on again starts the region afresh.
  h.send(m, P::kDefine, 1);
  h.send(m, P::kX, 1000);
  h.send(m, P::kY, 7);
  EXPECT_EQ(m.minX[0], 1000);
  EXPECT_EQ(m.maxX[0], 1000);
  EXPECT_EQ(m.minY[0], 7);
  EXPECT_TRUE(m.regionDefined(0));
}

TEST_F(RegionPickerTest, SelectingBroadcastsOnEveryValueInsideAndOnceOnLeaving) {
  selectNext();
  selectNext();  // region 3 (output 2)
  EXPECT_EQ(h.outputsOf(m), (Outputs{{10, 1}, {10, 2}}));
  teach(1000, 2000, 3000, 4000);
  h.clear();
  h.send(m, P::kX, 1000);  // y is still the last taught value, 4000: on the corner
  EXPECT_EQ(h.outputsOf(m), (Outputs{{2, 1}, {10, 3}}));
  h.send(m, P::kY, 2000);
  h.send(m, P::kX, 3000);
  EXPECT_EQ(h.outputsOf(m), (Outputs{{2, 1}, {10, 3}, {2, 1}, {10, 3}, {2, 1}, {10, 3}}));
  h.clear();
  h.send(m, P::kX, 3001);
  h.send(m, P::kX, 3002);
  EXPECT_EQ(h.outputsOf(m), (Outputs{{2, 0}}));
}

TEST_F(RegionPickerTest, OverlappingRegionsAllSelectAndTheHighestIsLast) {
  selectNext();  // region 1
  teach(0, 0, 500, 500);
  for (int i = 0; i < 3; ++i) selectNext();  // region 4
  teach(400, 400, 900, 900);
  h.clear();
  moveTo(450, 450);  // x first, while y is still 900: inside region 4 only
  EXPECT_EQ(h.readInt(m, 1), 1);
  EXPECT_EQ(h.readInt(m, 4), 1);
  EXPECT_EQ(h.readInt(m, P::kLastSelection), 5);
  EXPECT_EQ(h.outputsOf(m), (Outputs{{4, 1}, {10, 5}, {1, 1}, {10, 2}, {4, 1}, {10, 5}}));
}

TEST_F(RegionPickerTest, SelectWrapsAndResetLeavesOutputsAsTheyWere) {
  teach(0, 0, 100, 100);
  moveTo(50, 50);
  ASSERT_EQ(h.readInt(m, 0), 1);
  for (int i = 0; i < 9; ++i) selectNext();
  EXPECT_EQ(m.currentRegion, 9);
  h.clear();
  selectNext();
  EXPECT_EQ(m.currentRegion, 0);
  EXPECT_EQ(h.outputsOf(m), (Outputs{{10, 0}}));

  h.send(m, P::kReset, 65535);
  EXPECT_FALSE(m.regionDefined(0));
  EXPECT_EQ(m.currentRegion, 0);
  h.clear();
  moveTo(5000, 5000);  // outside, but the region no longer counts: its output stays 1
  EXPECT_TRUE(h.outputsOf(m).empty());
  EXPECT_EQ(h.readInt(m, 0), 1);
  EXPECT_EQ(h.readInt(m, 99), 0);  // past the selections: lastSelection
}

TEST_F(RegionPickerTest, ColoursAreTenPropertiesAfterTheBaseOnes) {
  JArray props = m.getProperties();
  ASSERT_EQ(props.size(), 10);
  EXPECT_EQ(static_cast<JProperty*>(props[0])->getName(), JString("color_1"));
  EXPECT_EQ(static_cast<JProperty*>(props[9])->getName(), JString("color_10"));
  EXPECT_EQ(m.colors[0], JColor::lightGray);
  EXPECT_EQ(m.colors[8], JColor::yellow.darker());
  EXPECT_EQ(m.colors[9], JColor::orange.darker());

  JColorProperty blue("color_7", JColor::blue);
  EXPECT_TRUE(m.updateProperty(blue));
  EXPECT_EQ(m.colors[6], JColor::blue);
  JIntegerProperty wrongKind("color_2", 3, 0, 10);
  EXPECT_FALSE(m.updateProperty(wrongKind));
  JColorProperty unknown("color_11", JColor::blue);
  EXPECT_FALSE(m.updateProperty(unknown));
}

TEST_F(RegionPickerTest, ContentKeepsRegionsAndColoursAndMissingKeysReadAsZero) {
  selectNext();
  selectNext();
  selectNext();
  teach(10, 20, 30, 40);
  JColorProperty blue("color_4", JColor::blue);
  m.updateProperty(blue);
  JNode content = JTestHarness::content(m);
  std::vector<std::string> keys = JTestHarness::keysOf(content);
  ASSERT_GE(keys.size(), 70u);
  std::vector<std::string> tail(keys.end() - 70, keys.end());
  EXPECT_EQ(tail[0], "color_1");
  EXPECT_EQ(tail[9], "color_10");
  EXPECT_EQ((std::vector<std::string>(tail.begin() + 10, tail.begin() + 16)),
            (std::vector<std::string>{"minX-0", "minY-0", "maxX-0", "maxY-0", "definedX-0", "definedY-0"}));
  EXPECT_EQ(tail[69], "definedY-9");

  auto copy = JTestHarness::roundTrip(m);
  auto& r = static_cast<P&>(*copy);
  EXPECT_EQ(r.minX[3], 10);
  EXPECT_EQ(r.maxY[3], 40);
  EXPECT_TRUE(r.regionDefined(3));
  EXPECT_EQ(r.colors[3], JColor::blue);
  EXPECT_EQ(r.currentRegion, 0);  // not stored

  JNode without = JNode::map();
  for (const std::string& k : keys)
    if (k != "definedX-3") without.set(k, *content.find(k));
  P restored;
  restored.colors[0] = JColor::black;
  JTestHarness::restore(restored, without);
  EXPECT_FALSE(restored.regionDefined(3));
  EXPECT_EQ(restored.definedY[3], 1);
  EXPECT_EQ(restored.colors[0], JColor::lightGray);

  JNode empty = JNode::map();
  restored.colors[0] = JColor::black;
  JTestHarness::restore(restored, empty);  // colours missing: kept
  EXPECT_EQ(restored.colors[0], JColor::black);
  EXPECT_EQ(restored.maxY[3], 0);

  std::unique_ptr<JObject> clone(m.clone());
  EXPECT_EQ(static_cast<P&>(*clone).minY[3], 20);
  EXPECT_EQ(static_cast<P&>(*clone).colors[3], JColor::blue);
}

// 160 x 120: inner extent (3, 3, 154, 114), plane (7, 7, 146, 106); positions scale by
// 133 / 65535 across and 93 / 65535 down; the cursor is 11 pixels square.
TEST_F(RegionPickerTest, FaceShowsPlaneRegionAndCursorAboveIt) {
  teach(0, 0, 32767, 32767);  // drawn at (3, 3), 66 x 46, clipped to the plane
  moveTo(16000, 16000);       // cursor at (39, 29)
  JCanvas c = JTestHarness::render(m);
  EXPECT_EQ(c.pixel(20, 20), JColor::lightGray);
  EXPECT_EQ(c.pixel(68, 20), JColor::lightGray);
  EXPECT_EQ(c.pixel(69, 20), JColor::black);
  EXPECT_EQ(c.pixel(100, 80), JColor::black);
  EXPECT_EQ(c.pixel(5, 5), m.color);          // inner extent outside the plane
  EXPECT_EQ(c.pixel(44, 34), JColor::green);  // cursor face, inside the region
  EXPECT_EQ(c.pixel(50, 34), JColor::lightGray);

  // Far outside the plane: the fill stays inside it, nothing is drawn out there.
  moveTo(2000000000, -5);
  c = JTestHarness::render(m);
  EXPECT_EQ(c.pixel(100, 80), JColor::black);
  EXPECT_EQ(c.pixel(20, 20), JColor::lightGray);

  // Too small to show anything but the frame.
  m.rect = JRect(0, 0, 16, 16);
  c = JTestHarness::render(m);
  EXPECT_EQ(c.pixel(8, 8), m.color);
}

}  // namespace
