#include "platform/WaveDevices.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

#include "base/JWorker.h"
#include "base/WaveDefs.h"

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

// The ticker runs while any wave device is open; called without g_mutex.
void StartTickerIfNeeded() {
  std::lock_guard<std::mutex> tl(g_tickerMutex);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_waves.empty() || g_tickerStarted) return;
  }
  g_tickerStarted = g_ticker.start(nullptr, Tick);
}

void StopTickerIfIdle() {
  std::lock_guard<std::mutex> tl(g_tickerMutex);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_waves.empty() || !g_tickerStarted) return;
  }
  g_ticker.stop();
  g_tickerStarted = false;
}

bool GoodFormat(const WAVEFORMATEX* f) {
  return f && f->wFormatTag == WAVE_FORMAT_PCM && f->nChannels == 1 && f->nSamplesPerSec == kWaveRate &&
         f->wBitsPerSample == 16 && f->nBlockAlign == 2;
}

MMRESULT OpenWaveLocked(bool input, uint32_t* handle, uint32_t device, const WAVEFORMATEX* format, uintptr_t callback,
                        uint32_t flags) {
  Configure();
  if (device == WAVE_MAPPER) device = 0;
  if (device >= static_cast<uint32_t>(g_lineCount)) return MMSYSERR_BADDEVICEID;
  if (!GoodFormat(format)) return WAVERR_BADFORMAT;
  if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
  if (!handle) return MMSYSERR_INVALPARAM;
  if ((flags & CALLBACK_WINDOW) == 0 || !callback) return MMSYSERR_INVALFLAG;
  for (auto& [h, d] : g_waves)
    if (d.input == input && d.line == static_cast<int>(device)) return MMSYSERR_ALLOCATED;
  WaveDevice d;
  d.input = input;
  d.line = static_cast<int>(device);
  d.window = callback;
  *handle = g_nextHandle++;
  g_waves[*handle] = d;
  hidden_window::Post(callback, input ? MM_WIM_OPEN : MM_WOM_OPEN, *handle, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT OpenWave(bool input, uint32_t* handle, uint32_t device, const WAVEFORMATEX* format, uintptr_t callback,
                  uint32_t flags) {
  MMRESULT result;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    result = OpenWaveLocked(input, handle, device, format, callback, flags);
  }
  if (result == MMSYSERR_NOERROR && !(flags & WAVE_FORMAT_QUERY)) StartTickerIfNeeded();
  return result;
}

WaveDevice* Wave(uint32_t handle, bool input) {
  auto it = g_waves.find(handle);
  return it == g_waves.end() || it->second.input != input ? nullptr : &it->second;
}

MMRESULT Prepare(uint32_t handle, bool input, WAVEHDR* h, uint32_t size, bool prepare) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!Wave(handle, input)) return MMSYSERR_INVALHANDLE;
  if (!h || size < sizeof(WAVEHDR) || !h->lpData) return MMSYSERR_INVALPARAM;
  if (h->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  if (prepare) h->dwFlags |= WHDR_PREPARED;
  else h->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT Queue(uint32_t handle, bool input, WAVEHDR* h, uint32_t size) {
  std::lock_guard<std::mutex> lock(g_mutex);
  WaveDevice* d = Wave(handle, input);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (!h || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  if (!(h->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (h->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  if (input) h->dwBytesRecorded = 0;
  if (!input && d->queue.empty()) {
    d->playingSince = Clock::now();
    g_lines[d->line].quietSince = d->playingSince;
  }
  d->queue.push_back(h);
  g_changed.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT ResetWave(uint32_t handle, bool input) {
  std::lock_guard<std::mutex> lock(g_mutex);
  WaveDevice* d = Wave(handle, input);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (input && d->started) FillInput(handle, *d, SamplesSince(d->startedAt, Clock::now()));
  // What is still queued comes back now, marked done.
  for (WAVEHDR* h : d->queue) {
    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    hidden_window::Post(d->window, input ? MM_WIM_DATA : MM_WOM_DONE, handle, reinterpret_cast<uintptr_t>(h));
  }
  d->queue.clear();
  d->started = false;
  if (!input) g_lines[d->line].quietSince = Clock::now();
  g_changed.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT CloseWave(uint32_t handle, bool input) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    WaveDevice* d = Wave(handle, input);
    if (!d) return MMSYSERR_INVALHANDLE;
    if (!d->queue.empty()) return WAVERR_STILLPLAYING;
    hidden_window::Post(d->window, input ? MM_WIM_CLOSE : MM_WOM_CLOSE, handle, 0);
    g_waves.erase(handle);
  }
  StopTickerIfIdle();
  return MMSYSERR_NOERROR;
}

}  // namespace

EXPORT MMRESULT waveInOpen(HWAVEIN* h, uint32_t device, const WAVEFORMATEX* format, uintptr_t callback, uintptr_t,
                           uint32_t flags) {
  return OpenWave(true, h, device, format, callback, flags);
}
EXPORT MMRESULT waveInPrepareHeader(HWAVEIN h, WAVEHDR* hdr, uint32_t size) {
  return Prepare(h, true, hdr, size, true);
}
EXPORT MMRESULT waveInUnprepareHeader(HWAVEIN h, WAVEHDR* hdr, uint32_t size) {
  return Prepare(h, true, hdr, size, false);
}
EXPORT MMRESULT waveInAddBuffer(HWAVEIN h, WAVEHDR* hdr, uint32_t size) { return Queue(h, true, hdr, size); }
EXPORT MMRESULT waveInStart(HWAVEIN h) {
  std::lock_guard<std::mutex> lock(g_mutex);
  WaveDevice* d = Wave(h, true);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (d->started) return MMSYSERR_NOERROR;
  d->started = true;
  d->startedAt = Clock::now();
  d->delivered = 0;
  // A caller waiting to speak starts as the line begins to listen.
  for (auto& [handle, call] : g_calls)
    if (call->line == d->line && call->state == LINECALLSTATE_CONNECTED && !call->speaking) {
      call->speaking = true;
      call->speechStart = d->startedAt;
    }
  g_changed.notify_all();
  return MMSYSERR_NOERROR;
}
EXPORT MMRESULT waveInReset(HWAVEIN h) { return ResetWave(h, true); }
EXPORT MMRESULT waveInClose(HWAVEIN h) { return CloseWave(h, true); }

EXPORT MMRESULT waveOutOpen(HWAVEOUT* h, uint32_t device, const WAVEFORMATEX* format, uintptr_t callback, uintptr_t,
                            uint32_t flags) {
  return OpenWave(false, h, device, format, callback, flags);
}
EXPORT MMRESULT waveOutPrepareHeader(HWAVEOUT h, WAVEHDR* hdr, uint32_t size) {
  return Prepare(h, false, hdr, size, true);
}
EXPORT MMRESULT waveOutUnprepareHeader(HWAVEOUT h, WAVEHDR* hdr, uint32_t size) {
  return Prepare(h, false, hdr, size, false);
}
EXPORT MMRESULT waveOutWrite(HWAVEOUT h, WAVEHDR* hdr, uint32_t size) { return Queue(h, false, hdr, size); }
EXPORT MMRESULT waveOutReset(HWAVEOUT h) { return ResetWave(h, false); }
EXPORT MMRESULT waveOutClose(HWAVEOUT h) { return CloseWave(h, false); }
