#include "core/CallRecord.h"

#include "core/CallScreen.h"
#include "core/Tapi.h"

namespace {
const char* const kStateNames[16] = {"Over",
                                     "Offering",
                                     "Accepted",
                                     "Dial Tone",
                                     "Dialing",
                                     "Ringing",
                                     "Busy",
                                     "Special Info",
                                     "Connect",
                                     "Proceeding",
                                     "On Hold",
                                     "Conferenced",
                                     "On Hold Pending Conference",
                                     "On Hold Pending Transfer",
                                     "Disconnected",
                                     "Unknown"};
}

CCallRecord::CCallRecord() = default;

CCallRecord::~CCallRecord() {
  // The screen listens to the call: it goes first.
  screen.reset();
  call.reset();
}

const char* CCallRecord::StateName() const { return CallStateName(state); }

const char* CallStateName(DWORD state) {
  // Only a single set bit names a state.
  if (state == 0 || (state & (state - 1)) != 0 || state > 0x8000) return kStateNames[15];
  int bit = 0;
  while (!(state & (1u << bit))) ++bit;
  return kStateNames[bit];
}
