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
        .whenMissing(100),
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
  diagram()->postAt(
      start_ + periodMs, [this] { tick(); }, this);
}

// Ticks keep to the start time, so a late tick does not delay the later ones.
void Timer::tick() {
  if (!running_) return;
  ++value;
  broadcast(0);
  if (running_)
    diagram()->postAt(
        start_ + static_cast<long long>(periodMs) * (value + 1), [this] { tick(); }, this);
}

void Timer::draw(JGraphics& g, int x, int y, int w, int h) {
  drawHostLabel(*this, g, "Timer", x, y, w, h, 0, 2);
  drawHostLabel(*this, g, JInteger::toJString(periodMs) + " ms", x, y, w, h, 1, 2);
}
