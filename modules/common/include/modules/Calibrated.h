#pragma once
// A range learned from the values seen: the lowest, the highest, and a flag that the first value
// since the last restart sets. The three stay fields of the module, stored under its own keys, so
// a Calibrated is a view bound to them, made where it is needed:
//
//   Calibrated(minValue, maxValue, minMaxSet).learn(v);
//
// The flag is whatever the module keeps: a bool, or an int that learning sets to 1 (stored as
// written, so a restored 5 is written back as 5).
#include <type_traits>

#include "base/JObject.h"
#include "modules/Keyed.h"

// v held to [min, max] (first against max, then against min, so a range restored upside down
// still gives one of its ends), then mapped linearly onto [lo, hi]:
// lo + (v - min) * (hi - lo) / span, span being max - min or 1 when that is 0, truncated toward
// zero. An empty target (lo == hi) gives lo. Computed wide enough that no range overflows; the
// result is held to the int range.
int mapRange(int v, int min, int max, int lo, int hi);

// The point num / den of the way from min to max: min + (max - min) * num / den, in 64 bits,
// truncated toward zero, held to the int range. A den of 0 gives min.
int pointInRange(int min, int max, int num, int den);

template <class Flag>
class Calibrated {
  static_assert(std::is_same<Flag, bool>::value || std::is_same<Flag, int>::value, "a bool or an int flag");

public:
  Calibrated(int& min, int& max, Flag& seen) : min_(min), max_(max), seen_(seen) {}

  bool seen() const { return seen_ != Flag(); }
  int min() const { return min_; }
  int max() const { return max_; }

  // The next value learned starts the range anew; until then the ends keep what they hold.
  void restart() { seen_ = Flag(); }
  // Restarts with both ends at 0.
  void clear() {
    restart();
    min_ = max_ = 0;
  }
  // A range that saw no value since its restart is 0..0.
  void zeroIfUnseen() {
    if (!seen()) min_ = max_ = 0;
  }
  // The first value after a restart is the whole range; a later one moves only the end it passes
  // (the low end is looked at first).
  void learn(int v) {
    if (!seen()) {
      min_ = max_ = v;
      seen_ = Flag(1);
    } else if (v < min_) {
      min_ = v;
    } else if (v > max_) {
      max_ = v;
    }
  }

  int map(int v, int lo, int hi) const { return mapRange(v, min_, max_, lo, hi); }
  int point(int num, int den) const { return pointInRange(min_, max_, num, den); }

  // The three keys in the order min, max, flag; the flag as the module keeps it (a bool as 0 or
  // 1). Missing keys read as 0 (false).
  void put(JOutputStream& os, const char* minKey, const char* maxKey, const char* seenKey) const {
    JObject::putInteger(os, minKey, min_);
    JObject::putInteger(os, maxKey, max_);
    if constexpr (std::is_same<Flag, bool>::value) {
      putFlag(os, seenKey, seen_);
    } else {
      JObject::putInteger(os, seenKey, seen_);
    }
  }
  void get(const JDictionary& dict, const char* minKey, const char* maxKey, const char* seenKey) {
    min_ = JObject::getInteger(dict, minKey, 0);
    max_ = JObject::getInteger(dict, maxKey, 0);
    if constexpr (std::is_same<Flag, bool>::value) {
      seen_ = getFlag(dict, seenKey);
    } else {
      seen_ = JObject::getInteger(dict, seenKey, 0);
    }
  }

private:
  int& min_;
  int& max_;
  Flag& seen_;
};
