#include "platform/Phones.h"

#include <cstring>
#include <string>

using namespace phonesim;

EXPORT LONG phoneInitializeExA(HPHONEAPP* app, void*, PHONECALLBACK callback, const char*, DWORD* numDevs,
                               DWORD* apiVersion, PHONEINITIALIZEEXPARAMS*) {
  if (!app || !callback || !numDevs || !apiVersion) return LINEERR_INVALPOINTER;
  std::lock_guard<std::mutex> lock(g_mutex);
  Configure();
  if (g_phoneApp.handle) return PHONEERR_OPERATIONFAILED;
  g_phoneApp = App{g_nextHandle++, callback, CMessageQueue::ForThisThread()};
  *app = g_phoneApp.handle;
  *numDevs = static_cast<DWORD>(g_lineCount);
  *apiVersion = kVersion;
  return 0;
}

EXPORT LONG phoneNegotiateAPIVersion(HPHONEAPP app, DWORD device, DWORD low, DWORD high, DWORD* version,
                                     PHONEEXTENSIONID* extension) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_phoneApp.handle) return kErr(0x90000011);  // PHONEERR_INVALAPPHANDLE
  if (device >= static_cast<DWORD>(g_lineCount)) return PHONEERR_BADDEVICEID;
  if (!version) return LINEERR_INVALPOINTER;
  if (low > kVersion || high < kOldestVersion) return kErr(0x9000000C);
  *version = high < kVersion ? high : kVersion;
  if (extension) *extension = PHONEEXTENSIONID{};
  return 0;
}

EXPORT LONG phoneShutdown(HPHONEAPP app) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_phoneApp.handle) return kErr(0x90000011);
  for (auto& l : g_lines) {
    l.phoneOpen = 0;
    l.hookMode = PHONEHOOKSWITCHMODE_ONHOOK;
  }
  g_phoneApp = App{};
  return 0;
}

EXPORT LONG phoneOpen(HPHONEAPP app, DWORD device, HPHONE* phone, DWORD, DWORD, uintptr_t instance, DWORD privilege) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_phoneApp.handle) return kErr(0x90000011);
  if (device >= static_cast<DWORD>(g_lineCount)) return PHONEERR_BADDEVICEID;
  if (!phone) return LINEERR_INVALPOINTER;
  if (privilege != PHONEPRIVILEGE_OWNER && privilege != PHONEPRIVILEGE_MONITOR) return PHONEERR_INVALPRIVILEGE;
  SimLine& l = g_lines[device];
  if (l.phoneOpen) return kErr(0x90000001);  // PHONEERR_ALLOCATED
  l.phoneOpen = g_nextHandle++;
  l.phoneInstance = instance;
  *phone = l.phoneOpen;
  return 0;
}

EXPORT LONG phoneClose(HPHONE phone) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto& l : g_lines)
    if (phone && l.phoneOpen == phone) {
      l.phoneOpen = 0;
      l.hookMode = PHONEHOOKSWITCHMODE_ONHOOK;
      return 0;
    }
  return PHONEERR_INVALPHONEHANDLE;
}

EXPORT LONG phoneSetStatusMessages(HPHONE phone, DWORD, DWORD, DWORD) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto& l : g_lines)
    if (phone && l.phoneOpen == phone) return 0;
  return PHONEERR_INVALPHONEHANDLE;
}

EXPORT LONG phoneGetDevCapsA(HPHONEAPP app, DWORD device, DWORD, DWORD, PHONECAPS* caps) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_phoneApp.handle) return kErr(0x90000011);
  if (device >= static_cast<DWORD>(g_lineCount)) return PHONEERR_BADDEVICEID;
  if (!ClearFixed(caps)) return PHONEERR_STRUCTURETOOSMALL;
  caps->dwNeededSize = caps->dwUsedSize = sizeof *caps;
  caps->dwStringFormat = STRINGFORMAT_ASCII;
  caps->dwHookSwitchDevs =
      PHONEHOOKSWITCHDEV_HANDSET | (g_lines[device].hasSpeaker ? DWORD{PHONEHOOKSWITCHDEV_SPEAKER} : DWORD{0});
  caps->dwHandsetHookSwitchModes = PHONEHOOKSWITCHMODE_ONHOOK | PHONEHOOKSWITCHMODE_MICSPEAKER;
  caps->dwSpeakerHookSwitchModes =
      g_lines[device].hasSpeaker ? (PHONEHOOKSWITCHMODE_ONHOOK | PHONEHOOKSWITCHMODE_MICSPEAKER) : 0;
  PutText(reinterpret_cast<VARHEADER*>(caps), &caps->dwUsedSize, &caps->dwPhoneNameSize, &caps->dwPhoneNameOffset,
          "Simulated phone " + std::to_string(device));
  return 0;
}

EXPORT LONG phoneGetIDA(HPHONE phone, VARSTRING* id, const char* deviceClass) {
  std::lock_guard<std::mutex> lock(g_mutex);
  int index = -1;
  for (size_t i = 0; i < g_lines.size(); ++i)
    if (phone && g_lines[i].phoneOpen == phone) index = static_cast<int>(i);
  if (index < 0) return PHONEERR_INVALPHONEHANDLE;
  if (!deviceClass || std::string(deviceClass) != "tapi/line") return kErr(0x90000012);
  return PutDeviceID(id, static_cast<DWORD>(index), PHONEERR_STRUCTURETOOSMALL);
}

EXPORT LONG phoneSetHookSwitch(HPHONE phone, DWORD devices, DWORD mode) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (size_t i = 0; i < g_lines.size(); ++i) {
    SimLine& l = g_lines[i];
    if (!phone || l.phoneOpen != phone) continue;
    if ((devices & PHONEHOOKSWITCHDEV_SPEAKER) && !l.hasSpeaker) return PHONEERR_INVALHOOKSWITCHMODE;
    if (mode & (mode - 1)) return PHONEERR_INVALHOOKSWITCHMODE;
    const LONG request = g_nextRequest++;
    l.hookMode = mode;
    RaisePhone(static_cast<int>(i), PHONE_REPLY, static_cast<uintptr_t>(request), 0, 0);
    g_changed.notify_all();
    return request;
  }
  return PHONEERR_INVALPHONEHANDLE;
}

EXPORT DWORD phonesimHookSwitchMode(DWORD line) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return line < g_lines.size() ? g_lines[line].hookMode : 0;
}
