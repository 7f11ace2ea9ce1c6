#include "base/JSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>

namespace loomwork_net {

// One connection (or one listening socket), shared by the socket object and its streams.
//
// States: fresh (no descriptor yet) -> open -> closed. A closed channel never opens again; a
// socket that connects after close() gets a new channel. Every use of the descriptor is counted;
// close() shuts the socket down at once (waking blocked calls) but the descriptor itself is
// released by whoever finishes last, so its number cannot be reused while a call still holds it.
struct Channel {
  std::mutex m;
  int fd = -1;
  int users = 0;
  bool opened = false;
  bool stream = true;
  std::atomic<bool> closed{false};

  Channel() = default;
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  ~Channel() {
    if (fd >= 0) ::close(fd);
  }

  bool isFresh() {
    std::lock_guard<std::mutex> g(m);
    return !opened && !closed.load();
  }
  bool isOpen() {
    std::lock_guard<std::mutex> g(m);
    return opened && !closed.load();
  }
  bool isClosed() const { return closed.load(); }

  // Hands a connected descriptor to a fresh channel.
  void open(int newFd, bool isStream) {
    std::lock_guard<std::mutex> g(m);
    fd = newFd;
    stream = isStream;
    opened = true;
  }

  void close() {
    std::lock_guard<std::mutex> g(m);
    if (!opened || closed.load()) return;
    closed.store(true);
    if (fd >= 0) {
      ::shutdown(fd, SHUT_RDWR);
      if (users == 0) {
        ::close(fd);
        fd = -1;
      }
    }
  }

  int acquire() {
    std::lock_guard<std::mutex> g(m);
    if (!opened || closed.load() || fd < 0) return -1;
    ++users;
    return fd;
  }

  void release() {
    std::lock_guard<std::mutex> g(m);
    if (--users == 0 && closed.load() && fd >= 0) {
      ::close(fd);
      fd = -1;
    }
  }
};

namespace {

// Holds the channel's descriptor for the length of one call.
class Use {
public:
  explicit Use(Channel* c) : c_(c), fd_(c ? c->acquire() : -1) {}
  ~Use() {
    if (fd_ >= 0) c_->release();
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  int fd() const { return fd_; }

private:
  Channel* c_;
  int fd_;
};

std::string errorText(int err) {
  char buf[256];
  // The GNU strerror_r returns the text (possibly not in buf).
  return std::string(strerror_r(err, buf, sizeof buf));
}

[[noreturn]] void throwUnusable(Channel* c) {
  if (!c) throw JIOException("socket stream is not attached");
  if (c->isClosed()) throw JIOException("socket is closed");
  throw JIOException("socket is not connected");
}

bool setBlocking(int fd, bool blocking) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return ::fcntl(fd, F_SETFL, flags) == 0;
}

void applyNoDelay(int fd, bool on) {
  int v = on ? 1 : 0;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v);
}

int localPortOf(int fd) {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return -1;
  if (ss.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&ss)->sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in*>(&ss)->sin_port);
}

int familyOf(const JInetAddress& a) { return a.isIPv6() ? AF_INET6 : AF_INET; }

using SteadyClock = std::chrono::steady_clock;  // not JClock: tests may stop that one

int millisLeft(SteadyClock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
  if (left.count() <= 0) return 0;
  return static_cast<int>(std::min<long long>(left.count() + 1, 1 << 30));
}

// Receives at least one byte into p, or returns 0 at end of stream; throws when the channel is
// unusable or the receive fails.
size_t receiveSome(Channel* c, void* p, size_t n) {
  for (;;) {
    Use use(c);
    if (use.fd() < 0) throwUnusable(c);
    ssize_t r;
    do { r = ::recv(use.fd(), p, n, 0); } while (r < 0 && errno == EINTR);
    int err = errno;
    if (r > 0) return static_cast<size_t>(r);
    if (c->isClosed()) throw JIOException("socket is closed");
    if (r < 0) throw JIOException("socket read failed: " + errorText(err));
    if (c->stream) return 0;
    // An empty datagram: nothing to deliver, wait for the next one.
  }
}

void sendAll(Channel* c, const void* data, size_t n) {
  Use use(c);
  if (use.fd() < 0) throwUnusable(c);
  const auto* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    ssize_t r = ::send(use.fd(), p, n, MSG_NOSIGNAL);
    if (r < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      if (c->isClosed()) throw JIOException("socket is closed");
      throw JIOException("socket write failed: " + errorText(err));
    }
    p += r;
    n -= static_cast<size_t>(r);
  }
}

}  // namespace
}  // namespace loomwork_net

using loomwork_net::Channel;
using loomwork_net::Use;

// ---------------------------------------------------------------------------------- JInetAddress

JInetAddress::JInetAddress() : name_("0.0.0.0") {}

JInetAddress::JInetAddress(const JString& hostName) : name_(hostName) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  int rc = hostName.isEmpty() ? EAI_NONAME : ::getaddrinfo(hostName.c_str(), nullptr, &hints, &res);
  if (rc != 0 || !res) {
    if (res) ::freeaddrinfo(res);
    throw JSocketException("unknown host " + hostName.str());
  }
  addr_ = reinterpret_cast<const sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(res);
}

JInetAddress JInetAddress::getAddrByJString(const JString& dotted) {
  in_addr a{};
  if (::inet_pton(AF_INET, dotted.c_str(), &a) != 1) throw JSocketException("not a numeric address: " + dotted.str());
  return fromNetworkOrder(a.s_addr);
}

JInetAddress JInetAddress::getNumericAddress(const JString& text) {
  std::string t = text.str();
  if (t.size() >= 2 && t.front() == '[' && t.back() == ']') t = t.substr(1, t.size() - 2);
  if (t.find(':') == std::string::npos) return getAddrByJString(JString(t));  // dotted only
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* res = nullptr;
  const int rc = t.empty() ? EAI_NONAME : ::getaddrinfo(t.c_str(), nullptr, &hints, &res);
  if (rc != 0 || !res) {
    if (res) ::freeaddrinfo(res);
    throw JSocketException("not a numeric address: " + text.str());
  }
  JInetAddress r;
  const auto* sa = reinterpret_cast<const sockaddr_in6*>(res->ai_addr);
  r.ipv6_ = true;
  std::memcpy(r.addr6_.data(), &sa->sin6_addr, 16);
  r.scope6_ = sa->sin6_scope_id;
  ::freeaddrinfo(res);
  r.name_ = r.getAddressJString();
  return r;
}

JInetAddress JInetAddress::getAnyByName(const JString& hostName) {
  try {
    return getNumericAddress(hostName);
  } catch (const JSocketException&) {}
  try {
    return JInetAddress(hostName);
  } catch (const JSocketException&) {}
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  const int rc = hostName.isEmpty() ? EAI_NONAME : ::getaddrinfo(hostName.c_str(), nullptr, &hints, &res);
  if (rc != 0 || !res) {
    if (res) ::freeaddrinfo(res);
    throw JSocketException("unknown host " + hostName.str());
  }
  const auto* sa = reinterpret_cast<const sockaddr_in6*>(res->ai_addr);
  JInetAddress r;
  r.ipv6_ = true;
  std::memcpy(r.addr6_.data(), &sa->sin6_addr, 16);
  r.scope6_ = sa->sin6_scope_id;
  r.name_ = hostName;
  ::freeaddrinfo(res);
  return r;
}

JInetAddress JInetAddress::fromNetworkOrder(uint32_t addr) {
  JInetAddress r;
  r.addr_ = addr;
  r.name_ = r.getAddressJString();
  return r;
}

JString JInetAddress::getAddressJString() const {
  if (ipv6_) {
    in6_addr a6{};
    std::memcpy(&a6, addr6_.data(), 16);
    char buf6[INET6_ADDRSTRLEN] = {0};
    if (!::inet_ntop(AF_INET6, &a6, buf6, sizeof buf6)) return JString("::");
    return JString(buf6);
  }
  in_addr a{};
  a.s_addr = addr_;
  char buf[INET_ADDRSTRLEN] = {0};
  if (!::inet_ntop(AF_INET, &a, buf, sizeof buf)) return JString("0.0.0.0");
  return JString(buf);
}

JString JInetAddress::getHostName() const { return name_; }

// --------------------------------------------------------------------------------------- JSocket

JSocket::JSocket() = default;

JSocket::JSocket(const JInetAddress& address, int port, bool stream) : address_(address), port_(port), stream_(stream) {
  spareFd_ = ::socket(loomwork_net::familyOf(address), (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
  if (spareFd_ < 0) throw JSocketException("cannot create socket: " + loomwork_net::errorText(errno));
}

JSocket::JSocket(const JSocket& o)
    : JObject(o),
      address_(o.address_),
      port_(o.port_),
      stream_(o.stream_),
      noDelay_(o.noDelay_),
      connectTimeoutMs_(o.connectTimeoutMs_) {}

void JSocket::copySettings(const JSocket& o) {
  JObject::operator=(o);
  address_ = o.address_;
  port_ = o.port_;
  stream_ = o.stream_;
  noDelay_ = o.noDelay_;
  connectTimeoutMs_ = o.connectTimeoutMs_;
}

JSocket& JSocket::operator=(const JSocket& o) {
  if (this == &o) return *this;
  close();
  releaseSpare();
  copySettings(o);
  channel_.reset();
  return *this;
}

JSocket::JSocket(JSocket&& o) noexcept
    : JObject(o),
      address_(o.address_),
      port_(o.port_),
      stream_(o.stream_),
      noDelay_(o.noDelay_),
      connectTimeoutMs_(o.connectTimeoutMs_),
      spareFd_(o.spareFd_),
      channel_(std::move(o.channel_)) {
  o.spareFd_ = -1;
  o.channel_.reset();
}

JSocket& JSocket::operator=(JSocket&& o) noexcept {
  if (this == &o) return *this;
  close();
  releaseSpare();
  copySettings(o);
  spareFd_ = o.spareFd_;
  channel_ = std::move(o.channel_);
  o.spareFd_ = -1;
  o.channel_.reset();
  return *this;
}

JSocket::~JSocket() {
  close();
  releaseSpare();
}

void JSocket::releaseSpare() {
  if (spareFd_ >= 0) ::close(spareFd_);
  spareFd_ = -1;
}

bool JSocket::connect() { return connectFor(connectTimeoutMs_) == kConnected; }

JSocket::ConnectResult JSocket::connectFor(int timeoutMs, const std::function<bool()>& wanted) {
  using namespace loomwork_net;
  if (channel_ && channel_->isOpen()) return kConnected;
  if (port_ <= 0 || port_ > 65535) return kRefused;

  int fd = spareFd_;
  spareFd_ = -1;
  if (fd < 0) fd = ::socket(familyOf(address_), (stream_ ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
  if (fd < 0) return kRefused;
  auto fail = [fd](ConnectResult why) {
    ::close(fd);
    return why;
  };
  if (!setBlocking(fd, false)) return fail(kRefused);
  if (stream_ && noDelay_) applyNoDelay(fd, true);

  sockaddr_storage ss{};
  socklen_t ssLen = 0;
  if (address_.isIPv6()) {
    auto* sa6 = reinterpret_cast<sockaddr_in6*>(&ss);
    sa6->sin6_family = AF_INET6;
    sa6->sin6_port = htons(static_cast<uint16_t>(port_));
    std::memcpy(&sa6->sin6_addr, address_.bytes6().data(), 16);
    sa6->sin6_scope_id = address_.scope6();
    ssLen = sizeof(sockaddr_in6);
  } else {
    auto* sa = reinterpret_cast<sockaddr_in*>(&ss);
    sa->sin_family = AF_INET;
    sa->sin_port = htons(static_cast<uint16_t>(port_));
    sa->sin_addr.s_addr = address_.networkOrder();
    ssLen = sizeof(sockaddr_in);
  }
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&ss), ssLen) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return fail(kRefused);
    const bool limited = timeoutMs > 0;
    auto deadline = SteadyClock::now() + std::chrono::milliseconds(limited ? timeoutMs : 0);
    for (;;) {
      // Without a caller to ask, one wait to the deadline; with one, slices of 50 ms.
      int wait = limited ? millisLeft(deadline) : 50;
      if (wanted) wait = std::min(wait, 50);
      pollfd p{fd, POLLOUT, 0};
      int r = ::poll(&p, 1, wait);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return fail(kRefused);
      if (r > 0) break;
      if (limited && millisLeft(deadline) == 0) return fail(kNoAnswer);
      if (wanted && !wanted()) return fail(kGivenUp);
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return fail(kRefused);
    if (err == ETIMEDOUT) return fail(kNoAnswer);  // the system's own limit
    if (err != 0) return fail(kRefused);
  }
  if (!setBlocking(fd, true)) return fail(kRefused);

  if (!channel_ || !channel_->isFresh()) channel_ = std::make_shared<Channel>();
  channel_->open(fd, stream_);
  return kConnected;
}

void JSocket::close() {
  if (channel_) channel_->close();
}

bool JSocket::isConnected() const { return channel_ && channel_->isOpen(); }

int JSocket::getLocalPort() const {
  Use use(channel_.get());
  if (use.fd() < 0) return -1;
  return loomwork_net::localPortOf(use.fd());
}

void JSocket::setNoDelay(bool on) {
  noDelay_ = on;
  if (!stream_) return;
  Use use(channel_.get());
  if (use.fd() >= 0) loomwork_net::applyNoDelay(use.fd(), on);
}

// --------------------------------------------------------------------------------- JServerSocket

JServerSocket::JServerSocket() = default;
JServerSocket::JServerSocket(int port) : port_(port) {}
JServerSocket::JServerSocket(const JServerSocket& o) : JObject(o), port_(o.port_), bindAddress_(o.bindAddress_) {}

JServerSocket& JServerSocket::operator=(const JServerSocket& o) {
  if (this == &o) return *this;
  close();
  JObject::operator=(o);
  port_ = o.port_;
  bindAddress_ = o.bindAddress_;
  boundPort_ = -1;
  channel_.reset();
  return *this;
}

JServerSocket::JServerSocket(JServerSocket&& o) noexcept
    : JObject(o),
      port_(o.port_),
      boundPort_(o.boundPort_),
      bindAddress_(o.bindAddress_),
      channel_(std::move(o.channel_)) {
  o.boundPort_ = -1;
  o.channel_.reset();
}

JServerSocket& JServerSocket::operator=(JServerSocket&& o) noexcept {
  if (this == &o) return *this;
  close();
  JObject::operator=(o);
  port_ = o.port_;
  boundPort_ = o.boundPort_;
  bindAddress_ = o.bindAddress_;
  channel_ = std::move(o.channel_);
  o.boundPort_ = -1;
  o.channel_.reset();
  return *this;
}

JServerSocket::~JServerSocket() { close(); }

bool JServerSocket::listen(int backlog) {
  if (isListening()) {
    lastError_ = "already listening";
    return false;
  }
  if (port_ < 0 || port_ > 65535) {
    lastError_ = "port " + std::to_string(port_) + " out of range";
    return false;
  }
  if (bindAddress_.isIPv6()) {  // listening is IPv4 only: never every interface in its place
    lastError_ = "cannot listen on an IPv6 address";
    return false;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    lastError_ = std::strerror(errno);
    return false;
  }
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port_));
  sa.sin_addr.s_addr = bindAddress_.networkOrder();
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(fd, backlog > 0 ? backlog : 50) != 0) {
    lastError_ = std::strerror(errno);
    ::close(fd);
    return false;
  }
  lastError_.clear();
  boundPort_ = loomwork_net::localPortOf(fd);
  channel_ = std::make_shared<Channel>();
  channel_->open(fd, true);
  return true;
}

bool JServerSocket::accept(JSocket& client, int timeoutMs) {
  using namespace loomwork_net;
  std::shared_ptr<Channel> keep = channel_;  // held for the whole wait
  Channel* c = keep.get();
  Use use(c);
  if (use.fd() < 0) return false;
  auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    // Short slices, so that close() from another thread is noticed even where shutting a
    // listening socket down does not wake poll().
    pollfd p{use.fd(), POLLIN, 0};
    int r = ::poll(&p, 1, std::min(millisLeft(deadline), 100));
    if (r < 0 && errno != EINTR) return false;
    if (c->isClosed()) return false;
    if (r <= 0) {
      if (millisLeft(deadline) == 0) return false;
      continue;
    }
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int fd = ::accept4(use.fd(), reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED || errno == EINTR || errno == EPROTO) {
        if (millisLeft(deadline) == 0) return false;
        continue;  // the client went away before we took it
      }
      return false;
    }
    setBlocking(fd, true);
    if (client.noDelay_) applyNoDelay(fd, true);
    // The client's own (never connected) channel takes the connection, so streams attached to
    // it beforehand see it; otherwise its old connection is closed and a new channel made.
    client.releaseSpare();
    if (!client.channel_ || !client.channel_->isFresh()) {
      client.close();
      client.channel_ = std::make_shared<Channel>();
    }
    client.address_ = JInetAddress::fromNetworkOrder(sa.sin_addr.s_addr);
    client.port_ = ntohs(sa.sin_port);
    client.stream_ = true;
    client.channel_->open(fd, true);
    return true;
  }
}

void JServerSocket::close() {
  if (channel_) channel_->close();
}

bool JServerSocket::isListening() const { return channel_ && channel_->isOpen(); }

int JServerSocket::getLocalPort() const { return boundPort_ >= 0 ? boundPort_ : port_; }

// ---------------------------------------------------------------------------- JSocketInputStream

namespace {
std::shared_ptr<Channel> channelOf(JSocket& s, std::shared_ptr<Channel>& slot) {
  if (!slot) slot = std::make_shared<Channel>();
  return slot;
}
}  // namespace

JSocketInputStream::JSocketInputStream(JSocket& s) : channel_(channelOf(s, s.channel_)) {}

JSocketInputStream& JSocketInputStream::operator=(const JSocketInputStream& o) {
  if (this != &o) *this = JSocketInputStream();
  return *this;
}

bool JSocketInputStream::fill() {
  if (!channel_) loomwork_net::throwUnusable(nullptr);
  if (eof_) return false;
  if (pos_ > 0 && pos_ >= buf_.size() / 2) {  // drop what was consumed before growing
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(pos_));
    pos_ = 0;
  }
  uint8_t tmp[4096];
  size_t n = loomwork_net::receiveSome(channel_.get(), tmp, sizeof tmp);
  if (n == 0) {
    eof_ = true;
    return false;
  }
  buf_.insert(buf_.end(), tmp, tmp + n);
  return true;
}

void JSocketInputStream::consume(size_t n) {
  pos_ += n;
  scanned_ = 0;
  if (pos_ >= buf_.size()) {
    buf_.clear();
    pos_ = 0;
  }
}

void JSocketInputStream::checkUsable() const {
  if (!channel_ || channel_->isClosed()) loomwork_net::throwUnusable(channel_.get());
}

int JSocketInputStream::read() {
  checkUsable();
  if (available() == 0 && !fill()) throw JIOException("end of stream");
  int v = buf_[pos_];
  consume(1);
  return v;
}

int JSocketInputStream::read(JBlock& b) { return read(b, b.capacity() > 0 ? b.capacity() : 4096); }

int JSocketInputStream::read(JBlock& b, int max) {
  checkUsable();
  if (max <= 0) {
    b.clear();
    return 0;
  }
  if (available() > 0) {
    int n = std::min(available(), max);
    b.clear();
    b.append(buf_.data() + pos_, n);
    consume(static_cast<size_t>(n));
    return n;
  }
  if (eof_) throw JIOException("end of stream");
  // Nothing buffered: receive straight into the block.
  b.resize(max);
  size_t n = 0;
  try {
    n = loomwork_net::receiveSome(channel_.get(), b.data(), static_cast<size_t>(max));
  } catch (...) {
    b.clear();
    throw;
  }
  b.resize(static_cast<int>(n));
  if (n == 0) {
    eof_ = true;
    throw JIOException("end of stream");
  }
  return static_cast<int>(n);
}

JBlock JSocketInputStream::readFully(int n) {
  checkUsable();
  JBlock r;
  if (n <= 0) return r;
  while (r.size() < n) {
    if (available() == 0 && !fill())
      throw JIOException("end of stream after " + std::to_string(r.size()) + " of " + std::to_string(n) + " bytes");
    int take = std::min(available(), n - r.size());
    r.append(buf_.data() + pos_, take);
    consume(static_cast<size_t>(take));
  }
  return r;
}

bool JSocketInputStream::waitForInput(int timeoutMs) {
  using namespace loomwork_net;
  checkUsable();
  if (available() > 0 || eof_) return true;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    Use use(channel_.get());
    if (use.fd() < 0) throwUnusable(channel_.get());
    // Slices, so that a close() that does not wake poll() is seen all the same.
    const int wait = timeoutMs < 0 ? 100 : std::min(millisLeft(deadline), 100);
    pollfd p{use.fd(), POLLIN, 0};
    const int r = ::poll(&p, 1, wait);
    if (channel_->isClosed()) throw JIOException("socket is closed");
    if (r > 0 || (r < 0 && errno != EINTR)) return true;  // the read tells what came
    if (timeoutMs >= 0 && millisLeft(deadline) == 0) return false;
  }
}

JString JSocketInputStream::readLine() {
  checkUsable();
  const size_t maxLine = static_cast<size_t>(MAX_LINE);
  for (;;) {
    size_t avail = buf_.size() - pos_;
    const uint8_t* start = buf_.data() + pos_;
    if (scanned_ < avail) {
      const void* hit = std::memchr(start + scanned_, '\n', avail - scanned_);
      if (hit) {
        size_t end = static_cast<size_t>(static_cast<const uint8_t*>(hit) - start);
        size_t len = (end > 0 && start[end - 1] == '\r') ? end - 1 : end;
        if (len > maxLine) {
          consume(end + 1);
          throw JIOException("text line longer than " + std::to_string(maxLine) + " bytes");
        }
        JString line(reinterpret_cast<const char*>(start), static_cast<int>(len));
        consume(end + 1);
        return line;
      }
      scanned_ = avail;
    }
    if (avail > maxLine + 1) {  // even a carriage return at its end leaves it too long
      consume(avail);
      throw JIOException("text line longer than " + std::to_string(maxLine) + " bytes");
    }
    if (!fill()) {
      // End of stream: a last line without a line feed is still a line.
      if (avail == 0) throw JIOException("end of stream");
      start = buf_.data() + pos_;
      size_t len = (start[avail - 1] == '\r') ? avail - 1 : avail;
      if (len > maxLine) {
        consume(avail);
        throw JIOException("text line longer than " + std::to_string(maxLine) + " bytes");
      }
      JString line(reinterpret_cast<const char*>(start), static_cast<int>(len));
      consume(avail);
      return line;
    }
  }
}

int JSocketInputStream::read(JString& s) {
  s = readLine();
  return s.length();
}

// --------------------------------------------------------------------------- JSocketOutputStream

JSocketOutputStream::JSocketOutputStream(JSocket& s) : channel_(channelOf(s, s.channel_)) {}

JSocketOutputStream& JSocketOutputStream::operator=(const JSocketOutputStream& o) {
  if (this != &o) channel_.reset();
  return *this;
}

void JSocketOutputStream::write(int byte) {
  uint8_t v = static_cast<uint8_t>(byte & 0xff);
  write(&v, 1);
}

void JSocketOutputStream::write(const JBlock& b) { write(b.data(), b.size()); }

void JSocketOutputStream::write(const void* data, int size) {
  if (!channel_) loomwork_net::throwUnusable(nullptr);
  if (!data || size <= 0) return;
  loomwork_net::sendAll(channel_.get(), data, static_cast<size_t>(size));
}

void JSocketOutputStream::write(const JString& s) { write(s.c_str(), s.length()); }

void JSocketOutputStream::writeLine(const JString& s) {
  std::string line = s.str();
  line += '\n';
  write(line.data(), static_cast<int>(line.size()));
}
