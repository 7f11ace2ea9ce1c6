#include "platform/Exchange.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace phonesim {

std::condition_variable g_changed;
int g_lineCount = -1;
std::vector<SimLine> g_lines;
App g_phoneApp;
std::map<HCALL, std::shared_ptr<SimCall>> g_calls;

void Configure(bool again) {
  if (g_lineCount >= 0 && !(again && !g_phoneApp.handle && g_waves.empty() && g_calls.empty())) return;
  g_lineCount = 2;
  if (const char* env = std::getenv("PHONESIM_LINES")) {
    char* end = nullptr;
    long n = std::strtol(env, &end, 10);
    if (end != env && *end == 0 && n >= 0 && n <= kMostLines) g_lineCount = static_cast<int>(n);
    else std::fprintf(stderr, "phonesim: PHONESIM_LINES must be 0 to %d; using 2\n", kMostLines);
  }
  g_lines.assign(g_lineCount, SimLine{});
  if (g_lineCount > 0) g_lines[0].hasSpeaker = true;  // the other lines' phones have none
  if (const char* env = std::getenv("PHONESIM_VOICE_ONLY_LINES")) {
    for (const char* p = env; *p; ++p)
      if (*p >= '0' && *p <= '9' && *p - '0' < g_lineCount) g_lines[*p - '0'].voiceOnly = true;
  }
}

SimLine* LineByHandle(HLINE h) {
  const int index = IndexOfOpen(h);
  return index < 0 ? nullptr : &g_lines[static_cast<size_t>(index)];
}
int IndexOf(const SimLine* l) { return static_cast<int>(l - g_lines.data()); }

std::shared_ptr<SimCall> CallFor(HCALL h) {
  auto it = g_calls.find(h);
  return it == g_calls.end() ? nullptr : it->second;
}

void RaisePhone(int line, DWORD message, uintptr_t p1, uintptr_t p2, uintptr_t p3) {
  const SimLine& l = g_lines[line];
  if (!l.phoneOpen || !g_phoneApp.queue) return;
  const HPHONE open = l.phoneOpen;
  const uintptr_t instance = l.phoneInstance;
  const PHONECALLBACK callback = g_phoneApp.callback;
  const DWORD app = g_phoneApp.handle;
  g_phoneApp.queue->Post([=] {
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      if (g_phoneApp.handle != app || g_lines[line].phoneOpen != open) return;
    }
    callback(open, message, instance, p1, p2, p3);
  });
}

void SetState(SimCall& call, DWORD state, DWORD detail) {
  if (call.state == state) return;
  call.state = state;
  if (state == LINECALLSTATE_CONNECTED) {
    call.connectedAt = Clock::now();
    call.wasConnected = true;
  }
  if (state == LINECALLSTATE_IDLE) call.ended = true;
  RaiseLine(call.line, call.handle, LINE_CALLSTATE, state, detail, 0);
  g_changed.notify_all();
}

void HangUp(SimCall& call, bool ownerDrops) {
  if (call.state != LINECALLSTATE_DISCONNECTED && call.state != LINECALLSTATE_IDLE)
    SetState(call, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
  if (!ownerDrops) SetState(call, LINECALLSTATE_IDLE);
}

bool OwnerWatches(const SimCall& call) {
  const SimLine& l = g_lines[call.line];
  return l.open && (l.privileges & LINECALLPRIVILEGE_OWNER) && call.appHolds;
}

}  // namespace phonesim

// What the shared line entry points see of the simulated exchange.
namespace provider {

using namespace phonesim;

int LineCount() { return g_lineCount; }
Line& LineAt(int index) { return g_lines[static_cast<size_t>(index)]; }

Call* FindCall(HCALL h) { return FindIn(g_calls, h); }
void ForEachCall(const std::function<void(Call&)>& visit) { ForEachIn(g_calls, visit); }
void ForgetIfDone(HCALL h) { ForgetIfDoneIn(g_calls, h); }

void AppLetGo() { g_changed.notify_all(); }
bool LinesHavePhones() { return true; }

DWORD MediaModesOf(int line) {
  return g_lines[static_cast<size_t>(line)].voiceOnly ? LINEMEDIAMODE_INTERACTIVEVOICE : kAllMediaModes;
}
std::string NameOf(int line) { return "Simulated line " + std::to_string(line); }

bool StartAnswer(Call&) { return true; }
void Answer(Call& call) { SetState(static_cast<SimCall&>(call), LINECALLSTATE_CONNECTED); }
void Drop(Call& call) { HangUp(static_cast<SimCall&>(call), false); }

}  // namespace provider
