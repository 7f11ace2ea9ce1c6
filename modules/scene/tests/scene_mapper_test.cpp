// JSceneMapper: the mapping, the name list from "DEF list" texts, calibration, messages and
// marker messages, its settings and saved content.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "JSceneMapper.h"
#include "testing/Harness.h"

namespace {

using M = JSceneMapper;

// A message of the six integers on output 0.
JTestHarness::Output messageOut(int object, int type, int a1, int a2, int a3) {
  return {0, M::buildMessage(object, type, a1, a2, a3)};
}

class SceneMapperTest : public ::testing::Test {
protected:
  void SetUp() override { SharedSceneNames::restoreDefaults(); }
  void TearDown() override { SharedSceneNames::restoreDefaults(); }
  void calibrate(std::initializer_list<std::pair<int, int>> values) {
    h.send(m, M::kCalibrating, 1);
    for (auto [input, v] : values) h.send(m, input, v);
    h.send(m, M::kCalibrating, 0);
  }
  JTestHarness h;
  M& m = h.place<M>("mapper");
};

TEST(SceneMapperMap, LinearClampedAndWide) {
  EXPECT_EQ(M::map(500, 0, 1000, -10000, 10000), 0);
  EXPECT_EQ(M::map(1000, 0, 1000, -10000, 10000), 10000);
  EXPECT_EQ(M::map(2000, 0, 1000, -10000, 10000), 10000);
  EXPECT_EQ(M::map(-7, 0, 1000, -10000, 10000), -10000);
  EXPECT_EQ(M::map(1, 0, 3, 0, 100), 33);    // truncated
  EXPECT_EQ(M::map(1, 0, 3, 0, -100), -33);  // toward zero
  EXPECT_EQ(M::map(123, 0, 1000, 50, 50), 50);
  EXPECT_EQ(M::map(9, 9, 9, 3, 7), 3);  // an empty learned range gives the target minimum
  // 65535 x 20000 passes 32 bits; the result is what the formula says.
  EXPECT_EQ(M::map(65535, 0, 65535, -10000, 10000), 10000);
  EXPECT_EQ(M::map(40000, 0, 65535, -10000, 10000), -10000 + static_cast<int>(40000LL * 20000 / 65535));
  EXPECT_EQ(M::map(0, INT_MIN, INT_MAX, INT_MIN, INT_MAX), 0);
  EXPECT_EQ(M::map(INT_MAX, INT_MIN, INT_MAX, INT_MIN, INT_MAX), INT_MAX);
}

TEST(SceneMapperMessage, TwentyFourBytesLittleEndian) {
  JBlock b = M::buildMessage(2, 1, -1, 256, 0x01020304);
  ASSERT_EQ(b.size(), 24);
  const std::vector<uint8_t> expected{4,    0,    0,    0,    2, 0, 0, 0, 1, 0, 0, 0,
                                      0xff, 0xff, 0xff, 0xff, 0, 1, 0, 0, 4, 3, 2, 1};
  EXPECT_EQ(b.bytes(), expected);
}

TEST(SceneMapperNames, DefListParsing) {
  SceneNameList names = parseDefList("box, ball,,cone");
  EXPECT_EQ(names[0], "box");
  EXPECT_EQ(names[1], " ball");
  EXPECT_EQ(names[2], "cone");
  EXPECT_EQ(names[3], "?4");
  EXPECT_EQ(names[9], "?10");
  names = parseDefList(",a,,b,");
  EXPECT_EQ(names[0], "a");
  EXPECT_EQ(names[1], "b");
  EXPECT_EQ(names[2], "?3");
  names = parseDefList("1,2,3,4,5,6,7,8,9,10,11,12");
  EXPECT_EQ(names[9], "10");
  names = parseDefList(std::string(300, 'n') + ",x");
  EXPECT_EQ(names[0], std::string(103, 'n'));
  EXPECT_EQ(names[1], "x");
  EXPECT_EQ(parseDefList(",,,")[0], "?1");
}

TEST_F(SceneMapperTest, DefListInputRebuildsTheSharedListButNotTheLabel) {
  h.send(m, M::kDefList, JString("box, ball,,cone"));
  M other;
  JArray props = other.getProperties();
  auto* objects = static_cast<JIntegerListProperty*>(props[0]);
  ASSERT_EQ(objects->tags.size(), 10u);
  EXPECT_EQ(objects->tags[1], JString(" ball"));
  EXPECT_EQ(objects->tags[4], JString("?5"));
  EXPECT_EQ(m.transformObjectName, JString("JSceneMapper"));

  h.send(m, M::kDefList, JString(""));  // empty: the list stays
  EXPECT_EQ(SharedSceneNames::name(0), "box");
  h.send(m, M::kDefList, JString("cube"));  // a new list starts from the defaults
  EXPECT_EQ(SharedSceneNames::name(1), "?2");

  JIntegerListProperty choose("transformObject", 0, {});
  EXPECT_TRUE(m.updateProperty(choose));
  EXPECT_EQ(m.transformObjectName, JString("cube"));
  EXPECT_TRUE(h.outputsOf(m).empty());
}

TEST_F(SceneMapperTest, CalibratedTicksSendMappedMessages) {
  h.send(m, M::kTimer, 1);  // not calibrated: nothing
  calibrate({{0, 0}, {0, 1000}, {1, 10}, {1, 20}, {2, 5}});
  ASSERT_TRUE(m.calibrated);
  EXPECT_EQ(m.mapToMinI1, 0);  // a new module's ranges are 0..0 until a type is chosen
  JIntegerListProperty location("transformType", M::kLocation, {});
  m.updateProperty(location);
  EXPECT_EQ(m.mapToMinI2, -10000);
  EXPECT_EQ(m.mapToMaxI3, 10000);
  h.send(m, 0, 500);
  h.send(m, 1, 30);         // clamped to 20
  h.send(m, 2, 5);          // empty range: the target minimum
  h.send(m, M::kTimer, 0);  // every tick, zero included
  h.send(m, M::kTimer, 7);
  EXPECT_EQ(h.outputsOf(m), (Outputs{messageOut(0, 1, 0, 10000, -10000), messageOut(0, 1, 0, 10000, -10000)}));
  EXPECT_EQ(h.readBytes(m, 0).size(), 24);
}

TEST_F(SceneMapperTest, CalibrationNeedsAllThreeAxesExceptForMarkers) {
  calibrate({{0, 1}, {1, 2}});
  EXPECT_FALSE(m.calibrated);
  h.send(m, M::kTimer, 1);
  EXPECT_TRUE(h.outputsOf(m).empty());
  calibrate({{2, 9}});  // a new calibration forgets the earlier axes
  EXPECT_FALSE(m.calibrated);
  JIntegerListProperty marker("transformType", M::kMarker, {});
  m.updateProperty(marker);
  calibrate({});
  EXPECT_TRUE(m.calibrated);
}

TEST_F(SceneMapperTest, MarkerMessageOncePerChangeToNonzero) {
  JIntegerListProperty marker("transformType", M::kMarker, {});
  m.updateProperty(marker);
  JIntegerListProperty object("transformObject", 3, {});
  m.updateProperty(object);
  // Uncalibrated: type 7 sends regardless.
  h.send(m, 0, 5);
  h.send(m, M::kTimer, 1);
  h.send(m, M::kTimer, 1);  // nothing new
  h.send(m, 1, 5);          // same value again: no change
  h.send(m, M::kTimer, 1);
  h.send(m, 2, 0);  // zero never marks
  h.send(m, M::kTimer, 1);
  h.send(m, 2, 6);
  h.send(m, M::kTimer, 1);
  EXPECT_EQ(h.outputsOf(m), (Outputs{messageOut(3, 7, 1, 1, 1), messageOut(3, 7, 1, 1, 1)}));
}

TEST_F(SceneMapperTest, PropertiesOfferTheTypesRange) {
  JArray props = m.getProperties();
  ASSERT_EQ(props.size(), 8);
  const char* names[] = {"transformObject", "transformType", "mapToMinI1", "mapToMaxI1",
                         "mapToMinI2",      "mapToMaxI2",    "mapToMinI3", "mapToMaxI3"};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(static_cast<JProperty*>(props[i])->getName(), JString(names[i]));
  auto* type = static_cast<JIntegerListProperty*>(props[1]);
  EXPECT_EQ(type->value, 1);
  EXPECT_EQ(type->tags[6], JString("transparency"));
  EXPECT_EQ(static_cast<JIntegerProperty*>(props[2])->minimum, -10000);

  JIntegerListProperty scale("transformType", M::kScale, {});
  m.updateProperty(scale);
  EXPECT_EQ(m.mapToMaxI2, 1000);
  JIntegerListProperty transparency("transformType", M::kTransparency, {});
  m.updateProperty(transparency);
  EXPECT_EQ(m.mapToMaxI2, 1000);  // kept, although 0..100 is offered now
  props = m.getProperties();
  EXPECT_EQ(static_cast<JIntegerProperty*>(props[3])->maximum, 100);
  JIntegerProperty target("mapToMinI3", 42, 0, 100);
  EXPECT_TRUE(m.updateProperty(target));
  EXPECT_EQ(m.mapToMinI3, 42);
  JIntegerListProperty signal("transformType", M::kSignalData, {});
  m.updateProperty(signal);
  props = m.getProperties();
  EXPECT_EQ(static_cast<JIntegerProperty*>(props[3])->maximum, 0);
  JStringProperty wrongKind("mapToMinI1", "3");
  EXPECT_FALSE(m.updateProperty(wrongKind));
  JIntegerListProperty badType("transformType", 8, {});
  EXPECT_TRUE(m.updateProperty(badType));
  EXPECT_EQ(m.transformType, M::kSignalData);
}

TEST_F(SceneMapperTest, ContentOrderAndMissingKeyDefaults) {
  calibrate({{0, 1}, {1, 2}, {2, 3}});
  JNode content = JTestHarness::content(m);
  std::vector<std::string> keys = JTestHarness::keysOf(content);
  const std::vector<std::string> own{"transformObject",
                                     "transformType",
                                     "minI1",
                                     "maxI1",
                                     "minI2",
                                     "maxI2",
                                     "minI3",
                                     "maxI3",
                                     "mapToMinI1",
                                     "mapToMaxI1",
                                     "mapToMinI2",
                                     "mapToMaxI2",
                                     "mapToMinI3",
                                     "mapToMaxI3",
                                     "calibrated",
                                     "initial_i1_set",
                                     "initial_i2_set",
                                     "initial_i3_set",
                                     "transformObjectName"};
  ASSERT_GE(keys.size(), own.size());
  EXPECT_EQ(std::vector<std::string>(keys.end() - static_cast<long>(own.size()), keys.end()), own);

  auto copy = JTestHarness::roundTrip(m);
  auto& r = static_cast<M&>(*copy);
  EXPECT_TRUE(r.calibrated);
  EXPECT_EQ(r.maxI3, 3);
  EXPECT_EQ(r.transformType, 1);
  EXPECT_EQ(r.transformObjectName, JString("JSceneMapper"));

  M restored;
  JTestHarness::restore(restored, JNode::map());
  EXPECT_EQ(restored.transformType, M::kSignalData);  // missing: 0, not a new module's 1
  EXPECT_FALSE(restored.calibrated);
  EXPECT_EQ(restored.transformObjectName, JString(""));
  EXPECT_EQ(restored.lastValue, -1);
}

// A stored object or type outside its list is left out with a warning, as by property (a file's
// was held to the list before). Reading a type sets no target ranges.
TEST_F(SceneMapperTest, StoredChoicesOutsideTheirListsAreLeftOut) {
  JNode stored = JNode::map();
  stored.set("transformObject", JNode::integer(12));
  stored.set("transformType", JNode::integer(-1));
  M restored;
  JDictionary dict(stored);
  restored.readContent(dict);
  EXPECT_EQ(restored.transformObject, 0);
  EXPECT_EQ(restored.transformType, M::kLocation);
  EXPECT_EQ(dict.warnings().size(), 2u);

  stored.set("transformObject", JNode::integer(9));
  stored.set("transformType", JNode::integer(M::kOrientation));
  JTestHarness::restore(restored, stored);
  EXPECT_EQ(restored.transformObject, 9);
  EXPECT_EQ(restored.transformType, M::kOrientation);
  EXPECT_EQ(restored.mapToMaxI1, 0);
  EXPECT_EQ(restored.transformObjectName, JString(""));  // the stored name, not the list's

  JIntegerListProperty object("transformObject", 10, {});
  EXPECT_TRUE(restored.updateProperty(object));
  EXPECT_EQ(restored.transformObject, 9);
}

}  // namespace
