#pragma once
// How learning compares the teaching buffer with a stored gesture: -1 when they do not
// correspond, otherwise a score where smaller is closer. Neither record is changed.
#include "GesturePattern.h"

class PatternMatcher {
public:
  virtual ~PatternMatcher() = default;
  virtual int match(const GesturePattern& candidate, const GesturePattern& pattern, bool useTimer) const = 0;
};

// The same values in the same order; with the timer, every interval must fit the stored one.
class ExactPatternMatcher : public PatternMatcher {
public:
  int match(const GesturePattern& candidate, const GesturePattern& pattern, bool useTimer) const override;
};

// Tolerates one extra element on either side at a time, and pairs unequal elements.
class LoosePatternMatcher : public PatternMatcher {
public:
  int match(const GesturePattern& candidate, const GesturePattern& pattern, bool useTimer) const override;
};
