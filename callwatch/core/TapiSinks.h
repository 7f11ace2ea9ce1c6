#pragma once
// The listener interfaces of the telephony wrappers. Every operation has an empty default, so a
// listener overrides only what it needs; the first argument is the object that raised the event.
#include <cstdint>

#include "base/TapiDefs.h"

class CTapiLine;
class CTapiCall;
class CTapiPhone;

class ITapiLineSink {
public:
  virtual ~ITapiLineSink() = default;
  virtual void OnAddressState(CTapiLine*, DWORD addressID, DWORD addressState) {}
  virtual void OnNewCall(CTapiLine*, HCALL call, DWORD addressID, DWORD privilege) {}
  virtual void OnLineClose(CTapiLine*) {}
  virtual void OnLineDevSpecific(CTapiLine*, uintptr_t, uintptr_t, uintptr_t) {}
  virtual void OnLineReserved(CTapiLine*) {}  // never raised
  virtual void OnLineDevState(CTapiLine*, DWORD deviceState, uintptr_t param2, uintptr_t param3) {}
  virtual void OnLineReply(CTapiLine*, LONG requestID, LONG result, int kind) {}
  virtual void OnAgentSpecific(CTapiLine*, uintptr_t, uintptr_t, uintptr_t) {}
  virtual void OnAgentStatus(CTapiLine*, uintptr_t, uintptr_t, uintptr_t) {}
  virtual void OnProxyRequest(CTapiLine*, uintptr_t) {}
  virtual void OnLineRemove(CTapiLine*, uintptr_t) {}
};

class ITapiCallSink {
public:
  virtual ~ITapiCallSink() = default;
  virtual void OnCallInfo(CTapiCall*, DWORD infoState) {}
  virtual void OnCallState(CTapiCall*, DWORD state, DWORD detail, DWORD privilege) {}
  virtual void OnGatherDigits(CTapiCall*, uintptr_t) {}
  virtual void OnCallReserved(CTapiCall*) {}  // never raised
  virtual void OnMonitorDigit(CTapiCall*, char digit, DWORD digitMode) {}
  virtual void OnMonitorMedia(CTapiCall*, DWORD mediaMode) {}
  virtual void OnMonitorTone(CTapiCall*, uintptr_t toneTag) {}
  virtual void OnCallReply(CTapiCall*, LONG requestID, LONG result, int kind) {}
};

class ITapiPhoneSink {
public:
  virtual ~ITapiPhoneSink() = default;
  virtual void OnPhoneButton(CTapiPhone*, uintptr_t, uintptr_t, uintptr_t) {}
  virtual void OnPhoneClose(CTapiPhone*) {}
  virtual void OnPhoneDevSpecific(CTapiPhone*, uintptr_t, uintptr_t, uintptr_t) {}
  virtual void OnPhoneReply(CTapiPhone*, LONG requestID, LONG result) {}
  virtual void OnPhoneState(CTapiPhone*, uintptr_t state, uintptr_t detail) {}
  virtual void OnPhoneRemove(CTapiPhone*, uintptr_t) {}
};

class ITapiAppSink {
public:
  virtual ~ITapiAppSink() = default;
  virtual void OnLineCreate(DWORD deviceID) {}
  virtual void OnPhoneCreate(DWORD deviceID) {}
  virtual void OnRequest(uintptr_t, uintptr_t, uint16_t) {}
};
