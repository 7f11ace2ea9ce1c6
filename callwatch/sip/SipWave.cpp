// The wave devices of the SIP lines: one input and one output per line, numbered as the line.
// The output's buffers are sent to the caller through the line's sound card as the stack asks for
// samples; the input's buffers fill with what the caller says. Both report to a hidden window.
#include <algorithm>
#include <cstring>

#include "sip/SipState.h"

using namespace sipline;

namespace {

WaveDevice* DeviceOf(int line, bool input) {
  for (auto& [h, d] : g_waves)
    if (d.input == input && d.line == line) return &d;
  return nullptr;
}

uint32_t HandleOf(const WaveDevice* d) {
  for (auto& [h, w] : g_waves)
    if (&w == d) return h;
  return 0;
}

void Finish(WaveDevice& d, uint32_t handle) {
  WAVEHDR* h = d.queue.front();
  d.queue.pop_front();
  d.playedOfFront = 0;
  h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
  hidden_window::Post(d.window, d.input ? MM_WIM_DATA : MM_WOM_DONE, handle, reinterpret_cast<uintptr_t>(h));
}

bool GoodFormat(const WAVEFORMATEX* f) {
  return f && f->wFormatTag == WAVE_FORMAT_PCM && f->nChannels == 1 && f->nSamplesPerSec == kWaveRate &&
         f->wBitsPerSample == 16 && f->nBlockAlign == 2;
}

MMRESULT OpenWave(bool input, uint32_t* handle, uint32_t device, const WAVEFORMATEX* format, uintptr_t callback,
                  uint32_t flags) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (device == WAVE_MAPPER) device = 0;
  if (device >= g_lines.size()) return MMSYSERR_BADDEVICEID;
  if (!GoodFormat(format)) return WAVERR_BADFORMAT;
  if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
  if (!handle) return MMSYSERR_INVALPARAM;
  if ((flags & CALLBACK_WINDOW) == 0 || !callback) return MMSYSERR_INVALFLAG;
  if (DeviceOf(static_cast<int>(device), input)) return MMSYSERR_ALLOCATED;
  WaveDevice d;
  d.input = input;
  d.line = static_cast<int>(device);
  d.window = callback;
  *handle = g_nextHandle++;
  g_waves[*handle] = d;
  hidden_window::Post(callback, input ? MM_WIM_OPEN : MM_WOM_OPEN, *handle, 0);
  return MMSYSERR_NOERROR;
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
  d->queue.push_back(h);
  return MMSYSERR_NOERROR;
}

MMRESULT ResetWave(uint32_t handle, bool input) {
  std::lock_guard<std::mutex> lock(g_mutex);
  WaveDevice* d = Wave(handle, input);
  if (!d) return MMSYSERR_INVALHANDLE;
  // What is still queued comes back now, marked done.
  while (!d->queue.empty()) Finish(*d, handle);
  d->started = false;
  return MMSYSERR_NOERROR;
}

MMRESULT CloseWave(uint32_t handle, bool input) {
  std::lock_guard<std::mutex> lock(g_mutex);
  WaveDevice* d = Wave(handle, input);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (!d->queue.empty()) return WAVERR_STILLPLAYING;
  hidden_window::Post(d->window, input ? MM_WIM_CLOSE : MM_WOM_CLOSE, handle, 0);
  g_waves.erase(handle);
  return MMSYSERR_NOERROR;
}

}  // namespace

namespace sipline {

void TakeSamplesForCaller(int line, int16_t* out, size_t count) {
  size_t done = 0;
  WaveDevice* d = DeviceOf(line, false);
  const uint32_t handle = d ? HandleOf(d) : 0;
  while (d && done < count && !d->queue.empty()) {
    WAVEHDR* h = d->queue.front();
    const size_t total = h->dwBufferLength / 2;
    const size_t n = std::min(count - done, total - std::min(total, d->playedOfFront));
    std::memcpy(out + done, h->lpData + 2 * d->playedOfFront, 2 * n);
    done += n;
    d->playedOfFront += n;
    if (d->playedOfFront >= total) Finish(*d, handle);
  }
  std::fill(out + done, out + count, int16_t{0});
}

void GiveSamplesFromCaller(int line, const int16_t* in, size_t count) {
  WaveDevice* d = DeviceOf(line, true);
  if (!d || !d->started) return;
  const uint32_t handle = HandleOf(d);
  size_t done = 0;
  while (done < count && !d->queue.empty()) {
    WAVEHDR* h = d->queue.front();
    const size_t room = (h->dwBufferLength - std::min(h->dwBufferLength, h->dwBytesRecorded)) / 2;
    const size_t n = std::min(room, count - done);
    std::memcpy(h->lpData + h->dwBytesRecorded, in + done, 2 * n);
    h->dwBytesRecorded += static_cast<uint32_t>(2 * n);
    done += n;
    if (h->dwBufferLength - h->dwBytesRecorded < 2) Finish(*d, handle);
  }
}

}  // namespace sipline

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
  d->started = true;
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
