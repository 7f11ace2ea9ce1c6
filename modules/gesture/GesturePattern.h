#pragma once
// One dynamic gesture: up to ten values with the time each arrived, and the state of its
// recognition. A plain fixed-size record: no heap, copyable byte for byte.
#include <cstdint>

struct GesturePattern {
  static constexpr int kMaxValues = 10;

  int values[kMaxValues] = {};
  int times[kMaxValues] = {};
  int count = 0;          // values held; 0 = empty slot
  int progress = 0;       // index of the next value expected; 0 = idle
  int slackPercent = 70;  // timing tolerance: 100 - the module's time accuracy
  bool matched = false;   // the last value has just been reached
  int stepTime = 0;       // time stamp of the value now being processed
  int lastStepTime = 0;   // time stamp of the last accepted step of this recognition

  // The host clock as a 32-bit time stamp. Only differences are used, and interval() keeps those
  // right across the wrap after 24 days.
  static int now();
  // later - earlier, without overflow.
  static int interval(int later, int earlier) {
    return static_cast<int>(static_cast<uint32_t>(later) - static_cast<uint32_t>(earlier));
  }

  bool isEmpty() const { return count == 0; }
  // Forgets the values (the gesture's slot becomes free) and the recognition in progress.
  void empty() {
    count = 0;
    progress = 0;
  }

  // Adds a value stamped `time`; the eleventh and later values are dropped, and with
  // ignoreRepeats a value equal to the last one is not a new value.
  void append(int value, bool ignoreRepeats, int time);
  // Whether `elapsed` reproduces the recorded interval from element j to element i within the
  // slack.
  bool intervalFits(int i, int j, int elapsed) const;
  // Advances the recognition by one input value arriving at `time`; true when what the display
  // shows of this gesture changed.
  bool step(int value, bool ignoreRepeats, bool useTimer, int time);
  // Prints the gesture on the host's debug output as slot n.
  void dump(int n) const;

  // Learning.
  void copyFrom(const GesturePattern& other);
  void shiftTimes(int from, int delta);
  // Nudges this gesture's timing one millisecond per aligned step towards the example's.
  void adaptTo(const GesturePattern& example);

private:
  void startAt(int time) {
    lastStepTime = time;
    progress = 1;
  }
  bool resetProgress();
};
