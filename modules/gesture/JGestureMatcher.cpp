#include "JGestureMatcher.h"

#include <cstdio>

namespace {
const JPortTable kInputs{{kSideLeft, 0.1, 0.8, portsOf(JGestureMatcher::kInputTags, 0, 1)},
                         {kSideTop, 0.25, 0.5, portsOf(JGestureMatcher::kInputTags, 1, 5)}};
const JPortTable kOutputs{{kSideRight, 0, 1, portsOf(JGestureMatcher::kOutputTags, 0, JGestureMatcher::kSlots)},
                          {kSideBottom, 0.25, 0.5, portsOf(JGestureMatcher::kOutputTags, JGestureMatcher::kSlots, 1)}};

// Settings. The accuracy is held to 0..100 like its input (outside it the slack would be
// negative). A missing accuracy reads as 0 (slack 100) and a missing flag as false, although a
// new module starts with 30 and ignoreRepeats on. The gestures come after the flags: they are
// appended again with the ignoreRepeats just read. "debugging" is not stored.
const JSettings kSettings{
    JSetting::integer("timeAccuracyPercent", &JGestureMatcher::timeAccuracyPercent)
        .init(30)
        .range(0, 100, JOutOfRange::kClamp)
        .onChange(&JGestureMatcher::updateTimeAccuracy),
    JSetting::flag("ignoreRepeats", &JGestureMatcher::ignoreRepeats).init(1),
    JSetting::flag("recognitionClearsOthers", &JGestureMatcher::recognitionClearsOthers).init(0),
    JSetting::flag("useTimerAccuracy", &JGestureMatcher::useTimerAccuracy).init(0),
    JSetting::block<JGestureMatcher>("p-0..p-9, p0-0..p9-9, ts0-0..ts9-9", &JGestureMatcher::writePatterns,
                                     &JGestureMatcher::readPatterns),
    JSetting::flag("debugging", &JGestureMatcher::debugging)
        .init(0)
        .notStored()
        .onChange(&JGestureMatcher::debuggingChanged),
};

// Face colours, one row per slot.
const JColor kEmptyColor(40, 10, 40);
const JColor kMatchedColor(0, 255, 0);
const JColor kProgressColor(40, 200, 40);
const JColor kWaitingColor(60, 60, 100);
const JColor kSelectedColor(200, 20, 200);

// Persistence keys of slot n: its count, and value and time of element i.
struct SlotKeys {
  char count[16], value[24], time[24];
  explicit SlotKeys(int n) { std::snprintf(count, sizeof count, "p-%d", n); }
  void element(int n, int i) {
    std::snprintf(value, sizeof value, "p%d-%d", n, i);
    std::snprintf(time, sizeof time, "ts%d-%d", n, i);
  }
};
}  // namespace

JGestureMatcher::JGestureMatcher() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
  updateTimeAccuracy();
}

// --- ports ---

void JGestureMatcher::access(int n, JLinkObj&, const JDataType& data) {
  if (data.type() != JIntegerData::id) return;
  const auto& out = static_cast<const JIntegerData&>(data);
  if (n >= 0 && n < kSlots) out = gestureOutputs[n] ? 1 : 0;
  else if (n == kLastPatternMatched) out = lastPatternMatched;
}

// --- properties and persistence ---

// Switching debugging on dumps every gesture.
void JGestureMatcher::debuggingChanged() {
  if (debugging) dumpAll();
}

void JGestureMatcher::readContent(JDictionary& dict) {
  JAddObj::readContent(dict);
  updateTimeAccuracy();
}

void JGestureMatcher::writePatterns(JOutputStream& os) const {
  for (int n = 0; n < kSlots; ++n) {
    const GesturePattern& p = patterns[n];
    SlotKeys keys(n);
    putInteger(os, keys.count, p.count);
    for (int i = 0; i < p.count; ++i) {
      keys.element(n, i);
      putInteger(os, keys.value, p.values[i]);
      putInteger(os, keys.time, p.times[i]);
    }
  }
}

void JGestureMatcher::readPatterns(JDictionary& dict) {
  const int now = GesturePattern::now();
  for (int n = 0; n < kSlots; ++n) {
    GesturePattern& p = patterns[n];
    p.empty();
    p.matched = false;
    SlotKeys keys(n);
    // The stored count is only trusted up to the ten values a gesture can hold.
    const int stored = clampTo(getInteger(dict, keys.count, 0), 0, GesturePattern::kMaxValues);
    for (int i = 0; i < stored; ++i) {
      keys.element(n, i);
      p.append(getInteger(dict, keys.value, 0), ignoreRepeats, now);
      p.times[p.count - 1] = getInteger(dict, keys.time, 0);
    }
  }
}

// --- behaviour ---

void JGestureMatcher::updateTimeAccuracy() {
  for (GesturePattern& p : patterns) p.slackPercent = 100 - timeAccuracyPercent;
  candidate.slackPercent = 100 - timeAccuracyPercent;
}

void JGestureMatcher::engine(int n, JLinkObj& link) {
  const int v = readInteger(link);
  switch (n) {
    case kInputPattern:
      inputValue = v;
      if (calibrating) patterns[selectedPattern].append(v, ignoreRepeats, GesturePattern::now());
      else recognize(v, GesturePattern::now());
      break;
    case kSelectPattern:
      if (v == 0 || calibrating) break;
      selectedPattern = (selectedPattern + 1) % kSlots;
      if (debugging) patterns[selectedPattern].dump(selectedPattern);
      repaint();
      break;
    case kCalibratePattern:
      if (v == 0) {
        calibrating = false;
      } else if (!calibrating) {
        calibrating = true;
        patterns[selectedPattern].empty();
        patterns[selectedPattern].matched = false;
      }
      break;
    case kTimeAccuracy:
      // The wire's 0..65535 as 0..100 percent.
      timeAccuracyPercent = percentOf(v);
      updateTimeAccuracy();
      break;
    case kCreateCommand:
      createCommand = v;
      if (v != 0) createPattern();
      break;
    case kResetAll:
      // Any value, zero included. Outputs fall at the next value, as after a recognition.
      for (GesturePattern& p : patterns) p.empty();
      break;
    default: break;
  }
}

void JGestureMatcher::recognize(int value, int time) {
  bool changed = false;
  bool completed = false;
  for (int slot = 0; slot < kSlots; ++slot) {
    GesturePattern& p = patterns[slot];
    changed |= p.step(value, ignoreRepeats, useTimerAccuracy, time);
    if (p.matched == gestureOutputs[slot]) continue;
    gestureOutputs[slot] = p.matched;
    broadcast(slot);
    if (gestureOutputs[slot]) {
      lastPatternMatched = slot + 1;
      broadcast(kLastPatternMatched);
      completed = true;
    }
  }
  if (completed) {
    if (recognitionClearsOthers)
      for (GesturePattern& p : patterns)
        if (!p.matched) p.progress = 0;
    candidate.empty();
  } else {
    candidate.append(value, ignoreRepeats, time);
  }
  if (changed) repaint();
}

// --- learning ---

int JGestureMatcher::matchPattern(const PatternMatcher& matcher) const {
  int best = -1, bestScore = 0;
  for (int slot = 0; slot < kSlots; ++slot) {
    int score = matcher.match(candidate, patterns[slot], useTimerAccuracy);
    if (score >= 0 && (best < 0 || score < bestScore)) {
      best = slot;
      bestScore = score;
    }
  }
  return best;
}

int JGestureMatcher::getNextAvailablePattern() const {
  for (int slot = 0; slot < kSlots; ++slot)
    if (patterns[slot].isEmpty()) return slot;
  return -1;
}

void JGestureMatcher::createPattern() {
  if (candidate.count > 1) {
    int slot = matchPattern(exactMatcher);
    if (slot >= 0) {
      patterns[slot].adaptTo(candidate);
    } else if ((slot = getNextAvailablePattern()) >= 0) {
      patterns[slot].copyFrom(candidate);
    } else if ((slot = matchPattern(looseMatcher)) >= 0) {
      patterns[slot].adaptTo(candidate);
    }
  }
  candidate.empty();
}

void JGestureMatcher::dumpAll() const {
  for (int slot = 0; slot < kSlots; ++slot) patterns[slot].dump(slot);
}

// --- face ---

void JGestureMatcher::draw(JGraphics& g, int x, int y, int w, int h) {
  drawText(g, JString("dGst"), JRect(x, y, w, h));
}

void JGestureMatcher::paint(JGraphics& g, double dx, double dy, JRegion& region, double scale) {
  // The host's frame, then one row per slot inside it, then the label on top.
  g.setClip(region);
  g.setJColor(color);
  g.fill3DJRect(getExtent(dx, dy, scale), true, depth);
  const JRect inner = getIExtent(dx, dy, scale);
  JRegion clip(region);
  clip.intersect(inner);
  g.setClip(clip);

  const int x = inner.x, w = inner.width;
  const int rowHeight = inner.height / kSlots, taller = inner.height % kSlots;
  int y = inner.y;
  for (int slot = 0; slot < kSlots; ++slot) {
    const int h = rowHeight + (slot < taller ? 1 : 0);
    const GesturePattern& p = patterns[slot];
    if (p.count == 0) {
      g.setJColor(kEmptyColor);
      g.fillRect(x, y, w, h);
    } else if (p.matched) {
      g.setJColor(kMatchedColor);
      g.fillRect(x, y, w, h);
    } else {
      const int done = p.progress > 0 ? p.progress * (w / p.count) : 0;
      if (done > 0) {
        g.setJColor(kProgressColor);
        g.fillRect(x, y, done, h);
      }
      g.setJColor(kWaitingColor);
      g.fillRect(x + done, y, w - done, h);
    }
    if (slot == selectedPattern) {
      g.setJColor(kSelectedColor);
      g.fillRect(x, y, 4, h);
    }
    y += h;
  }

  g.setJColor(JColor::white);
  draw(g, inner.x, inner.y, inner.width, inner.height);
  g.setClip(region);
}

LOOMWORK_REGISTER(JGestureMatcher)
