#pragma once
// A stored posture (one row per channel position) and the drift counters matching keeps for it.

class JPatternFull {
public:
  static constexpr int kEntries = 10;

  JPatternFull() { clear(); }
  void clear();
  bool isSet() const { return values[0] != -1; }
  // Moves entry i one row toward the observed row once it has been seen on that side more than
  // speed times since the last move.
  void adaptValue(int i, int observed, int speed);

  int values[kEntries];  // -1: not set
  int id = 0;
  int aboveCount[kEntries];
  int belowCount[kEntries];
};

class DeltaTracker {
public:
  static constexpr int kEntries = 10;

  DeltaTracker() { clear(); }
  void clear() {
    for (int& d : drift) d = 0;
  }

  int drift[kEntries];
};
