#include "PatternMatcher.h"

#include <climits>

namespace {
// A sum of interval differences, kept from overflowing the int score.
class Score {
public:
  void add(long long a, long long b) { total_ += a > b ? a - b : b - a; }
  int value() const { return total_ > INT_MAX ? INT_MAX : static_cast<int>(total_); }

private:
  long long total_ = 0;
};

int span(const GesturePattern& p, int later, int earlier) {
  return GesturePattern::interval(p.times[later], p.times[earlier]);
}
}  // namespace

int ExactPatternMatcher::match(const GesturePattern& c, const GesturePattern& p, bool useTimer) const {
  if (c.count == 0 || p.count == 0 || c.count != p.count) return -1;
  Score score;
  for (int i = 0; i < c.count; ++i) {
    if (c.values[i] != p.values[i]) return -1;
    if (useTimer && i > 0) {
      int seen = span(c, i, i - 1);
      if (!p.intervalFits(i, i - 1, seen)) return -1;
      score.add(span(p, i, i - 1), seen);
    }
  }
  return score.value();
}

int LoosePatternMatcher::match(const GesturePattern& c, const GesturePattern& p, bool useTimer) const {
  if (c.count == 0 || p.count == 0) return -1;
  Score score;
  int i = 0, j = 0;
  while (i < c.count && j < p.count) {
    if (c.values[i] != p.values[j]) {
      if (j < p.count - 1 && c.values[i] == p.values[j + 1]) {
        // The stored gesture has an extra element: its interval spans two of its steps.
        if (useTimer && i > 0 && j > 0) {
          int stored = span(p, j + 1, j - 1);
          if (!c.intervalFits(i, i - 1, stored)) return -1;
          score.add(span(c, i, i - 1), stored);
        }
        ++j;
      } else if (i < c.count - 1 && c.values[i + 1] == p.values[j]) {
        // The candidate has an extra element.
        if (useTimer && j > 0 && i > 0) {
          int seen = span(c, i + 1, i - 1);
          if (!p.intervalFits(j, j - 1, seen)) return -1;
          score.add(seen, span(p, j, j - 1));
        }
        ++i;
      }
      // Otherwise the two are paired although unequal.
    }
    if (useTimer && i > 0 && j > 0) {
      int seen = span(c, i, i - 1);
      if (!p.intervalFits(j, j - 1, seen)) return -1;
      score.add(seen, span(p, j, j - 1));
    }
    ++i;
    ++j;
  }
  return (i == c.count && j == p.count) ? score.value() : -1;
}
