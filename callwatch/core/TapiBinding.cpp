#include "core/TapiBinding.h"

#ifndef CALLWATCH_LIBDIR
#define CALLWATCH_LIBDIR "lib"
#endif

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

const char* const kTelephonyLibraryName = "libcallwatch_telephony.so";
const char* const kSipLibraryName = "libcallwatch_sip.so";

CDelayedLibrary::~CDelayedLibrary() {
  // The provider may still have threads of its own; it stays mapped until the process ends.
}

void* CDelayedLibrary::Find(const char* name) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_found.find(name);
  if (it != m_found.end()) return it->second;
  if (!m_tried) {
    m_tried = true;
    ++m_loadAttempts;
    m_handle = ::dlopen(m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  ++m_lookups[name];
  void* address = m_handle ? ::dlsym(m_handle, name) : nullptr;
  m_found[name] = address;
  return address;
}

int CDelayedLibrary::LookupsOf(const char* name) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_lookups.find(name);
  return it == m_lookups.end() ? 0 : it->second;
}

namespace {

std::string ProgramFolder() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string p(path, static_cast<size_t>(n));
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? "." : p.substr(0, slash);
}

template <typename F>
F Bound(const char* name) {
  return reinterpret_cast<F>(TelephonyLibrary().Find(name));
}

}  // namespace

std::string TelephonyLibraryPath() {
  const char* env = std::getenv("CALLWATCH_TELEPHONY");
  // "sip" names the SIP provider, found where the simulated one is; anything else is a path.
  const bool sip = env && std::string(env) == "sip";
  if (env && *env && !sip) return env;
  const std::string name = sip ? kSipLibraryName : kTelephonyLibraryName;
  const std::string folder = ProgramFolder();
  // Beside the program, in the build tree's lib/, or where an installation keeps libraries.
  for (const std::string& path :
       {folder + "/" + name, folder + "/../lib/" + name, folder + "/../" CALLWATCH_LIBDIR "/" + name})
    if (::access(path.c_str(), R_OK) == 0) return path;
  return folder + "/../lib/" + name;
}

CDelayedLibrary& TelephonyLibrary() {
  static CDelayedLibrary library(TelephonyLibraryPath());
  return library;
}

// Each wrapper looks its function up once; a missing one gives the family's "unavailable" result.
#define LINE_CALL(name, params, args)                 \
  LONG tapi::name params {                            \
    static const name##_t f = Bound<name##_t>(#name); \
    return f ? f args : LINEERR_OPERATIONUNAVAIL;     \
  }
#define REQUEST_CALL(name, params, args)              \
  LONG tapi::name params {                            \
    static const name##_t f = Bound<name##_t>(#name); \
    return f ? f args : TAPIERR_REQUESTFAILED;        \
  }
#define WAVE_CALL(name, params, args)                 \
  MMRESULT tapi::name params {                        \
    static const name##_t f = Bound<name##_t>(#name); \
    return f ? f args : MMSYSERR_ERROR;               \
  }

LINE_CALL(lineInitializeExA,
          (HLINEAPP * a, void* b, LINECALLBACK c, const char* d, DWORD* e, DWORD* f2, LINEINITIALIZEEXPARAMS* g),
          (a, b, c, d, e, f2, g))
LINE_CALL(lineNegotiateAPIVersion, (HLINEAPP a, DWORD b, DWORD c, DWORD d, DWORD* e, LINEEXTENSIONID* f2),
          (a, b, c, d, e, f2))
LINE_CALL(lineShutdown, (HLINEAPP a), (a))
LINE_CALL(lineOpenA, (HLINEAPP a, DWORD b, HLINE* c, DWORD d, DWORD e, uintptr_t f2, DWORD g, DWORD h, const void* i),
          (a, b, c, d, e, f2, g, h, i))
LINE_CALL(lineClose, (HLINE a), (a))
LINE_CALL(lineSetStatusMessages, (HLINE a, DWORD b, DWORD c), (a, b, c))
LINE_CALL(lineGetDevCapsA, (HLINEAPP a, DWORD b, DWORD c, DWORD d, LINEDEVCAPS* e), (a, b, c, d, e))
LINE_CALL(lineGetNewCalls, (HLINE a, DWORD b, DWORD c, LINECALLLIST* d), (a, b, c, d))
LINE_CALL(lineGetCallInfoA, (HCALL a, LINECALLINFO* b), (a, b))
LINE_CALL(lineGetIDA, (HLINE a, DWORD b, HCALL c, DWORD d, VARSTRING* e, const char* f2), (a, b, c, d, e, f2))
LINE_CALL(lineGetNumRings, (HLINE a, DWORD b, DWORD* c), (a, b, c))
LINE_CALL(lineSetNumRings, (HLINE a, DWORD b, DWORD c), (a, b, c))
LINE_CALL(lineAnswer, (HCALL a, const char* b, DWORD c), (a, b, c))
LINE_CALL(lineDrop, (HCALL a, const char* b, DWORD c), (a, b, c))
LINE_CALL(lineDeallocateCall, (HCALL a), (a))
LINE_CALL(lineMonitorDigits, (HCALL a, DWORD b), (a, b))
LINE_CALL(phoneInitializeExA,
          (HPHONEAPP * a, void* b, PHONECALLBACK c, const char* d, DWORD* e, DWORD* f2, PHONEINITIALIZEEXPARAMS* g),
          (a, b, c, d, e, f2, g))
LINE_CALL(phoneNegotiateAPIVersion, (HPHONEAPP a, DWORD b, DWORD c, DWORD d, DWORD* e, PHONEEXTENSIONID* f2),
          (a, b, c, d, e, f2))
LINE_CALL(phoneShutdown, (HPHONEAPP a), (a))
LINE_CALL(phoneOpen, (HPHONEAPP a, DWORD b, HPHONE* c, DWORD d, DWORD e, uintptr_t f2, DWORD g), (a, b, c, d, e, f2, g))
LINE_CALL(phoneClose, (HPHONE a), (a))
LINE_CALL(phoneSetStatusMessages, (HPHONE a, DWORD b, DWORD c, DWORD d), (a, b, c, d))
LINE_CALL(phoneGetDevCapsA, (HPHONEAPP a, DWORD b, DWORD c, DWORD d, PHONECAPS* e), (a, b, c, d, e))
LINE_CALL(phoneGetIDA, (HPHONE a, VARSTRING* b, const char* c), (a, b, c))
LINE_CALL(phoneSetHookSwitch, (HPHONE a, DWORD b, DWORD c), (a, b, c))
REQUEST_CALL(tapiGetLocationInfoA, (char* a, char* b), (a, b))
REQUEST_CALL(tapiRequestMakeCallA, (const char* a, const char* b, const char* c, const char* d), (a, b, c, d))

WAVE_CALL(waveInOpen, (HWAVEIN * a, uint32_t b, const WAVEFORMATEX* c, uintptr_t d, uintptr_t e, uint32_t f2),
          (a, b, c, d, e, f2))
WAVE_CALL(waveInPrepareHeader, (HWAVEIN a, WAVEHDR* b, uint32_t c), (a, b, c))
WAVE_CALL(waveInAddBuffer, (HWAVEIN a, WAVEHDR* b, uint32_t c), (a, b, c))
WAVE_CALL(waveInStart, (HWAVEIN a), (a))
WAVE_CALL(waveInReset, (HWAVEIN a), (a))
WAVE_CALL(waveInUnprepareHeader, (HWAVEIN a, WAVEHDR* b, uint32_t c), (a, b, c))
WAVE_CALL(waveInClose, (HWAVEIN a), (a))
WAVE_CALL(waveOutOpen, (HWAVEOUT * a, uint32_t b, const WAVEFORMATEX* c, uintptr_t d, uintptr_t e, uint32_t f2),
          (a, b, c, d, e, f2))
WAVE_CALL(waveOutPrepareHeader, (HWAVEOUT a, WAVEHDR* b, uint32_t c), (a, b, c))
WAVE_CALL(waveOutWrite, (HWAVEOUT a, WAVEHDR* b, uint32_t c), (a, b, c))
WAVE_CALL(waveOutReset, (HWAVEOUT a), (a))
WAVE_CALL(waveOutUnprepareHeader, (HWAVEOUT a, WAVEHDR* b, uint32_t c), (a, b, c))
WAVE_CALL(waveOutClose, (HWAVEOUT a), (a))

long TapiGetLocationInfo(char* countryCode, char* cityCode) {
  return tapi::tapiGetLocationInfoA(countryCode, cityCode);
}
