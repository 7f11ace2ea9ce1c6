#include "core/CallMonitor.h"

#include <ctime>

#include "core/PhoneNumber.h"

namespace {

bool IsIncomingOrigin(DWORD origin) {
  switch (origin) {
    case LINECALLORIGIN_INTERNAL:
    case LINECALLORIGIN_EXTERNAL:
    case LINECALLORIGIN_UNKNOWN:
    case LINECALLORIGIN_UNAVAIL:
    case LINECALLORIGIN_INBOUND: return true;
    default: return false;
  }
}

std::string OrUnknown(const std::string& text) { return text.empty() ? "<unknown>" : text; }

}  // namespace

void CallerFromInfo(const CTapiBuffer& info, std::string* name, std::string* number) {
  const LINECALLINFO* ci = info.As<LINECALLINFO>();
  if (!ci) {
    name->clear();
    number->clear();
    return;
  }
  const DWORD flags = ci->dwCallerIDFlags;
  const char* placeholder = nullptr;
  if (flags & LINECALLPARTYID_BLOCKED) placeholder = "<blocked>";
  else if (flags & LINECALLPARTYID_OUTOFAREA) placeholder = "<out of area>";
  else if (flags & LINECALLPARTYID_UNKNOWN) placeholder = "<unknown>";
  else if (flags & LINECALLPARTYID_UNAVAIL) placeholder = "<unavailable>";
  if (placeholder) {
    *name = *number = placeholder;
    return;
  }
  *name = info.TextAt(ci->dwCallerIDNameOffset, ci->dwCallerIDNameSize);
  CPhoneNumber phone;
  phone.SetFromText(info.TextAt(ci->dwCallerIDOffset, ci->dwCallerIDSize).c_str());
  *number = phone.GetCanonical().value_or("<unknown>");
}

CCallMonitor::CCallMonitor(ICallLogView* view, CCallScreenSetup& setup) : m_view(view), m_setup(setup) {}

CCallMonitor::~CCallMonitor() {
  const time_t now = std::time(nullptr);
  for (auto& record : m_records) {
    if (!record->endTime) record->endTime = now;
    record->screen.reset();
    record->call.reset();
  }
  if (m_timer && m_view) m_view->RefreshTimer(false);
  m_timer = false;
  m_lines.clear();
}

void CCallMonitor::OpenAllLines() {
  const DWORD count = CTapiContext::LineCount();
  for (DWORD i = 0; i < count; ++i) m_lines.push_back(std::make_unique<CTapiLine>());
  for (DWORD i = 0; i < count; ++i) {
    CTapiLine& line = *m_lines[i];
    if (line.Open(i, this, LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR,
                  LINEMEDIAMODE_UNKNOWN | LINEMEDIAMODE_AUTOMATEDVOICE) < 0)
      line.Open(i, this, LINECALLPRIVILEGE_MONITOR, LINEMEDIAMODE_INTERACTIVEVOICE);
    if (!line.IsOpen()) continue;
    std::vector<HCALL> calls;
    if (line.GetNewCalls(LINECALLSELECT_LINE, &calls) >= 0)
      for (HCALL call : calls) OnNewCall(&line, call, 0, 0);
  }
}

void CCallMonitor::ApplyRings(int rings) {
  for (auto& line : m_lines) {
    if (!line->IsOpen()) continue;
    CTapiBuffer caps;
    if (line->GetDevCaps(&caps) < 0) continue;
    const LINEDEVCAPS* dc = caps.As<LINEDEVCAPS>();
    if (!dc) continue;
    for (DWORD address = 0; address < dc->dwNumAddresses; ++address)
      line->SetNumRings(address, static_cast<DWORD>(rings));
  }
}

CCallRecord* CCallMonitor::RecordOf(const CTapiCall* call) const {
  for (auto& record : m_records)
    if (call && record->call.get() == call) return record.get();
  return nullptr;
}

void CCallMonitor::OnNewCall(CTapiLine* line, HCALL handle, DWORD, DWORD) {
  if (CTapiCall::Find(handle)) return;  // already known (announced twice)
  CTapiBuffer info;
  const bool haveInfo = info.FetchCallInfo(handle) >= 0 && info.As<LINECALLINFO>();
  std::string name, number;
  bool incoming = false;
  if (haveInfo) {
    const LINECALLINFO* ci = info.As<LINECALLINFO>();
    if (ci->dwOrigin == LINECALLORIGIN_OUTBOUND) {
      name = OrUnknown(info.TextAt(ci->dwCalledPartyOffset, ci->dwCalledPartySize));
      number = OrUnknown(info.TextAt(ci->dwDisplayableAddressOffset, ci->dwDisplayableAddressSize));
    } else {
      incoming = IsIncomingOrigin(ci->dwOrigin);
      CallerFromInfo(info, &name, &number);
    }
  }
  auto record = std::make_unique<CCallRecord>();
  record->call = std::make_unique<CTapiCall>(handle, line, this);
  record->name = name;
  record->number = number;
  record->startTime = std::time(nullptr);
  record->incoming = incoming;
  if (incoming) {
    record->screen = std::make_unique<CCallScreen>(record->call.get(), name, number,
                                                   m_view ? m_view->MakeScreenView(record.get()) : nullptr, m_setup);
    record->ringsToAnswer = line->GetNumRings(info.As<LINECALLINFO>()->dwAddressID);
  }
  m_records.push_back(std::move(record));
  if (m_view) m_view->RecordAdded(m_records.back().get());
  if (++m_activeCalls == 1) {
    m_timer = true;
    if (m_view) m_view->RefreshTimer(true);
  }
}

void CCallMonitor::OnLineDevState(CTapiLine* line, DWORD deviceState, uintptr_t, uintptr_t ringCount) {
  if (deviceState != LINEDEVSTATE_RINGING) return;
  for (auto& r : m_records) {
    if (!r->call || r->call->GetLine() != line) continue;
    r->state = LINECALLSTATE_RINGBACK;
    r->rings = static_cast<uint32_t>(ringCount);
    if (m_view) m_view->RecordChanged(r.get());
    // Answered once: rings that were on their way meanwhile do not answer again.
    // Without a folder to keep messages in, no call is taken as a message call.
    if (m_setup.takesMessages && r->ringsToAnswer != 0 && r->rings >= r->ringsToAnswer && r->screen &&
        r->screen->GetMode() == CCallScreen::kNoChoice)
      r->screen->TakeMessage();
    return;
  }
}

void CCallMonitor::OnCallInfo(CTapiCall* call, DWORD infoState) {
  if (!(infoState & LINECALLINFOSTATE_CALLERID)) return;
  CCallRecord* r = RecordOf(call);
  if (!r) return;
  CTapiBuffer info;
  if (call->GetCallInfo(&info) < 0 || !info.As<LINECALLINFO>()) return;
  CallerFromInfo(info, &r->name, &r->number);
  if (r->screen) r->screen->SetCaller(r->name, r->number);
  if (m_view) m_view->RecordChanged(r);
}

void CCallMonitor::OnCallState(CTapiCall* call, DWORD state, DWORD, DWORD) {
  CCallRecord* r = RecordOf(call);
  if (!r) return;
  r->state = state;
  if (state == LINECALLSTATE_IDLE) {
    Finish(*r);
  } else if (state == LINECALLSTATE_RINGBACK) {
    ++r->rings;
  } else if (state == LINECALLSTATE_DISCONNECTED) {
    call->Drop();
  }
  if (m_view) m_view->RecordChanged(r);
}

void CCallMonitor::Finish(CCallRecord& record) {
  record.endTime = std::time(nullptr);
  record.screen.reset();
  record.call.reset();
  if (m_activeCalls > 0 && --m_activeCalls == 0) {
    m_timer = false;
    if (m_view) m_view->RefreshTimer(false);
  }
}
