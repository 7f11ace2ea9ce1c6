#include "HostOutput.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace {
constexpr auto kFlushDelay = std::chrono::milliseconds(40);

std::mutex outMutex;
std::condition_variable outChanged;
bool dirty = false;      // lines written since the last flush
bool flusherOn = false;  // an OutputFlusher waits for lines

// Wakes the flusher; with the lock taken, so that a wake-up cannot fall between its look at its
// condition and its wait.
void wakeFlusher() {
  std::lock_guard<std::mutex> g(outMutex);
  outChanged.notify_all();
}
}  // namespace

void hostPrintLine(const std::string& line) {
  std::lock_guard<std::mutex> g(outMutex);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  if (!dirty) {
    dirty = true;
    if (flusherOn) outChanged.notify_all();
  }
}

void hostFlush() {
  std::lock_guard<std::mutex> g(outMutex);
  std::fflush(stdout);
  dirty = false;
}

OutputFlusher::OutputFlusher() {
  {
    std::lock_guard<std::mutex> g(outMutex);
    if (flusherOn) return;
    flusherOn = owner_ = true;
  }
  worker_.start(nullptr, [this] { flushLoop(); });
}

OutputFlusher::~OutputFlusher() {
  if (!owner_) return;
  worker_.stop(wakeFlusher);
  {
    std::lock_guard<std::mutex> g(outMutex);
    flusherOn = false;
  }
  hostFlush();
}

void OutputFlusher::flushLoop() {
  std::unique_lock<std::mutex> lock(outMutex);
  auto stopped = [this] { return !worker_.running(); };
  while (!stopped()) {
    outChanged.wait(lock, [&] { return dirty || stopped(); });
    if (stopped()) break;
    // Lines that follow soon share the write.
    outChanged.wait_for(lock, kFlushDelay, stopped);
    std::fflush(stdout);
    dirty = false;
  }
}
