// The line, call and request entry points that both providers answer the same way.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "provider/Lines.h"

namespace provider {

int IndexOfOpen(HLINE h) {
  if (!h) return -1;
  for (int i = 0; i < LineCount(); ++i)
    if (LineAt(i).open == h) return i;
  return -1;
}

LONG CheckOwner(HCALL handle) {
  const Call* call = FindCall(handle);
  if (!call || !call->appHolds) return LINEERR_INVALCALLHANDLE;
  if (!(LineAt(call->line).privileges & LINECALLPRIVILEGE_OWNER)) return LINEERR_NOTOWNER;
  return 0;
}

LONG OpenLine(int index, HLINE* line, uintptr_t instance, DWORD privileges, DWORD mediaModes) {
  Line& l = LineAt(index);
  if (l.open) return kErr(0x80000001);  // LINEERR_ALLOCATED
  const DWORD known = LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;
  if (!privileges || (privileges & ~known)) return LINEERR_INVALPRIVSELECT;
  if ((privileges & LINECALLPRIVILEGE_OWNER) && (!mediaModes || (mediaModes & ~MediaModesOf(index))))
    return kErr(0x8000002F);  // LINEERR_INVALMEDIAMODE
  l.open = g_nextHandle++;
  l.instance = instance;
  l.privileges = privileges;
  *line = l.open;
  return 0;
}

void RaiseLine(int line, DWORD device, DWORD message, uintptr_t p1, uintptr_t p2, uintptr_t p3) {
  const Line& l = LineAt(line);
  if (!l.open || !g_lineApp.queue) return;
  const HLINE open = l.open;
  const uintptr_t instance = l.instance;
  const LINECALLBACK callback = g_lineApp.callback;
  const DWORD app = g_lineApp.handle;
  g_lineApp.queue->Post([=] {
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      if (g_lineApp.handle != app || line >= LineCount() || LineAt(line).open != open) return;
    }
    callback(device, message, instance, p1, p2, p3);
  });
}

}  // namespace provider

using namespace provider;

EXPORT LONG lineNegotiateAPIVersion(HLINEAPP app, DWORD device, DWORD low, DWORD high, DWORD* version,
                                    LINEEXTENSIONID* extension) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_lineApp.handle) return LINEERR_INVALAPPHANDLE;
  if (device >= static_cast<DWORD>(LineCount())) return LINEERR_BADDEVICEID;
  if (!version) return LINEERR_INVALPOINTER;
  if (low > kVersion || high < kOldestVersion) return LINEERR_INCOMPATIBLEAPIVERSION;
  *version = high < kVersion ? high : kVersion;
  if (extension) *extension = LINEEXTENSIONID{};
  return 0;
}

EXPORT LONG lineClose(HLINE line) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const int index = IndexOfOpen(line);
  if (index < 0) return LINEERR_INVALLINEHANDLE;
  Line& l = LineAt(index);
  l.open = 0;
  l.instance = 0;
  l.privileges = 0;
  l.devStates = 0;
  std::vector<HCALL> done;
  ForEachCall([&](Call& call) {
    if (call.line == index) {
      call.appHolds = false;
      if (call.ended) done.push_back(call.handle);
    }
  });
  for (HCALL h : done) ForgetIfDone(h);
  AppLetGo();
  return 0;
}

EXPORT LONG lineGetDevCapsA(HLINEAPP app, DWORD device, DWORD apiVersion, DWORD, LINEDEVCAPS* caps) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_lineApp.handle) return LINEERR_INVALAPPHANDLE;
  if (device >= static_cast<DWORD>(LineCount())) return LINEERR_BADDEVICEID;
  if (apiVersion < kOldestVersion || apiVersion > kVersion) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (!ClearFixed(caps)) return LINEERR_STRUCTURETOOSMALL;
  caps->dwNeededSize = caps->dwUsedSize = sizeof *caps;
  caps->dwPermanentLineID = device;
  caps->dwStringFormat = STRINGFORMAT_ASCII;
  caps->dwNumAddresses = 1;
  caps->dwMediaModes = MediaModesOf(static_cast<int>(device));
  PutText(reinterpret_cast<VARHEADER*>(caps), &caps->dwUsedSize, &caps->dwLineNameSize, &caps->dwLineNameOffset,
          NameOf(static_cast<int>(device)));
  return 0;
}

EXPORT LONG lineSetStatusMessages(HLINE line, DWORD lineStates, DWORD) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const int index = IndexOfOpen(line);
  if (index < 0) return LINEERR_INVALLINEHANDLE;
  LineAt(index).devStates = lineStates;
  return 0;
}

// The owning program's requests on a call it holds; the reply and the new states follow as events.
EXPORT LONG lineAnswer(HCALL handle, const char*, DWORD) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (LONG error = CheckOwner(handle)) return error;
  Call& call = *FindCall(handle);
  if (call.state != LINECALLSTATE_OFFERING && call.state != LINECALLSTATE_ACCEPTED) return LINEERR_INVALCALLSTATE;
  if (!StartAnswer(call)) return LINEERR_INVALCALLSTATE;
  const LONG request = g_nextRequest++;
  RaiseLine(call.line, 0, LINE_REPLY, static_cast<uintptr_t>(request), 0, 0);
  Answer(call);
  return request;
}

EXPORT LONG lineDrop(HCALL handle, const char*, DWORD) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (LONG error = CheckOwner(handle)) return error;
  Call& call = *FindCall(handle);
  if (call.state == LINECALLSTATE_IDLE) return LINEERR_INVALCALLSTATE;
  const LONG request = g_nextRequest++;
  call.dropRequested = true;
  RaiseLine(call.line, 0, LINE_REPLY, static_cast<uintptr_t>(request), 0, 0);
  Drop(call);
  return request;
}

EXPORT LONG lineDeallocateCall(HCALL handle) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Call* call = FindCall(handle);
  if (!call || !call->appHolds) return LINEERR_INVALCALLHANDLE;
  // The only owner may not let go of a call that is still up.
  if (!call->ended && (LineAt(call->line).privileges & LINECALLPRIVILEGE_OWNER)) return LINEERR_INVALCALLSTATE;
  call->appHolds = false;
  ForgetIfDone(handle);
  AppLetGo();
  return 0;
}

EXPORT LONG lineMonitorDigits(HCALL handle, DWORD modes) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Call* call = FindCall(handle);
  if (!call || !call->appHolds) return LINEERR_INVALCALLHANDLE;
  if (modes & ~(LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND))
    return kErr(0x80000029);  // LINEERR_INVALDIGITMODE
  if (call->ended) return LINEERR_INVALCALLSTATE;
  call->monitorModes = modes;
  return 0;
}

EXPORT LONG lineGetIDA(HLINE line, DWORD addressID, HCALL handle, DWORD select, VARSTRING* id,
                       const char* deviceClass) {
  std::lock_guard<std::mutex> lock(g_mutex);
  int index = -1;
  if (select == LINECALLSELECT_CALL) {
    const Call* call = FindCall(handle);
    if (!call || !call->appHolds) return LINEERR_INVALCALLHANDLE;
    index = call->line;
  } else if (select == LINECALLSELECT_LINE || select == LINECALLSELECT_ADDRESS) {
    index = IndexOfOpen(line);
    if (index < 0) return LINEERR_INVALLINEHANDLE;
    if (addressID != 0) return LINEERR_INVALADDRESSID;
  } else {
    return LINEERR_INVALPARAM;
  }
  if (!deviceClass) return LINEERR_INVALPOINTER;
  const std::string cls = deviceClass;
  if (cls != "wave/in" && cls != "wave/out" && cls != "tapi/line" && !(cls == "tapi/phone" && LinesHavePhones()))
    return LINEERR_INVALDEVICECLASS;
  // Each line has one wave input, one wave output and perhaps one phone, numbered as the line is.
  return PutDeviceID(id, static_cast<DWORD>(index), LINEERR_STRUCTURETOOSMALL);
}

EXPORT LONG lineGetNumRings(HLINE line, DWORD addressID, DWORD* rings) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const int index = IndexOfOpen(line);
  if (index < 0) return LINEERR_INVALLINEHANDLE;
  if (addressID != 0) return LINEERR_INVALADDRESSID;
  if (!rings) return LINEERR_INVALPOINTER;
  *rings = LineAt(index).rings;
  return 0;
}

EXPORT LONG lineSetNumRings(HLINE line, DWORD addressID, DWORD rings) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const int index = IndexOfOpen(line);
  if (index < 0) return LINEERR_INVALLINEHANDLE;
  if (addressID != 0) return LINEERR_INVALADDRESSID;
  LineAt(index).rings = rings;
  return 0;
}

// ---- requests -----------------------------------------------------------------------------------

// The telephony location that completes callers' numbers (PHONESIM_LOCATION, "COUNTRY,AREA",
// default 1,425; empty: none), the same for both providers, so that both give one caller the same
// number.
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

// Neither provider has a dialler.
EXPORT LONG tapiRequestMakeCallA(const char* destAddress, const char*, const char*, const char*) {
  if (!destAddress || !*destAddress) return TAPIERR_INVALDESTADDRESS;
  return TAPIERR_NOREQUESTRECIPIENT;
}
