#include "platform/ControlServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/WaveDefs.h"
#include "platform/CallScript.h"
#include "platform/ControlProtocol.h"
#include "platform/Exchange.h"

namespace phonesim {

bool g_serverRunning = false;

CControlServer& TheControlServer() {
  static CControlServer& server = *new CControlServer;
  return server;
}

void Reply(int fd, const std::string& line) {
  std::string text = line + "\n";
  (void)::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
}

bool PeerGone(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  if (p.revents & (POLLHUP | POLLERR)) return true;
  char byte;
  return ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

namespace {

// Reads the request line, bounded.
bool ReadRequest(int fd, const std::atomic<bool>& stopping, std::string* line) {
  line->clear();
  const auto until = Clock::now() + std::chrono::seconds(5);
  while (!stopping && Clock::now() < until) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char block[512];
    ssize_t n = ::recv(fd, block, sizeof block, 0);
    if (n <= 0) return false;
    for (ssize_t i = 0; i < n; ++i) {
      if (block[i] == '\n') return true;
      if (line->size() >= kMostControlLine) return false;
      *line += block[i];
    }
  }
  return false;
}

}  // namespace

bool CControlServer::Start() {
  m_path = ControlSocketPath();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (m_path.size() >= sizeof address.sun_path) {
    std::fprintf(stderr, "phonesim: control socket path too long: %s\n", m_path.c_str());
    return false;
  }
  std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);
  m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_listen < 0) return false;
  // A socket file left by a provider that is gone is taken over; a live one is not.
  if (ControlSocketInUse(m_path)) {
    std::fprintf(stderr, "phonesim: control socket %s is in use\n", m_path.c_str());
    ::close(m_listen);
    m_listen = -1;
    return false;
  }
  ::unlink(m_path.c_str());
  if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(m_listen, 8) != 0) {
    std::fprintf(stderr, "phonesim: cannot listen on %s: %s\n", m_path.c_str(), std::strerror(errno));
    ::close(m_listen);
    m_listen = -1;
    return false;
  }
  m_stopping = false;
  m_acceptor.start(nullptr, [this] { Accept(); });
  return true;
}

void CControlServer::Stop() {
  if (m_listen < 0) return;
  m_stopping = true;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_changed.notify_all();
  }
  m_acceptor.stop();
  std::vector<std::unique_ptr<JWorker>> connections;
  {
    std::lock_guard<std::mutex> lock(m_connectionsMutex);
    connections.swap(m_connections);
  }
  // The scripts see m_stopping at their next wait, which the notification above cut short.
  for (auto& c : connections) c->stop();
  ::close(m_listen);
  m_listen = -1;
  ::unlink(m_path.c_str());
}

void CControlServer::Accept() {
  while (m_acceptor.running()) {
    pollfd p{m_listen, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(m_connectionsMutex);
    for (auto it = m_connections.begin(); it != m_connections.end();)
      it = (*it)->isAlive() ? std::next(it) : m_connections.erase(it);  // erasing joins
    if (m_connections.size() >= kMostConnections) {
      Reply(fd, "error too many calls at once");
      ::close(fd);
      continue;
    }
    m_connections.push_back(std::make_unique<JWorker>());
    m_connections.back()->start(nullptr, [this, fd] {
      Serve(fd);
      ::close(fd);
    });
  }
}

void CControlServer::Serve(int fd) {
  std::string line, error;
  CCallRequest request;
  if (!ReadRequest(fd, m_stopping, &line)) return;
  if (!ParseCallRequest(line, &request, &error)) {
    Reply(fd, "error " + error);
    return;
  }
  std::vector<int16_t> speech;
  if (!request.audio.empty() && !ReadWaveFile(request.audio, &speech, &error)) {
    Reply(fd, "error " + error);
    return;
  }
  CCallScript(fd, request, m_stopping).Run(std::move(speech));
}

}  // namespace phonesim
