#pragma once
// What both telephony providers (the simulated exchange and the SIP lines) keep the same way: the
// lock over their state, the program that initialized the line half, the handle and request
// counters, and the wave device table with its checks. Each provider links its own copy with
// hidden symbols, so two providers in one process never share or clash.
//
// A provider supplies the hooks below (WaveHooks.h) for what really differs: how audio moves.
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "base/MessageQueue.h"
#include "base/TapiDefs.h"
#include "base/WaveDefs.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace provider {

using Clock = std::chrono::steady_clock;
constexpr DWORD kVersion = 0x00020000;
constexpr DWORD kOldestVersion = 0x00010003;
constexpr DWORD kBaseHandle = 0x100;

// Guards all of a provider's state.
extern std::mutex g_mutex;

struct App {
  DWORD handle = 0;
  LINECALLBACK callback = nullptr;
  std::shared_ptr<CMessageQueue> queue;
};

// One input and one output per line, numbered as the line, reporting to a hidden window.
struct WaveDevice {
  bool input = true;
  int line = 0;
  uintptr_t window = 0;
  bool started = false;  // input: recording
  std::deque<WAVEHDR*> queue;
  uint64_t delivered = 0;          // samples since start (input) or into the front buffer (output)
  Clock::time_point startedAt;     // input: when recording started
  Clock::time_point playingSince;  // output: when the front buffer began to play
};

extern App g_lineApp;
extern DWORD g_nextHandle;
extern LONG g_nextRequest;
extern std::map<uint32_t, WaveDevice> g_waves;

// The rest is called with g_mutex held.

// A line's device of one direction, and a device's handle (nullptr, 0 when none).
WaveDevice* DeviceOf(int line, bool input);
uint32_t HandleOf(const WaveDevice* d);
// Returns the front buffer to the program, marked done.
void FinishFront(WaveDevice& d, uint32_t handle);

template <typename T>
bool Fits(const VARHEADER* h) {
  return h && h->dwTotalSize >= sizeof(T);
}
// Clears the fixed part of a variable-size structure a program handed in, keeping the size it
// says it has; false, with nothing written, when it is missing or smaller than T.
template <typename T>
bool ClearFixed(T* s) {
  if (!Fits<T>(reinterpret_cast<const VARHEADER*>(s))) return false;
  const DWORD total = s->dwTotalSize;
  std::memset(s, 0, sizeof *s);
  s->dwTotalSize = total;
  return true;
}
// Appends a text (with its terminator) to a variable-size structure; its size and offset fields
// are set only when it fits.
void PutText(VARHEADER* h, DWORD* used, DWORD* size, DWORD* offset, const std::string& text);
// A device number (line, phone or wave device of line `index`) as a binary VARSTRING.
LONG PutDeviceID(VARSTRING* id, DWORD index, LONG tooSmall);

}  // namespace provider
