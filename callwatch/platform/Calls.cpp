#include "platform/Calls.h"

#include <cstring>

using namespace phonesim;

EXPORT LONG lineGetCallInfoA(HCALL handle, LINECALLINFO* info) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto call = CallFor(handle);
  if (!call || !call->appHolds) return LINEERR_INVALCALLHANDLE;
  auto* h = reinterpret_cast<VARHEADER*>(info);
  if (!h) return LINEERR_INVALPOINTER;
  const DWORD total = h->dwTotalSize;
  if (total < sizeof(LINECALLINFO)) {
    h->dwNeededSize = sizeof(LINECALLINFO) + 256;
    return LINEERR_STRUCTURETOOSMALL;
  }
  std::memset(info, 0, sizeof *info);
  info->dwTotalSize = total;
  info->dwNeededSize = info->dwUsedSize = sizeof *info;
  info->hLine = g_lines[call->line].open;
  info->dwLineDeviceID = static_cast<DWORD>(call->line);
  info->dwAddressID = 0;
  info->dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
  info->dwCallID = call->handle;
  info->dwCallStates = 0xFFFF;
  info->dwMonitorDigitModes = call->monitorModes;
  info->dwOrigin = call->origin;
  info->dwCallerIDFlags = call->callerFlags;
  DWORD* used = &info->dwUsedSize;
  if (call->origin == LINECALLORIGIN_OUTBOUND) {
    if (!call->name.empty()) PutText(h, used, &info->dwCalledPartySize, &info->dwCalledPartyOffset, call->name);
    if (!call->number.empty())
      PutText(h, used, &info->dwDisplayableAddressSize, &info->dwDisplayableAddressOffset, call->number);
  } else {
    if (call->callerFlags & LINECALLPARTYID_ADDRESS)
      PutText(h, used, &info->dwCallerIDSize, &info->dwCallerIDOffset, call->number);
    if (call->callerFlags & LINECALLPARTYID_NAME)
      PutText(h, used, &info->dwCallerIDNameSize, &info->dwCallerIDNameOffset, call->name);
  }
  return 0;
}
