#pragma once
// A touch-tone sender for the receiver's tests: a plain TCP client of raw bytes, as any sender on
// the network would be. Sends from several threads at once are the tests' business; one sender
// belongs to one thread.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

class ToneSender {
public:
  // Connects to address:port (numeric IPv4); connected() says whether the connect succeeded.
  explicit ToneSender(int port, const char* address = "127.0.0.1") {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address, &sa.sin_addr);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    if (connected_) localPort_ = localPortOf(fd_);
  }
  ~ToneSender() { close(); }
  ToneSender(const ToneSender&) = delete;
  ToneSender& operator=(const ToneSender&) = delete;

  bool connected() const { return connected_; }
  int localPort() const { return localPort_; }  // kept after close()

  // Whether every byte went out.
  bool send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  // Sends what fits within ms (the receiver may not read yet); the count sent, -1 on an error.
  long sendFor(const std::string& bytes, int ms) {
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, ms) <= 0) return 0;
    ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    return n;
  }
  // Whether the receiver ended the connection (a close or a reset) within ms.
  bool closedByPeer(int ms) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return false;
    char b;
    return ::recv(fd_, &b, 1, MSG_DONTWAIT) <= 0;
  }
  // Sent everything: the receiver reads to the end, then sees the close (as `nc -N` does).
  void finish() { ::shutdown(fd_, SHUT_WR); }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

private:
  static int localPortOf(int fd) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0 ? ntohs(sa.sin_port) : -1;
  }
  int fd_ = -1;
  bool connected_ = false;
  int localPort_ = -1;
};

// One message of the digit link: 'a' 'b' DIGIT 0.
inline std::string toneMessage(char digit) { return std::string{'a', 'b', digit, '\0'}; }
