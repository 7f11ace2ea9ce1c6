#pragma once
// Shared pieces of the gesture tests: a manual host clock, a harness, and short ways to store
// gestures and feed values at chosen times.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "JGestureMatcher.h"
#include "base/JClock.h"
#include "testing/Harness.h"

using Lines = std::vector<std::string>;

// Stores values in a slot directly, `gapMs` apart from time 0.
inline void store(GesturePattern& p, std::initializer_list<int> values, int gapMs = 100) {
  p.empty();
  p.matched = false;
  int t = 0;
  for (int v : values) {
    p.append(v, false, t);
    t += gapMs;
  }
}

// Stores values with the given times.
inline void storeTimed(GesturePattern& p, std::initializer_list<int> values, std::initializer_list<int> times) {
  p.empty();
  p.matched = false;
  auto t = times.begin();
  for (int v : values) p.append(v, false, t == times.end() ? 0 : *t++);
}

inline std::vector<int> valuesOf(const GesturePattern& p) { return {p.values, p.values + p.count}; }
inline std::vector<int> timesOf(const GesturePattern& p) { return {p.times, p.times + p.count}; }

class MatcherTest : public ::testing::Test {
protected:
  // Declared first, so that it outlives the harness.
  JClock::Manual clock{10000};
  JTestHarness h;
  JGestureMatcher& m = h.place<JGestureMatcher>("g");

  // Each value arrives gapMs after the previous one.
  void feed(std::initializer_list<int> values, int gapMs = 100) {
    for (int v : values) {
      clock.advance(gapMs);
      h.send(m, JGestureMatcher::kInputPattern, v);
    }
  }
  // Values arriving at the given gaps (the first gap before the first value).
  void feedTimed(std::initializer_list<int> values, std::initializer_list<int> gaps) {
    auto g = gaps.begin();
    for (int v : values) {
      clock.advance(g == gaps.end() ? 100 : *g++);
      h.send(m, JGestureMatcher::kInputPattern, v);
    }
  }
  Outputs outputs() const { return h.outputsOf(m); }
};
