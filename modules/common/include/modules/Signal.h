#pragma once
// The signal scale of integer wires: 0 to 65535; a percentage arriving on one is value / 655
// (integer division) held to 0..100; true is 65535.
#include <climits>

constexpr int kWireMax = 65535;

inline int clampTo(long long v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : static_cast<int>(v)); }
inline int percentOf(int wireValue) { return clampTo(wireValue / 655, 0, 100); }
// Sums and products are done in 64 bits and stored held to the 32-bit range.
inline int saturate(long long v) { return clampTo(v, INT_MIN, INT_MAX); }
