#include "Timer.h"

#include "Render.h"

#include "base/JClock.h"
#include "loom/JDiagram.h"

namespace {
constexpr int kMinPeriod = 1;
constexpr int kMaxPeriod = 3600000;
const JPortTable kInputs;
const JPortTable kOutputs{{kSideRight, 0.1, 0.8, {"tick"}}};
const JSettings kSettings{
    JSetting::integer("periodMs", &Timer::periodMs)
        .init(100)
        .range(kMinPeriod, kMaxPeriod, JOutOfRange::kRefuse)
        .whenMissing(100)
        .onChange(&Timer::periodChanged),
};
}  // namespace

Timer::Timer() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
}

void Timer::startup() {
  if (!diagram()) return;
  running_ = true;
  value = 0;
  start_ = JClock::millis();
  schedule();
}

// A new period while running counts from now: the next tick comes one new period after the
// change, not in a burst (a shorter period) or after the old one's wait (a longer one).
void Timer::periodChanged() {
  if (!running_ || !diagram()) return;
  start_ = JClock::millis() - static_cast<long long>(periodMs) * value;
  schedule();
}

// Ticks keep to the start time, so a late tick does not delay the later ones. Only the latest
// schedule ticks: one made before a change of period is let go.
void Timer::schedule() {
  const unsigned long long mine = ++schedule_;
  diagram()->postAt(
      start_ + static_cast<long long>(periodMs) * (value + 1),
      [this, mine] {
        if (mine == schedule_) tick();
      },
      this);
}

void Timer::tick() {
  if (!running_) return;
  ++value;
  broadcast(0);
  if (running_) schedule();
}

void Timer::draw(JGraphics& g, int x, int y, int w, int h) {
  drawHostLabel(*this, g, "Timer", x, y, w, h, 0, 2);
  drawHostLabel(*this, g, JInteger::toJString(periodMs) + " ms", x, y, w, h, 1, 2);
}
