#include "testing/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {
sockaddr_in loopback(int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}

// Reads from fd until count bytes, the peer's end or the deadline.
std::string readBounded(int fd, size_t count, int ms) {
  std::string got;
  if (fd < 0) return got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  char buf[4096];
  while (got.size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    const size_t want = count - got.size() < sizeof buf ? count - got.size() : sizeof buf;
    const ssize_t r = ::recv(fd, buf, want, 0);
    if (r <= 0) break;
    got.append(buf, static_cast<size_t>(r));
  }
  return got;
}

bool sendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (fd >= 0 && done < bytes.size()) {
    const ssize_t w = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return fd >= 0;
}

bool peerClosed(int fd, int ms) {
  if (fd < 0) return true;
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, ms) <= 0) return false;
  char b;
  return ::recv(fd, &b, 1, MSG_PEEK) <= 0;
}
}  // namespace

int listenOnLoopback(int port, int backlog, int& boundPort) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa = loopback(port);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, backlog) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  socklen_t len = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  boundPort = ntohs(sa.sin_port);
  return fd;
}

LoopbackServer::LoopbackServer(int port) { listener_ = listenOnLoopback(port, 4, port_); }

LoopbackServer::~LoopbackServer() { stop(); }

bool LoopbackServer::accept(int ms) {
  if (listener_ < 0) return false;
  pollfd p{listener_, POLLIN, 0};
  if (::poll(&p, 1, ms) <= 0) return false;
  closeConnection();
  conn_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (conn_ >= 0) {
    int one = 1;
    ::setsockopt(conn_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return conn_ >= 0;
}

std::string LoopbackServer::read(size_t count, int ms) {
  std::string got = pending_.substr(0, count);
  pending_.erase(0, got.size());
  if (got.size() < count) got += readBounded(conn_, count - got.size(), ms);
  return got;
}

bool LoopbackServer::readLine(std::string& line, int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const size_t lf = pending_.find('\n');
    if (lf != std::string::npos) {
      line = pending_.substr(0, lf);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      pending_.erase(0, lf + 1);
      return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || conn_ < 0) return false;
    pollfd p{conn_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buf[4096];
    const ssize_t r = ::recv(conn_, buf, sizeof buf, 0);
    if (r <= 0) return false;
    pending_.append(buf, static_cast<size_t>(r));
  }
}

bool LoopbackServer::send(const std::string& bytes) { return sendAll(conn_, bytes); }
bool LoopbackServer::closedByPeer(int ms) { return peerClosed(conn_, ms); }

void LoopbackServer::closeConnection() {
  if (conn_ >= 0) ::close(conn_);
  conn_ = -1;
  pending_.clear();
}

void LoopbackServer::stop() {
  closeConnection();
  if (listener_ >= 0) ::close(listener_);
  listener_ = -1;
}

LoopbackClient::LoopbackClient(int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in sa = loopback(port);
  connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool LoopbackClient::send(const std::string& bytes) { return connected_ && sendAll(fd_, bytes); }
std::string LoopbackClient::read(size_t count, int ms) { return readBounded(fd_, count, ms); }
bool LoopbackClient::closedByPeer(int ms) { return peerClosed(fd_, ms); }

void LoopbackClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  connected_ = false;
}

int unusedLoopbackPort() {
  LoopbackServer s;
  return s.port();
}
