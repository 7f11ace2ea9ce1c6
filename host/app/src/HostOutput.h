#pragma once
// The command's standard output: one line per event, written whole. While an OutputFlusher lives,
// lines go to a bounded buffer that a writer thread of its own empties within about 40 ms of the
// first line after a write, so a pipe or file sees them promptly without a write per line, and
// no lock is held while the system's write blocks. A printer waits while the buffer is full (a
// slow reader slows the run down; no line is lost). After hostStopWaiting(), an output that has
// taken nothing for half a second is given up on: nobody waits for it any more, and lines that
// find the buffer full are dropped and counted.
#include <cstddef>
#include <string>

#include "base/JWorker.h"

void hostPrintLine(const std::string& line);
// Waits until every line is written, or the output is given up on.
void hostFlush();
// From now on, waits for a stuck output end. Safe from any thread.
void hostStopWaiting();
// For a process about to end at once (_exit): writes what is waiting as far as the output takes
// it without blocking, whole lines only, within about 100 ms whatever any other thread holds.
void hostFlushBeforeExit();
// Lines printed that have not reached the output: dropped after hostStopWaiting, or still
// waiting for an output that takes nothing.
size_t hostUnwrittenLines();

// The writer runs while an OutputFlusher lives (one at a time).
class OutputFlusher {
public:
  OutputFlusher();
  // Flushes (see hostFlush) and stops the writer. An output that takes nothing is waited for
  // until hostStopWaiting(); after that it is given up on within about half a second.
  ~OutputFlusher();
  OutputFlusher(const OutputFlusher&) = delete;
  OutputFlusher& operator=(const OutputFlusher&) = delete;

private:
  bool owner_ = false;  // false for a second OutputFlusher, which leaves the first to flush
  JWorker writer_;
};
