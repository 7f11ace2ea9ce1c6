#pragma once
// A bare TCP receiver on 127.0.0.1 for the digit link's tests: every wait is bounded and every
// read takes at most what the test asks for.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

class LoopbackReceiver {
public:
  // Listens on `port` (0: one the system picks).
  explicit LoopbackReceiver(int port = 0) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(listener_, 4) != 0) {
      ::close(listener_);
      listener_ = -1;
      return;
    }
    socklen_t len = sizeof sa;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
  }
  ~LoopbackReceiver() { stop(); }
  LoopbackReceiver(const LoopbackReceiver&) = delete;
  LoopbackReceiver& operator=(const LoopbackReceiver&) = delete;

  bool listening() const { return listener_ >= 0; }
  int port() const { return port_; }

  // Takes a waiting sender, if one comes within ms.
  bool accept(int ms = 2000) {
    if (listener_ < 0) return false;
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return false;
    closeConnection();
    conn_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    return conn_ >= 0;
  }

  // Reads until `count` bytes have come, the sender closes, or ms pass; returns what came.
  std::string read(size_t count, int ms = 2000) {
    std::string got;
    if (conn_ < 0) return got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    char buf[256];
    while (got.size() < count) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{conn_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      size_t want = count - got.size() < sizeof buf ? count - got.size() : sizeof buf;
      ssize_t r = ::recv(conn_, buf, want, 0);
      if (r <= 0) break;
      got.append(buf, static_cast<size_t>(r));
    }
    return got;
  }

  void closeConnection() {
    if (conn_ >= 0) ::close(conn_);
    conn_ = -1;
  }
  void stop() {
    closeConnection();
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
  }

private:
  int listener_ = -1;
  int conn_ = -1;
  int port_ = 0;
};

// A loopback port on which nothing listens (taken from the system, then given back).
inline int UnusedPort() {
  LoopbackReceiver r;
  return r.port();
}
