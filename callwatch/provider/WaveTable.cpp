// The state both providers share and their wave device table. The entry points live here, beside
// the table every provider uses, so that linking the table always brings them along.
#include "provider/WaveTable.h"

#include <cstring>

#include "provider/WaveHooks.h"

namespace provider {

std::mutex g_mutex;
App g_lineApp;
DWORD g_nextHandle = kBaseHandle;
LONG g_nextRequest = 1;
std::map<uint32_t, WaveDevice> g_waves;

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

void FinishFront(WaveDevice& d, uint32_t handle) {
  WAVEHDR* h = d.queue.front();
  d.queue.pop_front();
  if (!d.input) d.delivered = 0;
  h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
  hidden_window::Post(d.window, d.input ? MM_WIM_DATA : MM_WOM_DONE, handle, reinterpret_cast<uintptr_t>(h));
}

void PutText(VARHEADER* h, DWORD* used, DWORD* size, DWORD* offset, const std::string& text) {
  const DWORD length = static_cast<DWORD>(text.size() + 1);
  h->dwNeededSize += length;
  if (*used + length <= h->dwTotalSize) {
    std::memcpy(reinterpret_cast<char*>(h) + *used, text.c_str(), length);
    *size = length;
    *offset = *used;
    *used += length;
  } else {
    *size = *offset = 0;
  }
}

LONG PutDeviceID(VARSTRING* id, DWORD index, LONG tooSmall) {
  if (!ClearFixed(id)) return tooSmall;
  id->dwNeededSize = sizeof *id + 4;
  id->dwUsedSize = sizeof *id;
  id->dwStringFormat = STRINGFORMAT_BINARY;
  if (id->dwNeededSize <= id->dwTotalSize) {
    std::memcpy(reinterpret_cast<char*>(id) + sizeof *id, &index, 4);
    id->dwStringSize = 4;
    id->dwStringOffset = sizeof *id;
    id->dwUsedSize = id->dwNeededSize;
  }
  return 0;
}

}  // namespace provider

using namespace provider;

namespace {

bool GoodFormat(const WAVEFORMATEX* f) {
  return f && f->wFormatTag == WAVE_FORMAT_PCM && f->nChannels == 1 && f->nSamplesPerSec == kWaveRate &&
         f->wBitsPerSample == 16 && f->nBlockAlign == 2;
}

MMRESULT OpenWaveLocked(bool input, uint32_t* handle, uint32_t device, const WAVEFORMATEX* format, uintptr_t callback,
                        uint32_t flags) {
  const int lines = WaveLineCount();
  if (device == WAVE_MAPPER) device = 0;
  if (device >= static_cast<uint32_t>(lines)) return MMSYSERR_BADDEVICEID;
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

MMRESULT OpenWave(bool input, uint32_t* handle, uint32_t device, const WAVEFORMATEX* format, uintptr_t callback,
                  uint32_t flags) {
  MMRESULT result;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    result = OpenWaveLocked(input, handle, device, format, callback, flags);
  }
  if (result == MMSYSERR_NOERROR && !(flags & WAVE_FORMAT_QUERY)) WaveOpened();
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
  d->queue.push_back(h);
  WaveQueued(*d, d->queue.size() == 1);
  return MMSYSERR_NOERROR;
}

MMRESULT ResetWave(uint32_t handle, bool input) {
  std::lock_guard<std::mutex> lock(g_mutex);
  WaveDevice* d = Wave(handle, input);
  if (!d) return MMSYSERR_INVALHANDLE;
  WaveResetting(handle, *d);
  // What is still queued comes back now, marked done.
  while (!d->queue.empty()) FinishFront(*d, handle);
  d->started = false;
  WaveWasReset(*d);
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
  WaveClosed();
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
  WaveStarted(*d);
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
