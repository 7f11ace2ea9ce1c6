#include "app/headless/HeadlessFront.h"

#include <cstdio>
#include <map>
#include <string>
#include <tuple>

#include "app/Session.h"
#include "base/MessageQueue.h"

namespace {

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 32 || c == 127) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

class HeadlessScreenView : public ICallScreenView {
public:
  void MessageBox(const std::string& text) override {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
  }
};

// The call log as lines: "call N: NAME NUMBER STATE rings R", printed when any of them changes.
class HeadlessLogView : public ICallLogView {
public:
  void RecordAdded(CCallRecord* r) override {
    m_numbers[r] = static_cast<int>(m_numbers.size()) + 1;
    RecordChanged(r);
  }
  void RecordChanged(CCallRecord* r) override {
    auto now = std::make_tuple(r->name, r->number, r->state, r->rings);
    auto it = m_last.find(r);
    if (it != m_last.end() && it->second == now) return;
    m_last[r] = now;
    std::printf("call %d: %s %s %s rings %u\n", m_numbers[r], Quoted(r->name).c_str(), Quoted(r->number).c_str(),
                r->StateName(), r->rings);
    std::fflush(stdout);
  }
  std::unique_ptr<ICallScreenView> MakeScreenView(CCallRecord*) override {
    return std::make_unique<HeadlessScreenView>();
  }

private:
  std::map<CCallRecord*, int> m_numbers;
  std::map<CCallRecord*, std::tuple<std::string, std::string, DWORD, uint32_t>> m_last;
};

}  // namespace

int RunHeadless(CCallwatchSession& session) {
  CCallwatchSession::CatchSignals();
  const CCallwatchSettings settings = CCallwatchSettings::Load(session.Settings());
  if (!session.Start()) return 1;
  {
    HeadlessLogView view;
    CCallMonitor monitor(&view, session.ScreenSetup());
    monitor.OpenAllLines();
    monitor.ApplyRings(settings.rings);
    session.Announce(&monitor);
    auto queue = CMessageQueue::ForThisThread();
    while (!CCallwatchSession::StopRequested()) queue->Pump(100);
    // The monitor goes first: calls still going are finished and their messages saved.
  }
  session.Stop();
  return 0;
}
