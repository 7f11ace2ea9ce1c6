// The line, call, phone and request functions of the SIP provider.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sip/SipState.h"

using namespace sipline;

namespace {

constexpr LONG LINEERR_ALLOCATED = kErr(0x80000001);
constexpr LONG LINEERR_INVALMEDIAMODE = kErr(0x8000002F);
constexpr LONG LINEERR_INVALDIGITMODE = kErr(0x80000029);
constexpr int kRegistrationWaitMs = 10000;

DWORD LineCount() { return static_cast<DWORD>(g_lines.size()); }

void ReadRingMs() {
  g_ringMs = 6000;
  if (const char* env = std::getenv("CALLWATCH_SIP_RING_MS")) {
    char* end = nullptr;
    const long ms = std::strtol(env, &end, 10);
    if (end != env && *end == 0 && ms >= 10 && ms <= 600000) g_ringMs = static_cast<int>(ms);
    else std::fprintf(stderr, "callwatch: CALLWATCH_SIP_RING_MS must be 10 to 600000; using 6000\n");
  }
}

// The owning program's request on a call it holds.
LONG OwnerCall(HCALL handle, std::shared_ptr<SipCall>* out) {
  auto call = CallFor(handle);
  if (!call || !call->appHolds) return LINEERR_INVALCALLHANDLE;
  if (!(g_lines[static_cast<size_t>(call->line)].privileges & LINECALLPRIVILEGE_OWNER)) return LINEERR_NOTOWNER;
  *out = call;
  return 0;
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
  *numDevs = LineCount();
  *apiVersion = kVersion;
  return 0;
}

EXPORT LONG lineNegotiateAPIVersion(HLINEAPP app, DWORD device, DWORD low, DWORD high, DWORD* version,
                                    LINEEXTENSIONID* extension) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_lineApp.handle) return LINEERR_INVALAPPHANDLE;
  if (device >= LineCount()) return LINEERR_BADDEVICEID;
  if (!version) return LINEERR_INVALPOINTER;
  if (low > kVersion || high < 0x00010003) return LINEERR_INCOMPATIBLEAPIVERSION;
  *version = high < kVersion ? high : kVersion;
  if (extension) *extension = LINEEXTENSIONID{};
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
    if (device >= LineCount()) return LINEERR_BADDEVICEID;
  }
  // A line with a registrar is open once the registrar took it.
  WaitForRegistration(static_cast<int>(device), kRegistrationWaitMs);
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_lineApp.handle) return LINEERR_INVALAPPHANDLE;
  if (!line) return LINEERR_INVALPOINTER;
  if (apiVersion < 0x00010003 || apiVersion > kVersion) return LINEERR_INCOMPATIBLEAPIVERSION;
  SipLine& l = g_lines[device];
  if (l.stackFailed || l.registration == Registration::kFailed || l.registration == Registration::kPending)
    return LINEERR_OPERATIONFAILED;
  if (l.open) return LINEERR_ALLOCATED;
  const DWORD known = LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;
  if (!privileges || (privileges & ~known)) return LINEERR_INVALPRIVSELECT;
  const DWORD supported = LINEMEDIAMODE_UNKNOWN | LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE;
  if ((privileges & LINECALLPRIVILEGE_OWNER) && (!mediaModes || (mediaModes & ~supported)))
    return LINEERR_INVALMEDIAMODE;
  l.open = g_nextHandle++;
  l.instance = instance;
  l.privileges = privileges;
  *line = l.open;
  return 0;
}

EXPORT LONG lineClose(HLINE line) {
  std::lock_guard<std::mutex> lock(g_mutex);
  SipLine* l = LineByHandle(line);
  if (!l) return LINEERR_INVALLINEHANDLE;
  const int index = static_cast<int>(l - g_lines.data());
  l->open = 0;
  l->instance = 0;
  l->privileges = 0;
  l->devStates = 0;
  std::vector<HCALL> done;
  for (auto& [h, call] : g_calls)
    if (call->line == index) {
      call->appHolds = false;
      if (call->ended) done.push_back(h);
    }
  for (HCALL h : done) ForgetIfDone(h);
  return 0;
}

EXPORT LONG lineSetStatusMessages(HLINE line, DWORD lineStates, DWORD) {
  std::lock_guard<std::mutex> lock(g_mutex);
  SipLine* l = LineByHandle(line);
  if (!l) return LINEERR_INVALLINEHANDLE;
  l->devStates = lineStates;
  return 0;
}

EXPORT LONG lineGetDevCapsA(HLINEAPP app, DWORD device, DWORD apiVersion, DWORD, LINEDEVCAPS* caps) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_lineApp.handle) return LINEERR_INVALAPPHANDLE;
  if (device >= LineCount()) return LINEERR_BADDEVICEID;
  if (apiVersion < 0x00010003 || apiVersion > kVersion) return LINEERR_INCOMPATIBLEAPIVERSION;
  auto* h = reinterpret_cast<VARHEADER*>(caps);
  if (!h || h->dwTotalSize < sizeof(LINEDEVCAPS)) return LINEERR_STRUCTURETOOSMALL;
  const DWORD total = caps->dwTotalSize;
  std::memset(caps, 0, sizeof *caps);
  caps->dwTotalSize = total;
  caps->dwNeededSize = caps->dwUsedSize = sizeof *caps;
  caps->dwPermanentLineID = device;
  caps->dwStringFormat = STRINGFORMAT_ASCII;
  caps->dwNumAddresses = 1;
  caps->dwMediaModes = LINEMEDIAMODE_UNKNOWN | LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE;
  PutText(h, &caps->dwUsedSize, &caps->dwLineNameSize, &caps->dwLineNameOffset, g_lines[device].config.name);
  return 0;
}

EXPORT LONG lineGetNewCalls(HLINE line, DWORD, DWORD select, LINECALLLIST* list) {
  std::lock_guard<std::mutex> lock(g_mutex);
  SipLine* l = LineByHandle(line);
  if (!l) return LINEERR_INVALLINEHANDLE;
  if (select != LINECALLSELECT_LINE && select != LINECALLSELECT_ADDRESS) return LINEERR_INVALPARAM;
  if (!list || list->dwTotalSize < sizeof(LINECALLLIST)) return LINEERR_STRUCTURETOOSMALL;
  const DWORD total = list->dwTotalSize;
  std::memset(list, 0, sizeof *list);
  list->dwTotalSize = total;
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

EXPORT LONG lineAnswer(HCALL handle, const char*, DWORD) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::shared_ptr<SipCall> call;
  if (LONG error = OwnerCall(handle, &call)) return error;
  if (call->state != LINECALLSTATE_OFFERING && call->state != LINECALLSTATE_ACCEPTED) return LINEERR_INVALCALLSTATE;
  if (call->answerRequested) return LINEERR_INVALCALLSTATE;
  call->answerRequested = true;
  const LONG request = g_nextRequest++;
  RaiseLine(call->line, 0, LINE_REPLY, static_cast<uintptr_t>(request), 0, 0);
  Post([handle] { AnswerOnStack(handle); });
  return request;
}

EXPORT LONG lineDrop(HCALL handle, const char*, DWORD) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::shared_ptr<SipCall> call;
  if (LONG error = OwnerCall(handle, &call)) return error;
  if (call->state == LINECALLSTATE_IDLE) return LINEERR_INVALCALLSTATE;
  const LONG request = g_nextRequest++;
  call->dropRequested = true;
  RaiseLine(call->line, 0, LINE_REPLY, static_cast<uintptr_t>(request), 0, 0);
  // The program sees the call end at once; the BYE (or the refusal of a call still offered)
  // goes out on the worker.
  SetState(*call, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
  SetState(*call, LINECALLSTATE_IDLE);
  Post([handle] { HangUpOnStack(handle); });
  return request;
}

EXPORT LONG lineDeallocateCall(HCALL handle) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto call = CallFor(handle);
  if (!call || !call->appHolds) return LINEERR_INVALCALLHANDLE;
  if (!call->ended && (g_lines[static_cast<size_t>(call->line)].privileges & LINECALLPRIVILEGE_OWNER))
    return LINEERR_INVALCALLSTATE;
  call->appHolds = false;
  ForgetIfDone(handle);
  return 0;
}

EXPORT LONG lineMonitorDigits(HCALL handle, DWORD modes) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto call = CallFor(handle);
  if (!call || !call->appHolds) return LINEERR_INVALCALLHANDLE;
  if (modes & ~(LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND)) return LINEERR_INVALDIGITMODE;
  if (call->ended) return LINEERR_INVALCALLSTATE;
  call->monitorModes = modes;
  return 0;
}

EXPORT LONG lineGetIDA(HLINE line, DWORD addressID, HCALL handle, DWORD select, VARSTRING* id,
                       const char* deviceClass) {
  std::lock_guard<std::mutex> lock(g_mutex);
  int index = -1;
  if (select == LINECALLSELECT_CALL) {
    auto call = CallFor(handle);
    if (!call || !call->appHolds) return LINEERR_INVALCALLHANDLE;
    index = call->line;
  } else if (select == LINECALLSELECT_LINE || select == LINECALLSELECT_ADDRESS) {
    SipLine* l = LineByHandle(line);
    if (!l) return LINEERR_INVALLINEHANDLE;
    if (addressID != 0) return LINEERR_INVALADDRESSID;
    index = static_cast<int>(l - g_lines.data());
  } else {
    return LINEERR_INVALPARAM;
  }
  if (!deviceClass) return LINEERR_INVALPOINTER;
  const std::string cls = deviceClass;
  // A SIP line has wave devices but no phone with a speaker.
  if (cls != "wave/in" && cls != "wave/out" && cls != "tapi/line") return LINEERR_INVALDEVICECLASS;
  return PutDeviceID(id, static_cast<DWORD>(index), LINEERR_STRUCTURETOOSMALL);
}

EXPORT LONG lineGetNumRings(HLINE line, DWORD addressID, DWORD* rings) {
  std::lock_guard<std::mutex> lock(g_mutex);
  SipLine* l = LineByHandle(line);
  if (!l) return LINEERR_INVALLINEHANDLE;
  if (addressID != 0) return LINEERR_INVALADDRESSID;
  if (!rings) return LINEERR_INVALPOINTER;
  *rings = l->rings;
  return 0;
}

EXPORT LONG lineSetNumRings(HLINE line, DWORD addressID, DWORD rings) {
  std::lock_guard<std::mutex> lock(g_mutex);
  SipLine* l = LineByHandle(line);
  if (!l) return LINEERR_INVALLINEHANDLE;
  if (addressID != 0) return LINEERR_INVALADDRESSID;
  l->rings = rings;
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

// ---- requests -----------------------------------------------------------------------------------

// The telephony location that completes callers' numbers: as the simulated exchange has it
// (PHONESIM_LOCATION, "COUNTRY,AREA", default 1,425; empty: none), so that both providers give
// one caller the same number.
EXPORT LONG tapiGetLocationInfoA(char* countryCode, char* cityCode) {
  if (!countryCode || !cityCode) return TAPIERR_REQUESTFAILED;
  std::string country = "1", city = "425";
  if (const char* env = std::getenv("PHONESIM_LOCATION")) {
    const std::string text = env;
    if (text.empty()) return TAPIERR_REQUESTFAILED;
    const size_t comma = text.find(',');
    country = text.substr(0, comma);
    city = comma == std::string::npos ? "" : text.substr(comma + 1);
  }
  // Both buffers hold 8 bytes.
  std::snprintf(countryCode, 8, "%s", country.c_str());
  std::snprintf(cityCode, 8, "%s", city.c_str());
  return 0;
}
EXPORT LONG tapiRequestMakeCallA(const char* destAddress, const char*, const char*, const char*) {
  if (!destAddress || !*destAddress) return TAPIERR_INVALDESTADDRESS;
  return TAPIERR_NOREQUESTRECIPIENT;
}
