// The bounded queue between a module's own thread and the host thread: a sender waits while it is
// full, nothing is lost or reordered, and neither a close nor a stop can hang on a waiting sender.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "TestModules.h"
#include "base/JClock.h"
#include "base/JThread.h"
#include "base/JWorker.h"
#include "testing/Harness.h"

namespace {
using Clock = std::chrono::steady_clock;

// Broadcasts 1, 2, 3 ... from a worker of its own (or from any thread through run()), as fast as
// the host lets it; output 0 is the count, output 1 a block of blockSize bytes.
class JTestFlooder : public JAddObj {
public:
  JTestFlooder() {
    inputCount = 0;
    outputCount = 2;
  }
  JTestFlooder(const JTestFlooder& o) : JAddObj(o), total(o.total), blockSize(o.blockSize), onBytes(o.onBytes) {}
  const char* className() const override { return "JTestFlooder"; }
  JObject* clone() const override { return new JTestFlooder(*this); }
  int outputType(int n) override { return n == 1 ? JBytesData::id : JIntegerData::id; }
  void startup() override { worker.start(this); }
  void close() override { worker.stop(); }
  void run() override {
    for (int i = 1; i <= total && (!JWorker::current() || worker.running()); ++i) {
      shared.store(i);
      broadcast(onBytes ? 1 : 0);
      sent.store(i);
    }
  }
  void access(int n, JLinkObj&, const JDataType& data) override {
    if (n == 0) static_cast<const JIntegerData&>(data) = shared.load();
    else {
      JBlock b;
      b.resize(blockSize);
      static_cast<const JBytesData&>(data) = b;
    }
  }
  // Waits until the sender has not moved for 200 ms: it is held by the full queue.
  int settled() {
    int last = -1, still = 0;
    for (int i = 0; i < 1000; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      const int now = sent.load();
      still = now == last ? still + 1 : 0;
      if (still >= 20) return now;
      last = now;
    }
    return -1;
  }
  int total = 1 << 30;
  int blockSize = 0;
  bool onBytes = false;
  std::atomic<int> shared{0}, sent{0};
  JWorker worker;
};

// Counts what arrives, checking the order.
class JTestCounter : public JAddObj {
public:
  JTestCounter() {
    inputCount = 1;
    outputCount = 0;
  }
  const char* className() const override { return "JTestCounter"; }
  JObject* clone() const override { return new JTestCounter(*this); }
  int inputType(int) override { return kAnyDataType; }
  void engine(int, JLinkObj& link) override {
    ++count;
    if (link.from->outputType(link.fromPort) != JIntegerData::id) return;
    const int v = readInteger(link);
    if (v != last + 1) ++outOfOrder;
    last = v;
  }
  long long count = 0;
  int last = 0;
  int outOfOrder = 0;
};
}  // namespace

// A sender that outruns the host waits at the bound; as the host drains, it goes on, and every
// value arrives once, in order.
TEST(DeliveryQueue, ASenderWaitsAtTheBoundAndNothingIsLost) {
  JTestHarness h;
  auto* f = new JTestFlooder();
  f->total = static_cast<int>(JDiagram::kMaxQueued) * 3;
  h.place(f, "flood");
  auto& c = h.place<JTestCounter>("count");
  h.link(*f, 0, c, 0);
  f->startup();
  const int held = f->settled();
  EXPECT_GE(held, static_cast<int>(JDiagram::kMaxQueued) - 1);
  EXPECT_LE(held, static_cast<int>(JDiagram::kMaxQueued) + 3);  // a sender out of patience adds one
  EXPECT_TRUE(h.runUntil([&] { return c.count == f->total; }, 30000));
  EXPECT_EQ(c.last, f->total);
  EXPECT_EQ(c.outOfOrder, 0);
  f->close();
}

// Large values count by their bytes: far fewer of them wait.
TEST(DeliveryQueue, BytesCountAgainstTheBound) {
  JTestHarness h;
  auto* f = new JTestFlooder();
  f->onBytes = true;
  f->blockSize = 64 * 1024;
  f->total = 300;
  h.place(f, "flood");
  auto& c = h.place<JTestCounter>("count");
  h.link(*f, 1, c, 0);
  f->startup();
  const int held = f->settled();
  const int bound = static_cast<int>(JDiagram::kMaxQueuedBytes / (64 * 1024));
  EXPECT_GE(held, bound - 2);
  EXPECT_LE(held, bound + 3);
  EXPECT_TRUE(h.runUntil([&] { return c.count == f->total; }, 30000));
  f->close();
}

// Closing a module whose thread waits on the full queue returns at once (the wait ends with the
// worker), and what it had sent is still delivered.
TEST(DeliveryQueue, ClosingASenderThatWaitsDoesNotHang) {
  JTestHarness h;
  auto* f = new JTestFlooder();
  h.place(f, "flood");
  auto& c = h.place<JTestCounter>("count");
  h.link(*f, 0, c, 0);
  f->startup();
  ASSERT_GT(f->settled(), 0);
  const auto start = Clock::now();
  f->close();
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 0.5);
  h.runPending();
  EXPECT_EQ(c.count, f->sent.load());
  EXPECT_EQ(c.outOfOrder, 0);
}

// Removing it from the diagram likewise, and its queued values go with it.
TEST(DeliveryQueue, RemovingASenderThatWaitsDoesNotHang) {
  JTestHarness h;
  auto* f = new JTestFlooder();
  h.place(f, "flood");
  auto& c = h.place<JTestCounter>("count");
  h.link(*f, 0, c, 0);
  f->startup();
  ASSERT_GT(f->settled(), 0);
  h.diagram().remove(f);
  h.runPending();
  EXPECT_EQ(c.count, 0);
}

// A thread that is no module's worker waits too, until the run stops.
TEST(DeliveryQueue, StopReleasesAnyOtherSender) {
  JTestHarness h;
  auto* f = new JTestFlooder();
  f->total = static_cast<int>(JDiagram::kMaxQueued) + 100;
  h.place(f, "flood");
  auto& c = h.place<JTestCounter>("count");
  h.link(*f, 0, c, 0);
  JThread t(f);
  t.start();
  EXPECT_GT(f->settled(), 0);
  EXPECT_LT(f->sent.load(), f->total);
  h.diagram().stop();
  t.waitFor();
  EXPECT_EQ(f->sent.load(), f->total);
  h.runPending();
  EXPECT_EQ(c.count, f->total);
  EXPECT_EQ(c.outOfOrder, 0);
}

// run() looks at its deadline and at stop() between values: a flood does not keep it going, and
// what is left waits, in order, for the next runPending.
TEST(DeliveryQueue, RunEndsOnTimeUnderAFlood) {
  for (bool byStop : {false, true}) {
    SCOPED_TRACE(byStop ? "stop()" : "deadline");
    JTestHarness h;
    auto* f = new JTestFlooder();
    h.place(f, "flood");
    auto& c = h.place<JTestCounter>("count");
    h.link(*f, 0, c, 0);
    f->startup();
    ASSERT_GT(f->settled(), 0);
    std::thread stopper;
    const auto start = Clock::now();
    bool ended;
    if (byStop) {
      stopper = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        h.diagram().stop();
      });
      ended = h.diagram().run(nullptr, -1);
    } else {
      ended = h.diagram().run(nullptr, JClock::millis() + 200);
    }
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    if (stopper.joinable()) stopper.join();
    EXPECT_EQ(ended, byStop);
    EXPECT_GE(took, 0.19);
    EXPECT_LT(took, 1.0);
    EXPECT_GT(c.count, 0);
    f->close();
    h.runPending();
    EXPECT_EQ(c.count, f->sent.load());
    EXPECT_EQ(c.outOfOrder, 0);
  }
}

// Timed tasks at equal times keep the order they were posted in, among many.
TEST(DeliveryQueue, TimedTasksAtEqualTimesKeepTheirOrder) {
  JClock::Manual clock(0);
  JTestHarness h;
  std::vector<int> ran;
  for (int i = 0; i < 1000; ++i) h.diagram().postAt(10 + (i % 7) * 5, [&ran, i] { ran.push_back(i); });
  clock.set(100);
  h.runPending();
  ASSERT_EQ(ran.size(), 1000u);
  for (size_t k = 1; k < ran.size(); ++k) {
    const int a = ran[k - 1], b = ran[k];
    EXPECT_TRUE(a % 7 < b % 7 || (a % 7 == b % 7 && a < b)) << a << " before " << b;
  }
}
