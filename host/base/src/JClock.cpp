#include "base/JClock.h"

#include <chrono>

namespace {
const auto processStart = std::chrono::steady_clock::now();
std::atomic<JClock::Manual*> manualClock{nullptr};
}  // namespace

long long JClock::millis() {
  if (Manual* m = manualClock.load()) return m->now();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - processStart).count();
}

JClock::Manual::Manual(long long start) : now_(start) { manualClock.store(this); }
JClock::Manual::~Manual() {
  Manual* self = this;
  manualClock.compare_exchange_strong(self, nullptr);
}
