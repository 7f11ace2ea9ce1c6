// The line, call and phone functions of the SIP provider (the rest of the line API and the
// requests are shared: provider/Lines.h).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sip/SipState.h"

using namespace sipline;

namespace {

constexpr int kRegistrationWaitMs = 10000;

void ReadRingMs() {
  g_ringMs = 6000;
  if (const char* env = std::getenv("CALLWATCH_SIP_RING_MS")) {
    char* end = nullptr;
    const long ms = std::strtol(env, &end, 10);
    if (end != env && *end == 0 && ms >= 10 && ms <= 600000) g_ringMs = static_cast<int>(ms);
    else std::fprintf(stderr, "callwatch: CALLWATCH_SIP_RING_MS must be 10 to 600000; using 6000\n");
  }
}

}  // namespace

EXPORT LONG lineInitializeExA(HLINEAPP* app, void*, LINECALLBACK callback, const char*, DWORD* numDevs,
                              DWORD* apiVersion, LINEINITIALIZEEXPARAMS* params) {
  if (!app || !callback || !numDevs || !apiVersion) return LINEERR_INVALPOINTER;
  if (params && params->dwTotalSize < sizeof(LINEINITIALIZEEXPARAMS)) return LINEERR_STRUCTURETOOSMALL;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_lineApp.handle) return LINEERR_OPERATIONFAILED;  // one program at a time
  }
  std::vector<LineConfig> configs = ReadLineConfigs();
  if (configs.empty()) {
    std::fprintf(stderr,
                 "callwatch: no SIP line: set CALLWATCH_SIP_LISTEN=HOST:PORT or add lines to [SipLines] of the "
                 "settings\n");
    return LINEERR_OPERATIONFAILED;
  }
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    ReadRingMs();
    g_lines.clear();
    for (const LineConfig& c : configs) {
      SipLine l;
      l.config = c;
      l.registration = c.registrar.empty() ? Registration::kNone : Registration::kPending;
      g_lines.push_back(l);
    }
    g_lineApp = App{g_nextHandle++, callback, CMessageQueue::ForThisThread()};
  }
  if (!StartStack()) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lineApp = App{};
    return LINEERR_OPERATIONFAILED;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  *app = g_lineApp.handle;
  *numDevs = static_cast<DWORD>(LineCount());
  *apiVersion = kVersion;
  return 0;
}

EXPORT LONG lineShutdown(HLINEAPP app) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!app || app != g_lineApp.handle) return LINEERR_INVALAPPHANDLE;
    for (auto& l : g_lines) {
      l.open = 0;
      l.instance = 0;
      l.privileges = 0;
    }
    for (auto& [h, call] : g_calls) call->appHolds = false;
    g_lineApp = App{};
  }
  // Calls still up end with the program (a BYE each).
  StopStack();
  std::lock_guard<std::mutex> lock(g_mutex);
  g_calls.clear();
  return 0;
}

EXPORT LONG lineOpenA(HLINEAPP app, DWORD device, HLINE* line, DWORD apiVersion, DWORD, uintptr_t instance,
                      DWORD privileges, DWORD mediaModes, const void*) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!app || app != g_lineApp.handle) return LINEERR_INVALAPPHANDLE;
    if (device >= static_cast<DWORD>(LineCount())) return LINEERR_BADDEVICEID;
  }
  // A line with a registrar is open once the registrar took it.
  WaitForRegistration(static_cast<int>(device), kRegistrationWaitMs);
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_lineApp.handle) return LINEERR_INVALAPPHANDLE;
  if (!line) return LINEERR_INVALPOINTER;
  if (apiVersion < kOldestVersion || apiVersion > kVersion) return LINEERR_INCOMPATIBLEAPIVERSION;
  const SipLine& l = g_lines[device];
  if (l.stackFailed || l.registration == Registration::kFailed || l.registration == Registration::kPending)
    return LINEERR_OPERATIONFAILED;
  return OpenLine(static_cast<int>(device), line, instance, privileges, mediaModes);
}

EXPORT LONG lineGetNewCalls(HLINE line, DWORD, DWORD select, LINECALLLIST* list) {
  std::lock_guard<std::mutex> lock(g_mutex);
  SipLine* l = LineByHandle(line);
  if (!l) return LINEERR_INVALLINEHANDLE;
  if (select != LINECALLSELECT_LINE && select != LINECALLSELECT_ADDRESS) return LINEERR_INVALPARAM;
  if (!ClearFixed(list)) return LINEERR_STRUCTURETOOSMALL;
  list->dwNeededSize = list->dwUsedSize = sizeof *list;
  // Calls arrive only while the line is open: there are none to pick up.
  return 0;
}

EXPORT LONG lineGetCallInfoA(HCALL handle, LINECALLINFO* info) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto call = CallFor(handle);
  if (!call || !call->appHolds) return LINEERR_INVALCALLHANDLE;
  auto* h = reinterpret_cast<VARHEADER*>(info);
  if (!h) return LINEERR_INVALPOINTER;
  const DWORD total = h->dwTotalSize;
  if (total < sizeof(LINECALLINFO)) {
    h->dwNeededSize = static_cast<DWORD>(sizeof(LINECALLINFO) + call->name.size() + call->number.size() + 2);
    return LINEERR_STRUCTURETOOSMALL;
  }
  std::memset(info, 0, sizeof *info);
  info->dwTotalSize = total;
  info->dwNeededSize = info->dwUsedSize = sizeof *info;
  info->hLine = g_lines[static_cast<size_t>(call->line)].open;
  info->dwLineDeviceID = static_cast<DWORD>(call->line);
  info->dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
  info->dwCallID = call->handle;
  info->dwCallStates = 0xFFFF;
  info->dwMonitorDigitModes = call->monitorModes;
  info->dwOrigin = LINECALLORIGIN_EXTERNAL;
  info->dwCallerIDFlags = call->callerFlags;
  if (call->callerFlags & LINECALLPARTYID_ADDRESS)
    PutText(h, &info->dwUsedSize, &info->dwCallerIDSize, &info->dwCallerIDOffset, call->number);
  if (call->callerFlags & LINECALLPARTYID_NAME)
    PutText(h, &info->dwUsedSize, &info->dwCallerIDNameSize, &info->dwCallerIDNameOffset, call->name);
  return 0;
}

// ---- phones: a SIP line has none ----------------------------------------------------------------

EXPORT LONG phoneInitializeExA(HPHONEAPP* app, void*, PHONECALLBACK callback, const char*, DWORD* numDevs,
                               DWORD* apiVersion, PHONEINITIALIZEEXPARAMS*) {
  if (!app || !callback || !numDevs || !apiVersion) return LINEERR_INVALPOINTER;
  std::lock_guard<std::mutex> lock(g_mutex);
  *app = g_nextHandle++;
  *numDevs = 0;
  *apiVersion = kVersion;
  return 0;
}
EXPORT LONG phoneNegotiateAPIVersion(HPHONEAPP, DWORD, DWORD, DWORD, DWORD*, PHONEEXTENSIONID*) {
  return PHONEERR_BADDEVICEID;
}
EXPORT LONG phoneShutdown(HPHONEAPP) { return 0; }
EXPORT LONG phoneOpen(HPHONEAPP, DWORD, HPHONE*, DWORD, DWORD, uintptr_t, DWORD) { return PHONEERR_BADDEVICEID; }
EXPORT LONG phoneClose(HPHONE) { return PHONEERR_INVALPHONEHANDLE; }
EXPORT LONG phoneSetStatusMessages(HPHONE, DWORD, DWORD, DWORD) { return PHONEERR_INVALPHONEHANDLE; }
EXPORT LONG phoneGetDevCapsA(HPHONEAPP, DWORD, DWORD, DWORD, PHONECAPS*) { return PHONEERR_BADDEVICEID; }
EXPORT LONG phoneGetIDA(HPHONE, VARSTRING*, const char*) { return PHONEERR_INVALPHONEHANDLE; }
EXPORT LONG phoneSetHookSwitch(HPHONE, DWORD, DWORD) { return PHONEERR_INVALPHONEHANDLE; }
