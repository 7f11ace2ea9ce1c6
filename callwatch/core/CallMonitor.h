#pragma once
// The monitoring flow: opens every line, turns telephony events into call records, puts up a
// call screen for each incoming call and answers it after the configured rings. The list view of
// the desktop window and the headless front end show the records through ICallLogView.
#include <memory>
#include <vector>

#include "core/CallRecord.h"
#include "core/CallScreen.h"
#include "core/Tapi.h"

class ICallLogView {
public:
  virtual ~ICallLogView() = default;
  virtual void RecordAdded(CCallRecord*) {}
  virtual void RecordChanged(CCallRecord*) {}  // redraw its row
  virtual void RefreshTimer(bool running) {}   // every 5000 ms while calls are active
  // The view of a new call's screen; none: the screen shows nothing.
  virtual std::unique_ptr<ICallScreenView> MakeScreenView(CCallRecord*) { return nullptr; }
};

class CCallMonitor : public ITapiLineSink, public ITapiCallSink {
public:
  static constexpr int kDefaultRings = 4;
  static constexpr int kRefreshMs = 5000;

  // The call screens it makes share setup, which outlives the monitor.
  CCallMonitor(ICallLogView* view, CCallScreenSetup& setup);
  ~CCallMonitor() override;  // every record finished, every line closed
  CCallMonitor(const CCallMonitor&) = delete;
  CCallMonitor& operator=(const CCallMonitor&) = delete;

  // Opens every line device (owner and monitor, else monitor only) and takes up its calls.
  void OpenAllLines();
  // Rings before a call is answered automatically, set on every address of every open line.
  void ApplyRings(int rings);

  const std::vector<std::unique_ptr<CCallRecord>>& Records() const { return m_records; }
  const std::vector<std::unique_ptr<CTapiLine>>& Lines() const { return m_lines; }
  int ActiveCalls() const { return m_activeCalls; }
  bool TimerRunning() const { return m_timer; }
  CCallRecord* RecordOf(const CTapiCall* call) const;

  void OnNewCall(CTapiLine*, HCALL call, DWORD addressID, DWORD privilege) override;
  void OnLineDevState(CTapiLine*, DWORD deviceState, uintptr_t, uintptr_t ringCount) override;
  void OnCallInfo(CTapiCall*, DWORD infoState) override;
  void OnCallState(CTapiCall*, DWORD state, DWORD detail, DWORD privilege) override;

private:
  void Finish(CCallRecord& record);

  ICallLogView* m_view;
  CCallScreenSetup& m_setup;
  std::vector<std::unique_ptr<CTapiLine>> m_lines;
  std::vector<std::unique_ptr<CCallRecord>> m_records;
  int m_activeCalls = 0;
  bool m_timer = false;
};

// The caller as the call information gives it: placeholders for blocked, out-of-area, unknown
// and unavailable callers, else the name and the number in canonical form.
void CallerFromInfo(const CTapiBuffer& info, std::string* name, std::string* number);
