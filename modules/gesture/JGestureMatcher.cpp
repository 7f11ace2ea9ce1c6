#include "JGestureMatcher.h"

#include <cstdio>

namespace {
const JPortTable kInputs{{kSideLeft, 0.1, 0.8, {"inputPattern"}},
                        {kSideTop, 0.25, 0.5,
                         {"selectPattern", "calibratePattern", "timeAccuracyPercent", "createPatternCommand",
                          "resetAllPatterns"}}};
const JPortTable kOutputs{{kSideRight, 0, 1,
                           {"gesture_1", "gesture_2", "gesture_3", "gesture_4", "gesture_5", "gesture_6",
                            "gesture_7", "gesture_8", "gesture_9", "gesture_10"}},
                          {kSideBottom, 0.25, 0.5, {"lastPatternMatched"}}};

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
  updateTimeAccuracy();
}

// --- ports ---

void JGestureMatcher::access(int n, JLinkObj&, const JDataType& data) {
  if (data.type() != JIntegerData::id) return;
  const auto& out = static_cast<const JIntegerData&>(data);
  if (n >= 0 && n < kSlots) out = gestureOutputs[n] ? 1 : 0;
  else if (n == kLastPatternMatched) out = lastPatternMatched;
}

// --- properties ---

JArray JGestureMatcher::getProperties() {
  JArray a;
  a.append(new JIntegerProperty("timeAccuracyPercent", timeAccuracyPercent, 0, 100));
  a.append(new JIntegerListProperty("ignoreRepeats", ignoreRepeats ? 1 : 0, JIntegerListProperty::booleanTag));
  a.append(new JIntegerListProperty("recognitionClearsOthers", recognitionClearsOthers ? 1 : 0,
                                    JIntegerListProperty::booleanTag));
  a.append(new JIntegerListProperty("useTimerAccuracy", useTimerAccuracy ? 1 : 0, JIntegerListProperty::booleanTag));
  a.append(new JIntegerListProperty("debugging", debugging ? 1 : 0, JIntegerListProperty::booleanTag));
  return a;
}

bool JGestureMatcher::updateProperty(JProperty& p) {
  int v = 0;
  if (p.is("timeAccuracyPercent", v)) {
    timeAccuracyPercent = clampTo(v, 0, 100);
    updateTimeAccuracy();
    return true;
  }
  if (p.is("debugging", debugging)) {
    if (debugging) dumpAll();
    return true;
  }
  return p.is("ignoreRepeats", ignoreRepeats) || p.is("recognitionClearsOthers", recognitionClearsOthers) ||
         p.is("useTimerAccuracy", useTimerAccuracy);
}

// --- persistence ---

void JGestureMatcher::writeContent(JOutputStream& os) {
  JAddObj::writeContent(os);
  putInteger(os, "timeAccuracyPercent", timeAccuracyPercent);
  putFlag(os, "ignoreRepeats", ignoreRepeats);
  putFlag(os, "recognitionClearsOthers", recognitionClearsOthers);
  putFlag(os, "useTimerAccuracy", useTimerAccuracy);
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

void JGestureMatcher::readContent(JDictionary& dict) {
  JAddObj::readContent(dict);
  // A missing key reads as 0 here, not as the constructor's 30; a stored value outside 0..100
  // would make the slack negative, so it is clamped like the input.
  timeAccuracyPercent = clampTo(getInteger(dict, "timeAccuracyPercent", 0), 0, 100);
  updateTimeAccuracy();
  ignoreRepeats = getFlag(dict, "ignoreRepeats");
  recognitionClearsOthers = getFlag(dict, "recognitionClearsOthers");
  useTimerAccuracy = getFlag(dict, "useTimerAccuracy");
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
    default:
      break;
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
