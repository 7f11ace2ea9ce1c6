#include <gtest/gtest.h>

#include <climits>

#include "JPoseMatcher.h"
#include "testing/Harness.h"

namespace {
using Lines = std::vector<std::string>;

// A recognizer with `channels` linked value inputs, 16 rows calibrated over 0..16000 (one row
// per 1000), started as the host starts it.
struct Rig {
  explicit Rig(int channels, const JRect& rect = JRect(0, 0, 160, 120)) : m(h.place<JPoseMatcher>("pose", rect)) {
    for (int c = 0; c < channels; ++c) h.sourceFor(m, c);
    m.startup();
  }
  void calibrate(int lo = 0, int hi = 16000) {
    h.send(m, JPoseMatcher::kCalibrator, 65535);
    for (int c = 0; c < m.activeCount; ++c) {
      h.send(m, c, lo);
      h.send(m, c, hi);
    }
    h.send(m, JPoseMatcher::kCalibrator, 0);
  }
  // Puts channel c on row r (the middle of its value span).
  void row(int c, int r) { h.send(m, c, r * 1000 + 500); }
  void ticks(int n) {
    for (int i = 0; i < n; ++i) h.send(m, JPoseMatcher::kTimer, i);
  }
  void setPattern(int k, std::initializer_list<int> rows) {
    int i = 0;
    for (int r : rows) m.patterns[k].values[i++] = r;
  }

  JTestHarness h;
  JPoseMatcher& m;
};
}  // namespace

TEST(JPoseMatcherPorts, TagsSidesAndGeometry) {
  JPoseMatcher m;
  EXPECT_EQ(m.inputCount, 22);
  EXPECT_EQ(m.outputCount, 12);
  EXPECT_STREQ(m.className(), "JPoseMatcher");
  EXPECT_EQ(m.inputTag(0), JString("input1"));
  EXPECT_EQ(m.inputTag(9), JString("input10"));
  const char* top[] = {"timer",
                       "calibrator",
                       "row count",
                       "advance tick count",
                       "decay tick count",
                       "percent propagation",
                       "accuracy percent",
                       "select pattern",
                       "mark pattern",
                       "display pattern",
                       "create pattern",
                       "reset all patterns"};
  for (int n = 10; n < 22; ++n) {
    EXPECT_EQ(m.inputTag(n), JString(top[n - 10]));
    EXPECT_EQ(m.inputFace(n), 1);
  }
  EXPECT_EQ(m.inputFace(9), 0);
  EXPECT_EQ(m.outputTag(0), JString("pattern1"));
  EXPECT_EQ(m.outputTag(9), JString("pattern10"));
  EXPECT_EQ(m.outputTag(10), JString("recognized pattern"));
  EXPECT_EQ(m.outputTag(11), JString("auto create signal"));
  EXPECT_EQ(m.outputFace(9), 2);
  EXPECT_EQ(m.outputFace(10), 3);
  EXPECT_EQ(m.outputFace(11), 3);

  m.rect = JRect(0, 0, 100, 200);
  JLinkObj link(nullptr, 0, &m, 0);
  EXPECT_EQ(m.inputArea(3), m.leftArea(3, 0, 10, 0.1, 0.8, 6));
  EXPECT_EQ(m.inputArea(15), m.topArea(15, 10, 12, 0.1, 0.8, 6));
  EXPECT_EQ(m.inputPoint(15, link), m.topPoint(15, link, 10, 12, 0.1, 0.8));
  // The flags' areas span 0.05..0.95 of the right side, their link points 0.1..0.9.
  EXPECT_EQ(m.outputArea(0), m.rightArea(0, 0, 10, 0.05, 0.9, 6));
  EXPECT_EQ(m.outputPoint(0, link), m.rightPoint(0, link, 0, 10, 0.1, 0.8));
  EXPECT_EQ(m.outputArea(11), m.bottomArea(11, 10, 2, 0.25, 0.5, 6));
  EXPECT_EQ(m.outputPoint(10, link), m.bottomPoint(10, link, 10, 2, 0.25, 0.5));

  JTestHarness h;
  auto& placed = h.place<JPoseMatcher>("p");
  EXPECT_TRUE(placed.inputAllowed(4));
  h.sourceFor(placed, 4);
  EXPECT_FALSE(placed.inputAllowed(4));
}

TEST(JPoseMatcherInputs, SettingArithmeticAndIgnoredValues) {
  Rig r(3);
  auto& m = r.m;
  // Row count: v / 2046 + 2; 33 and above are ignored.
  r.h.send(m, JPoseMatcher::kRowCount, 0);
  EXPECT_EQ(m.numberRows, 2);
  r.h.send(m, JPoseMatcher::kRowCount, 61380);
  EXPECT_EQ(m.numberRows, 32);
  EXPECT_EQ(m.maxDistance, 31 * 3);
  r.h.send(m, JPoseMatcher::kRowCount, 63426);
  EXPECT_EQ(m.numberRows, 32);
  // The same row count twice recomputes nothing the second time.
  m.channelMax[0] = 3200;
  r.h.send(m, JPoseMatcher::kRowCount, 61380);
  EXPECT_EQ(m.channelStep[0], 0);
  r.h.send(m, JPoseMatcher::kRowCount, 30690);  // 17 rows
  EXPECT_EQ(m.numberRows, 17);
  EXPECT_EQ(m.channelStep[0], 3200 / 17);
  EXPECT_EQ(m.propagationWidth, 100 * 17 / 100 / 16);

  // Tick counts: a higher value gives fewer ticks; 101 and more are ignored.
  r.h.send(m, JPoseMatcher::kAdvanceTickCount, 655);
  EXPECT_EQ(m.ticksNeededToAdvance, 100);
  r.h.send(m, JPoseMatcher::kAdvanceTickCount, 0);
  EXPECT_EQ(m.ticksNeededToAdvance, 100);
  r.h.send(m, JPoseMatcher::kAdvanceTickCount, 65535);
  EXPECT_EQ(m.ticksNeededToAdvance, 1);
  r.h.send(m, JPoseMatcher::kDecayTickCount, 32767);
  EXPECT_EQ(m.ticksNeededToDecay, 51);
  EXPECT_EQ(m.bandSets[0].bands[0].activator.ticksNeededToDecay, 51);
  r.h.send(m, JPoseMatcher::kDecayTickCount, -2147483647 - 1);  // far out of range: ignored
  EXPECT_EQ(m.ticksNeededToDecay, 51);

  // Percentages: v / 655, clamped.
  r.h.send(m, JPoseMatcher::kAccuracyPercent, 52400);
  EXPECT_EQ(m.accuracyPercent, 80);
  r.h.send(m, JPoseMatcher::kAccuracyPercent, 70000);
  EXPECT_EQ(m.accuracyPercent, 100);
  r.h.send(m, JPoseMatcher::kAccuracyPercent, -700);
  EXPECT_EQ(m.accuracyPercent, 0);
  r.h.send(m, JPoseMatcher::kPercentPropagation, 65535);
  EXPECT_EQ(m.percentPropagationWidth, 100);
  r.h.send(m, JPoseMatcher::kRowCount, 61380);
  EXPECT_EQ(m.propagationWidth, 2);  // 100 * 32 / 100 / 16
  EXPECT_EQ(m.bandSets[9].bands[31].propagationWidth, 2);
  r.h.send(m, JPoseMatcher::kPercentPropagation, 327);
  EXPECT_EQ(m.propagationWidth, 0);

  // Nothing here is an output.
  EXPECT_TRUE(r.h.outputsOf(m).empty());
}

TEST(JPoseMatcherCalibration, RangesRowsAndRestart) {
  Rig r(2);
  auto& m = r.m;
  r.h.send(m, JPoseMatcher::kCalibrator, 65535);
  EXPECT_TRUE(m.calibrating);
  r.h.send(m, 0, 5000);
  r.h.send(m, 0, 9000);
  // A second start throws the ranges gathered so far away.
  r.h.send(m, JPoseMatcher::kCalibrator, 1);
  r.h.send(m, 0, 1000);
  r.h.send(m, 0, 17000);
  r.h.send(m, 1, 300);  // one value only: no width
  r.h.send(m, JPoseMatcher::kCalibrator, 0);
  EXPECT_TRUE(m.calibrated);
  EXPECT_EQ(m.channelMin[0], 1000);
  EXPECT_EQ(m.channelMax[0], 17000);
  EXPECT_EQ(m.channelStep[0], 1000);
  EXPECT_EQ(m.liveValue[1], 300);

  r.h.send(m, 0, 0);
  EXPECT_EQ(m.currentRow[0], 0);  // below the range
  r.h.send(m, 0, 99999);
  EXPECT_EQ(m.currentRow[0], 15);  // above it
  r.h.send(m, 0, 16999);
  EXPECT_EQ(m.currentRow[0], 15);
  m.channelMax[0] = 17500;  // the range ends past the last full step
  r.h.send(m, 0, 17400);
  EXPECT_EQ(m.currentRow[0], 16);  // past the last row; ActivateRow clamps
  r.h.send(m, 1, 300);
  EXPECT_EQ(m.currentRow[1], -1);  // a range narrower than the rows gives no row

  // Ticks drive the columns with the last rows, and count even before calibration.
  r.ticks(1);
  EXPECT_EQ(m.bandSets[0].bands[15].color, 1);
  EXPECT_EQ(m.tickCounter, 1);

  // A channel number out of range is refused with a debug line; -1 is silently nothing.
  r.h.clear();
  {
    JComponent::Scope scope(&m);
    m.storeValue(12, 5);
    m.storeValue(-1, 5);
  }
  EXPECT_EQ(r.h.debugLines(), (Lines{"pose: bad channel"}));
}

TEST(JPoseMatcherChannels, PositionsAreDenseAndFollowNewLinksAtTheNextUpdate) {
  JTestHarness h;
  auto& m = h.place<JPoseMatcher>("pose");
  h.sourceFor(m, 2);
  h.sourceFor(m, 5);
  m.startup();
  EXPECT_EQ(m.activeCount, 2);
  EXPECT_EQ(m.position[2], 0);
  EXPECT_EQ(m.position[5], 1);
  EXPECT_EQ(m.position[0], -1);
  EXPECT_EQ(m.maxDistance, 15 * 2);
  h.send(m, 5, 1234);
  EXPECT_EQ(m.liveValue[1], 1234);  // live values are kept by position

  // Input 0 linked now: no position and no live value until positions are given out again.
  h.send(m, 0, 777);
  EXPECT_EQ(m.position[0], -1);
  EXPECT_EQ(m.activeCount, 2);
  EXPECT_EQ(m.liveValue[0], 0);
  h.send(m, JPoseMatcher::kCalibrator, 65535);
  EXPECT_EQ(m.activeCount, 3);
  EXPECT_EQ(m.position[0], 0);
  EXPECT_EQ(m.position[2], 1);
  EXPECT_EQ(m.position[5], 2);
}

TEST(JPoseMatcherTicks, UncalibratedTicksOnlyCount) {
  Rig r(2);
  r.ticks(20);
  EXPECT_EQ(r.m.tickCounter, 20);
  EXPECT_TRUE(r.h.outputsOf(r.m).empty());
  EXPECT_EQ(r.m.repaintCount(), 0);
}

TEST(JPoseMatcherTicks, MatchingAtTheThreshold) {
  // 16 rows, three channels, 80 %: maxDistance 45, errorThreshold 9.
  Rig r(3);
  r.calibrate();
  r.h.send(r.m, JPoseMatcher::kAccuracyPercent, 52400);
  EXPECT_EQ(r.m.maxDistance, 45);
  EXPECT_EQ(r.m.errorThreshold, 9);
  r.row(0, 2);
  r.row(1, 5);
  r.row(2, 9);
  r.ticks(1);
  EXPECT_EQ(r.m.bandSets[2].getInputValue(), 9);
  r.setPattern(0, {2, 5, 1});   // distance 8
  r.setPattern(1, {2, 5, 0});   // distance 9
  r.setPattern(2, {-1, 5, 9});  // unset: never matches
  r.h.clear();
  r.ticks(1);
  EXPECT_EQ(r.m.matchDistance[0], 8);
  EXPECT_EQ(r.m.matchDistance[1], 9);
  EXPECT_EQ(r.m.matchDistance[2], 16);  // an unset entry counts numberRows
  EXPECT_TRUE(r.m.matched[0]);
  EXPECT_FALSE(r.m.matched[1]);
  EXPECT_FALSE(r.m.matched[2]);
  EXPECT_EQ(r.h.outputsOf(r.m), (Outputs{{10, 1}, {0, 1}}));
  EXPECT_EQ(r.h.readInt(r.m, 0), 1);
  EXPECT_EQ(r.h.readInt(r.m, 1), 0);
  // The drift of channel 2 moved toward the stored row 1 from above.
  EXPECT_EQ(r.m.trackers[0].drift[2], 1);
}

TEST(JPoseMatcherTicks, BroadcastsOnAChangeOfRecognisedPattern) {
  Rig r(2);
  r.calibrate();
  r.row(0, 4);
  r.row(1, 4);
  r.ticks(1);
  // Two patterns match at once: the higher-numbered one is recognised.
  r.setPattern(3, {4, 4});
  r.setPattern(6, {4, 5});
  r.h.clear();
  r.ticks(1);
  EXPECT_TRUE(r.m.matched[3]);
  EXPECT_TRUE(r.m.matched[6]);
  EXPECT_EQ(r.m.recognizedPattern, 7);
  EXPECT_EQ(r.h.outputsOf(r.m), (Outputs{{10, 7}, {6, 1}}));

  // Same result: nothing is broadcast.
  r.h.clear();
  r.ticks(1);
  EXPECT_TRUE(r.h.outputsOf(r.m).empty());

  // Pattern 6 drops out: its flag first, then the number, then the new pattern's flag; the
  // flags of patterns neither given up nor taken over are not announced.
  r.m.patterns[6].clear();
  r.setPattern(1, {4, 4});
  r.ticks(1);
  EXPECT_EQ(r.h.outputsOf(r.m), (Outputs{{6, 0}, {10, 4}, {3, 1}}));

  // Nothing matches any more: the old flag and 0.
  r.h.clear();
  for (auto& p : r.m.patterns) p.clear();
  r.ticks(1);
  EXPECT_EQ(r.h.outputsOf(r.m), (Outputs{{3, 0}, {10, 0}}));
}

TEST(JPoseMatcherTicks, MotionSumEveryTenthTick) {
  Rig r(3);
  r.calibrate();
  r.h.clear();
  r.h.send(r.m, 0, 1000);
  r.h.send(r.m, 1, 5000);
  r.h.send(r.m, 2, 200);
  r.ticks(9);
  EXPECT_TRUE(r.h.outputsOf(r.m).empty());
  r.ticks(1);
  // The first sum compares with the samples before any motion sum: 0.
  EXPECT_EQ(r.h.outputsOf(r.m), (Outputs{{11, 6200}}));
  r.h.clear();
  r.h.send(r.m, 0, 1500);
  r.h.send(r.m, 2, 100);
  r.ticks(10);
  EXPECT_EQ(r.h.outputsOf(r.m), (Outputs{{11, 600}}));
  EXPECT_EQ(r.m.delta[2], -100);
  // Unchanged sums are broadcast too.
  r.h.clear();
  r.ticks(10);
  r.ticks(10);
  EXPECT_EQ(r.h.outputsOf(r.m), (Outputs{{11, 0}, {11, 0}}));
  EXPECT_EQ(r.h.readInt(r.m, JPoseMatcher::kAutoCreateSignal), 0);
}

TEST(JPoseMatcherPatterns, CreateFillsTheFirstFreeSlotOrAdaptsTheNearest) {
  Rig r(2);
  r.calibrate();
  r.row(0, 3);
  r.row(1, 12);
  r.ticks(1);
  r.setPattern(0, {0, 0});
  r.setPattern(2, {15, 15});
  r.h.clear();
  r.h.send(r.m, JPoseMatcher::kCreatePattern, 0);  // a zero counts too
  EXPECT_EQ(r.m.selectedPattern, 1);
  EXPECT_EQ(r.m.patterns[1].values[0], 3);
  EXPECT_EQ(r.m.patterns[1].values[1], 12);
  EXPECT_EQ(r.m.patterns[1].values[2], 0);  // unused positions store their column's row 0
  EXPECT_TRUE(r.h.outputsOf(r.m).empty());

  // Now recognised: a create adapts the pattern with the smallest distance and reports it.
  r.setPattern(1, {3, 11});
  r.setPattern(4, {3, 12});
  r.ticks(1);
  EXPECT_EQ(r.m.recognizedPattern, 5);
  r.m.adaptationSpeed = 0;
  r.m.matchDistance[4] = 1;  // pattern 1 is nearest in this tick's view
  r.m.matchDistance[1] = 0;
  r.h.clear();
  r.h.send(r.m, JPoseMatcher::kCreatePattern, 65535);
  EXPECT_EQ(r.m.selectedPattern, 1);
  EXPECT_EQ(r.m.patterns[1].values[1], 12);  // one vote above with speed 0 moves it
  EXPECT_EQ(r.m.recognizedPattern, 2);
  EXPECT_EQ(r.h.outputsOf(r.m), (Outputs{{10, 2}}));

  // All ten set and nothing recognised: adapt the nearest, lowest on ties.
  Rig full(1);
  full.calibrate();
  for (int k = 0; k < 10; ++k) full.setPattern(k, {k});
  for (int k = 0; k < 10; ++k) full.m.matchDistance[k] = 5;
  full.h.send(full.m, JPoseMatcher::kCreatePattern, 1);
  EXPECT_EQ(full.m.selectedPattern, 0);
  EXPECT_EQ(full.m.recognizedPattern, 1);
}

TEST(JPoseMatcherPatterns, SelectMarkDisplayAndReset) {
  Rig r(2);
  r.calibrate();
  r.row(0, 7);
  r.row(1, 8);
  r.ticks(1);

  // Select: zero is ignored; a trigger cycles and reports the selection as recognised.
  r.h.send(r.m, JPoseMatcher::kSelectPattern, 0);
  EXPECT_TRUE(r.h.outputsOf(r.m).empty());
  for (int i = 0; i < 3; ++i) r.h.send(r.m, JPoseMatcher::kSelectPattern, 65535);
  EXPECT_EQ(r.m.selectedPattern, 3);
  EXPECT_EQ(r.h.outputsOf(r.m), (Outputs{{10, 2}, {10, 3}, {10, 4}}));
  r.m.selectedPattern = 9;
  r.m.cycleSelectedPattern();
  EXPECT_EQ(r.m.selectedPattern, 0);
  r.m.selectedPattern = 3;

  // Mark in the live view overwrites the selected pattern with the current rows.
  r.h.send(r.m, JPoseMatcher::kMarkPattern, 0);
  EXPECT_FALSE(r.m.patterns[3].isSet());
  r.h.send(r.m, JPoseMatcher::kMarkPattern, 1);
  EXPECT_EQ(r.m.patterns[3].values[0], 7);
  EXPECT_EQ(r.m.patterns[3].values[1], 8);
  r.setPattern(4, {1, 1});

  // Display: patterns 0 .. 9 in turn, each reported and described, then back to live.
  r.ticks(1);
  r.h.clear();
  for (int i = 0; i < 5; ++i) r.h.send(r.m, JPoseMatcher::kDisplayPattern, 65535);
  EXPECT_TRUE(r.m.displayingPattern);
  EXPECT_EQ(r.m.displayedPattern, 4);
  EXPECT_EQ(r.h.outputsOf(r.m), (Outputs{{10, 1}, {10, 2}, {10, 3}, {10, 4}, {10, 5}}));
  Lines debug = r.h.debugLines();
  ASSERT_EQ(debug.size(), 5u);
  EXPECT_EQ(debug[3], "pose: pattern 3: matched 1, error threshold 6, matchDistance 0");
  EXPECT_EQ(debug[4], "pose: pattern 4: matched 0, error threshold 6, matchDistance 13");

  // While a pattern is shown, ticks refresh the flags but leave the recognised pattern alone.
  r.h.clear();
  r.ticks(3);
  EXPECT_TRUE(r.h.outputsOf(r.m).empty());
  EXPECT_EQ(r.m.recognizedPattern, 5);

  // Mark while pattern 4 is displayed clears pattern 4.
  r.h.send(r.m, JPoseMatcher::kMarkPattern, 65535);
  EXPECT_FALSE(r.m.patterns[4].isSet());
  EXPECT_TRUE(r.m.patterns[3].isSet());

  // Past pattern 9 the live view returns: recognised 0 without a broadcast.
  for (int i = 0; i < 6; ++i) r.h.send(r.m, JPoseMatcher::kDisplayPattern, 1);
  EXPECT_FALSE(r.m.displayingPattern);
  EXPECT_EQ(r.m.displayedPattern, -1);
  EXPECT_EQ(r.m.recognizedPattern, 0);
  EXPECT_EQ(r.h.outputsOf(r.m).back(), (JTestHarness::Output{10, 10}));
  EXPECT_EQ(r.h.debugLines().size(), 5u);
  r.h.clear();
  r.ticks(1);  // the live view finds pattern 3 again
  EXPECT_EQ(r.h.outputsOf(r.m), (Outputs{{10, 4}, {3, 1}}));

  // Reset: zero is ignored, a trigger clears all ten.
  r.h.send(r.m, JPoseMatcher::kResetAllPatterns, 0);
  EXPECT_TRUE(r.m.patterns[3].isSet());
  r.h.send(r.m, JPoseMatcher::kResetAllPatterns, 5);
  for (auto& p : r.m.patterns) EXPECT_FALSE(p.isSet());
}

TEST(JPoseMatcherPersistence, KeyOrderDerivedColoursAndUnsetPatterns) {
  JPoseMatcher m;
  m.channelMin[1] = 100;
  m.channelMax[1] = 900;
  m.calibrated = true;
  m.patterns[1].values[0] = 3;
  m.patterns[1].values[9] = 14;
  m.colors[3] = JColor(1, 2, 3);
  m.derivedColor[3] = true;
  JNode saved = JTestHarness::content(m);

  std::vector<std::string> expected;
  for (int i = 0; i < 16; ++i) expected.push_back("color" + std::to_string(i));
  for (int j = 0; j < 10; ++j) {
    expected.push_back("min" + std::to_string(j));
    expected.push_back("max" + std::to_string(j));
  }
  for (const char* k : {"numberRows", "numberColors", "ticksNeededToAdvance", "ticksNeededToDecay", "calibrated",
                        "percentPropagationWidth", "adaptationEnabled", "adaptationSpeed", "accuracyPercent"})
    expected.push_back(k);
  for (int k = 0; k < 10; ++k)
    for (int i = 0; i < 10; ++i) expected.push_back("v-" + std::to_string(k * 100 + i));
  EXPECT_EQ(JTestHarness::keysOf(saved), expected);
  ASSERT_NE(saved.find("color3"), nullptr);
  EXPECT_EQ(*saved.find("color3"), JColor::black.toNode());  // derived: written as black
  EXPECT_EQ(saved.find("v-0")->asInteger(), -1);
  EXPECT_EQ(saved.find("v-100")->asInteger(), 3);
  EXPECT_EQ(saved.find("v-109")->asInteger(), 14);
  EXPECT_EQ(saved.find("calibrated")->asInteger(), 1);

  auto back = JTestHarness::roundTrip(m);
  auto& b = static_cast<JPoseMatcher&>(*back);
  EXPECT_FALSE(b.patterns[0].isSet());  // saved as -1, stays unset
  EXPECT_TRUE(b.patterns[1].isSet());
  EXPECT_EQ(b.patterns[1].values[9], 14);
  EXPECT_EQ(b.channelStep[1], 800 / 16);
  EXPECT_TRUE(b.calibrated);
  // Colour 3 came back black and was filled in again between its user neighbours.
  EXPECT_TRUE(b.derivedColor[3]);
  EXPECT_EQ(b.colors[3], JColor(23, 13, 34));
}

TEST(JPoseMatcherPersistence, StoredRowsOfAnySizeNeitherWrapNorMatch) {
  // A diagram may hold any integer as a pattern row: far-off rows give a distance held at the
  // int maximum, which never matches, rather than a wrapped sum that would.
  Rig r(3);
  r.calibrate();
  r.row(0, 2);
  r.row(1, 5);
  r.row(2, 9);
  r.ticks(1);
  JNode saved = JTestHarness::content(r.m);
  saved.set("v-0", JNode::integer(INT_MIN));
  saved.set("v-1", JNode::integer(INT_MIN));
  saved.set("v-2", JNode::integer(9));
  saved.set("v-100", JNode::integer(INT_MAX));
  saved.set("v-101", JNode::integer(5));
  saved.set("v-102", JNode::integer(9));
  JTestHarness::restore(r.m, saved);
  r.h.send(r.m, JPoseMatcher::kAccuracyPercent, 0);  // anything below the largest distance matches
  r.h.clear();
  r.ticks(1);
  EXPECT_EQ(r.m.matchDistance[0], INT_MAX);
  EXPECT_EQ(r.m.matchDistance[1], INT_MAX - 2);
  EXPECT_FALSE(r.m.matched[0]);
  EXPECT_FALSE(r.m.matched[1]);
  EXPECT_EQ(r.m.recognizedPattern, 0);
  EXPECT_TRUE(r.h.outputsOf(r.m).empty());
  EXPECT_EQ(r.m.trackers[0].drift[0], 1);
  // The stored rows are kept as they were.
  EXPECT_EQ(JTestHarness::content(r.m).find("v-0")->asInteger(), INT_MIN);
}

TEST(JPoseMatcherPersistence, DerivedRampSurvivesSaveAndLoad) {
  JPoseMatcher m;
  for (int i = 2; i <= 5; ++i) m.colors[i] = JColor::black;
  m.colors[6] = JColor(70, 70, 70);
  m.colors[1] = JColor(10, 10, 10);
  m.InterpolateColors();  // 2..5 derived: 10, 25, 40, 55
  EXPECT_EQ(m.colors[3], JColor(25, 25, 25));
  JNode saved = JTestHarness::content(m);
  for (int i = 2; i <= 5; ++i) EXPECT_EQ(*saved.find("color" + std::to_string(i)), JColor::black.toNode());
  auto back = JTestHarness::roundTrip(m);
  auto& b = static_cast<JPoseMatcher&>(*back);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(b.colors[i], m.colors[i]) << "level " << i;
}

TEST(JPoseMatcherPersistence, MissingKeysAndGuardedDivisors) {
  JPoseMatcher m;
  m.colors[4] = JColor(9, 9, 9);
  m.numberRows = 20;
  JNode sparse = JNode::map();
  sparse.set("max0", JNode::integer(4000));
  sparse.set("numberColors", JNode::integer(0));
  sparse.set("color2", JNode::text("not a colour"));
  JTestHarness::restore(m, sparse);
  EXPECT_EQ(m.numberRows, 20);    // missing: the value held before
  EXPECT_EQ(m.numberColors, 16);  // stored 0: likewise
  EXPECT_EQ(m.channelStep[0], 200);
  EXPECT_EQ(m.ticksNeededToAdvance, 0);  // other integers read as 0
  EXPECT_EQ(m.accuracyPercent, 0);
  EXPECT_EQ(m.adaptationSpeed, 0);
  EXPECT_FALSE(m.adaptationEnabled);
  EXPECT_EQ(m.percentPropagationWidth, 0);
  EXPECT_EQ(m.patterns[0].values[0], 0);    // a missing pattern entry reads as row 0
  EXPECT_EQ(m.colors[4], JColor(9, 9, 9));  // missing or unusable colour keys keep the colour
  EXPECT_EQ(m.colors[2], JColor(23, 13, 34));

  // Values no column can hold are refused too; percentages are held to 0..100.
  JNode wild = JNode::map();
  wild.set("numberRows", JNode::integer(1000));
  wild.set("numberColors", JNode::integer(-3));
  wild.set("accuracyPercent", JNode::integer(2000000000));
  wild.set("percentPropagationWidth", JNode::integer(2000000000));
  JTestHarness::restore(m, wild);
  EXPECT_EQ(m.numberRows, 20);
  EXPECT_EQ(m.numberColors, 16);
  EXPECT_EQ(m.accuracyPercent, 100);
  EXPECT_EQ(m.propagationWidth, 100 * 20 / 100 / 16);
}

TEST(JPoseMatcherColours, InterpolationRamp) {
  JPoseMatcher m;
  for (int i = 2; i < 16; ++i) m.colors[i] = JColor::black;
  m.colors[1] = JColor(10, 10, 10);
  m.colors[5] = JColor(92, 52, 136);
  m.InterpolateColors();
  EXPECT_EQ(m.colors[2], JColor(10, 10, 10));
  EXPECT_EQ(m.colors[3], JColor(37, 24, 52));
  EXPECT_EQ(m.colors[4], JColor(64, 38, 94));
  EXPECT_EQ(m.colors[5], JColor(92, 52, 136));
  for (int i = 6; i < 16; ++i) EXPECT_EQ(m.colors[i], JColor::black) << i;
  EXPECT_TRUE(m.derivedColor[4]);
  EXPECT_FALSE(m.derivedColor[6]);  // after the last user colour: left as it was

  // Below the first user colour the ramp starts from black.
  JPoseMatcher d;
  for (int i = 1; i < 16; ++i) d.colors[i] = JColor::black;
  d.colors[3] = JColor(200, 0, 30);
  d.colors[4] = JColor(100, 0, 0);
  d.InterpolateColors();
  EXPECT_EQ(d.colors[1], JColor(0, 0, 0));
  EXPECT_EQ(d.colors[2], JColor(100, 0, 15));
  EXPECT_EQ(d.colors[0], JColor::black);
}

TEST(JPoseMatcherProperties, ListAndUpdates) {
  Rig r(2);
  auto& m = r.m;
  m.derivedColor[7] = true;
  JArray props = m.getProperties();
  ASSERT_EQ(props.size(), 7 + 16);
  const char* names[] = {"numberRows",        "numberColors",    "ticksNeededToAdvance", "ticksNeededToDecay",
                         "adaptationEnabled", "adaptationSpeed", "accuracyPercent"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(static_cast<JProperty*>(props[i])->getName(), JString(names[i]));
  auto* rows = dynamic_cast<JIntegerProperty*>(props[0]);
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(rows->minimum, 2);
  EXPECT_EQ(rows->maximum, 32);
  EXPECT_EQ(dynamic_cast<JIntegerProperty*>(props[1])->minimum, 1);
  EXPECT_EQ(dynamic_cast<JIntegerProperty*>(props[1])->maximum, 16);
  EXPECT_EQ(dynamic_cast<JIntegerProperty*>(props[3])->maximum, 100);
  auto* adapt = dynamic_cast<JIntegerListProperty*>(props[4]);
  ASSERT_NE(adapt, nullptr);
  EXPECT_EQ(adapt->tags, JIntegerListProperty::booleanTag);
  EXPECT_EQ(adapt->value, 1);
  EXPECT_EQ(dynamic_cast<JIntegerProperty*>(props[5])->value, 30);
  EXPECT_EQ(dynamic_cast<JIntegerProperty*>(props[6])->value, 80);
  auto* c7 = dynamic_cast<JColorProperty*>(props[7 + 7]);
  ASSERT_NE(c7, nullptr);
  EXPECT_EQ(c7->getName(), JString("color7"));
  EXPECT_EQ(c7->color, JColor::black);  // derived colours show as black
  EXPECT_EQ(dynamic_cast<JColorProperty*>(props[7 + 15])->color, JColor::yellow);

  // Rows from the dialog refresh the columns but keep steps and threshold until recomputed.
  int stepBefore = m.channelStep[0];
  int thresholdBefore = m.errorThreshold;
  m.channelMax[0] = 12000;
  JIntegerProperty p("numberRows", 12, 2, 32);
  EXPECT_TRUE(m.updateProperty(p));
  EXPECT_EQ(m.numberRows, 12);
  EXPECT_EQ(m.bandSets[1].numberRows, 12);
  EXPECT_EQ(m.channelStep[0], stepBefore);
  EXPECT_EQ(m.errorThreshold, thresholdBefore);

  JIntegerProperty acc("accuracyPercent", 50, 0, 100);
  EXPECT_TRUE(m.updateProperty(acc));
  EXPECT_EQ(m.errorThreshold, 11 * 2 - 50 * 22 / 100);

  // The adaptation settings take effect when edited.
  JIntegerListProperty en("adaptationEnabled", 0, JIntegerListProperty::booleanTag);
  EXPECT_TRUE(m.updateProperty(en));
  EXPECT_FALSE(m.adaptationEnabled);
  JIntegerProperty speed("adaptationSpeed", 7, 0, 100);
  EXPECT_TRUE(m.updateProperty(speed));
  EXPECT_EQ(m.adaptationSpeed, 7);

  // Level 0 is not editable; unknown names and kinds are refused.
  JColorProperty c0("color0", JColor::red);
  EXPECT_FALSE(m.updateProperty(c0));
  EXPECT_EQ(m.colors[0], JColor::black);
  JIntegerProperty other("gain", 1, 0, 2);
  EXPECT_FALSE(m.updateProperty(other));
  JStringProperty wrongKind("numberRows", "12");
  EXPECT_FALSE(m.updateProperty(wrongKind));

  // A colour edit makes it a user colour and refills the derived ones around it.
  for (int i = 2; i < 16; ++i) m.colors[i] = JColor::black;
  JColorProperty c4("color4", JColor(40, 40, 40));
  EXPECT_TRUE(m.updateProperty(c4));
  EXPECT_EQ(m.lastEditedColor, 4);
  EXPECT_FALSE(m.derivedColor[4]);
  EXPECT_EQ(m.colors[3], JColor(25, 25, 25));
  // Editing to black does not interpolate.
  m.colors[12] = JColor(100, 100, 100);
  JColorProperty c9("color9", JColor::black);
  EXPECT_TRUE(m.updateProperty(c9));
  EXPECT_EQ(m.colors[5], JColor::black);
}

// One rule per setting, whichever road a value comes by: rows, colours, tick counts and the
// adaptation speed outside their range are left as they were, with a warning from a file (a
// property used to hold them to the range, and a file took one row or any tick count or speed);
// the accuracy is held to 0..100. Colours edited as text act as from the dialog.
TEST(JPoseMatcherProperties, OutOfRangeSettingsAreLeftOutByPropertyAndFileAlike) {
  JPoseMatcher m;
  const std::pair<const char*, int> outside[] = {{"numberRows", 1},           {"numberRows", 40},
                                                 {"numberColors", 17},        {"ticksNeededToAdvance", 0},
                                                 {"ticksNeededToDecay", 101}, {"adaptationSpeed", 101}};
  for (const auto& [name, value] : outside) {
    JIntegerProperty p(name, value, INT_MIN, INT_MAX);
    EXPECT_TRUE(m.updateProperty(p)) << name;
  }
  EXPECT_EQ(m.numberRows, 16);
  EXPECT_EQ(m.numberColors, 16);
  EXPECT_EQ(m.ticksNeededToAdvance, 1);
  EXPECT_EQ(m.ticksNeededToDecay, 1);
  EXPECT_EQ(m.adaptationSpeed, 30);
  JIntegerProperty accuracy("accuracyPercent", 250, INT_MIN, INT_MAX);
  EXPECT_TRUE(m.updateProperty(accuracy));
  EXPECT_EQ(m.accuracyPercent, 100);

  JNode stored = JTestHarness::content(m);
  stored.set("numberRows", JNode::integer(1));
  stored.set("ticksNeededToAdvance", JNode::integer(500));
  stored.set("ticksNeededToDecay", JNode::integer(0));
  stored.set("adaptationSpeed", JNode::integer(-4));
  JDictionary dict(stored);
  m.readContent(dict);
  EXPECT_EQ(m.numberRows, 16);
  EXPECT_EQ(m.ticksNeededToAdvance, 1);
  EXPECT_EQ(m.ticksNeededToDecay, 0) << "0 is what a missing key gives and what such a module saves";
  EXPECT_EQ(m.adaptationSpeed, 30);
  ASSERT_EQ(dict.warnings().size(), 3u);
  EXPECT_EQ(dict.warnings()[0], "key \"numberRows\": 1 is outside 2..32, left out");

  JSettingResult r;
  for (int i = 2; i < 16; ++i) m.colors[i] = JColor::black;
  ASSERT_TRUE(m.applySetting("color4", "40,40,40", r));
  EXPECT_EQ(m.lastEditedColor, 4);
  EXPECT_EQ(m.colors[3], JColor(25, 25, 25));
  ASSERT_TRUE(m.applySetting("color0", "9,9,9", r));
  EXPECT_EQ(m.colors[0], JColor::black);  // level 0 takes no edit by any road
}

TEST(JPoseMatcherLifecycle, CloneStartsFreshWithTheSameSettings) {
  Rig r(3);
  r.calibrate();
  r.row(0, 5);
  r.ticks(12);
  r.setPattern(2, {5, 0, 0});
  r.m.numberRows = 16;
  r.m.derivedColor[3] = true;
  std::unique_ptr<JPoseMatcher> copy(static_cast<JPoseMatcher*>(r.m.clone()));
  EXPECT_EQ(copy->tickCounter, 0);
  EXPECT_EQ(copy->patterns[2].values[0], 5);
  EXPECT_EQ(copy->channelMax[0], 16000);
  EXPECT_TRUE(copy->calibrated);
  EXPECT_EQ(copy->position[0], -1);  // positions come with the copy's own links
  EXPECT_FALSE(copy->derivedColor[3]);
  for (int k = 0; k < 10; ++k) EXPECT_FALSE(copy->matched[k]);
  // The copy's columns are its own: a band it drives lifts its neighbours, not the source's
  // (column 1 has had no values: all its bands are at 0).
  auto driveBand = [](JPoseMatcher& m) {
    for (int i = 0; i < 3; ++i) m.bandSets[1].bands[8].Activate();
    return std::vector<int>{m.bandSets[1].bands[7].color, m.bandSets[1].bands[9].color};
  };
  EXPECT_EQ(driveBand(*copy), (std::vector<int>{2, 2}));
  EXPECT_EQ(r.m.bandSets[1].bands[7].color, 0);
  EXPECT_EQ(r.m.bandSets[1].bands[9].color, 0);
  EXPECT_EQ(copy->bandSets[0].bands[4].activator.target, &copy->bandSets[0].bands[4]);
  // And so are those of an assigned module.
  JPoseMatcher assigned;
  assigned = r.m;
  EXPECT_EQ(driveBand(assigned), (std::vector<int>{2, 2}));
  EXPECT_EQ(r.m.bandSets[1].bands[7].color, 0);
}

namespace {
// The face's inner rectangle starts at (3, 3): the frame depth.
constexpr int kIn = JModuleObj::depth;
}  // namespace

TEST(JPoseMatcherFace, LiveViewColumnsAndIndicators) {
  // Inner width 104, height 104: three band columns of 25 and an indicator column of 25.
  Rig r(3, JRect(0, 0, 110, 110));
  r.calibrate();
  r.row(0, 0);
  r.row(1, 15);
  r.row(2, 8);
  r.ticks(1);
  r.setPattern(2, {0, 15, 8});
  r.m.selectedPattern = 5;
  r.ticks(1);
  ASSERT_TRUE(r.m.matched[2]);
  JPoseMatcher::paintCounter = 0;
  JCanvas c = JTestHarness::render(r.m);

  const int x = kIn, y = kIn, h = 104, H = h - 4, T = H * 90 / 100;
  // Column p spans x + 2 + 25p .. +24; rows are 100 / 16 = 6 pixels, the first 4 one more.
  auto rowTop = [&](int row) { return y + 2 + row * 6 + (row < 4 ? row : 4); };
  EXPECT_EQ(c.pixel(x + 2, rowTop(0) + 1), r.m.colors[2]);  // channel 0 on row 0, level 2
  EXPECT_EQ(c.pixel(x + 2 + 24, rowTop(0) + 1), r.m.colors[2]);
  EXPECT_EQ(c.pixel(x + 2 + 25, rowTop(15) + 1), r.m.colors[2]);  // channel 1 on row 15
  EXPECT_EQ(c.pixel(x + 2 + 50, rowTop(8) + 1), r.m.colors[2]);
  EXPECT_EQ(c.pixel(x + 2 + 50, rowTop(7) + 1), r.m.colors[1]);  // its neighbour, lifted
  EXPECT_EQ(c.pixel(x + 2 + 50, rowTop(3) + 1), JColor::black);  // level 0: the black fill
  EXPECT_EQ(c.pixel(x, y), JColor::black);
  EXPECT_EQ(c.pixel(x + 78, y + 1), JColor::black);  // the fill is 25 * 3 + 4 wide
  EXPECT_EQ(c.pixel(x + 79, y + 1), JColor::white);  // right of it, above the indicators

  // Indicators: rows of T / 10 from y + 2 + (H - T) / 2; X = x + 2 + 75, W = 25.
  const int X = x + 2 + 75, W = 104 - 75 - 4;
  EXPECT_EQ(W, 25);
  auto indicatorTop = [&](int k) { return y + 2 + (H - T) / 2 + k * (T / 10); };  // T = 90: no remainder
  const JColor idle = JColor::blue.darker();
  EXPECT_EQ(c.pixel(X + 2, indicatorTop(0)), idle);
  EXPECT_EQ(c.pixel(X + 1, indicatorTop(0)), JColor::black);              // the band fill reaches 2 pixels in
  EXPECT_EQ(c.pixel(X + 2, indicatorTop(2) + 4), JColor(101, 255, 183));  // matched
  EXPECT_EQ(c.pixel(X + W - 1, indicatorTop(2)), JColor(101, 255, 183));
  // Selected: a magenta bar under an inset indicator.
  EXPECT_EQ(c.pixel(X, indicatorTop(5) + 1), JColor(255, 0, 200));
  EXPECT_EQ(c.pixel(X + 4, indicatorTop(5) + 4), JColor(255, 0, 200));
  EXPECT_EQ(c.pixel(X + 5, indicatorTop(5) + 4), idle);
  EXPECT_EQ(c.pixel(X + 5, indicatorTop(5)), idle);
  EXPECT_EQ(c.pixel(X + 2, indicatorTop(5)), JColor::white);
  EXPECT_EQ(c.pixel(X + 2, indicatorTop(9) + 8), idle);
  EXPECT_EQ(c.pixel(X + 2, indicatorTop(9) + 9), JColor::white);

  // The shared paint counter clears the whole face every 101 paints.
  JPoseMatcher::paintCounter = 100;
  JCanvas cleared = JTestHarness::render(r.m);
  EXPECT_EQ(cleared.pixel(x + 79, y + 1), JColor::black);
  EXPECT_EQ(cleared.pixel(X + 2, indicatorTop(5)), JColor::black);
  EXPECT_EQ(JPoseMatcher::paintCounter.load(), 0);
  JTestHarness::render(r.m);
  EXPECT_EQ(JPoseMatcher::paintCounter.load(), 1);
}

TEST(JPoseMatcherFace, NoChannelFaceAndPatternView) {
  JTestHarness h;
  auto& m = h.place<JPoseMatcher>("pose", JRect(0, 0, 66, 66));
  m.startup();
  JCanvas empty = JTestHarness::render(m);
  const int x = kIn, y = kIn, w = 60, t = 60 / 3;
  EXPECT_EQ(empty.pixel(x, y), JColor::black);
  EXPECT_EQ(empty.pixel(x + 2, y + 2), JColor::blue.darker());
  EXPECT_EQ(empty.pixel(x + w - 3, y + 2 + t - 1), JColor::blue.darker());
  EXPECT_EQ(empty.pixel(x + 2, y + 2 + 2 * t), JColor::blue.darker());
  EXPECT_EQ(empty.pixel(x + 1, y + 2), JColor::black);

  // Pattern view: two columns, the last one takes the rest; only the stored rows, brightest.
  Rig r(2, JRect(0, 0, 71, 70));  // inner 65 x 64: columns of 30 and 31
  r.calibrate();
  r.setPattern(0, {0, 15});
  r.h.send(r.m, JPoseMatcher::kDisplayPattern, 1);
  JCanvas c = JTestHarness::render(r.m);
  const JColor bg = JColor::blue.darker().darker();
  EXPECT_EQ(c.pixel(kIn, kIn), bg);
  EXPECT_EQ(c.pixel(kIn + 2, kIn + 2), JColor::yellow);  // row 0 of column 0 (60 / 16 = 3 + 1)
  EXPECT_EQ(c.pixel(kIn + 2 + 29, kIn + 2 + 3), JColor::yellow);
  EXPECT_EQ(c.pixel(kIn + 2 + 30, kIn + 2), bg);
  EXPECT_EQ(c.pixel(kIn + 2 + 30, kIn + 2 + 60 - 1), JColor::yellow);  // row 15 of column 1
  EXPECT_EQ(c.pixel(kIn + 2 + 60, kIn + 2 + 60 - 1), JColor::yellow);  // its width is 31
  EXPECT_EQ(c.pixel(kIn + 2 + 61, kIn + 2 + 60 - 1), bg);
}
