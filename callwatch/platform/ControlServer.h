#pragma once
// The provider's control socket: phonesim connects, sends one call request and hears the call's
// life until it is over. One worker accepts; each connection runs its call's script on a worker
// of its own. The server runs while a program has the line half initialized.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/JWorker.h"

namespace phonesim {

class CControlServer {
public:
  bool Start();
  void Stop();  // ends every call's script and joins its worker

private:
  void Accept();
  void Serve(int fd);

  int m_listen = -1;
  std::string m_path;
  std::atomic<bool> m_stopping{false};  // what the calls' scripts watch
  JWorker m_acceptor;
  // One worker per connection; finished ones are let go as new ones come.
  static constexpr size_t kMostConnections = 32;
  std::mutex m_connectionsMutex;
  std::vector<std::unique_ptr<JWorker>> m_connections;
};

// The one server of the process; it outlives static destruction, like the wave ticker.
CControlServer& TheControlServer();
extern bool g_serverRunning;  // under g_mutex

// One reply line to phonesim.
void Reply(int fd, const std::string& line);
// Whether phonesim has gone (closed its end).
bool PeerGone(int fd);

}  // namespace phonesim
