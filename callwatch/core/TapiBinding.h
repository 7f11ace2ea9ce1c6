#pragma once
// Delayed binding of the telephony provider: no telephony or wave function is linked when the
// program is built. The provider library is loaded on the first call of any of them (once per
// process; a failed load is remembered) and each function is looked up by name on its first call,
// its address (or its absence) cached. When the library or a function is missing, line and phone
// functions give LINEERR_OPERATIONUNAVAIL, the two request functions TAPIERR_REQUESTFAILED and
// wave functions MMSYSERR_ERROR.
#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "base/TapiDefs.h"
#include "base/WaveDefs.h"

// One library opened by path on first need.
class CDelayedLibrary {
public:
  explicit CDelayedLibrary(std::string path) : m_path(std::move(path)) {}
  ~CDelayedLibrary();
  CDelayedLibrary(const CDelayedLibrary&) = delete;
  CDelayedLibrary& operator=(const CDelayedLibrary&) = delete;

  // The function's address, nullptr when the library or the name is missing.
  void* Find(const char* name);
  const std::string& Path() const { return m_path; }
  int LoadAttempts() const { return m_loadAttempts; }
  int LookupsOf(const char* name) const;

private:
  std::string m_path;
  mutable std::mutex m_mutex;
  bool m_tried = false;
  void* m_handle = nullptr;
  int m_loadAttempts = 0;
  std::map<std::string, void*> m_found;  // a cached nullptr is a failed lookup
  std::map<std::string, int> m_lookups;
};

// The provider's file name, and where it is looked for: $CALLWATCH_TELEPHONY, else beside the
// program, else in ../lib beside it. CALLWATCH_TELEPHONY=sip names the SIP provider, looked for
// in the same places.
extern const char* const kTelephonyLibraryName;
extern const char* const kSipLibraryName;
std::string TelephonyLibraryPath();
// The process's provider.
CDelayedLibrary& TelephonyLibrary();

// The telephony and wave functions, called through the binding.
namespace tapi {
LONG lineInitializeExA(HLINEAPP*, void*, LINECALLBACK, const char*, DWORD*, DWORD*, LINEINITIALIZEEXPARAMS*);
LONG lineNegotiateAPIVersion(HLINEAPP, DWORD, DWORD, DWORD, DWORD*, LINEEXTENSIONID*);
LONG lineShutdown(HLINEAPP);
LONG lineOpenA(HLINEAPP, DWORD, HLINE*, DWORD, DWORD, uintptr_t, DWORD, DWORD, const void*);
LONG lineClose(HLINE);
LONG lineSetStatusMessages(HLINE, DWORD, DWORD);
LONG lineGetDevCapsA(HLINEAPP, DWORD, DWORD, DWORD, LINEDEVCAPS*);
LONG lineGetNewCalls(HLINE, DWORD, DWORD, LINECALLLIST*);
LONG lineGetCallInfoA(HCALL, LINECALLINFO*);
LONG lineGetIDA(HLINE, DWORD, HCALL, DWORD, VARSTRING*, const char*);
LONG lineGetNumRings(HLINE, DWORD, DWORD*);
LONG lineSetNumRings(HLINE, DWORD, DWORD);
LONG lineAnswer(HCALL, const char*, DWORD);
LONG lineDrop(HCALL, const char*, DWORD);
LONG lineDeallocateCall(HCALL);
LONG lineMonitorDigits(HCALL, DWORD);
LONG phoneInitializeExA(HPHONEAPP*, void*, PHONECALLBACK, const char*, DWORD*, DWORD*, PHONEINITIALIZEEXPARAMS*);
LONG phoneNegotiateAPIVersion(HPHONEAPP, DWORD, DWORD, DWORD, DWORD*, PHONEEXTENSIONID*);
LONG phoneShutdown(HPHONEAPP);
LONG phoneOpen(HPHONEAPP, DWORD, HPHONE*, DWORD, DWORD, uintptr_t, DWORD);
LONG phoneClose(HPHONE);
LONG phoneSetStatusMessages(HPHONE, DWORD, DWORD, DWORD);
LONG phoneGetDevCapsA(HPHONEAPP, DWORD, DWORD, DWORD, PHONECAPS*);
LONG phoneGetIDA(HPHONE, VARSTRING*, const char*);
LONG phoneSetHookSwitch(HPHONE, DWORD, DWORD);
LONG tapiGetLocationInfoA(char*, char*);
LONG tapiRequestMakeCallA(const char*, const char*, const char*, const char*);

MMRESULT waveInOpen(HWAVEIN*, uint32_t, const WAVEFORMATEX*, uintptr_t, uintptr_t, uint32_t);
MMRESULT waveInPrepareHeader(HWAVEIN, WAVEHDR*, uint32_t);
MMRESULT waveInAddBuffer(HWAVEIN, WAVEHDR*, uint32_t);
MMRESULT waveInStart(HWAVEIN);
MMRESULT waveInReset(HWAVEIN);
MMRESULT waveInUnprepareHeader(HWAVEIN, WAVEHDR*, uint32_t);
MMRESULT waveInClose(HWAVEIN);
MMRESULT waveOutOpen(HWAVEOUT*, uint32_t, const WAVEFORMATEX*, uintptr_t, uintptr_t, uint32_t);
MMRESULT waveOutPrepareHeader(HWAVEOUT, WAVEHDR*, uint32_t);
MMRESULT waveOutWrite(HWAVEOUT, WAVEHDR*, uint32_t);
MMRESULT waveOutReset(HWAVEOUT);
MMRESULT waveOutUnprepareHeader(HWAVEOUT, WAVEHDR*, uint32_t);
MMRESULT waveOutClose(HWAVEOUT);
}  // namespace tapi

// The location lookup in the form CPhoneNumber takes.
long TapiGetLocationInfo(char* countryCode, char* cityCode);
