#include "GesturePattern.h"

#include <cstdio>

#include "base/JClock.h"
#include "base/JComponent.h"
#include "base/JString.h"

int GesturePattern::now() {
  // The host's monotonic clock: intervals keep counting while the program waits for input.
  return static_cast<int>(static_cast<uint32_t>(JClock::millis()));
}

void GesturePattern::append(int value, bool ignoreRepeats, int time) {
  if (count >= kMaxValues) return;
  if (ignoreRepeats && count > 0 && value == values[count - 1]) return;
  values[count] = value;
  times[count] = time;
  ++count;
}

bool GesturePattern::intervalFits(int i, int j, int elapsed) const {
  // 64-bit so that a long recorded interval times the slack cannot overflow.
  long long d = interval(times[i], times[j]);
  long long s = slackPercent * d / 100;
  long long lo = d - s < 0 ? 0 : d - s;
  long long hi = d + s;
  return lo <= elapsed && elapsed <= hi;
}

bool GesturePattern::resetProgress() {
  if (progress == 0) return false;
  progress = 0;
  return true;
}

bool GesturePattern::step(int value, bool ignoreRepeats, bool useTimer, int time) {
  stepTime = time;
  if (progress == 0) {
    // An empty slot never starts: its stale first value is not a gesture.
    if (count > 0 && value == values[0]) {
      startAt(stepTime);
      if (count == 1) {
        matched = true;
        progress = 0;
      } else {
        matched = false;
      }
      return true;
    }
    if (matched) {
      matched = false;
      return true;
    }
    return false;
  }

  const int k = progress;
  if (k >= count) return resetProgress();  // the gesture was shortened under a recognition

  if (value == values[k]) {
    if (useTimer && !intervalFits(k, k - 1, interval(stepTime, lastStepTime))) {
      if (value != values[0]) return resetProgress();
      startAt(stepTime);
      matched = false;
      return true;
    }
    lastStepTime = stepTime;
    progress = k + 1;
    if (progress == count) {
      matched = true;
      progress = 0;
    }
    return true;
  }

  if (!ignoreRepeats) return resetProgress();
  if (value == values[k - 1]) return false;  // the value just accepted, held
  if (value == values[0]) {
    startAt(stepTime);
    return true;
  }
  return resetProgress();
}

void GesturePattern::dump(int n) const {
  char line[96];
  std::snprintf(line, sizeof line, "pattern %d has %d values", n, count);
  JComponent::debug(JString(line));
  for (int i = 0; i < count && i < kMaxValues; ++i) {
    std::snprintf(line, sizeof line, "..value %d: %d, ts %d", i, values[i], times[i]);
    JComponent::debug(JString(line));
  }
}

void GesturePattern::copyFrom(const GesturePattern& other) {
  count = other.count;
  for (int i = 0; i < count; ++i) {
    values[i] = other.values[i];
    times[i] = other.times[i];
  }
  progress = 0;
  stepTime = 0;
  lastStepTime = 0;
  matched = false;
}

void GesturePattern::shiftTimes(int from, int delta) {
  for (int i = from < 0 ? 0 : from; i < count; ++i)
    times[i] = static_cast<int>(static_cast<uint32_t>(times[i]) + static_cast<uint32_t>(delta));
}

void GesturePattern::adaptTo(const GesturePattern& example) {
  if (count <= 1) return;
  // The first elements are taken as aligned; walk both from the second.
  int i = 1, j = 1, lastI = 0, lastJ = 0;
  while (j < example.count && i < count) {
    if (values[i] == example.values[j]) {
      int stored = interval(times[i], times[lastI]);
      int seen = interval(example.times[j], example.times[lastJ]);
      if (seen > stored) shiftTimes(i, +1);
      else if (seen < stored) shiftTimes(i, -1);
      lastI = i;
      lastJ = j;
    } else if (i + 1 < count && values[i + 1] == example.values[j]) {
      ++i;  // this gesture has one element more here
    } else if (j + 1 < example.count && values[i] == example.values[j + 1]) {
      ++j;  // the example has one element more here
    }
    ++i;
    ++j;
  }
}
