#pragma once
// One call's life as phonesim asked for it: offered (or dialled), rung, answered or given up, the
// caller's speech and digits, the hang-up, each step told back on the control connection. Runs
// on the connection's worker; the program's requests move the call on from its own thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ControlProtocol.h"
#include "platform/Exchange.h"

namespace phonesim {

// One call's life, told to the phonesim that placed it.
class CCallScript {
public:
  CCallScript(int fd, const CCallRequest& r, const std::atomic<bool>& stopping)
      : m_fd(fd), m_r(r), m_stopping(stopping) {}
  void Run(std::vector<int16_t> speech);

private:
  // Waits up to ms (or until the call ends, the caller leaves or the provider stops) while
  // telling every change of state; returns whether the call goes on.
  bool Wait(std::unique_lock<std::mutex>& lock, int ms, const std::function<bool()>& until = {});
  void Tell(std::unique_lock<std::mutex>& lock, const std::string& line);
  void Report(std::unique_lock<std::mutex>& lock);

  int m_fd;
  CCallRequest m_r;
  const std::atomic<bool>& m_stopping;
  std::shared_ptr<SimCall> m_call;
  bool m_toldAnswered = false, m_toldDropped = false, m_toldIdle = false;
  bool m_callerLeft = false;
};

}  // namespace phonesim
