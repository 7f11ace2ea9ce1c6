#include <gtest/gtest.h>

#include <climits>

#include "BandSet.h"
#include "JPatternFull.h"

namespace {
// A column of `rows` bands with the given settings.
BandSet column(int rows, int colors, int toAdvance = 1, int toDecay = 1, int width = 0) {
  BandSet s;
  s.Init(rows, colors, toAdvance, toDecay);
  s.updatePropagationWidth(width);
  return s;
}

std::vector<int> levels(const BandSet& s, int from, int to) {
  std::vector<int> out;
  for (int i = from; i <= to; ++i) out.push_back(s.bands[i].GetCurrentColor());
  return out;
}
}  // namespace

TEST(BandActivator, HysteresisOnTheWayUpAndDown) {
  // One tick per step: 0 -> 1 on the first activation, then one level per activation.
  BandSet fast = column(4, 16, 1, 1);
  std::vector<int> seen;
  for (int i = 0; i < 4; ++i) {
    fast.bands[2].Activate();
    seen.push_back(fast.bands[2].color);
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4}));

  // Three ticks per step: the first activation still lifts it from 0, then every third one.
  BandSet slow = column(4, 16, 3, 2);
  BandActivator& b = slow.bands[1];
  seen.clear();
  for (int i = 0; i < 7; ++i) {
    b.Activate();
    seen.push_back(b.color);
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 1, 1, 2, 2, 2, 3}));
  EXPECT_EQ(b.activator.advanceCount, 0);

  // Decay needs two deactivations; an activation between them does not clear the decay count.
  b.Deactivate();
  b.Activate();  // advanceCount 1, decayCount stays 1
  EXPECT_EQ(b.activator.decayCount, 1);
  b.Deactivate();  // completes a decay and clears both counts
  EXPECT_EQ(b.color, 2);
  EXPECT_EQ(b.activator.advanceCount, 0);
  EXPECT_EQ(b.activator.decayCount, 0);

  // The top level holds: Advance reports false and the level stays.
  BandSet top = column(2, 3, 1, 1);
  EXPECT_TRUE(top.bands[0].Activate());   // 0 -> 1
  EXPECT_TRUE(top.bands[0].Activate());   // 1 -> 2
  EXPECT_FALSE(top.bands[0].Activate());  // already at numberColors - 1
  EXPECT_EQ(top.bands[0].color, 2);
  // Decay stops at 0; setMinColor only raises.
  top.bands[1].Decay();
  EXPECT_EQ(top.bands[1].color, 0);
  EXPECT_FALSE(top.bands[0].setMinColor(1));
  EXPECT_EQ(top.bands[0].color, 2);

  // A band without a target neither advances nor fails.
  AdvanceDecayActivator loose;
  EXPECT_FALSE(loose.Activate());
  loose.Deactivate();
  EXPECT_EQ(loose.decayCount, 0);
}

TEST(BandActivator, PaintColorReportsOnlyChanges) {
  BandSet s = column(2, 16);
  EXPECT_EQ(s.bands[0].GetPaintColor(), 0);
  EXPECT_EQ(s.bands[0].GetPaintColor(), -1);
  s.bands[0].Activate();
  EXPECT_EQ(s.bands[0].GetPaintColor(), 1);
  EXPECT_EQ(s.bands[0].GetPaintColor(), -1);
}

TEST(BandSet, PropagationLiftsNeighboursAlongTheWholeChain) {
  // Width 0: neighbours never rise.
  BandSet none = column(16, 16, 1, 1, 0);
  for (int i = 0; i < 5; ++i) none.bands[8].Activate();
  EXPECT_EQ(levels(none, 6, 10), (std::vector<int>{0, 0, 5, 0, 0}));

  // Width 2, band reaching 5: two neighbours each side at least 4, the next two at least 3 ...
  BandSet two = column(24, 16, 1, 1, 2);
  for (int i = 0; i < 5; ++i) two.bands[12].Activate();
  EXPECT_EQ(levels(two, 4, 20), (std::vector<int>{1, 1, 2, 2, 3, 3, 4, 4, 5, 4, 4, 3, 3, 2, 2, 1, 1}));
  EXPECT_EQ(two.bands[3].color, 0);

  // Neighbours are only raised: band 6 (lifted to 5 by band 5) keeps 5 when band 7 lifts it to 4.
  BandSet keep = column(12, 16, 1, 1, 1);
  for (int i = 0; i < 6; ++i) keep.bands[5].Activate();
  EXPECT_EQ(levels(keep, 4, 7), (std::vector<int>{5, 6, 5, 4}));
  keep.bands[7].Activate();
  EXPECT_EQ(levels(keep, 5, 8), (std::vector<int>{6, 5, 5, 4}));

  // The walk follows the chain past the rows in use.
  BandSet past = column(4, 16, 1, 1, 1);
  for (int i = 0; i < 4; ++i) past.bands[3].Activate();
  EXPECT_EQ(levels(past, 3, 7), (std::vector<int>{4, 3, 2, 1, 0}));
}

TEST(BandSet, ActivateRowClampsAndDecaysOthersOnlyWhenNothingRose) {
  BandSet s = column(4, 3, 1, 1);
  s.ActivateRow(99);  // past the end: the last row
  EXPECT_EQ(levels(s, 0, 3), (std::vector<int>{0, 0, 0, 1}));
  s.ActivateRow(-5);  // negative: row 0; its first activation makes nobody decay
  EXPECT_EQ(levels(s, 0, 3), (std::vector<int>{1, 0, 0, 1}));
  s.ActivateRow(0);  // advances to the top: still no decay
  EXPECT_EQ(levels(s, 0, 3), (std::vector<int>{2, 0, 0, 1}));
  s.ActivateRow(0);  // at the top: the others decay
  EXPECT_EQ(levels(s, 0, 3), (std::vector<int>{2, 0, 0, 0}));

  // An activation that only counts a vote also lets the others decay.
  BandSet slow = column(3, 16, 2, 1);
  slow.ActivateRow(2);  // 0 -> 1
  slow.ActivateRow(0);  // 0 -> 1
  slow.ActivateRow(0);  // vote 1 of 2: band 2 decays
  EXPECT_EQ(levels(slow, 0, 2), (std::vector<int>{1, 0, 0}));

  // No rows in use: nothing to drive.
  BandSet empty;
  empty.ActivateRow(0);
  EXPECT_EQ(empty.bands[0].color, 0);
}

TEST(BandSet, CurrentRowTiesAndDistanceWithDrift) {
  BandSet s = column(8, 16);
  EXPECT_EQ(BandSet().getInputValue(), -1);
  EXPECT_EQ(s.getInputValue(), 0);  // all at 0: the lowest row
  s.bands[5].color = 3;
  s.bands[2].color = 3;
  EXPECT_EQ(s.getInputValue(), 2);  // tie: the lower row
  s.bands[6].color = 4;
  EXPECT_EQ(s.getInputValue(), 6);

  int drift = 7;
  EXPECT_EQ(s.getDistanceTo(-1, drift), 8);  // unset: numberRows, drift untouched
  EXPECT_EQ(drift, 7);
  drift = 0;
  EXPECT_EQ(s.getDistanceTo(2, drift), 4);
  EXPECT_EQ(drift, 1);
  EXPECT_EQ(s.getDistanceTo(7, drift), 1);
  EXPECT_EQ(drift, 0);
  EXPECT_EQ(s.getDistanceTo(7, drift), 1);
  EXPECT_EQ(drift, -1);
  EXPECT_EQ(s.getDistanceTo(6, drift), 0);  // on target: drift one step back toward 0
  EXPECT_EQ(drift, 0);
  EXPECT_EQ(s.getDistanceTo(6, drift), 0);
  EXPECT_EQ(drift, 0);
  drift = 3;
  s.getDistanceTo(6, drift);
  EXPECT_EQ(drift, 2);
}

TEST(BandSet, DistanceAndDriftHoldToTheIntRange) {
  BandSet s = column(8, 16);
  s.bands[6].color = 4;  // current row 6
  // Drift runs on while a posture is held off the pattern; it stops at the ends of the range.
  int drift = INT_MAX;
  EXPECT_EQ(s.getDistanceTo(2, drift), 4);
  EXPECT_EQ(drift, INT_MAX);
  drift = INT_MIN;
  EXPECT_EQ(s.getDistanceTo(7, drift), 1);
  EXPECT_EQ(drift, INT_MIN);
  // Stored rows far off give the largest distance instead of a wrapped one.
  drift = 0;
  EXPECT_EQ(s.getDistanceTo(INT_MIN, drift), INT_MAX);
  EXPECT_EQ(drift, 1);
  EXPECT_EQ(s.getDistanceTo(INT_MAX, drift), INT_MAX - 6);
  EXPECT_EQ(drift, 0);
  EXPECT_EQ(s.getDistanceTo(-2, drift), 8);  // only -1 means "not set"
}

TEST(BandSet, CopyIsChainedToItsOwnBands) {
  BandSet source = column(8, 16, 1, 1, 1);
  BandSet copy = source;
  // Propagation from the copy lifts the copy's neighbours, never the source's.
  copy.bands[4].Activate();
  copy.bands[4].Activate();  // level 2 lifts neighbours to 1
  EXPECT_EQ(levels(copy, 3, 5), (std::vector<int>{1, 2, 1}));
  EXPECT_EQ(levels(source, 3, 5), (std::vector<int>{0, 0, 0}));
  // Assigned over a set in use, the same.
  BandSet assigned = column(4, 3);
  assigned = source;
  assigned.bands[1].Activate();
  assigned.bands[1].Activate();
  EXPECT_EQ(levels(assigned, 0, 2), (std::vector<int>{1, 2, 1}));
  EXPECT_EQ(levels(source, 0, 2), (std::vector<int>{0, 0, 0}));
  // The chain spans all 32 bands.
  EXPECT_EQ(copy.bands[0].prev, -1);
  EXPECT_EQ(copy.bands[31].next, -1);
  EXPECT_EQ(copy.bands[31].prev, 30);
}

TEST(BandSet, InitKeepsLevelsAndSettingsTakeEffect) {
  BandSet s = column(8, 16, 1, 1);
  for (int i = 0; i < 5; ++i) s.bands[3].Activate();
  s.Init(4, 3, 2, 2);
  EXPECT_EQ(s.bands[3].color, 5);  // levels are kept
  EXPECT_FALSE(s.bands[3].Activate());
  s.Init(100, 16, 1, 1);  // more rows than the chain holds
  EXPECT_EQ(s.numberRows, 32);
}

TEST(JPatternFull, ClearAndAdaptByVotes) {
  JPatternFull p;
  p.id = 4;
  EXPECT_FALSE(p.isSet());
  p.values[0] = 5;
  p.values[3] = 5;
  EXPECT_TRUE(p.isSet());

  // Speed 2: the third vote on one side moves the row one step and clears both counts.
  p.adaptValue(0, 9, 2);
  p.adaptValue(0, 9, 2);
  EXPECT_EQ(p.values[0], 5);
  p.adaptValue(0, 9, 2);
  EXPECT_EQ(p.values[0], 6);
  EXPECT_EQ(p.aboveCount[0], 0);
  p.adaptValue(3, 1, 0);
  EXPECT_EQ(p.values[3], 4);

  // Once the below votes are past speed, an observation above moves nothing.
  JPatternFull q;
  q.values[1] = 5;
  q.belowCount[1] = 3;
  q.adaptValue(1, 8, 2);
  EXPECT_EQ(q.values[1], 5);
  EXPECT_EQ(q.aboveCount[1], 1);
  q.adaptValue(99, 8, 2);  // no such entry: ignored

  p.clear();
  EXPECT_FALSE(p.isSet());
  EXPECT_EQ(p.values[3], -1);
  EXPECT_EQ(p.belowCount[3], 0);
  EXPECT_EQ(p.id, 4);

  DeltaTracker t;
  t.drift[2] = 5;
  t.clear();
  EXPECT_EQ(t.drift[2], 0);
}

TEST(BandSet, PaintSpreadsTheRemainderOverTheFirstRows) {
  JColor palette[16];
  for (int i = 0; i < 16; ++i) palette[i] = JColor(i * 10, 0, 0);
  BandSet s = column(4, 16);
  s.bands[0].color = 1;
  s.bands[1].color = 0;  // level 0: not drawn
  s.bands[3].color = 2;
  JCanvas c(4, 14, JColor::white);
  JGraphics g(c);
  s.paint(g, 0, 0, 4, 14, palette);  // rows of 4, 4, 3, 3 pixels
  EXPECT_EQ(c.pixel(1, 0), palette[1]);
  EXPECT_EQ(c.pixel(1, 3), palette[1]);
  EXPECT_EQ(c.pixel(1, 4), JColor::white);
  EXPECT_EQ(c.pixel(1, 10), JColor::white);
  EXPECT_EQ(c.pixel(1, 11), palette[2]);
  EXPECT_EQ(c.pixel(1, 13), palette[2]);

  // A pattern's row in the brightest colour; nothing for an unset or out-of-range row.
  JPatternFull p;
  s.setId(2);
  s.Init(4, 5, 1, 1);
  p.values[2] = 1;
  JCanvas d(4, 14, JColor::white);
  JGraphics gd(d);
  s.paint(gd, 0, 0, 4, 14, palette, p);
  EXPECT_EQ(d.pixel(0, 3), JColor::white);
  EXPECT_EQ(d.pixel(0, 4), palette[4]);
  EXPECT_EQ(d.pixel(0, 7), palette[4]);
  EXPECT_EQ(d.pixel(0, 8), JColor::white);
  p.values[2] = 4;
  JCanvas e(4, 14, JColor::white);
  JGraphics ge(e);
  s.paint(ge, 0, 0, 4, 14, palette, p);
  p.values[2] = -1;
  s.paint(ge, 0, 0, 4, 14, palette, p);
  for (int y = 0; y < 14; ++y) EXPECT_EQ(e.pixel(0, y), JColor::white);
}
