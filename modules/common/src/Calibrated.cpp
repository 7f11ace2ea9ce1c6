#include "modules/Calibrated.h"

#include <climits>

#include "modules/Signal.h"

namespace {
long long held64(__int128 v) {
  return v > LLONG_MAX ? LLONG_MAX : v < LLONG_MIN ? LLONG_MIN : static_cast<long long>(v);
}
}  // namespace

// The product of a wide learned range and a wide target range passes 32 bits: it is taken wider,
// which gives the same result wherever 32 bits were enough. (A range restored from a file may be
// as wide as the int range on both sides, so even 64 bits could overflow.)
int mapRange(int v, int min, int max, int lo, int hi) {
  if (v > max) v = max;
  else if (v < min) v = min;
  long long span = static_cast<long long>(max) - min;
  if (span == 0) span = 1;
  if (lo == hi) return lo;
  const __int128 offset = static_cast<long long>(v) - min;
  return saturate(held64(lo + offset * (static_cast<long long>(hi) - lo) / span));
}

// (max - min) spans at most 2^32 and num at most 2^31 either way: the product fits in 64 bits.
int pointInRange(int min, int max, int num, int den) {
  if (den == 0) return min;
  return saturate(min + (static_cast<long long>(max) - min) * num / den);
}
