#include <cstdlib>

#include "GestureTestSupport.h"

// --- recording and recognising ---

TEST_F(MatcherTest, CalibrationIgnoresRepeatsThenTheSameInputIsRecognised) {
  h.send(m, JGestureMatcher::kSelectPattern, 1);  // slot 1
  h.send(m, JGestureMatcher::kCalibratePattern, 65535);
  int repaints = m.repaintCount();
  feed({3, 3, 3, 5}, 250);
  h.send(m, JGestureMatcher::kCalibratePattern, 0);
  EXPECT_EQ(valuesOf(m.patterns[1]), (std::vector<int>{3, 5}));
  EXPECT_EQ(m.patterns[1].times[1] - m.patterns[1].times[0], 750);  // host clock, not processor time
  EXPECT_TRUE(outputs().empty());
  EXPECT_EQ(m.repaintCount(), repaints);
  EXPECT_EQ(m.candidate.count, 0);  // recording does not fill the teaching buffer

  feed({3, 3, 3});
  EXPECT_TRUE(outputs().empty());
  feed({5});
  EXPECT_EQ(outputs(), (Outputs{{1, 1}, {10, 2}}));
  EXPECT_EQ(h.readInt(m, 1), 1);
  EXPECT_EQ(h.readInt(m, 10), 2);
}

TEST_F(MatcherTest, CalibrationInputEdgesAndSelectionCycle) {
  store(m.patterns[0], {1, 2});
  h.send(m, JGestureMatcher::kCalibratePattern, 1);  // empties the selected slot
  EXPECT_EQ(m.patterns[0].count, 0);
  feed({4});
  h.send(m, JGestureMatcher::kCalibratePattern, 9);  // already calibrating: keeps what it has
  feed({6});
  h.send(m, JGestureMatcher::kSelectPattern, 1);  // no moving while calibrating
  EXPECT_EQ(m.selectedPattern, 0);
  h.send(m, JGestureMatcher::kCalibratePattern, 0);
  EXPECT_EQ(valuesOf(m.patterns[0]), (std::vector<int>{4, 6}));

  h.send(m, JGestureMatcher::kSelectPattern, 0);  // zero does nothing
  EXPECT_EQ(m.selectedPattern, 0);
  for (int i = 0; i < 10; ++i) h.send(m, JGestureMatcher::kSelectPattern, 7);
  EXPECT_EQ(m.selectedPattern, 0);  // 9 wraps to 0

  // An eleventh value is dropped: the record never slides.
  h.send(m, JGestureMatcher::kCalibratePattern, 1);
  feed({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  EXPECT_EQ(m.patterns[0].count, 10);
  EXPECT_EQ(m.patterns[0].values[9], 10);
}

TEST_F(MatcherTest, BreakingValuesWithAndWithoutIgnoreRepeats) {
  store(m.patterns[0], {1, 2, 3});
  GesturePattern& p = m.patterns[0];

  feed({1, 2, 1});  // a first value restarts
  EXPECT_EQ(p.progress, 1);
  feed({2, 7});  // any other value resets
  EXPECT_EQ(p.progress, 0);
  feed({1, 2, 2, 3});  // the held value is not a new step
  EXPECT_EQ(outputs(), (Outputs{{0, 1}, {10, 1}}));

  h.clear();
  m.ignoreRepeats = false;
  feed({1, 2, 2});
  EXPECT_EQ(p.progress, 0);
  feed({3});
  EXPECT_TRUE(p.progress == 0 && !p.matched);
  EXPECT_EQ(outputs(), (Outputs{{0, 0}}));  // only the fall of the previous recognition
  feed({1, 2, 1});                          // without ignoreRepeats a breaking first value does not restart
  EXPECT_EQ(p.progress, 0);
}

TEST_F(MatcherTest, TimingToleranceAtBothEnds) {
  m.useTimerAccuracy = true;
  h.send(m, JGestureMatcher::kTimeAccuracy, 50 * 655);
  ASSERT_EQ(m.timeAccuracyPercent, 50);
  storeTimed(m.patterns[0], {1, 2}, {0, 400});

  auto completes = [&](int gap) {
    h.clear();
    feedTimed({1, 2}, {1000, gap});
    bool done = h.readInt(m, 0) == 1;
    feed({9});  // back to idle
    return done;
  };
  EXPECT_TRUE(completes(200));
  EXPECT_TRUE(completes(600));
  EXPECT_TRUE(completes(400));
  EXPECT_FALSE(completes(150));
  EXPECT_FALSE(completes(650));
  EXPECT_FALSE(completes(199));
  EXPECT_FALSE(completes(601));

  // Exact timing at 100 %, and anything from 0 to twice the interval at 0 %.
  h.send(m, JGestureMatcher::kTimeAccuracy, 65535);
  EXPECT_TRUE(completes(400));
  EXPECT_FALSE(completes(401));
  h.send(m, JGestureMatcher::kTimeAccuracy, 0);
  EXPECT_TRUE(completes(0));
  EXPECT_TRUE(completes(800));
  EXPECT_FALSE(completes(801));
}

TEST_F(MatcherTest, RejectedStepOnAFirstValueRestarts) {
  m.useTimerAccuracy = true;
  m.timeAccuracyPercent = 100;
  m.updateTimeAccuracy();
  storeTimed(m.patterns[0], {1, 2, 1}, {0, 300, 600});
  GesturePattern& p = m.patterns[0];
  feedTimed({1, 2, 1}, {100, 300, 50});  // the last interval does not fit: 1 starts again
  EXPECT_EQ(p.progress, 1);
  EXPECT_FALSE(p.matched);
  feedTimed({2, 1}, {300, 300});  // timed from the restart
  EXPECT_TRUE(p.matched);

  storeTimed(m.patterns[1], {5, 6, 7}, {0, 300, 600});
  feedTimed({5, 6, 7}, {100, 300, 50});  // a rejected step on another value resets
  EXPECT_EQ(m.patterns[1].progress, 0);
  EXPECT_FALSE(m.patterns[1].matched);
}

TEST_F(MatcherTest, AHeldFirstValueKeepsTheTimeItArrived) {
  // With ignoreRepeats the held value is checked before the restart on a first value, so the
  // interval still runs from the first arrival.
  m.useTimerAccuracy = true;
  h.send(m, JGestureMatcher::kTimeAccuracy, 65535);
  storeTimed(m.patterns[0], {1, 2}, {0, 400});
  feedTimed({1, 1, 2}, {100, 300, 100});
  EXPECT_EQ(outputs(), (Outputs{{0, 1}, {10, 1}}));

  h.clear();
  feedTimed({1, 1, 2}, {100, 100, 400});  // timed from the first 1: 500, too late
  EXPECT_EQ(outputs(), (Outputs{{0, 0}}));
}

TEST_F(MatcherTest, OutputIsHighExactlyUntilTheNextValue) {
  store(m.patterns[3], {1, 2});
  store(m.patterns[4], {8});
  feed({1, 2});
  EXPECT_EQ(outputs(), (Outputs{{3, 1}, {10, 4}}));
  feed({5});
  EXPECT_EQ(outputs(), (Outputs{{3, 1}, {10, 4}, {3, 0}}));
  EXPECT_EQ(h.readInt(m, 10), 4);  // keeps its number until another gesture completes

  // A one-value gesture whose value repeats stays at 1 without new broadcasts.
  h.clear();
  feed({8, 8, 8});
  EXPECT_EQ(outputs(), (Outputs{{4, 1}, {10, 5}}));
  EXPECT_EQ(h.readInt(m, 4), 1);
  feed({2});
  EXPECT_EQ(outputs(), (Outputs{{4, 1}, {10, 5}, {4, 0}}));
}

TEST_F(MatcherTest, TwoGesturesCompletingOnOneValue) {
  store(m.patterns[2], {4, 6});
  store(m.patterns[5], {4, 6});
  feed({4, 6});
  EXPECT_EQ(outputs(), (Outputs{{2, 1}, {10, 3}, {5, 1}, {10, 6}}));
  EXPECT_EQ(m.lastPatternMatched, 6);
}

TEST_F(MatcherTest, RecognitionClearsOthersAndEmptiesTheCandidate) {
  store(m.patterns[0], {1, 2});
  store(m.patterns[1], {2, 5});
  feed({1, 2});                          // slot 0 completes on the 2 that starts slot 1
  EXPECT_EQ(m.patterns[1].progress, 1);  // untouched by default
  EXPECT_EQ(m.candidate.count, 0);       // the buffer empties at every recognition

  feed({9});
  m.recognitionClearsOthers = true;
  feed({1, 2});
  EXPECT_TRUE(m.patterns[0].matched);
  EXPECT_EQ(m.patterns[1].progress, 0);
  EXPECT_EQ(m.candidate.count, 0);
}

TEST_F(MatcherTest, CandidateCollectsValuesBetweenRecognitions) {
  feed({4, 4, 5, 1, 2, 3, 6, 7, 8, 9, 10, 11});
  EXPECT_EQ(valuesOf(m.candidate), (std::vector<int>{4, 5, 1, 2, 3, 6, 7, 8, 9, 10}));
  EXPECT_EQ(m.candidate.times[1] - m.candidate.times[0], 200);  // the repeated 4 was no step
}

TEST_F(MatcherTest, ResetAllOnZeroKeepsOutputsAndCandidate) {
  store(m.patterns[0], {8});
  store(m.patterns[7], {3, 4});
  feed({8, 8});  // the repeat completes nothing new, so it joins the buffer
  ASSERT_EQ(m.candidate.count, 1);
  h.send(m, JGestureMatcher::kResetAll, 0);
  for (const GesturePattern& p : m.patterns) EXPECT_TRUE(p.count == 0 && p.progress == 0);
  EXPECT_TRUE(m.patterns[0].matched);
  EXPECT_EQ(h.readInt(m, 0), 1);
  EXPECT_EQ(m.lastPatternMatched, 1);
  EXPECT_EQ(m.candidate.count, 1);
  // Empty slots never start on their stale first value; the output falls at the next value.
  h.clear();
  feed({8, 3});
  EXPECT_EQ(outputs(), (Outputs{{0, 0}}));
  EXPECT_EQ(m.patterns[0].progress, 0);
  EXPECT_EQ(m.patterns[7].progress, 0);
}

TEST_F(MatcherTest, AccuracyInputIsScaledAndClamped) {
  const std::pair<int, int> cases[] = {{65535, 100}, {-1, 0},     {654, 0},         {655, 1},
                                       {32767, 50},  {-70000, 0}, {2000000000, 100}};
  for (auto [in, percent] : cases) {
    h.send(m, JGestureMatcher::kTimeAccuracy, in);
    EXPECT_EQ(m.timeAccuracyPercent, percent) << in;
    EXPECT_EQ(m.patterns[9].slackPercent, 100 - percent);
    EXPECT_EQ(m.candidate.slackPercent, 100 - percent);
  }
}

// --- persistence ---

TEST(MatcherPersistence, KeysInOrderAndRoundTrip) {
  JClock::Manual clock(5000);
  JGestureMatcher m;
  EXPECT_EQ(m.patterns[0].slackPercent, 70);
  m.timeAccuracyPercent = 40;
  m.useTimerAccuracy = true;
  storeTimed(m.patterns[3], {7, 8}, {100, 350});
  Lines keys = JTestHarness::keysOf(JTestHarness::content(m));
  Lines expected{"timeAccuracyPercent",
                 "ignoreRepeats",
                 "recognitionClearsOthers",
                 "useTimerAccuracy",
                 "p-0",
                 "p-1",
                 "p-2",
                 "p-3",
                 "p3-0",
                 "ts3-0",
                 "p3-1",
                 "ts3-1"};
  for (int n = 4; n < 10; ++n) expected.push_back("p-" + std::to_string(n));
  EXPECT_EQ(keys, expected);

  auto back = JTestHarness::roundTrip(m);
  auto& b = static_cast<JGestureMatcher&>(*back);
  EXPECT_EQ(b.timeAccuracyPercent, 40);
  EXPECT_EQ(b.patterns[3].slackPercent, 60);
  EXPECT_TRUE(b.ignoreRepeats && b.useTimerAccuracy && !b.recognitionClearsOthers);
  EXPECT_EQ(valuesOf(b.patterns[3]), (std::vector<int>{7, 8}));
  EXPECT_EQ(timesOf(b.patterns[3]), (std::vector<int>{100, 350}));
}

TEST(MatcherPersistence, MissingKeysLoadAsZeroAndValuesAreReappended) {
  JGestureMatcher m;
  store(m.patterns[0], {1, 2});
  m.patterns[0].progress = 1;
  m.patterns[0].matched = true;
  JNode sparse = JNode::map();
  sparse.set("ignoreRepeats", JNode::integer(1));
  sparse.set("p-0", JNode::integer(3));
  for (auto [key, v] :
       {std::pair<const char*, int>{"p0-0", 3}, {"ts0-0", 10}, {"p0-1", 3}, {"ts0-1", 20}, {"p0-2", 5}, {"ts0-2", 30}})
    sparse.set(key, JNode::integer(v));
  sparse.set("p-1", JNode::integer(2));  // elements missing: two zeros, the second ignored
  sparse.set("p-3", JNode::integer(-4));
  JTestHarness::restore(m, sparse);

  EXPECT_EQ(m.timeAccuracyPercent, 0);  // not the constructor's 30
  EXPECT_EQ(m.patterns[0].slackPercent, 100);
  EXPECT_FALSE(m.useTimerAccuracy);
  // A repeat is not appended, and its time overwrites the last element's.
  EXPECT_EQ(valuesOf(m.patterns[0]), (std::vector<int>{3, 5}));
  EXPECT_EQ(timesOf(m.patterns[0]), (std::vector<int>{20, 30}));
  EXPECT_EQ(m.patterns[0].progress, 0);
  EXPECT_FALSE(m.patterns[0].matched);
  EXPECT_EQ(valuesOf(m.patterns[1]), (std::vector<int>{0}));
  EXPECT_EQ(m.patterns[3].count, 0);

  JGestureMatcher bare;
  JTestHarness::restore(bare, JNode::map());
  EXPECT_FALSE(bare.ignoreRepeats);  // not the constructor's true

  JNode wild = JNode::map();
  wild.set("timeAccuracyPercent", JNode::integer(400));
  wild.set("p-0", JNode::integer(1000000));  // more than a gesture holds: read ten, not a million
  for (int i = 0; i < 12; ++i) wild.set("p0-" + std::to_string(i), JNode::integer(i));
  JTestHarness::restore(bare, wild);
  EXPECT_EQ(bare.timeAccuracyPercent, 100);
  EXPECT_EQ(bare.patterns[0].slackPercent, 0);
  EXPECT_EQ(bare.patterns[0].count, 10);
  EXPECT_EQ(bare.patterns[0].values[9], 9);
}

TEST_F(MatcherTest, CloneCopiesGesturesAndCandidate) {
  store(m.patterns[6], {1, 2, 3});
  m.recognitionClearsOthers = true;
  feed({1, 8});
  std::unique_ptr<JGestureMatcher> copy(static_cast<JGestureMatcher*>(m.clone()));
  EXPECT_EQ(valuesOf(copy->patterns[6]), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(valuesOf(copy->candidate), (std::vector<int>{1, 8}));
  EXPECT_TRUE(copy->recognitionClearsOthers);
  EXPECT_EQ(copy->inputCount, 6);
  EXPECT_EQ(copy->outputCount, 11);
}

// --- properties, ports, face ---

TEST_F(MatcherTest, PropertiesAndDebugDump) {
  JArray props = m.getProperties();
  ASSERT_EQ(props.size(), 5);
  const char* names[] = {"timeAccuracyPercent", "ignoreRepeats", "recognitionClearsOthers", "useTimerAccuracy",
                         "debugging"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(static_cast<JProperty*>(props[i])->getName(), JString(names[i]));
  auto& accuracy = static_cast<JIntegerProperty&>(*props[0]);
  EXPECT_EQ(accuracy.value, 30);
  EXPECT_EQ(accuracy.maximum, 100);
  EXPECT_EQ(static_cast<JIntegerListProperty&>(*props[1]).value, 1);

  JIntegerProperty a("timeAccuracyPercent", 80, 0, 100);
  EXPECT_TRUE(m.updateProperty(a));
  EXPECT_EQ(m.candidate.slackPercent, 20);
  JIntegerListProperty off("ignoreRepeats", 0, JIntegerListProperty::booleanTag);
  EXPECT_TRUE(m.updateProperty(off));
  EXPECT_FALSE(m.ignoreRepeats);
  JIntegerProperty other("numberRows", 3, 0, 9);
  EXPECT_FALSE(m.updateProperty(other));

  storeTimed(m.patterns[0], {4, 9}, {0, 120});
  JIntegerListProperty debugging("debugging", 1, JIntegerListProperty::booleanTag);
  {
    JComponent::Scope asTheHost(&m);
    EXPECT_TRUE(m.updateProperty(debugging));
  }
  Lines lines = h.debugLines();
  ASSERT_EQ(lines.size(), 3u + 9u);  // slot 0 with two values, nine empty slots
  EXPECT_EQ(lines[0], "g: pattern 0 has 2 values");
  EXPECT_EQ(lines[1], "g: ..value 0: 4, ts 0");
  EXPECT_EQ(lines[2], "g: ..value 1: 9, ts 120");
  EXPECT_EQ(lines[3], "g: pattern 1 has 0 values");

  h.clear();
  h.send(m, JGestureMatcher::kSelectPattern, 1);  // debugging shows the newly selected slot
  EXPECT_EQ(h.debugLines(), (Lines{"g: pattern 1 has 0 values"}));
}

TEST_F(MatcherTest, PortsTagsAndGeometry) {
  EXPECT_EQ(m.inputTag(4), JString("createPatternCommand"));
  EXPECT_EQ(m.outputTag(9), JString("gesture_10"));
  EXPECT_EQ(m.outputTag(10), JString("lastPatternMatched"));
  // 160 x 120: the five top inputs share the middle half, the ten outputs the whole right side.
  EXPECT_EQ(m.inputFace(0), 0);
  EXPECT_EQ(m.inputFace(3), 1);
  EXPECT_DOUBLE_EQ(m.inputArea(2).x, 56);
  EXPECT_EQ(m.outputFace(9), 2);
  EXPECT_DOUBLE_EQ(m.outputArea(3).y, 36);
  EXPECT_EQ(m.outputFace(10), 3);
  EXPECT_EQ(m.outputArea(10), m.bottomArea(10, 10, 1, 0.25, 0.5, 6));

  h.send(m, 0, 1);
  auto& other = h.place<JGestureMatcher>("other");
  EXPECT_THROW(h.link(other, 0, m, 0), JDiagramError);  // one link per input
  JLinkObj stray(&m, 0, &m, 6);
  m.engine(6, stray);  // an unlisted input changes nothing
  EXPECT_EQ(m.inputValue, 1);
}

TEST_F(MatcherTest, FaceShowsEachSlotInItsRow) {
  setenv("LOOMWORK_FONT", "/nonexistent/font.ttf", 1);  // rows only: no label over them
  store(m.patterns[1], {1, 2, 3, 4});
  store(m.patterns[2], {5});
  store(m.patterns[4], {1, 6});
  m.selectedPattern = 4;
  feed({1, 2});  // slot 1 half way, slot 4 started
  feed({5});     // slot 2 matched; slots 1 and 4 reset by the 5
  feed({1});     // slots 1 and 4 started again; slot 2 falls
  feed({5});
  JCanvas c = JTestHarness::render(m);
  unsetenv("LOOMWORK_FONT");

  // Inner extent 3..156 x 3..116: rows of 11 pixels, the first four 12.
  auto at = [&](int x, int y) {
    return JColor(c.pixel(x, y).getRed(), c.pixel(x, y).getGreen(), c.pixel(x, y).getBlue());
  };
  auto rowTop = [](int slot) { return 3 + slot * 11 + (slot < 4 ? slot : 4); };
  EXPECT_EQ(at(80, rowTop(0) + 5), JColor(40, 10, 40));    // empty
  EXPECT_EQ(at(80, rowTop(2) + 5), JColor(0, 255, 0));     // matched
  EXPECT_EQ(at(140, rowTop(1) + 5), JColor(60, 60, 100));  // progress 0 after the 5
  EXPECT_EQ(at(5, rowTop(4) + 5), JColor(200, 20, 200));   // selected strip, 4 wide
  EXPECT_EQ(at(7, rowTop(4) + 5), JColor(60, 60, 100));
  EXPECT_EQ(at(80, rowTop(9) + 10), JColor(40, 10, 40));  // last row ends at 116
  EXPECT_NE(at(80, 117), JColor(40, 10, 40));

  feed({1});  // slot 1: progress 1 of 4 -> left 38 pixels (unit 154 / 4)
  c = JTestHarness::render(m);
  EXPECT_EQ(at(3 + 37, rowTop(1) + 5), JColor(40, 200, 40));
  EXPECT_EQ(at(3 + 38, rowTop(1) + 5), JColor(60, 60, 100));
}
