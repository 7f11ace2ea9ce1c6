// Host threads, critical sections, debug lines from threads and the manual clock.
#include "base/JThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/JClock.h"
#include "base/JComponent.h"
#include "base/JException.h"
#include "base/JObject.h"

namespace {
using namespace std::chrono_literals;
using Lines = std::vector<std::pair<std::string, std::string>>;

class Runnable : public JObject {
public:
  void run() override {
    for (int i = 0; hold && i < 500; ++i) std::this_thread::sleep_for(10ms);  // bounded
    if (!message.empty()) JComponent::debug(message.c_str());
    if (fail) throw JIOException("socket is closed");
    runs.fetch_add(1);
  }
  std::string debugName() const override { return "module-7"; }
  std::atomic<int> runs{0};
  std::atomic<bool> hold{false};
  bool fail = false;
  std::string message;
};

// Takes the debug lines while it lives, then puts the previous sink back.
struct SinkCapture {
  std::mutex m;
  Lines lines;
  JComponent::Sink previous = JComponent::setSink([this](const std::string& n, const std::string& t) {
    std::lock_guard<std::mutex> g(m);
    lines.emplace_back(n, t);
  });
  ~SinkCapture() { JComponent::setSink(std::move(previous)); }
};
}  // namespace

TEST(Thread, RunsOnceWaitsAndCopiesAreUnstarted) {
  Runnable r;
  r.hold = true;
  JThread t(&r), empty;
  EXPECT_FALSE(empty.start());
  ASSERT_TRUE(t.start());
  EXPECT_TRUE(t.isAlive());
  EXPECT_FALSE(t.start());  // while running
  JThread copy(t);
  EXPECT_FALSE(copy.isAlive());
  r.hold = false;
  t.waitFor();
  EXPECT_EQ(r.runs.load(), 1);
  EXPECT_FALSE(t.isAlive());
  EXPECT_FALSE(t.start());    // a finished thread does not run again
  ASSERT_TRUE(copy.start());  // the copy is a thread of its own on the same runnable
  copy.waitFor();
  t = copy;  // assignment gives a fresh, unstarted thread
  ASSERT_TRUE(t.start());
  t.waitFor();
  {
    JThread last(&r);
    r.hold = true;
    ASSERT_TRUE(last.start());
    std::this_thread::sleep_for(20ms);
    r.hold = false;
  }  // the destructor waits for it
  EXPECT_EQ(r.runs.load(), 4);
}

TEST(Thread, DebugLinesAndExceptionsFromAThreadCarryTheRunnablesName) {
  Runnable r;
  r.message = "hello\n";
  r.fail = true;
  Lines lines;
  {
    SinkCapture capture;
    JThread t(&r);
    ASSERT_TRUE(t.start());
    t.waitFor();  // the exception ended the thread, not the process
    EXPECT_FALSE(t.isAlive());
    JComponent::debug("from the test");
    std::lock_guard<std::mutex> g(capture.m);
    lines = capture.lines;
  }
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::make_pair(std::string("module-7"), std::string("hello")));
  EXPECT_EQ(lines[1].first, "module-7");
  EXPECT_NE(lines[1].second.find("socket is closed"), std::string::npos);
  EXPECT_EQ(lines[2].first, "loomwork");
  EXPECT_FALSE(static_cast<bool>(JComponent::setSink(nullptr)));  // the old sink is back
}

TEST(Thread, CriticalSectionGuardsACounter) {
  struct Adder : JObject {
    JCriticalSection cs;
    long counter = 0;
    void run() override {
      for (int i = 0; i < 20000; ++i) {
        JCriticalSection::Lock outer(cs), inner(cs);  // re-entrant
        ++counter;
      }
    }
  } adder;
  std::vector<JThread> threads(4, JThread(&adder));
  for (auto& t : threads) ASSERT_TRUE(t.start());
  for (auto& t : threads) t.waitFor();
  EXPECT_EQ(adder.counter, 80000);
  JCriticalSection copy(adder.cs);  // a copy is a new, unlocked section
  JCriticalSection::Lock held(adder.cs);
  EXPECT_TRUE(copy.tryLock());
  copy.unlock();
}

TEST(Clock, ManualClockStandsInAndTheRealOneComesBack) {
  {
    JClock::Manual manual(1000);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(JClock::millis(), 1000);
    manual.advance(5);
    EXPECT_EQ(JClock::millis(), 1005);
  }
  long long a = JClock::millis();
  std::this_thread::sleep_for(20ms);
  EXPECT_GT(JClock::millis(), a);  // the real clock moves again
}
