#pragma once
// The provider's line devices: the line half's initialization and shutdown, opening and closing
// lines, their capabilities, calls, device IDs and ring counts.
#include "base/TapiDefs.h"
#include "platform/Exchange.h"

EXPORT LONG lineInitializeExA(HLINEAPP* app, void*, LINECALLBACK callback, const char*, DWORD* numDevs,
                              DWORD* apiVersion, LINEINITIALIZEEXPARAMS* params);
EXPORT LONG lineNegotiateAPIVersion(HLINEAPP app, DWORD device, DWORD low, DWORD high, DWORD* version,
                                    LINEEXTENSIONID* extension);
EXPORT LONG lineShutdown(HLINEAPP app);
EXPORT LONG lineOpenA(HLINEAPP app, DWORD device, HLINE* line, DWORD apiVersion, DWORD, uintptr_t instance,
                      DWORD privileges, DWORD mediaModes, const void*);
EXPORT LONG lineClose(HLINE line);
EXPORT LONG lineSetStatusMessages(HLINE line, DWORD lineStates, DWORD);
EXPORT LONG lineGetDevCapsA(HLINEAPP app, DWORD device, DWORD apiVersion, DWORD, LINEDEVCAPS* caps);
EXPORT LONG lineGetNewCalls(HLINE line, DWORD, DWORD select, LINECALLLIST* list);
EXPORT LONG lineGetIDA(HLINE line, DWORD addressID, HCALL handle, DWORD select, VARSTRING* id, const char* deviceClass);
EXPORT LONG lineGetNumRings(HLINE line, DWORD addressID, DWORD* rings);
EXPORT LONG lineSetNumRings(HLINE line, DWORD addressID, DWORD rings);
