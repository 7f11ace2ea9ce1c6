#pragma once
// The line half both providers share: a line and a call as the program sees them, and the line
// API's entry points that check and answer the same way in both (LineApi.cpp). Each provider keeps
// its lines and calls in its own tables, with more of its own, and lends them through the hooks.
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "provider/Provider.h"

namespace provider {

constexpr DWORD kAllMediaModes = LINEMEDIAMODE_UNKNOWN | LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_AUTOMATEDVOICE;

struct Line {
  HLINE open = 0;
  uintptr_t instance = 0;
  DWORD privileges = 0;
  DWORD devStates = 0;
  DWORD rings = 0;
};

struct Call {
  HCALL handle = 0;
  int line = 0;
  DWORD state = LINECALLSTATE_IDLE;
  DWORD callerFlags = LINECALLPARTYID_UNKNOWN;
  std::string name, number;
  bool ended = false;     // reached IDLE
  bool appHolds = false;  // the program has the handle and has not deallocated it
  bool dropRequested = false;
  DWORD monitorModes = 0;
};

// A provider's calls by handle, and the call hooks below over such a table: each provider's
// FindCall, ForEachCall and ForgetIfDone hand it theirs.
template <class CallT>
using CallTable = std::map<HCALL, std::shared_ptr<CallT>>;

template <class CallT>
Call* FindIn(CallTable<CallT>& calls, HCALL h) {
  auto it = calls.find(h);
  return it == calls.end() ? nullptr : it->second.get();
}

template <class CallT>
void ForEachIn(CallTable<CallT>& calls, const std::function<void(Call&)>& visit) {
  for (auto& [h, call] : calls) visit(*call);
}

// Forgets h's call once it ended and the program let go of it, unless held says it is kept yet.
template <class CallT>
void ForgetIfDoneIn(CallTable<CallT>& calls, HCALL h, bool (*held)(const CallT&) = nullptr) {
  auto it = calls.find(h);
  if (it != calls.end() && it->second->ended && !it->second->appHolds && !(held && held(*it->second))) calls.erase(it);
}

// ---- hooks each provider defines, called with g_mutex held ----
int LineCount();
Line& LineAt(int index);
Call* FindCall(HCALL h);  // nullptr when none
void ForEachCall(const std::function<void(Call&)>& visit);
// Forgets a call that ended and that nobody holds any more.
void ForgetIfDone(HCALL h);
// The program let go of a line or a call (the simulated exchange's scripts wait on that).
void AppLetGo();
// Whether each line has a phone device ("tapi/phone").
bool LinesHavePhones();
// What a line offers: its media modes and its name.
DWORD MediaModesOf(int line);
std::string NameOf(int line);
// The program's answer (after any refusal) and drop of a call, once the reply is posted; the new
// states follow as events. StartAnswer may refuse (false) an answer already on its way.
bool StartAnswer(Call& call);
void Answer(Call& call);
void Drop(Call& call);

// ---- shared, called with g_mutex held ----
// The index of the line open under h, -1 when none.
int IndexOfOpen(HLINE h);
// Whether the owning program may act on a call it holds: 0, or the error to return.
LONG CheckOwner(HCALL handle);
// Opens line `index` for the program, after the checks that the line may be opened: taken,
// privileges, media modes.
LONG OpenLine(int index, HLINE* line, uintptr_t instance, DWORD privileges, DWORD mediaModes);
// Posts a line event; at delivery it is dropped when the line closed meanwhile.
void RaiseLine(int line, DWORD device, DWORD message, uintptr_t p1, uintptr_t p2, uintptr_t p3);

}  // namespace provider

// The entry points both providers answer the same way (LineApi.cpp).
EXPORT LONG lineNegotiateAPIVersion(HLINEAPP app, DWORD device, DWORD low, DWORD high, DWORD* version,
                                    LINEEXTENSIONID* extension);
EXPORT LONG lineClose(HLINE line);
EXPORT LONG lineGetDevCapsA(HLINEAPP app, DWORD device, DWORD apiVersion, DWORD, LINEDEVCAPS* caps);
EXPORT LONG lineAnswer(HCALL handle, const char*, DWORD);
EXPORT LONG lineDrop(HCALL handle, const char*, DWORD);
EXPORT LONG lineSetStatusMessages(HLINE line, DWORD lineStates, DWORD);
EXPORT LONG lineDeallocateCall(HCALL handle);
EXPORT LONG lineMonitorDigits(HCALL handle, DWORD modes);
EXPORT LONG lineGetIDA(HLINE line, DWORD addressID, HCALL handle, DWORD select, VARSTRING* id, const char* deviceClass);
EXPORT LONG lineGetNumRings(HLINE line, DWORD addressID, DWORD* rings);
EXPORT LONG lineSetNumRings(HLINE line, DWORD addressID, DWORD rings);
EXPORT LONG tapiGetLocationInfoA(char* countryCode, char* cityCode);
EXPORT LONG tapiRequestMakeCallA(const char* destAddress, const char*, const char*, const char*);
