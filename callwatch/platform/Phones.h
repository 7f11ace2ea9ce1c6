#pragma once
// The provider's phones, one per line; only line 0's has a speaker.
#include "base/TapiDefs.h"
#include "platform/Exchange.h"

EXPORT LONG phoneInitializeExA(HPHONEAPP* app, void*, PHONECALLBACK callback, const char*, DWORD* numDevs,
                               DWORD* apiVersion, PHONEINITIALIZEEXPARAMS*);
EXPORT LONG phoneNegotiateAPIVersion(HPHONEAPP app, DWORD device, DWORD low, DWORD high, DWORD* version,
                                     PHONEEXTENSIONID* extension);
EXPORT LONG phoneShutdown(HPHONEAPP app);
EXPORT LONG phoneOpen(HPHONEAPP app, DWORD device, HPHONE* phone, DWORD, DWORD, uintptr_t instance, DWORD privilege);
EXPORT LONG phoneClose(HPHONE phone);
EXPORT LONG phoneSetStatusMessages(HPHONE phone, DWORD, DWORD, DWORD);
EXPORT LONG phoneGetDevCapsA(HPHONEAPP app, DWORD device, DWORD, DWORD, PHONECAPS* caps);
EXPORT LONG phoneGetIDA(HPHONE phone, VARSTRING* id, const char* deviceClass);
EXPORT LONG phoneSetHookSwitch(HPHONE phone, DWORD devices, DWORD mode);
// The hookswitch mode of a line's phone, for tests that check the speaker was switched on.
EXPORT DWORD phonesimHookSwitchMode(DWORD line);
