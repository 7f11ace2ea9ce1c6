#include "platform/CallScript.h"

#include <algorithm>
#include <chrono>

#include "base/WaveDefs.h"
#include "platform/ControlServer.h"

namespace phonesim {

void CCallScript::Tell(std::unique_lock<std::mutex>& lock, const std::string& line) {
  lock.unlock();
  Reply(m_fd, line);
  lock.lock();
}

// Tells each step once, in order, however quickly the states passed.
void CCallScript::Report(std::unique_lock<std::mutex>& lock) {
  const SimCall& c = *m_call;
  const bool over = c.state == LINECALLSTATE_DISCONNECTED || c.state == LINECALLSTATE_IDLE;
  if (c.wasConnected && !m_toldAnswered) {
    m_toldAnswered = true;
    Tell(lock, "answered");
  }
  if ((over || c.ended) && !m_toldDropped) {
    m_toldDropped = true;
    Tell(lock, "dropped");
  }
  if (c.ended && !m_toldIdle) {
    m_toldIdle = true;
    Tell(lock, "idle");
  }
}

bool CCallScript::Wait(std::unique_lock<std::mutex>& lock, int ms, const std::function<bool()>& until) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    Report(lock);
    if (m_call->ended || m_stopping) return false;
    if (m_call->state == LINECALLSTATE_DISCONNECTED) return false;
    if (until && until()) return true;
    if (Clock::now() >= end) return true;
    lock.unlock();
    const bool gone = PeerGone(m_fd);
    lock.lock();
    if (gone) {
      m_callerLeft = true;
      return false;
    }
    g_changed.wait_for(lock, std::chrono::milliseconds(20));
  }
}

void CCallScript::Run(std::vector<int16_t> speech) {
  std::unique_lock<std::mutex> lock(g_mutex);
  if (m_r.line < 0 || m_r.line >= g_lineCount) {
    Tell(lock, "error no line " + std::to_string(m_r.line) + " (the provider has " + std::to_string(g_lineCount) + ")");
    return;
  }
  m_call = std::make_shared<SimCall>();
  SimCall& c = *m_call;
  c.handle = g_nextHandle++;
  c.line = m_r.line;
  c.speech = std::move(speech);
  c.name = m_r.name;
  c.number = m_r.number;
  if (m_r.outbound) {
    c.origin = LINECALLORIGIN_OUTBOUND;
    c.callerFlags = LINECALLPARTYID_UNKNOWN;
  } else if (m_r.blocked) {
    c.callerFlags = LINECALLPARTYID_BLOCKED;
  } else {
    c.callerFlags = (c.name.empty() ? DWORD{0} : DWORD{LINECALLPARTYID_NAME}) |
                    (c.number.empty() ? DWORD{0} : DWORD{LINECALLPARTYID_ADDRESS});
    if (!c.callerFlags) c.callerFlags = LINECALLPARTYID_UNKNOWN;
  }
  // The call is offered (or dialling) before anyone hears of it, so that a program answering
  // at its first news finds it so.
  c.state = m_r.outbound ? LINECALLSTATE_DIALING : LINECALLSTATE_OFFERING;
  g_calls[c.handle] = m_call;
  SimLine& line = g_lines[c.line];
  if (line.open) {
    c.appHolds = true;
    const DWORD privilege =
        (line.privileges & LINECALLPRIVILEGE_OWNER) ? LINECALLPRIVILEGE_OWNER : LINECALLPRIVILEGE_MONITOR;
    RaiseLine(c.line, line.open, LINE_APPNEWCALL, 0, c.handle, privilege);
  }
  Tell(lock, "offered");
  bool goesOn = true;
  if (m_r.outbound) {
    RaiseLine(c.line, c.handle, LINE_CALLSTATE, LINECALLSTATE_DIALING, 0, 0);
    SetState(c, LINECALLSTATE_PROCEEDING);
    for (int ring = 1; ring <= m_r.rings && goesOn; ++ring) {
      // Each ringback is its own state report.
      c.state = LINECALLSTATE_PROCEEDING;
      SetState(c, LINECALLSTATE_RINGBACK);
      Tell(lock, "rung " + std::to_string(ring));
      goesOn = Wait(lock, m_r.ringMs);
    }
    if (goesOn) SetState(c, LINECALLSTATE_CONNECTED);
  } else {
    RaiseLine(c.line, c.handle, LINE_CALLSTATE, LINECALLSTATE_OFFERING, 0, 0);
    RaiseLine(c.line, c.handle, LINE_CALLINFO, LINECALLINFOSTATE_CALLERID, 0, 0);
    auto answered = [&] { return c.state == LINECALLSTATE_CONNECTED; };
    int ring = 0;
    while (goesOn && !answered() && ring < m_r.rings) {
      ++ring;
      if (g_lines[c.line].devStates & LINEDEVSTATE_RINGING)
        RaiseLine(c.line, g_lines[c.line].open, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0, ring);
      Tell(lock, "rung " + std::to_string(ring));
      goesOn = Wait(lock, m_r.ringMs, answered);
    }
    if (goesOn && !answered()) {
      if (m_r.answerElsewhere) {
        m_toldAnswered = true;
        SetState(c, LINECALLSTATE_CONNECTED);
        Tell(lock, "answered elsewhere");
      } else {
        goesOn = false;  // nobody answered: the caller gives up
      }
    }
  }
  Report(lock);
  if (goesOn && c.state == LINECALLSTATE_CONNECTED) {
    // The caller waits while something is played to it, then speaks: at once when the line
    // starts listening, or after a second of quiet.
    goesOn = Wait(lock, kMostMs, [&] {
      if (c.speaking) return true;
      const auto quiet = std::max(g_lines[c.line].quietSince, c.connectedAt);
      bool playing = false;
      for (auto& [h, d] : g_waves)
        if (!d.input && d.line == c.line && !d.queue.empty()) playing = true;
      if (!playing && Clock::now() - quiet >= std::chrono::seconds(1)) {
        c.speaking = true;
        c.speechStart = Clock::now();
      }
      return c.speaking;
    });
    if (goesOn) goesOn = Wait(lock, static_cast<int>(c.speech.size() * 1000 / kWaveRate));
    for (char digit : m_r.digits) {
      if (!goesOn) break;
      goesOn = Wait(lock, m_r.digitMs);
      if (!goesOn) break;
      if (c.state != LINECALLSTATE_CONNECTED) break;
      if (c.monitorModes & LINEDIGITMODE_DTMF)
        RaiseLine(c.line, c.handle, LINE_MONITORDIGITS, static_cast<unsigned char>(digit), LINEDIGITMODE_DTMF, 0);
      Tell(lock, std::string("digit sent ") + digit);
    }
    if (goesOn) goesOn = Wait(lock, m_r.hangupMs);
  }
  // The caller hangs up (or has gone); an owning program drops the call itself.
  if (!c.ended) {
    HangUp(c, OwnerWatches(c) && !m_stopping);
    Report(lock);
    // A program that owns the call has a while to drop it.
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (!c.ended && !m_stopping && Clock::now() < until) {
      Report(lock);
      g_changed.wait_for(lock, std::chrono::milliseconds(20));
    }
    if (!c.ended) SetState(c, LINECALLSTATE_IDLE);
  }
  Report(lock);
  ForgetIfDone(c.handle);
}

}  // namespace phonesim
