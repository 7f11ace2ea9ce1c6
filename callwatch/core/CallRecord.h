#pragma once
// One entry of the call log: who called, when, how many rings and what became of the call.
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "base/TapiDefs.h"

class CTapiCall;
class CCallScreen;

struct CCallRecord {
  std::string name;
  std::string number;
  time_t startTime = 0;
  time_t endTime = 0;  // 0 while the call lasts
  uint32_t rings = 1;
  uint32_t ringsToAnswer = 0;  // 0: never answer automatically
  DWORD state = LINECALLSTATE_UNKNOWN;
  std::unique_ptr<CTapiCall> call;  // absent once the call has ended
  bool incoming = false;
  std::unique_ptr<CCallScreen> screen;  // incoming calls only, while they last

  CCallRecord();
  ~CCallRecord();
  CCallRecord(const CCallRecord&) = delete;
  CCallRecord& operator=(const CCallRecord&) = delete;

  const char* StateName() const;
};

// The name of a call state (one LINECALLSTATE_ bit); "Unknown" for anything else.
const char* CallStateName(DWORD state);
