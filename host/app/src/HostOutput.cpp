#include "HostOutput.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {
constexpr auto kFlushDelay = std::chrono::milliseconds(40);

std::mutex outMutex;
std::condition_variable outChanged;
bool dirty = false;     // lines written since the last flush
bool flusherOn = false;
}  // namespace

void hostPrintLine(const std::string& line) {
  std::lock_guard<std::mutex> g(outMutex);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  if (!dirty) {
    dirty = true;
    if (flusherOn) outChanged.notify_one();
  }
}

void hostFlush() {
  std::lock_guard<std::mutex> g(outMutex);
  std::fflush(stdout);
  dirty = false;
}

namespace {
std::thread flusher;

void flushLoop() {
  std::unique_lock<std::mutex> lock(outMutex);
  while (flusherOn) {
    outChanged.wait(lock, [] { return dirty || !flusherOn; });
    if (!flusherOn) break;
    // Lines that follow soon share the write.
    outChanged.wait_for(lock, kFlushDelay, [] { return !flusherOn; });
    std::fflush(stdout);
    dirty = false;
  }
}
}  // namespace

OutputFlusher::OutputFlusher() {
  std::lock_guard<std::mutex> g(outMutex);
  if (flusherOn) return;
  flusherOn = true;
  flusher = std::thread(flushLoop);
}

OutputFlusher::~OutputFlusher() {
  {
    std::lock_guard<std::mutex> g(outMutex);
    flusherOn = false;
  }
  outChanged.notify_all();
  if (flusher.joinable()) flusher.join();
  hostFlush();
}
