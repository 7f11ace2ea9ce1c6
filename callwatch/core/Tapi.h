#pragma once
// The telephony context and the wrappers of lines, calls and phones. Events from the provider
// arrive on the thread that initialized the context and are routed here to the sinks of the line,
// call or phone they concern. Nothing here is safe to use from two threads.
#include <memory>
#include <vector>

#include "core/TapiBuffer.h"
#include "core/TapiSinks.h"

// A list of listeners: adding reuses the first empty slot and ignores a listener already there;
// removing leaves the slot empty, so a listener may remove itself while the list is called.
template <typename Sink>
class CSinkList {
public:
  void Add(Sink* sink) {
    if (!sink) return;
    for (Sink* s : m_sinks)
      if (s == sink) return;
    for (Sink*& s : m_sinks)
      if (!s) {
        s = sink;
        return;
      }
    m_sinks.push_back(sink);
  }
  void Remove(Sink* sink) {
    for (Sink*& s : m_sinks)
      if (s == sink) s = nullptr;
  }
  size_t Slots() const { return m_sinks.size(); }
  Sink* At(size_t i) const { return i < m_sinks.size() ? m_sinks[i] : nullptr; }

private:
  std::vector<Sink*> m_sinks;
};

// The process-wide telephony context: a line half and a phone half.
class CTapiContext {
public:
  static LONG LineInitialize(ITapiAppSink* sink, const char* appName, void* instance);
  static LONG LineShutdown();
  static DWORD LineCount();
  static DWORD LineVersion(DWORD device);
  static HLINEAPP LineApp();

  static LONG PhoneInitialize(ITapiAppSink* sink, const char* appName, void* instance);
  static LONG PhoneShutdown();
  static DWORD PhoneCount();
  static DWORD PhoneVersion(DWORD device);
  static HPHONEAPP PhoneApp();

  // Where the provider delivers events (on the initializing thread).
  static void LineCallback(DWORD device, DWORD message, uintptr_t instance, uintptr_t param1, uintptr_t param2,
                           uintptr_t param3);
  static void PhoneCallback(DWORD device, DWORD message, uintptr_t instance, uintptr_t param1, uintptr_t param2,
                            uintptr_t param3);
};

// A request waiting for its LINE_REPLY or PHONE_REPLY.
struct CPendingRequest {
  enum { kAnswer = 2, kDrop = 4, kHookSwitch = 8 };
  LONG requestID;
  CTapiCall* call;
  int kind;
};

class CTapiLine {
public:
  CTapiLine();
  ~CTapiLine();  // closes
  CTapiLine(const CTapiLine&) = delete;
  CTapiLine& operator=(const CTapiLine&) = delete;

  LONG Open(DWORD deviceID, ITapiLineSink* sink, DWORD privileges, DWORD mediaModes);
  void Close();
  bool IsOpen() const { return m_handle != 0; }
  HLINE Handle() const { return m_handle; }
  LONG DeviceID() const { return m_deviceID; }

  DWORD GetNumRings(DWORD addressID);
  LONG SetNumRings(DWORD addressID, DWORD rings);
  // The handles of the calls the line carries now (LINECALLSELECT_LINE and the like).
  LONG GetNewCalls(DWORD select, std::vector<HCALL>* calls);
  LONG GetDevCaps(CTapiBuffer* caps);

  void AddSink(ITapiLineSink* sink) { m_sinks.Add(sink); }
  void RemoveSink(ITapiLineSink* sink) { m_sinks.Remove(sink); }

  const std::vector<CPendingRequest>& Pending() const { return m_pending; }
  const std::vector<HCALL>& Unclaimed() const { return m_unclaimed; }

  // One line message from the routing callback.
  void Dispatch(DWORD device, DWORD message, uintptr_t param1, uintptr_t param2, uintptr_t param3);
  static const std::vector<CTapiLine*>& All();

private:
  friend class CTapiCall;
  void HandleCallState(HCALL handle, DWORD state, DWORD detail, DWORD privilege);
  void DropPendingOf(CTapiCall* call);
  bool IsUnclaimed(HCALL handle) const;
  void RemoveUnclaimed(HCALL handle);
  template <typename F>
  void ForEachSink(F f);

  HLINE m_handle = 0;
  LONG m_deviceID = -1;
  CSinkList<ITapiLineSink> m_sinks;
  std::vector<CPendingRequest> m_pending;
  std::vector<HCALL> m_unclaimed;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

class CTapiCall {
public:
  CTapiCall(HCALL handle, CTapiLine* line, ITapiCallSink* sink = nullptr);
  ~CTapiCall();  // deallocates the handle (or drops a call that cannot be deallocated)
  CTapiCall(const CTapiCall&) = delete;
  CTapiCall& operator=(const CTapiCall&) = delete;

  LONG Answer();
  LONG Drop();
  LONG Deallocate();
  LONG MonitorDigits(DWORD digitModes);
  LONG GetCallInfo(CTapiBuffer* info);
  LONG GetID(const char* deviceClass, CTapiBuffer* id);
  CTapiLine* GetLine() const { return m_line; }
  HCALL Handle() const { return m_handle; }

  void AddSink(ITapiCallSink* sink) { m_sinks.Add(sink); }
  void RemoveSink(ITapiCallSink* sink) { m_sinks.Remove(sink); }

  static CTapiCall* Find(HCALL handle);
  static const std::vector<CTapiCall*>& All();

private:
  friend class CTapiLine;
  template <typename F>
  void ForEachSink(F f);

  HCALL m_handle;
  CTapiLine* m_line;
  CSinkList<ITapiCallSink> m_sinks;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

class CTapiPhone {
public:
  CTapiPhone();
  ~CTapiPhone();
  CTapiPhone(const CTapiPhone&) = delete;
  CTapiPhone& operator=(const CTapiPhone&) = delete;

  LONG Open(DWORD deviceID, ITapiPhoneSink* sink, DWORD privilege);
  void Close();
  bool IsOpen() const { return m_handle != 0; }
  LONG DeviceID() const { return m_deviceID; }
  LONG SetHookSwitch(DWORD devices, DWORD mode);
  static LONG GetDevCaps(DWORD deviceID, CTapiBuffer* caps);

  void AddSink(ITapiPhoneSink* sink) { m_sinks.Add(sink); }
  void RemoveSink(ITapiPhoneSink* sink) { m_sinks.Remove(sink); }

  void Dispatch(DWORD message, uintptr_t param1, uintptr_t param2, uintptr_t param3);
  static const std::vector<CTapiPhone*>& All();

private:
  HPHONE m_handle = 0;
  LONG m_deviceID = -1;
  CSinkList<ITapiPhoneSink> m_sinks;
  std::vector<LONG> m_pending;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
