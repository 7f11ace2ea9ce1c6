#pragma once
// The simulated exchange's line devices: the line half's initialization and shutdown, opening
// lines, their capabilities and calls (the rest of the line API is shared: provider/Lines.h).
#include "base/TapiDefs.h"
#include "platform/Exchange.h"

EXPORT LONG lineInitializeExA(HLINEAPP* app, void*, LINECALLBACK callback, const char*, DWORD* numDevs,
                              DWORD* apiVersion, LINEINITIALIZEEXPARAMS* params);
EXPORT LONG lineShutdown(HLINEAPP app);
EXPORT LONG lineOpenA(HLINEAPP app, DWORD device, HLINE* line, DWORD apiVersion, DWORD, uintptr_t instance,
                      DWORD privileges, DWORD mediaModes, const void*);
EXPORT LONG lineGetNewCalls(HLINE line, DWORD, DWORD select, LINECALLLIST* list);
