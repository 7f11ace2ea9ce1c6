#pragma once
// The command's standard output: one line per event, written whole. Lines are buffered, and a
// flusher empties the buffer within about 40 ms of the first line written after a flush, so a
// pipe or file sees them promptly without a write per line.
#include <string>

#include "base/JWorker.h"

void hostPrintLine(const std::string& line);
void hostFlush();
// The flusher runs while an OutputFlusher lives (one at a time).
class OutputFlusher {
public:
  OutputFlusher();
  ~OutputFlusher();  // stops the flusher at once and flushes
  OutputFlusher(const OutputFlusher&) = delete;
  OutputFlusher& operator=(const OutputFlusher&) = delete;

private:
  void flushLoop();
  bool owner_ = false;  // false for a second OutputFlusher, which leaves the first to flush
  JWorker worker_;
};
