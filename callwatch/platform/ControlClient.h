#pragma once
// phonesim's side of the control socket: places a call and reads the provider's reports.
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "base/JWorker.h"
#include "platform/ControlProtocol.h"

class CControlClient {
public:
  CControlClient() = default;
  ~CControlClient() { Close(); }
  CControlClient(const CControlClient&) = delete;
  CControlClient& operator=(const CControlClient&) = delete;

  // Connects to the provider and sends the request; false with a reason when it cannot.
  bool Place(const CCallRequest& request, std::string* error, const std::string& socketPath = ControlSocketPath());
  // The next report line; false at the end of the call's reports or after ms without one.
  bool NextLine(std::string* line, int ms);
  void Close();
  // Ends the connection from another thread than the reader's: the reader then sees the end.
  void HangUp();

private:
  std::atomic<int> m_fd{-1};
  std::string m_pending;
};

// A call placed with a reader worker of its own that keeps every report line until the call is
// over, so that a program can drive calls while it waits for something else (tests, screenshots).
// A call that cannot be placed has the one line "error WHY".
class CSimulatedCall {
public:
  explicit CSimulatedCall(const CCallRequest& request, int lineWaitMs = 60000);
  ~CSimulatedCall();  // ends a call that still goes on; the reader then sees the end
  CSimulatedCall(const CSimulatedCall&) = delete;
  CSimulatedCall& operator=(const CSimulatedCall&) = delete;

  std::vector<std::string> Lines() const;
  bool Has(const std::string& line) const;
  bool Done() const;

private:
  CControlClient m_client;
  JWorker m_reader;
  mutable std::mutex m_mutex;
  std::vector<std::string> m_lines;
  bool m_done = false;
};
