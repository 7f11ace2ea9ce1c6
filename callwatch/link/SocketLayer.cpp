#include "link/SocketLayer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

const int CSocketLayer::kNetworkUnreachable = ENETUNREACH;
const int CSocketLayer::kTimedOut = ETIMEDOUT;
const int CSocketLayer::kWouldBlock = EWOULDBLOCK;

namespace {

// A connection try that gets no answer gives up after this long, so that a receiver behind a
// silent network costs each digit a bounded wait rather than the system's minutes.
constexpr int kConnectWaitMs = 3000;

class CSystemSockets : public CSocketLayer {
public:
  int socket(int family, int type, int protocol) override {
    return keep(::socket(family, type | SOCK_CLOEXEC, protocol));
  }

  int setsockopt(int s, int level, int name, const void* value, int length) override {
    return keep(::setsockopt(s, level, name, value, static_cast<socklen_t>(length)));
  }

  int lookupName(const char* host, int port, sockaddr_in* found, int max) override {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    std::string service = std::to_string(port);
    int rc = ::getaddrinfo(host, service.c_str(), &hints, &list);
    if (rc != 0 || !list) {
      if (list) ::freeaddrinfo(list);
      error_ = rc == EAI_SYSTEM ? errno : EHOSTUNREACH;
      return kSocketError;
    }
    int n = 0;
    for (addrinfo* a = list; a && n < max; a = a->ai_next) {
      if (a->ai_family != AF_INET || a->ai_addrlen < sizeof(sockaddr_in)) continue;
      std::memcpy(&found[n++], a->ai_addr, sizeof(sockaddr_in));
    }
    ::freeaddrinfo(list);
    if (n == 0) {
      error_ = EHOSTUNREACH;
      return kSocketError;
    }
    return n;
  }

  int connect(int s, const sockaddr_in& address) override {
    int flags = ::fcntl(s, F_GETFL, 0);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0) return keep(-1);
    int rc = ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    int err = rc == 0 ? 0 : errno;
    if (rc != 0 && err == EINPROGRESS) {
      pollfd p{s, POLLOUT, 0};
      int r;
      do { r = ::poll(&p, 1, kConnectWaitMs); } while (r < 0 && errno == EINTR);
      socklen_t len = sizeof err;
      if (r == 0) {
        err = ETIMEDOUT;
        // Abandon the half-open try so that the next one may start afresh on this socket.
        sockaddr unspecified{};
        unspecified.sa_family = AF_UNSPEC;
        ::connect(s, &unspecified, sizeof unspecified);
      } else if (r < 0 || ::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
        err = errno;
      }
    }
    ::fcntl(s, F_SETFL, flags);
    if (err != 0) {
      error_ = err;
      return kSocketError;
    }
    return 0;
  }

  int send(int s, const void* bytes, int length) override {
    ssize_t r;
    do {
      // A peer that has gone must show up as an error, never as SIGPIPE.
      r = ::send(s, bytes, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return keep(-1);
    return static_cast<int>(r);
  }

  int peek(int s, void* bytes, int length) override {
    ssize_t r;
    do { r = ::recv(s, bytes, static_cast<size_t>(length), MSG_PEEK | MSG_DONTWAIT); } while (r < 0 && errno == EINTR);
    if (r < 0) return keep(-1);
    return static_cast<int>(r);
  }

  int closesocket(int s) override { return keep(::close(s)); }

  int lastError() override { return error_; }

private:
  // The reason is kept apart from errno: the link writes its trace between a call and the
  // question why it failed.
  int keep(int result) {
    if (result < 0) error_ = errno;
    return result < 0 ? -1 : result;
  }

  int error_ = 0;
};

}  // namespace

CSocketLayer& CSocketLayer::system() {
  // Never destroyed: the link may still close its socket while the process ends.
  static CSystemSockets* sockets = new CSystemSockets;
  return *sockets;
}
