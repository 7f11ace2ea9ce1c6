// The simulated exchange's side of the wave devices (the table itself is shared: WaveTable.cpp).
// An input records what the caller on its line says, an output plays to the caller; a ticker
// worker moves both along at real pace while any device is open.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

#include "base/JWorker.h"
#include "base/WaveDefs.h"
#include "platform/Exchange.h"
#include "provider/WaveHooks.h"

using namespace phonesim;

namespace {

// ---- the wave ticker --------------------------------------------------------------------------

// Never destroyed: a process may end with a device open. Started and stopped under
// g_tickerMutex only, so that a start never meets a ticker that is still being stopped; g_mutex
// is taken inside it.
std::mutex g_tickerMutex;
JWorker& g_ticker = *new JWorker;
bool g_tickerStarted = false;  // under g_tickerMutex

// The caller's sample at a device sample; silence outside what the caller says.
int16_t SpeechAt(const WaveDevice& d, uint64_t sample) {
  for (auto& [h, call] : g_calls) {
    if (call->line != d.line || call->state != LINECALLSTATE_CONNECTED || !call->speaking) continue;
    auto since = std::chrono::duration_cast<std::chrono::microseconds>(call->speechStart - d.startedAt).count();
    int64_t offset = since * static_cast<int64_t>(kWaveRate) / 1000000;
    int64_t index = static_cast<int64_t>(sample) - offset;
    if (index >= 0 && index < static_cast<int64_t>(call->speech.size()))
      return call->speech[static_cast<size_t>(index)];
    return 0;
  }
  return 0;
}

// Records up to `until` samples since start into the queued buffers, finishing the full ones.
void FillInput(uint32_t handle, WaveDevice& d, uint64_t until) {
  while (d.delivered < until && !d.queue.empty()) {
    WAVEHDR* h = d.queue.front();
    const uint32_t room = (h->dwBufferLength - h->dwBytesRecorded) / 2;
    const uint64_t n = std::min<uint64_t>(room, until - d.delivered);
    for (uint64_t i = 0; i < n; ++i) {
      int16_t s = SpeechAt(d, d.delivered + i);
      std::memcpy(h->lpData + h->dwBytesRecorded + 2 * i, &s, 2);
    }
    h->dwBytesRecorded += static_cast<uint32_t>(2 * n);
    d.delivered += n;
    if (h->dwBufferLength - h->dwBytesRecorded < 2) {
      h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
      d.queue.pop_front();
      hidden_window::Post(d.window, MM_WIM_DATA, handle, reinterpret_cast<uintptr_t>(h));
    }
  }
}

void FinishOutput(uint32_t handle, WaveDevice& d, Clock::time_point now) {
  while (!d.queue.empty()) {
    WAVEHDR* h = d.queue.front();
    auto lasts = std::chrono::microseconds(uint64_t(h->dwBufferLength) * 1000000 / (2 * kWaveRate));
    if (now - d.playingSince < lasts) break;
    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    d.queue.pop_front();
    d.playingSince += std::chrono::duration_cast<Clock::duration>(lasts);
    g_lines[d.line].quietSince = now;
    hidden_window::Post(d.window, MM_WOM_DONE, handle, reinterpret_cast<uintptr_t>(h));
  }
}

uint64_t SamplesSince(Clock::time_point start, Clock::time_point now) {
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(now - start).count();
  return us <= 0 ? 0 : static_cast<uint64_t>(us) * kWaveRate / 1000000;
}

void Tick() {
  while (g_ticker.running()) {
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      const auto now = Clock::now();
      for (auto& [handle, d] : g_waves) {
        if (d.input && d.started) FillInput(handle, d, SamplesSince(d.startedAt, now));
        if (!d.input) FinishOutput(handle, d, now);
      }
    }
    g_ticker.sleepFor(10);
  }
}

}  // namespace

namespace provider {

// The ticker runs while any wave device is open.
void WaveOpened() {
  std::lock_guard<std::mutex> tl(g_tickerMutex);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_waves.empty() || g_tickerStarted) return;
  }
  g_tickerStarted = g_ticker.start(nullptr, Tick);
}

void WaveClosed() {
  std::lock_guard<std::mutex> tl(g_tickerMutex);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_waves.empty() || !g_tickerStarted) return;
  }
  g_ticker.stop();
  g_tickerStarted = false;
}

int WaveLineCount() {
  Configure();
  return g_lineCount;
}

void WaveQueued(WaveDevice& d, bool first) {
  if (!d.input && first) {
    d.playingSince = Clock::now();
    g_lines[d.line].quietSince = d.playingSince;
  }
  g_changed.notify_all();
}

void WaveStarted(WaveDevice& d) {
  d.startedAt = Clock::now();
  d.delivered = 0;
  // A caller waiting to speak starts as the line begins to listen.
  for (auto& [handle, call] : g_calls)
    if (call->line == d.line && call->state == LINECALLSTATE_CONNECTED && !call->speaking) {
      call->speaking = true;
      call->speechStart = d.startedAt;
    }
  g_changed.notify_all();
}

void WaveResetting(uint32_t handle, WaveDevice& d) {
  if (d.input && d.started) FillInput(handle, d, SamplesSince(d.startedAt, Clock::now()));
}

void WaveWasReset(WaveDevice& d) {
  if (!d.input) g_lines[d.line].quietSince = Clock::now();
  g_changed.notify_all();
}

}  // namespace provider
