#pragma once
// The telephony provider (libcallwatch_telephony, loaded by name at run time) simulates an
// exchange: line devices, their phones and wave devices, and calls placed and driven through the
// control socket (phonesim). It exports the line, phone, request and wave functions under their
// own names (Lines.h, Calls.h, Phones.h, and the shared provider/Lines.h and provider/WaveTable.h).
//
// This is the state those entry points share: the lines, the calls, the program that
// initialized each half, and the events posted to that program. Every event goes to the
// program's thread: the queue of the thread that initialized the line (or phone) half, or the
// hidden window a wave device reports to. Everything here is guarded by g_mutex; the program's
// calls take it briefly, each call's script runs on the worker of its control connection, and
// the wave ticker moves the wave devices along at real pace. g_changed tells the scripts that
// something moved.
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "provider/Lines.h"

namespace phonesim {

using namespace provider;
constexpr int kMostLines = 16;

extern std::condition_variable g_changed;  // any call's state, any device

struct SimCall : Call {
  DWORD origin = LINECALLORIGIN_EXTERNAL;
  std::vector<int16_t> speech;
  bool speaking = false;
  bool wasConnected = false;
  Clock::time_point speechStart;
  Clock::time_point connectedAt;
};

struct SimLine : Line {
  bool voiceOnly = false;
  bool hasSpeaker = false;
  HPHONE phoneOpen = 0;
  uintptr_t phoneInstance = 0;
  DWORD hookMode = PHONEHOOKSWITCHMODE_ONHOOK;
  Clock::time_point quietSince = Clock::now();  // nothing played to the caller since
};

extern int g_lineCount;
extern std::vector<SimLine> g_lines;
extern App g_phoneApp;
extern std::map<HCALL, std::shared_ptr<SimCall>> g_calls;

// The rest is called with g_mutex held.

// Read from the environment when the provider is first used, and again (again = true) whenever
// a program initializes while nothing of an earlier one remains.
void Configure(bool again = false);
SimLine* LineByHandle(HLINE h);
int IndexOf(const SimLine* l);
std::shared_ptr<SimCall> CallFor(HCALL h);

void RaisePhone(int line, DWORD message, uintptr_t p1, uintptr_t p2, uintptr_t p3);
void SetState(SimCall& call, DWORD state, DWORD detail = 0);
// Ends a call that is not idle yet: disconnected, then idle unless a program owns it and will
// drop it itself.
void HangUp(SimCall& call, bool ownerDrops);
bool OwnerWatches(const SimCall& call);

}  // namespace phonesim
