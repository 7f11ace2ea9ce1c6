#include "platform/Lines.h"

#include <cstring>
#include <string>

#include "platform/ControlServer.h"

using namespace phonesim;

EXPORT LONG lineInitializeExA(HLINEAPP* app, void*, LINECALLBACK callback, const char*, DWORD* numDevs,
                              DWORD* apiVersion, LINEINITIALIZEEXPARAMS* params) {
  if (!app || !callback || !numDevs || !apiVersion) return LINEERR_INVALPOINTER;
  if (params && params->dwTotalSize < sizeof(LINEINITIALIZEEXPARAMS)) return LINEERR_STRUCTURETOOSMALL;
  bool startServer = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_lineApp.handle) return LINEERR_OPERATIONFAILED;  // one program at a time
    Configure(true);
    g_lineApp = App{g_nextHandle++, callback, CMessageQueue::ForThisThread()};
    *app = g_lineApp.handle;
    *numDevs = static_cast<DWORD>(g_lineCount);
    *apiVersion = kVersion;
    startServer = !g_serverRunning;
    g_serverRunning = true;
  }
  if (startServer && !TheControlServer().Start()) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_serverRunning = false;
  }
  return 0;
}

EXPORT LONG lineShutdown(HLINEAPP app) {
  bool stopServer = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!app || app != g_lineApp.handle) return LINEERR_INVALAPPHANDLE;
    for (auto& l : g_lines) {
      l.open = 0;
      l.instance = 0;
      l.privileges = 0;
      l.devStates = 0;
    }
    for (auto& [h, call] : g_calls) call->appHolds = false;
    g_lineApp = App{};
    stopServer = g_serverRunning;
    g_serverRunning = false;
    g_changed.notify_all();
  }
  // Calls still placed end with the program: their scripts see the provider stop.
  if (stopServer) TheControlServer().Stop();
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto it = g_calls.begin(); it != g_calls.end();) it = it->second->ended ? g_calls.erase(it) : std::next(it);
  return 0;
}

EXPORT LONG lineOpenA(HLINEAPP app, DWORD device, HLINE* line, DWORD apiVersion, DWORD, uintptr_t instance,
                      DWORD privileges, DWORD mediaModes, const void*) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_lineApp.handle) return LINEERR_INVALAPPHANDLE;
  if (device >= static_cast<DWORD>(g_lineCount)) return LINEERR_BADDEVICEID;
  if (!line) return LINEERR_INVALPOINTER;
  if (apiVersion < kOldestVersion || apiVersion > kVersion) return LINEERR_INCOMPATIBLEAPIVERSION;
  return OpenLine(static_cast<int>(device), line, instance, privileges, mediaModes);
}

EXPORT LONG lineGetNewCalls(HLINE line, DWORD, DWORD select, LINECALLLIST* list) {
  std::lock_guard<std::mutex> lock(g_mutex);
  SimLine* l = LineByHandle(line);
  if (!l) return LINEERR_INVALLINEHANDLE;
  if (select != LINECALLSELECT_LINE && select != LINECALLSELECT_ADDRESS) return LINEERR_INVALPARAM;
  if (!ClearFixed(list)) return LINEERR_STRUCTURETOOSMALL;
  std::vector<HCALL> handles;
  for (auto& [handle, call] : g_calls)
    if (call->line == IndexOf(l) && !call->ended) handles.push_back(handle);
  list->dwNeededSize = static_cast<DWORD>(sizeof *list + 4 * handles.size());
  list->dwUsedSize = sizeof *list;
  if (list->dwNeededSize <= list->dwTotalSize) {
    list->dwCallsNumEntries = static_cast<DWORD>(handles.size());
    list->dwCallsSize = static_cast<DWORD>(4 * handles.size());
    list->dwCallsOffset = sizeof *list;
    if (!handles.empty()) std::memcpy(reinterpret_cast<char*>(list) + sizeof *list, handles.data(), 4 * handles.size());
    list->dwUsedSize = list->dwNeededSize;
    for (HCALL handle : handles) g_calls[handle]->appHolds = true;
  }
  return 0;
}
