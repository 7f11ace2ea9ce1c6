// JWorker: a module's own thread from start to join.
#include "base/JWorker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/JComponent.h"
#include "base/JObject.h"

namespace {
using Clock = std::chrono::steady_clock;

class Named : public JObject {
public:
  std::string debugName() const override { return "worker-7"; }
};

long long msSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}
}  // namespace

TEST(Worker, StopCutsAWaitShortAndJoins) {
  Named owner;
  JWorker w;
  std::atomic<int> rounds{0};
  ASSERT_TRUE(w.start(&owner, [&] {
    while (w.sleepFor(60000)) rounds.fetch_add(1);
  }));
  EXPECT_FALSE(w.start(&owner, [] {}));  // one thread at a time
  EXPECT_TRUE(w.running());
  const auto t = Clock::now();
  w.stop();
  EXPECT_LT(msSince(t), 5000);  // the minute-long wait ended at once (bound kept loose for slow machines)
  EXPECT_FALSE(w.isAlive());
  EXPECT_EQ(rounds.load(), 0);
  w.stop();  // again: nothing to do
}

TEST(Worker, WakeUnblocksARead) {
  Named owner;
  JWorker w;
  std::mutex m;
  std::condition_variable cv;
  bool closed = false;  // stands for a socket that a blocked read waits on
  ASSERT_TRUE(w.start(&owner, [&] {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return closed; });
  }));
  w.stop([&] {
    std::lock_guard<std::mutex> g(m);
    closed = true;
    cv.notify_all();
  });
  EXPECT_FALSE(w.isAlive());
}

TEST(Worker, CopiesShareNothingAndAnEndedBodyCanStartAgain) {
  Named owner;
  JWorker w;
  std::atomic<bool> go{false};
  ASSERT_TRUE(w.start(&owner, [&] {
    while (!go.load() && w.sleepFor(5)) {}
  }));
  JWorker copy(w);
  EXPECT_FALSE(copy.isAlive());
  EXPECT_FALSE(copy.running());
  JWorker assigned;
  assigned = w;  // not the other's thread either
  EXPECT_FALSE(assigned.isAlive());
  go = true;
  for (int i = 0; i < 500 && w.isAlive(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_FALSE(w.isAlive());
  std::atomic<int> second{0};
  ASSERT_TRUE(w.start(&owner, [&] { second = 1; }));
  w.stop();
  EXPECT_EQ(second.load(), 1);
}

TEST(Worker, AnExceptionEndsTheThreadWithOneLineNamingTheModule) {
  std::vector<std::string> lines;
  std::mutex m;
  auto previous = JComponent::setSink([&](const std::string& n, const std::string& t) {
    std::lock_guard<std::mutex> g(m);
    lines.push_back(n + ": " + t);
  });
  Named owner;
  JWorker w;
  ASSERT_TRUE(w.start(&owner, [] { throw std::runtime_error("listen: Address already in use"); }));
  w.stop();
  JComponent::setSink(std::move(previous));
  EXPECT_EQ(lines, std::vector<std::string>{"worker-7: listen: Address already in use"});
}
