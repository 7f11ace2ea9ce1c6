// The kit pieces that modules share: the learned range, and the connection that a module's own
// thread owns while the host thread closes or copies it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "modules/Calibrated.h"
#include "modules/GuardedConnection.h"
#include "modules/Signal.h"
#include "testing/Loopback.h"

namespace {

struct BoolRange {
  int min = 0, max = 0;
  bool seen = false;
  Calibrated<bool> view() { return Calibrated<bool>(min, max, seen); }
};

std::vector<std::string> keysOf(const JNode& n) {
  std::vector<std::string> keys;
  for (const auto& e : n.entries()) keys.push_back(e.first);
  return keys;
}

TEST(Calibrated, NoValueOneValueAndAnEmptyRange) {
  BoolRange r;
  EXPECT_FALSE(r.view().seen());
  EXPECT_EQ(r.view().map(123, 0, kWireMax), 0);  // 0..0: every value gives the target minimum
  r.view().learn(7);
  EXPECT_TRUE(r.seen);
  EXPECT_EQ(r.min, 7);
  EXPECT_EQ(r.max, 7);
  for (int v : {-100, 7, 100}) EXPECT_EQ(r.view().map(v, 0, kWireMax), 0) << v;
  EXPECT_EQ(r.view().map(7, 50, 50), 50);
  EXPECT_EQ(r.view().point(100, 100), 7);

  // A restart keeps the ends until the next value, which alone is the new range.
  r.view().learn(20);
  r.view().restart();
  EXPECT_EQ(r.max, 20);
  r.view().learn(3);
  EXPECT_EQ(r.min, 3);
  EXPECT_EQ(r.max, 3);
  r.view().restart();
  r.view().zeroIfUnseen();
  EXPECT_EQ(r.min, 0);
  EXPECT_EQ(r.max, 0);
  r.view().learn(-4);
  r.view().clear();
  EXPECT_FALSE(r.seen);
  EXPECT_EQ(r.min, 0);
}

TEST(Calibrated, ClampsTruncatesTowardZeroAndHandlesNegatives) {
  BoolRange r;
  for (int v : {-5, -20, 3, -7}) r.view().learn(v);
  EXPECT_EQ(r.min, -20);
  EXPECT_EQ(r.max, 3);
  EXPECT_EQ(r.view().map(-20, 0, kWireMax), 0);
  EXPECT_EQ(r.view().map(3, 0, kWireMax), kWireMax);
  EXPECT_EQ(r.view().map(-1000, 0, kWireMax), 0);        // below the learned range
  EXPECT_EQ(r.view().map(1000, 0, kWireMax), kWireMax);  // above it
  EXPECT_EQ(r.view().map(-10, 0, kWireMax), static_cast<int>(10LL * kWireMax / 23));
  EXPECT_EQ(mapRange(1, 0, 3, 0, 100), 33);
  EXPECT_EQ(mapRange(1, 0, 3, 0, -100), -33);  // toward zero, not down
  EXPECT_EQ(mapRange(500, 0, 1000, -10000, 10000), 0);
  EXPECT_EQ(pointInRange(-7, 0, 1, 2), -4);  // -7 + 7 / 2
  EXPECT_EQ(pointInRange(10, 50, 100, 100), 50);
  EXPECT_EQ(pointInRange(10, 50, 0, 100), 10);
  EXPECT_EQ(pointInRange(10, 50, 1, 0), 10);  // no division by zero

  // A range restored upside down: v is held against max first, then min.
  EXPECT_EQ(mapRange(5, 10, 0, 0, 100), 100);
  // Full-width ranges neither overflow nor wrap.
  EXPECT_EQ(mapRange(0, INT_MIN, INT_MAX, INT_MIN, INT_MAX), 0);
  EXPECT_EQ(mapRange(INT_MAX, INT_MIN, INT_MAX, INT_MIN, INT_MAX), INT_MAX);
  EXPECT_EQ(mapRange(INT_MAX, 0, 1, INT_MIN, INT_MAX), INT_MAX);
  EXPECT_EQ(pointInRange(INT_MIN, INT_MAX, 1, 2), -1);
  EXPECT_EQ(pointInRange(INT_MIN, INT_MAX, INT_MAX, 1), INT_MAX);  // held to the int range
}

TEST(Calibrated, LearningLooksAtTheLowEndFirst) {
  int lo = 10, hi = 0;  // restored upside down
  bool seen = true;
  Calibrated<bool>(lo, hi, seen).learn(5);
  EXPECT_EQ(lo, 5);
  EXPECT_EQ(hi, 0);
}

TEST(Calibrated, KeysInOrderWithTheFlagAsTheModuleKeepsIt) {
  int lo = -3, hi = 9, count = 5;  // an int flag is written as it stands
  JOutputStream os;
  Calibrated<int>(lo, hi, count).put(os, "minA", "maxA", "setA");
  bool flag = true;
  Calibrated<bool>(lo, hi, flag).put(os, "minB", "maxB", "setB");
  EXPECT_EQ(keysOf(os.node()), (std::vector<std::string>{"minA", "maxA", "setA", "minB", "maxB", "setB"}));
  EXPECT_EQ(os.node().find("setA")->asInteger(), 5);
  EXPECT_EQ(os.node().find("setB")->asInteger(), 1);

  JDictionary dict(os.node());
  int lo2 = 1, hi2 = 1, count2 = 0;
  Calibrated<int>(lo2, hi2, count2).get(dict, "minA", "maxA", "setA");
  EXPECT_EQ(lo2, -3);
  EXPECT_EQ(hi2, 9);
  EXPECT_EQ(count2, 5);
  Calibrated<int> missing(lo2, hi2, count2);
  missing.get(JDictionary(), "minA", "maxA", "setA");  // missing keys read as 0
  EXPECT_EQ(lo2, 0);
  EXPECT_FALSE(missing.seen());
  missing.learn(4);
  EXPECT_EQ(count2, 1);
}

// --- the guarded connection ---

struct Texts {
  JString a{"one"}, b{"one"};  // always changed together, under the lock
};
using Line = GuardedConnection<Texts>;

// Waits for fn() for at most ms.
template <class F>
bool within(int ms, F fn) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!fn()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

TEST(GuardedConnection, ListensAcceptsOneClientAndACopyHasNoConnection) {
  Line line;
  ASSERT_TRUE(line.listen(0, 1));
  const int port = line.listeningPort();
  ASSERT_GT(port, 0);
  Line busy;
  EXPECT_FALSE(busy.listen(port, 1));  // taken
  EXPECT_FALSE(busy.server.lastError().empty());
  EXPECT_EQ(busy.listeningPort(), -1);

  EXPECT_EQ(Line(line).listeningPort(), -1);  // a copy listens nowhere
  LoopbackClient client(port);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(within(2000, [&] { return line.accept(); }));
  EXPECT_EQ(line.listeningPort(), -1);  // one client at a time
  ASSERT_TRUE(client.send("hello\n"));
  EXPECT_EQ(line.input.readLine(), JString("hello"));
  line.output.write(JString("back"));
  EXPECT_EQ(client.read(4), "back");

  line.locked([](Texts& t) { t.a = t.b = "two"; });
  Line copy(line);
  EXPECT_EQ(copy.a, JString("two"));
  EXPECT_FALSE(copy.socket.isConnected());
  EXPECT_FALSE(copy.input.isAttached());
  Line assigned;
  assigned = line;
  EXPECT_EQ(assigned.locked([](const Texts& t) { return t.b; }), JString("two"));
  EXPECT_FALSE(assigned.socket.isConnected());
  EXPECT_TRUE(line.socket.isConnected());  // the original keeps its connection

  // Assigning over a connected line closes its connection; its streams throw from then on.
  line = Line();
  EXPECT_EQ(line.a, JString("one"));
  EXPECT_TRUE(client.closedByPeer(2000));
  EXPECT_THROW(line.input.readLine(), JException);
  line.close();
  line.close();  // again: nothing happens
}

TEST(GuardedConnection, CloseWakesABlockedRead) {
  LoopbackServer peer;
  ASSERT_TRUE(peer.listening());
  Line line;
  JSocket s(JInetAddress::getAddrByJString("127.0.0.1"), peer.port());
  ASSERT_TRUE(s.connect());
  line.attach(std::move(s));
  ASSERT_TRUE(peer.accept());

  std::atomic<bool> reading{false};
  auto reader = std::async(std::launch::async, [&] {
    reading = true;
    try {
      line.input.readLine();  // the peer never sends
    } catch (const JException&) { return true; }
    return false;
  });
  ASSERT_TRUE(within(2000, [&] { return reading.load(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // most likely inside the read by now
  line.close();
  const bool woke = reader.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  if (!woke) peer.closeConnection();  // ends the read: the test fails rather than hangs
  EXPECT_TRUE(woke) << "the read stayed blocked";
  EXPECT_TRUE(reader.get());
}

// Run under ThreadSanitizer: copies are taken while the owning thread replaces the connection and
// the texts, and two lines are assigned to each other from two threads at once.
TEST(GuardedConnection, CopiesWhileTheOwnerWorks) {
  Line line;
  std::atomic<bool> stop{false};
  std::thread owner([&] {
    for (int i = 0; !stop.load(); ++i) {
      line.locked([&](Texts& t) { t.a = t.b = JInteger::toJString(i); });
      if (line.listen(0, 1)) line.close();
      line.attach(JSocket(JInetAddress::getAddrByJString("127.0.0.1"), 9));
    }
  });
  Line other;
  std::thread assigner([&] {
    for (int i = 0; i < 200; ++i) other = line;
  });
  for (int i = 0; i < 200; ++i) {
    const Line copy(line);
    EXPECT_EQ(copy.a, copy.b);  // taken whole, under the owner's lock
    EXPECT_EQ(copy.listeningPort(), -1);
    EXPECT_FALSE(copy.input.isAttached());
    line = other;  // while the assigner copies the other way
  }
  assigner.join();
  stop = true;
  owner.join();
  EXPECT_EQ(other.a, other.b);
}

}  // namespace
