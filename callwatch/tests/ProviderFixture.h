#pragma once
// Tests against the telephony provider, in this process: the test's thread is the program's
// thread, pumping its message queue; calls are placed through the control socket as phonesim
// places them, by a caller thread that keeps the provider's reports.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/MessageQueue.h"
#include "core/Tapi.h"
#include "link/DigitLink.h"
#include "platform/ControlClient.h"
#include "testing/TempFolder.h"

// Points the program at the provider built beside the tests, once per process.
inline void UseBuiltProvider() {
  static bool done = [] {
    setenv("CALLWATCH_TELEPHONY", CALLWATCH_PROVIDER, 1);
    return true;
  }();
  (void)done;
}

// The digit link replaced by what a test keeps.
class KeptDigitLink : public IDigitLink {
public:
  void SendDigitToLoomwork(char c) override { forwarded += c; }
  void EndDataToLoomwork() override { ++ends; }
  std::string forwarded;
  int ends = 0;
};

// A caller: places one call and keeps every report line until the call is over.
using SimCaller = CSimulatedCall;

class ProviderTest : public ::testing::Test {
protected:
  void SetUp() override {
    UseBuiltProvider();
    ASSERT_TRUE(folder.ok());
    setenv("PHONESIM_SOCKET", folder.file("phonesim.sock").c_str(), 1);
    setenv("PHONESIM_LINES", "2", 1);
    unsetenv("PHONESIM_VOICE_ONLY_LINES");
    setenv("PHONESIM_LOCATION", "1,425", 1);
  }
  void TearDown() override {
    CTapiContext::PhoneShutdown();
    CTapiContext::LineShutdown();
    // Events of this test that were still queued belong to no one now.
    queue->Pump(0);
  }
  // Runs the program's events until done() holds.
  bool pumpUntil(const std::function<bool()>& done, int ms = 10000) { return queue->PumpUntil(done, ms); }
  void pumpFor(int ms) {
    queue->PumpUntil([] { return false; }, ms);
  }
  static CCallRequest call(int line) {
    CCallRequest r;
    r.line = line;
    r.ringMs = 50;
    r.digitMs = 50;
    r.hangupMs = 100;
    return r;
  }

  TempFolder folder{"callwatch-test"};
  std::shared_ptr<CMessageQueue> queue = CMessageQueue::ForThisThread();
};
