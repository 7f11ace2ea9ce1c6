#include "JPatternFull.h"

void JPatternFull::clear() {
  for (int i = 0; i < kEntries; ++i) {
    values[i] = -1;
    aboveCount[i] = 0;
    belowCount[i] = 0;
  }
}

void JPatternFull::adaptValue(int i, int observed, int speed) {
  if (i < 0 || i >= kEntries) return;
  if (observed < values[i]) {
    ++belowCount[i];
  } else if (observed > values[i]) {
    ++aboveCount[i];
  }
  if (belowCount[i] > speed) {
    if (observed < values[i]) {
      --values[i];
      belowCount[i] = aboveCount[i] = 0;
    }
  } else if (aboveCount[i] > speed) {
    if (observed > values[i]) {
      ++values[i];
      belowCount[i] = aboveCount[i] = 0;
    }
  }
}
