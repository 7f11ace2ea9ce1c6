#include "core/Tapi.h"

#include <algorithm>

#include "core/TapiBinding.h"

namespace {

// One half of the context.
struct Half {
  DWORD app = 0;
  DWORD count = 0;
  std::vector<DWORD> versions;
  ITapiAppSink* sink = nullptr;
};
Half g_line, g_phone;

std::vector<CTapiLine*> g_lines;
std::vector<CTapiCall*> g_calls;
std::vector<CTapiPhone*> g_phones;

template <typename T>
void Unlist(std::vector<T*>& list, T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

template <typename T>
bool Listed(const std::vector<T*>& list, const T* item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

DWORD VersionOf(const Half& half, DWORD device) { return device < half.versions.size() ? half.versions[device] : 0; }

}  // namespace

// ---- context ----------------------------------------------------------------------------------

LONG CTapiContext::LineInitialize(ITapiAppSink* sink, const char* appName, void* instance) {
  if (g_line.app) return LINEERR_OPERATIONFAILED;
  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
  DWORD version = kTapiVersionHigh, count = 0;
  HLINEAPP app = 0;
  LONG result = tapi::lineInitializeExA(&app, instance, &LineCallback, appName, &count, &version, &params);
  if (result < 0) return result;
  g_line.app = app;
  g_line.sink = sink;
  g_line.count = count;
  g_line.versions.assign(count, 0);
  for (DWORD i = 0; i < count; ++i) {
    LINEEXTENSIONID extension{};
    DWORD agreed = 0;
    if (tapi::lineNegotiateAPIVersion(app, i, kTapiVersionLow, kTapiVersionHigh, &agreed, &extension) == 0)
      g_line.versions[i] = agreed;
  }
  if (count == 0) {
    LineShutdown();
    return LINEERR_OPERATIONFAILED;
  }
  return result;
}

LONG CTapiContext::LineShutdown() {
  if (!g_line.app) return LINEERR_OPERATIONFAILED;
  g_line.versions.clear();
  g_line.sink = nullptr;
  LONG result = tapi::lineShutdown(g_line.app);
  g_line = Half{};
  return result;
}

DWORD CTapiContext::LineCount() { return g_line.count; }
DWORD CTapiContext::LineVersion(DWORD device) { return VersionOf(g_line, device); }
HLINEAPP CTapiContext::LineApp() { return g_line.app; }

LONG CTapiContext::PhoneInitialize(ITapiAppSink* sink, const char* appName, void* instance) {
  if (g_phone.app) return LINEERR_OPERATIONFAILED;
  PHONEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
  DWORD version = kTapiVersionHigh, count = 0;
  HPHONEAPP app = 0;
  LONG result = tapi::phoneInitializeExA(&app, instance, &PhoneCallback, appName, &count, &version, &params);
  if (result < 0) return result;
  g_phone.app = app;
  g_phone.sink = sink;
  g_phone.count = count;
  g_phone.versions.assign(count, 0);
  for (DWORD i = 0; i < count; ++i) {
    PHONEEXTENSIONID extension{};
    DWORD agreed = 0;
    if (tapi::phoneNegotiateAPIVersion(app, i, kTapiVersionLow, kTapiVersionHigh, &agreed, &extension) == 0)
      g_phone.versions[i] = agreed;
  }
  if (count == 0) {
    PhoneShutdown();
    return LINEERR_OPERATIONFAILED;
  }
  return result;
}

LONG CTapiContext::PhoneShutdown() {
  if (!g_phone.app) return LINEERR_OPERATIONFAILED;
  g_phone.versions.clear();
  g_phone.sink = nullptr;
  LONG result = tapi::phoneShutdown(g_phone.app);
  g_phone = Half{};
  return result;
}

DWORD CTapiContext::PhoneCount() { return g_phone.count; }
DWORD CTapiContext::PhoneVersion(DWORD device) { return VersionOf(g_phone, device); }
HPHONEAPP CTapiContext::PhoneApp() { return g_phone.app; }

void CTapiContext::LineCallback(DWORD device, DWORD message, uintptr_t instance, uintptr_t param1, uintptr_t param2,
                                uintptr_t param3) {
  if (message == LINE_REQUEST) {
    if (g_line.sink) g_line.sink->OnRequest(param1, param2, static_cast<uint16_t>(param3 & 0xFFFF));
    return;
  }
  if (message == LINE_CREATE) {
    if (g_line.sink) g_line.sink->OnLineCreate(static_cast<DWORD>(param1));
    return;
  }
  auto* line = reinterpret_cast<CTapiLine*>(instance);
  // Only lines that still exist: an event may have waited in the queue while its line went.
  if (line && Listed(g_lines, const_cast<const CTapiLine*>(line)))
    line->Dispatch(device, message, param1, param2, param3);
}

void CTapiContext::PhoneCallback(DWORD, DWORD message, uintptr_t instance, uintptr_t param1, uintptr_t param2,
                                 uintptr_t param3) {
  if (message == PHONE_CREATE) {
    if (g_phone.sink) g_phone.sink->OnPhoneCreate(static_cast<DWORD>(param1));
    return;
  }
  auto* phone = reinterpret_cast<CTapiPhone*>(instance);
  if (phone && Listed(g_phones, const_cast<const CTapiPhone*>(phone))) phone->Dispatch(message, param1, param2, param3);
}

// ---- lines ------------------------------------------------------------------------------------

CTapiLine::CTapiLine() { g_lines.push_back(this); }

CTapiLine::~CTapiLine() {
  *m_alive = false;
  Close();
  Unlist(g_lines, this);
}

const std::vector<CTapiLine*>& CTapiLine::All() { return g_lines; }

LONG CTapiLine::Open(DWORD deviceID, ITapiLineSink* sink, DWORD privileges, DWORD mediaModes) {
  HLINE handle = 0;
  LONG result = tapi::lineOpenA(CTapiContext::LineApp(), deviceID, &handle, CTapiContext::LineVersion(deviceID), 0,
                                reinterpret_cast<uintptr_t>(this), privileges, mediaModes, nullptr);
  if (result < 0) {
    m_handle = 0;
    return result;
  }
  m_handle = handle;
  m_deviceID = static_cast<LONG>(deviceID);
  AddSink(sink);
  tapi::lineSetStatusMessages(m_handle, LINEDEVSTATE_ALL, LINEADDRESSSTATE_ALL);
  return result;
}

void CTapiLine::Close() {
  if (m_handle) tapi::lineClose(m_handle);
  m_pending.clear();
  for (HCALL call : m_unclaimed) tapi::lineDeallocateCall(call);
  m_unclaimed.clear();
  m_handle = 0;
  m_deviceID = -1;
}

DWORD CTapiLine::GetNumRings(DWORD addressID) {
  DWORD rings = 0;
  if (tapi::lineGetNumRings(m_handle, addressID, &rings) < 0) return 0;
  return rings;
}

LONG CTapiLine::SetNumRings(DWORD addressID, DWORD rings) { return tapi::lineSetNumRings(m_handle, addressID, rings); }

LONG CTapiLine::GetNewCalls(DWORD select, std::vector<HCALL>* calls) {
  calls->clear();
  CTapiBuffer list;
  LONG result = list.FetchNewCalls(m_handle, 0, select);
  if (result < 0) return result;
  const LINECALLLIST* fixed = list.As<LINECALLLIST>();
  if (!fixed) return LINEERR_OPERATIONFAILED;
  for (DWORD i = 0; i < fixed->dwCallsNumEntries && i < fixed->dwCallsSize / 4; ++i) {
    DWORD handle = 0;
    if (!list.WordAt(fixed->dwCallsOffset + 4 * i, &handle)) break;
    calls->push_back(handle);
  }
  return result;
}

LONG CTapiLine::GetDevCaps(CTapiBuffer* caps) {
  if (m_deviceID < 0) return LINEERR_INVALLINEHANDLE;
  const DWORD device = static_cast<DWORD>(m_deviceID);
  return caps->FetchLineDevCaps(CTapiContext::LineApp(), device, CTapiContext::LineVersion(device));
}

template <typename F>
void CTapiLine::ForEachSink(F f) {
  std::shared_ptr<bool> alive = m_alive;
  for (size_t i = 0; *alive && i < m_sinks.Slots(); ++i)
    if (ITapiLineSink* sink = m_sinks.At(i)) f(sink);
}

template <typename F>
void CTapiCall::ForEachSink(F f) {
  // A sink may end the call (an idle call is freed by its listener): stop calling at once.
  std::shared_ptr<bool> alive = m_alive;
  for (size_t i = 0; *alive && i < m_sinks.Slots(); ++i)
    if (ITapiCallSink* sink = m_sinks.At(i)) f(sink);
}

// Call messages name the call as their device; line messages the line.
void CTapiLine::Dispatch(DWORD device, DWORD message, uintptr_t p1, uintptr_t p2, uintptr_t p3) {
  const HCALL callHandle = device;
  switch (message) {
    case LINE_ADDRESSSTATE:
      ForEachSink([&](ITapiLineSink* s) { s->OnAddressState(this, DWORD(p1), DWORD(p2)); });
      break;
    case LINE_CALLINFO:
      if (CTapiCall* call = CTapiCall::Find(callHandle))
        call->ForEachSink([&](ITapiCallSink* s) { s->OnCallInfo(call, DWORD(p1)); });
      break;
    case LINE_CALLSTATE: HandleCallState(callHandle, DWORD(p1), DWORD(p2), DWORD(p3)); break;
    case LINE_CLOSE: ForEachSink([&](ITapiLineSink* s) { s->OnLineClose(this); }); break;
    case LINE_DEVSPECIFIC:
    case LINE_DEVSPECIFICFEATURE: ForEachSink([&](ITapiLineSink* s) { s->OnLineDevSpecific(this, p1, p2, p3); }); break;
    case LINE_GATHERDIGITS:
    case LINE_GENERATE:
      if (CTapiCall* call = CTapiCall::Find(callHandle))
        call->ForEachSink([&](ITapiCallSink* s) { s->OnGatherDigits(call, p1); });
      break;
    case LINE_LINEDEVSTATE: ForEachSink([&](ITapiLineSink* s) { s->OnLineDevState(this, DWORD(p1), p2, p3); }); break;
    case LINE_MONITORDIGITS:
      if (CTapiCall* call = CTapiCall::Find(callHandle))
        call->ForEachSink([&](ITapiCallSink* s) { s->OnMonitorDigit(call, static_cast<char>(p1 & 0xFF), DWORD(p2)); });
      break;
    case LINE_MONITORMEDIA:
      if (CTapiCall* call = CTapiCall::Find(callHandle))
        call->ForEachSink([&](ITapiCallSink* s) { s->OnMonitorMedia(call, DWORD(p1)); });
      break;
    case LINE_MONITORTONE:
      if (CTapiCall* call = CTapiCall::Find(callHandle))
        call->ForEachSink([&](ITapiCallSink* s) { s->OnMonitorTone(call, p1); });
      break;
    case LINE_REPLY: {
      const LONG id = static_cast<LONG>(p1), result = static_cast<LONG>(p2);
      auto it =
          std::find_if(m_pending.begin(), m_pending.end(), [&](const CPendingRequest& r) { return r.requestID == id; });
      if (it != m_pending.end()) {
        CPendingRequest request = *it;
        m_pending.erase(it);
        CTapiCall* call = request.call;
        call->ForEachSink([&](ITapiCallSink* s) { s->OnCallReply(call, id, result, request.kind); });
      } else {
        ForEachSink([&](ITapiLineSink* s) { s->OnLineReply(this, id, result, 0); });
      }
      break;
    }
    case LINE_AGENTSPECIFIC: ForEachSink([&](ITapiLineSink* s) { s->OnAgentSpecific(this, p1, p2, p3); }); break;
    case LINE_AGENTSTATUS: ForEachSink([&](ITapiLineSink* s) { s->OnAgentStatus(this, p1, p2, p3); }); break;
    case LINE_APPNEWCALL: {
      // Parameters: address ID, call handle, privilege.
      const HCALL handle = static_cast<HCALL>(p2);
      ForEachSink([&](ITapiLineSink* s) { s->OnNewCall(this, handle, DWORD(p1), DWORD(p3)); });
      if (!CTapiCall::Find(handle) && !IsUnclaimed(handle)) m_unclaimed.push_back(handle);
      break;
    }
    case LINE_PROXYREQUEST: ForEachSink([&](ITapiLineSink* s) { s->OnProxyRequest(this, p1); }); break;
    case LINE_REMOVE: ForEachSink([&](ITapiLineSink* s) { s->OnLineRemove(this, p1); }); break;
    default: break;
  }
}

void CTapiLine::HandleCallState(HCALL handle, DWORD state, DWORD detail, DWORD privilege) {
  CTapiCall* call = CTapiCall::Find(handle);
  if (!call && !IsUnclaimed(handle)) {
    // A call the line never announced: make it known through the new-call path.
    DWORD addressID = 0;
    std::vector<DWORD> fixed(sizeof(LINECALLINFO) / 4, 0);
    auto* info = reinterpret_cast<LINECALLINFO*>(fixed.data());
    info->dwTotalSize = sizeof(LINECALLINFO);
    LONG result = tapi::lineGetCallInfoA(handle, info);
    if (result == 0 || result == LINEERR_STRUCTURETOOSMALL) addressID = info->dwAddressID;
    std::shared_ptr<bool> alive = m_alive;
    ForEachSink([&](ITapiLineSink* s) { s->OnNewCall(this, handle, addressID, privilege); });
    if (!*alive) return;
    call = CTapiCall::Find(handle);
  }
  if (call) {
    call->ForEachSink([&](ITapiCallSink* s) { s->OnCallState(call, state, detail, privilege); });
    return;
  }
  if (state == LINECALLSTATE_IDLE) {
    tapi::lineDeallocateCall(handle);
    RemoveUnclaimed(handle);
  } else if (!IsUnclaimed(handle)) {
    m_unclaimed.push_back(handle);
  }
}

bool CTapiLine::IsUnclaimed(HCALL handle) const {
  return std::find(m_unclaimed.begin(), m_unclaimed.end(), handle) != m_unclaimed.end();
}

void CTapiLine::RemoveUnclaimed(HCALL handle) {
  m_unclaimed.erase(std::remove(m_unclaimed.begin(), m_unclaimed.end(), handle), m_unclaimed.end());
}

void CTapiLine::DropPendingOf(CTapiCall* call) {
  m_pending.erase(
      std::remove_if(m_pending.begin(), m_pending.end(), [&](const CPendingRequest& r) { return r.call == call; }),
      m_pending.end());
}

// ---- calls ------------------------------------------------------------------------------------

CTapiCall::CTapiCall(HCALL handle, CTapiLine* line, ITapiCallSink* sink) : m_handle(handle), m_line(line) {
  AddSink(sink);
  g_calls.push_back(this);
  if (m_line) m_line->RemoveUnclaimed(handle);
}

CTapiCall::~CTapiCall() {
  *m_alive = false;
  if (m_handle && tapi::lineDeallocateCall(m_handle) == LINEERR_INVALCALLSTATE) tapi::lineDrop(m_handle, nullptr, 0);
  if (m_line && Listed(g_lines, const_cast<const CTapiLine*>(m_line))) m_line->DropPendingOf(this);
  Unlist(g_calls, this);
}

CTapiCall* CTapiCall::Find(HCALL handle) {
  for (CTapiCall* call : g_calls)
    if (call->m_handle == handle) return call;
  return nullptr;
}

const std::vector<CTapiCall*>& CTapiCall::All() { return g_calls; }

LONG CTapiCall::Answer() {
  LONG result = tapi::lineAnswer(m_handle, nullptr, 0);
  if (result > 0 && m_line) m_line->m_pending.push_back(CPendingRequest{result, this, CPendingRequest::kAnswer});
  return result;
}

LONG CTapiCall::Drop() {
  LONG result = tapi::lineDrop(m_handle, nullptr, 0);
  if (result > 0 && m_line) m_line->m_pending.push_back(CPendingRequest{result, this, CPendingRequest::kDrop});
  return result;
}

LONG CTapiCall::Deallocate() {
  if (!m_handle) return LINEERR_INVALCALLHANDLE;
  LONG result = tapi::lineDeallocateCall(m_handle);
  if (result == 0) {
    if (m_line) m_line->DropPendingOf(this);
    m_handle = 0;
  }
  return result;
}

LONG CTapiCall::MonitorDigits(DWORD digitModes) { return tapi::lineMonitorDigits(m_handle, digitModes); }

LONG CTapiCall::GetCallInfo(CTapiBuffer* info) { return info->FetchCallInfo(m_handle); }

LONG CTapiCall::GetID(const char* deviceClass, CTapiBuffer* id) {
  return id->FetchLineID(m_line ? m_line->Handle() : 0, 0, m_handle, LINECALLSELECT_CALL, deviceClass);
}

// ---- phones -----------------------------------------------------------------------------------

CTapiPhone::CTapiPhone() { g_phones.push_back(this); }

CTapiPhone::~CTapiPhone() {
  *m_alive = false;
  Close();
  Unlist(g_phones, this);
}

const std::vector<CTapiPhone*>& CTapiPhone::All() { return g_phones; }

LONG CTapiPhone::Open(DWORD deviceID, ITapiPhoneSink* sink, DWORD privilege) {
  HPHONE handle = 0;
  LONG result = tapi::phoneOpen(CTapiContext::PhoneApp(), deviceID, &handle, CTapiContext::PhoneVersion(deviceID), 0,
                                reinterpret_cast<uintptr_t>(this), privilege);
  if (result < 0) {
    m_handle = 0;
    return result;
  }
  m_handle = handle;
  m_deviceID = static_cast<LONG>(deviceID);
  AddSink(sink);
  tapi::phoneSetStatusMessages(m_handle, PHONESTATE_ALL, 63, 15);
  return result;
}

void CTapiPhone::Close() {
  if (m_handle) tapi::phoneClose(m_handle);
  m_pending.clear();
  m_handle = 0;
  m_deviceID = -1;
}

LONG CTapiPhone::SetHookSwitch(DWORD devices, DWORD mode) {
  LONG result = tapi::phoneSetHookSwitch(m_handle, devices, mode);
  if (result > 0) m_pending.push_back(result);
  return result;
}

LONG CTapiPhone::GetDevCaps(DWORD deviceID, CTapiBuffer* caps) {
  return caps->FetchPhoneDevCaps(CTapiContext::PhoneApp(), deviceID, CTapiContext::PhoneVersion(deviceID));
}

void CTapiPhone::Dispatch(DWORD message, uintptr_t p1, uintptr_t p2, uintptr_t p3) {
  std::shared_ptr<bool> alive = m_alive;
  for (size_t i = 0; *alive && i < m_sinks.Slots(); ++i) {
    ITapiPhoneSink* s = m_sinks.At(i);
    if (!s) continue;
    switch (message) {
      case PHONE_BUTTON: s->OnPhoneButton(this, p1, p2, p3); break;
      case PHONE_CLOSE: s->OnPhoneClose(this); break;
      case PHONE_DEVSPECIFIC: s->OnPhoneDevSpecific(this, p1, p2, p3); break;
      case PHONE_REPLY: s->OnPhoneReply(this, static_cast<LONG>(p1), static_cast<LONG>(p2)); break;
      case PHONE_STATE: s->OnPhoneState(this, p1, p2); break;
      case PHONE_REMOVE: s->OnPhoneRemove(this, p1); break;
      default: break;
    }
  }
  if (message == PHONE_REPLY && *alive)
    m_pending.erase(std::remove(m_pending.begin(), m_pending.end(), static_cast<LONG>(p1)), m_pending.end());
}
