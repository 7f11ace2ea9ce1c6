#include <climits>
#include <memory>

#include "GestureTestSupport.h"
#include "JGestureMaker.h"

namespace {
class MakerTest : public ::testing::Test {
protected:
  JClock::Manual clock{0};  // ticks fall every 500 ms of this clock
  JTestHarness h;
  JGestureMaker& mk = h.place<JGestureMaker>("c");

  // Waits (in real time, bounded) for the ticker to reach tick n, then delivers what it sent.
  void awaitTick(int n) {
    ASSERT_TRUE(h.runUntil([&] { return mk.ticks() >= n; }, 5000)) << "tick " << n;
    h.runPending();
  }
  void start() {
    mk.startup();
    awaitTick(1);  // the first tick falls at once
  }
  // Moves the clock on by one tick and lets the ticker take it; returns the output after it.
  int tick() {
    const int next = mk.ticks() + 1;
    clock.advance(JGestureMaker::kTickMs);
    awaitTick(next);
    return mk.output();
  }
  std::vector<int> ticks(int n) {
    std::vector<int> out;
    for (int i = 0; i < n; ++i) out.push_back(tick());
    return out;
  }
  Outputs outputs() const { return h.outputsOf(mk); }
};
}  // namespace

TEST_F(MakerTest, PulsesAfterTheQuietTimeAndBroadcastsOnlyChanges) {
  mk.enabled = true;  // secondsBeforeCreating 3
  start();
  EXPECT_EQ(outputs(), (Outputs{{0, 0}}));  // the first enabled tick always broadcasts
  h.clear();
  h.send(mk, 0, 5);  // activity
  EXPECT_EQ(mk.idleTicks, 0);
  EXPECT_EQ(ticks(10), (std::vector<int>{0, 0, 0, 0, 0, 65535, 65535, 0, 0, 0}));
  EXPECT_EQ(outputs(), (Outputs{{0, 65535}, {0, 0}}));
  EXPECT_EQ(mk.staticValue, 5);

  // Once per quiet period: the next pulse needs new activity.
  h.clear();
  ticks(8);
  EXPECT_TRUE(outputs().empty());
  h.send(mk, 0, 6);
  ticks(6);
  EXPECT_EQ(outputs(), (Outputs{{0, 65535}}));
}

TEST_F(MakerTest, ZerosCountAsActivityOnlyWithoutIgnoreZero) {
  mk.enabled = true;
  mk.secondsBeforeCreating = 1;
  start();
  h.send(mk, 0, 2);
  h.clear();
  tick();
  h.send(mk, 0, 0);  // ignored: the countdown goes on
  EXPECT_EQ(tick(), 65535);

  mk.ignoreZero = false;
  h.send(mk, 0, 2);
  h.clear();
  tick();
  h.send(mk, 0, 0);  // restarts the countdown
  EXPECT_EQ(tick(), 0);
  EXPECT_EQ(tick(), 65535);
  EXPECT_EQ(outputs(), (Outputs{{0, 0}, {0, 65535}}));
}

TEST_F(MakerTest, DisabledTheCounterHoldsAndReenablingBroadcastsAgain) {
  mk.enabled = true;
  start();  // idle 1, output 0
  h.clear();
  h.send(mk, 1, 0);
  ticks(12);
  EXPECT_EQ(mk.idleTicks, 1);
  EXPECT_TRUE(outputs().empty());
  h.send(mk, 0, 9);  // a value while disabled is no activity
  EXPECT_EQ(mk.idleTicks, 1);

  h.send(mk, 1, 65535);
  EXPECT_EQ(tick(), 0);
  EXPECT_EQ(outputs(), (Outputs{{0, 0}}));                  // unchanged, broadcast all the same
  EXPECT_EQ(ticks(4), (std::vector<int>{0, 0, 0, 65535}));  // resumed at 2: the pulse at 6
}

TEST_F(MakerTest, OpeningThePropertiesStopsTheTickerUntilTheNextValue) {
  mk.enabled = true;
  start();
  JArray props = mk.getProperties();
  EXPECT_FALSE(mk.isRunning());
  ASSERT_EQ(props.size(), 3);
  EXPECT_EQ(static_cast<JProperty*>(props[0])->getName(), JString("secondsBeforeCreating"));
  EXPECT_EQ(static_cast<JIntegerProperty&>(*props[0]).value, 3);
  EXPECT_EQ(static_cast<JIntegerProperty&>(*props[0]).maximum, 100);
  EXPECT_EQ(static_cast<JProperty*>(props[1])->getName(), JString("enabled"));
  EXPECT_EQ(static_cast<JProperty*>(props[2])->getName(), JString("ignoreZero"));

  h.clear();
  clock.advance(10000);
  h.runFor(60);
  EXPECT_EQ(mk.ticks(), 1);
  EXPECT_TRUE(outputs().empty());

  JIntegerProperty zero("secondsBeforeCreating", 0, 0, 100);
  EXPECT_TRUE(mk.updateProperty(zero));
  JIntegerListProperty off("enabled", 0, JIntegerListProperty::booleanTag);
  EXPECT_TRUE(mk.updateProperty(off));
  JIntegerProperty stranger("minDelta", 4, 0, 9);
  EXPECT_FALSE(mk.updateProperty(stranger));
  EXPECT_FALSE(mk.isRunning());
  EXPECT_EQ(mk.secondsBeforeCreating, 0);  // the property may set 0

  h.send(mk, 0, 3);  // starts the ticker again
  EXPECT_TRUE(mk.isRunning());
  awaitTick(1);
  h.send(mk, 1, 1);
  h.send(mk, 0, 4);
  // With no quiet time the pulse is the one tick right after the activity.
  EXPECT_EQ(ticks(3), (std::vector<int>{65535, 0, 0}));
  EXPECT_EQ(outputs(), (Outputs{{0, 65535}, {0, 0}}));
}

TEST_F(MakerTest, TheLearningPulseReachesTheRecogniserOnTheHostThread) {
  auto& g = h.place<JGestureMatcher>("g");
  h.link(mk, 0, g, JGestureMatcher::kCreateCommand);
  mk.enabled = true;
  mk.secondsBeforeCreating = 1;
  start();
  auto perform = [&](int value) {
    h.send(g, 0, value);
    h.send(mk, 0, value);
    tick();
  };
  perform(1);
  perform(2);
  perform(3);
  EXPECT_EQ(g.patterns[0].count, 0);
  tick();  // quiet: the pulse
  EXPECT_EQ(valuesOf(g.patterns[0]), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(g.createCommand, 65535);
  tick();
  tick();
  EXPECT_EQ(g.createCommand, 0);

  perform(1);
  perform(2);
  perform(3);
  EXPECT_EQ(h.readInt(g, 0), 1);
  EXPECT_EQ(h.readInt(g, 10), 1);
}

// A clone of a running creator placed beside it has no thread until it is started, then ticks
// for itself; removing the original from the diagram stops and joins the original's ticker (the
// sanitizer builds would see it tick on in freed memory) and the clone goes on alone.
TEST_F(MakerTest, ACloneOfARunningCreatorTicksAloneOnceTheOriginalIsRemoved) {
  mk.enabled = true;
  mk.secondsBeforeCreating = 1;
  start();
  h.send(mk, 0, 5);
  auto& copy = h.place(static_cast<JGestureMaker*>(mk.clone()), "copy");
  EXPECT_FALSE(copy.isRunning());
  EXPECT_FALSE(copy.ticker.isAlive());
  EXPECT_EQ(copy.ticks(), 0);
  EXPECT_TRUE(copy.enabled);
  EXPECT_EQ(copy.idleTicks, 0);
  EXPECT_TRUE(mk.isRunning());

  h.diagram().remove(&mk);
  h.clear();
  auto copyTick = [&](int n) {
    ASSERT_TRUE(h.runUntil([&] { return copy.ticks() >= n; }, 5000)) << "tick " << n;
    h.runPending();
  };
  copy.startup();
  copyTick(1);
  h.send(copy, 0, 6);
  std::vector<int> out;
  for (int n = 2; n <= 5; ++n) {
    clock.advance(JGestureMaker::kTickMs);
    copyTick(n);
    out.push_back(copy.output());
  }
  EXPECT_EQ(out, (std::vector<int>{0, 65535, 65535, 0}));
  EXPECT_EQ(h.outputsOf(copy), (Outputs{{0, 0}, {0, 65535}, {0, 0}}));
  for (const auto& b : h.broadcasts()) EXPECT_EQ(b.module, "copy");
}

TEST(MakerPersistence, KeysDefaultsAndZeroBecomesThree) {
  JGestureMaker mk;
  mk.enabled = true;
  mk.minMaxSet = true;
  mk.maxDelta = 12;
  mk.secondsBeforeCreating = 7;
  EXPECT_EQ(JTestHarness::keysOf(JTestHarness::content(mk)),
            (Lines{"enabled", "ignoreZero", "easyToHardPercent", "minDelta", "maxDelta", "minMaxSet",
                   "secondsBeforeCreating"}));
  auto back = JTestHarness::roundTrip(mk);
  auto& b = static_cast<JGestureMaker&>(*back);
  EXPECT_TRUE(b.enabled && b.ignoreZero && b.minMaxSet);
  EXPECT_EQ(b.easyToHardPercent, 90);
  EXPECT_EQ(b.maxDelta, 12);
  EXPECT_EQ(b.secondsBeforeCreating, 7);

  JNode bare = JNode::map();
  bare.set("secondsBeforeCreating", JNode::integer(0));
  JTestHarness::restore(b, bare);
  EXPECT_EQ(b.secondsBeforeCreating, 3);
  EXPECT_FALSE(b.ignoreZero);  // missing: false, although a new module starts with it on
  EXPECT_FALSE(b.enabled);
  EXPECT_EQ(b.easyToHardPercent, 0);
}

// The quiet time outside 0..100 is left as it was, by property and file alike (a property used
// to hold it to the range, a file took any value); a stored 0, or none, still loads as 3.
TEST(MakerPersistence, QuietTimeOutsideItsRangeIsLeftOut) {
  JGestureMaker mk;
  JIntegerProperty high("secondsBeforeCreating", 250, INT_MIN, INT_MAX);
  EXPECT_TRUE(mk.updateProperty(high));
  EXPECT_EQ(mk.secondsBeforeCreating, 3);
  JIntegerProperty seven("secondsBeforeCreating", 7, 0, 100);
  EXPECT_TRUE(mk.updateProperty(seven));

  JNode stored = JNode::map();
  stored.set("secondsBeforeCreating", JNode::integer(500));
  JDictionary dict(stored);
  mk.readContent(dict);
  EXPECT_EQ(mk.secondsBeforeCreating, 7);
  ASSERT_EQ(dict.warnings().size(), 1u);
  EXPECT_EQ(dict.warnings()[0], "key \"secondsBeforeCreating\": 500 is outside 0..100, left out");

  JTestHarness::restore(mk, JNode::map());
  EXPECT_EQ(mk.secondsBeforeCreating, 3);
}

TEST(MakerLifecycle, EveryTickerStopsAndIsJoined) {
  JClock::Manual clock(0);
  auto mk = std::make_unique<JGestureMaker>();
  mk->enabled = true;
  mk->startup();
  mk->startup();  // still one ticker
  EXPECT_TRUE(mk->isRunning());
  EXPECT_EQ(mk->ticker.getPriority(), JThread::TNORM_PRIORITY + 1);

  // A copy has no thread; started, it ticks for itself.
  std::unique_ptr<JGestureMaker> copy(static_cast<JGestureMaker*>(mk->clone()));
  EXPECT_FALSE(copy->isRunning());
  EXPECT_TRUE(copy->enabled);
  copy->open();
  for (int i = 0; i < 500 && copy->ticks() < 1; ++i) JThread::sleep(2);
  EXPECT_EQ(copy->ticks(), 1);
  copy->reset();
  EXPECT_FALSE(copy->isRunning());
  copy->close();  // twice is harmless

  // Assigning onto a running module stops its ticker first.
  JGestureMaker other;
  other.startup();
  other = *mk;
  EXPECT_FALSE(other.isRunning());

  mk->close();
  EXPECT_EQ(mk->ticker.getPriority(), JThread::TNORM_PRIORITY);
  EXPECT_FALSE(mk->ticker.isAlive());
  mk->startup();  // and starts again after a close
  EXPECT_TRUE(mk->isRunning());
  mk.reset();  // the destructor stops and joins it
}

TEST(MakerPorts, TagsFacesAndTheFirstValueStartsTheTicker) {
  JTestHarness h;
  auto& mk = h.place<JGestureMaker>("c");
  EXPECT_EQ(mk.inputTag(0), JString("static pattern value"));
  EXPECT_EQ(mk.outputTag(0), JString("createDynamicPattern"));
  EXPECT_EQ(mk.inputFace(1), 1);
  EXPECT_EQ(mk.outputArea(0), mk.rightArea(0, 0, 1, 0.25, 0.5, 6));
  h.send(mk, 1, 1);
  EXPECT_TRUE(mk.enabled);
  EXPECT_FALSE(mk.isRunning());  // only a value at input 0 starts the ticker
  h.send(mk, 0, 1);
  EXPECT_TRUE(mk.isRunning());
}
