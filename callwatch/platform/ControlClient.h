#pragma once
// phonesim's side of the control socket: places a call and reads the provider's reports.
#include <atomic>
#include <string>

#include "ControlProtocol.h"

class CControlClient {
public:
  CControlClient() = default;
  ~CControlClient() { Close(); }
  CControlClient(const CControlClient&) = delete;
  CControlClient& operator=(const CControlClient&) = delete;

  // Connects to the provider and sends the request; false with a reason when it cannot.
  bool Place(const CCallRequest& request, std::string* error,
             const std::string& socketPath = ControlSocketPath());
  // The next report line; false at the end of the call's reports or after ms without one.
  bool NextLine(std::string* line, int ms);
  void Close();
  // Ends the connection from another thread than the reader's: the reader then sees the end.
  void HangUp();

private:
  std::atomic<int> m_fd{-1};
  std::string m_pending;
};
