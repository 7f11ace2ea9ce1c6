#include "GestureTestSupport.h"

namespace {
void pulseCreate(JTestHarness& h, JGestureMatcher& m) {
  h.send(m, JGestureMatcher::kCreateCommand, 65535);
  h.send(m, JGestureMatcher::kCreateCommand, 0);
}
}  // namespace

TEST_F(MatcherTest, TooShortABufferLearnsNothing) {
  pulseCreate(h, m);
  feed({4});
  pulseCreate(h, m);
  EXPECT_EQ(m.getNextAvailablePattern(), 0);
  for (const GesturePattern& p : m.patterns) EXPECT_EQ(p.count, 0);
  EXPECT_EQ(m.candidate.count, 0);  // emptied all the same
  EXPECT_EQ(m.createCommand, 0);
}

TEST_F(MatcherTest, LearnsIntoFreeSlotsAndRecognisesWhatItLearned) {
  feedTimed({1, 2, 3}, {100, 400, 500});
  h.send(m, JGestureMatcher::kCreateCommand, 0);  // zero is no command
  EXPECT_EQ(m.patterns[0].count, 0);
  h.send(m, JGestureMatcher::kCreateCommand, 65535);
  EXPECT_EQ(m.createCommand, 65535);
  EXPECT_EQ(valuesOf(m.patterns[0]), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(m.patterns[0].times[1] - m.patterns[0].times[0], 400);
  EXPECT_EQ(m.patterns[0].times[2] - m.patterns[0].times[1], 500);
  EXPECT_EQ(m.candidate.count, 0);
  EXPECT_TRUE(outputs().empty());  // learning changes no output

  feed({7, 8});
  pulseCreate(h, m);
  EXPECT_EQ(valuesOf(m.patterns[1]), (std::vector<int>{7, 8}));
  EXPECT_EQ(m.getNextAvailablePattern(), 2);

  feed({1, 2, 3});
  EXPECT_EQ(outputs(), (Outputs{{0, 1}, {10, 1}}));
}

TEST_F(MatcherTest, AnEqualGestureAdaptsOneMillisecondPerAlignedStep) {
  feedTimed({1, 2, 3}, {100, 500, 500});
  storeTimed(m.patterns[4], {1, 2, 3}, {0, 400, 900});  // learned earlier
  pulseCreate(h, m);
  EXPECT_EQ(timesOf(m.patterns[4]), (std::vector<int>{0, 401, 901}));
  EXPECT_EQ(m.getNextAvailablePattern(), 0);  // no new gesture

  // Shorter intervals pull the stored ones back.
  storeTimed(m.candidate, {1, 2, 3}, {0, 300, 600});
  pulseCreate(h, m);
  EXPECT_EQ(timesOf(m.patterns[4]), (std::vector<int>{0, 400, 899}));
}

TEST_F(MatcherTest, AmongEqualGesturesTheClosestTimingAdapts) {
  storeTimed(m.patterns[2], {1, 2, 3}, {0, 300, 600});
  storeTimed(m.patterns[5], {1, 2, 3}, {0, 500, 1000});
  storeTimed(m.candidate, {1, 2, 3}, {0, 480, 960});
  pulseCreate(h, m);  // without the timer both score 0: the lower slot adapts
  EXPECT_EQ(timesOf(m.patterns[2]), (std::vector<int>{0, 301, 602}));
  EXPECT_EQ(timesOf(m.patterns[5]), (std::vector<int>{0, 500, 1000}));

  m.useTimerAccuracy = true;
  storeTimed(m.candidate, {1, 2, 3}, {0, 480, 960});
  EXPECT_EQ(m.exactMatcher.match(m.candidate, m.patterns[5], true), 40);
  pulseCreate(h, m);
  EXPECT_EQ(timesOf(m.patterns[5]), (std::vector<int>{0, 499, 998}));
  EXPECT_EQ(timesOf(m.patterns[2]), (std::vector<int>{0, 301, 602}));

  storeTimed(m.patterns[5], {1, 2, 3}, {0, 301, 602});  // a tie: the lower slot
  storeTimed(m.candidate, {1, 2, 3}, {0, 480, 960});
  EXPECT_EQ(m.matchPattern(m.exactMatcher), 2);
}

TEST_F(MatcherTest, WhenEverySlotIsUsedTheLooseMatcherChooses) {
  for (int k = 0; k < 10; ++k) store(m.patterns[k], {10 + k, 20 + k});
  storeTimed(m.candidate, {7, 8}, {0, 100});
  EXPECT_EQ(m.matchPattern(m.exactMatcher), -1);
  EXPECT_EQ(m.matchPattern(m.looseMatcher), 0);  // every slot scores 0: the lowest wins
  pulseCreate(h, m);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(valuesOf(m.patterns[k]), (std::vector<int>{10 + k, 20 + k}));
  EXPECT_EQ(timesOf(m.patterns[0]), (std::vector<int>{0, 100}));
  EXPECT_EQ(m.candidate.count, 0);

  // Four-value gestures do not correspond to a three-value buffer unless a skip explains it.
  for (int k = 0; k < 10; ++k) store(m.patterns[k], {10 + k, 20 + k, 30 + k, 40 + k});
  storeTimed(m.patterns[6], {1, 2, 5, 3}, {0, 100, 200, 300});
  storeTimed(m.candidate, {1, 5, 3}, {0, 150, 400});
  EXPECT_EQ(m.matchPattern(m.looseMatcher), 6);
  pulseCreate(h, m);
  EXPECT_EQ(timesOf(m.patterns[6]), (std::vector<int>{0, 100, 200, 301}));

  // No slot corresponds: nothing learned.
  storeTimed(m.candidate, {1, 2}, {0, 100});
  for (int k = 0; k < 10; ++k) store(m.patterns[k], {10 + k, 20 + k, 30 + k}, 100);
  pulseCreate(h, m);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(m.patterns[k].count, 3);
}

// --- the comparison strategies themselves ---

TEST(PatternMatchers, ExactNeedsEqualValuesAndFittingIntervals) {
  ExactPatternMatcher exact;
  GesturePattern c, p, empty;
  storeTimed(c, {1, 2, 3}, {0, 100, 300});
  storeTimed(p, {1, 2, 3}, {0, 150, 300});
  EXPECT_EQ(exact.match(c, p, false), 0);
  EXPECT_EQ(exact.match(c, p, true), 100);  // |150 - 100| + |150 - 200|
  EXPECT_EQ(exact.match(c, empty, false), -1);
  EXPECT_EQ(exact.match(empty, empty, false), -1);
  p.slackPercent = 10;  // 150 +- 15 does not take 100
  EXPECT_EQ(exact.match(c, p, true), -1);
  storeTimed(p, {1, 2}, {0, 100});
  EXPECT_EQ(exact.match(c, p, false), -1);
  storeTimed(p, {1, 9, 3}, {0, 100, 300});
  EXPECT_EQ(exact.match(c, p, false), -1);
}

TEST(PatternMatchers, LooseSkipsOneExtraElementOnEitherSide) {
  LoosePatternMatcher loose;
  GesturePattern c, p;
  storeTimed(c, {1, 2, 3}, {0, 100, 200});
  storeTimed(p, {4, 5, 6}, {0, 100, 200});
  EXPECT_EQ(loose.match(c, p, false), 0);  // unequal elements are simply paired
  storeTimed(p, {2, 3, 4}, {0, 100, 200});
  EXPECT_EQ(loose.match(c, p, false), -1);  // skipping leaves the pattern's last unconsumed

  // The pattern has an extra element; with the timer its two steps count as one interval.
  storeTimed(c, {1, 3}, {0, 300});
  storeTimed(p, {1, 2, 3}, {0, 200, 400});
  EXPECT_EQ(loose.match(c, p, false), 0);
  EXPECT_EQ(loose.match(c, p, true), 200);  // |300 - 400| + |300 - 200|
  storeTimed(c, {1, 3}, {0, 400});
  EXPECT_EQ(loose.match(c, p, true), -1);  // 400 against the pattern's last 200 +- 140

  // The candidate has an extra element.
  storeTimed(c, {1, 2, 3}, {0, 100, 300});
  storeTimed(p, {1, 3}, {0, 250});
  EXPECT_EQ(loose.match(c, p, false), 0);
  EXPECT_EQ(loose.match(c, p, true), 100);  // |300 - 250| + |200 - 250|
  p.slackPercent = 0;
  EXPECT_EQ(loose.match(c, p, true), -1);
}

TEST(PatternRecords, AdaptToWalksAlignedElementsOnly) {
  GesturePattern stored, example;
  storeTimed(stored, {1, 2, 3}, {0, 400, 900});
  storeTimed(example, {1, 2, 3}, {0, 500, 1000});
  stored.adaptTo(example);
  EXPECT_EQ(timesOf(stored), (std::vector<int>{0, 401, 901}));
  EXPECT_EQ(valuesOf(stored), (std::vector<int>{1, 2, 3}));

  // The example lacks the stored 2: the skip moves past it, and the 4 aligns with the whole span.
  storeTimed(stored, {1, 2, 3, 4}, {0, 100, 200, 300});
  storeTimed(example, {1, 3, 4}, {0, 150, 400});
  stored.adaptTo(example);
  EXPECT_EQ(timesOf(stored), (std::vector<int>{0, 100, 200, 301}));

  // The example has an extra element.
  storeTimed(stored, {1, 3, 4}, {0, 200, 300});
  storeTimed(example, {1, 2, 3, 4}, {0, 100, 200, 250});
  stored.adaptTo(example);
  EXPECT_EQ(timesOf(stored), (std::vector<int>{0, 200, 299}));

  // A one-value gesture has no interval to adapt; copyFrom keeps the slack.
  storeTimed(stored, {5}, {10});
  stored.adaptTo(example);
  EXPECT_EQ(timesOf(stored), (std::vector<int>{10}));
  stored.slackPercent = 25;
  stored.progress = 1;
  stored.matched = true;
  stored.copyFrom(example);
  EXPECT_EQ(valuesOf(stored), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(stored.slackPercent, 25);
  EXPECT_TRUE(stored.progress == 0 && !stored.matched && stored.lastStepTime == 0);
}
