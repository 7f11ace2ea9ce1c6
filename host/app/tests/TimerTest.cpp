// The Timer on the manual clock: ticks keep to the start time, and a period changed while it runs
// (from the canvas, say) counts from the change: no burst of late ticks, no wait for the old one.
#include <gtest/gtest.h>

#include "Timer.h"
#include "base/JClock.h"
#include "testing/Harness.h"

namespace {
int ticksAfter(JTestHarness& h, JClock::Manual& clock, const Timer& t, long long ms) {
  const size_t before = h.broadcastsOf(t).size();
  for (long long i = 0; i < ms; ++i) {
    clock.advance(1);
    h.runPending();
  }
  return static_cast<int>(h.broadcastsOf(t).size() - before);
}
}  // namespace

TEST(Timer, APeriodChangedWhileRunningCountsFromTheChange) {
  JClock::Manual clock(1000);
  JTestHarness h;
  auto& t = h.place<Timer>("t");
  t.periodMs = 1000;
  t.startup();
  EXPECT_EQ(ticksAfter(h, clock, t, 3500), 3);
  EXPECT_EQ(t.value, 3);

  // Shorter: one tick 10 ms after the change, not every tick the new period "missed" since the start.
  JIntegerProperty fast("periodMs", 10, 1, 3600000);
  ASSERT_TRUE(t.updateProperty(fast));
  EXPECT_EQ(ticksAfter(h, clock, t, 9), 0);
  EXPECT_EQ(ticksAfter(h, clock, t, 1), 1);
  EXPECT_EQ(ticksAfter(h, clock, t, 100), 10);
  EXPECT_EQ(t.value, 14);

  // Longer: the next tick a whole new period after the change, and the old schedule is let go.
  JIntegerProperty slow("periodMs", 500, 1, 3600000);
  ASSERT_TRUE(t.updateProperty(slow));
  EXPECT_EQ(ticksAfter(h, clock, t, 499), 0);
  EXPECT_EQ(ticksAfter(h, clock, t, 1), 1);
  EXPECT_EQ(ticksAfter(h, clock, t, 1000), 2);
  t.close();
  EXPECT_EQ(ticksAfter(h, clock, t, 2000), 0);
}
