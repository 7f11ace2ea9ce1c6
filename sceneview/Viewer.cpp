#include "Viewer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

#include "gfxkit/JCanvas.h"

namespace sceneview {

namespace {
long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
constexpr size_t kReadChunk = 64 * 1024;
constexpr int kTopViewSize = 400;
}  // namespace

Viewer::Viewer(ViewerOptions options) : options_(std::move(options)) {
  out = [](const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
  };
  err = [](const std::string& line) { std::fputs(("sceneview: " + line + "\n").c_str(), stderr); };
}

Viewer::~Viewer() {
  for (Client& c : clients_)
    if (c.fd >= 0) ::close(c.fd);
  if (listener_ >= 0) ::close(listener_);
}

bool Viewer::listen(std::string& error) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listener_ < 0) {
    error = std::strerror(errno);
    return false;
  }
  int one = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(options_.port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(listener_, 8) != 0) {
    error = "port " + std::to_string(options_.port) + ": " + std::strerror(errno);
    return false;
  }
  socklen_t len = sizeof sa;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len);
  port_ = ntohs(sa.sin_port);
  return true;
}

void Viewer::serve(const std::atomic<bool>& stop, long long untilMs) {
  const long long start = nowMs();
  long long nextPicture = start + 1000;
  while (!stop.load()) {
    const long long now = nowMs();
    if (untilMs >= 0 && now - start >= untilMs) break;
    std::vector<pollfd> fds;
    fds.push_back({listener_, POLLIN, 0});
    for (const Client& c : clients_) fds.push_back({c.fd, POLLIN, 0});
    ::poll(fds.data(), fds.size(), 100);
    const long long t = nowMs();
    const size_t polled = fds.size() - 1;  // clients accepted below were not polled yet
    if (fds[0].revents & POLLIN) acceptClients(t);
    for (size_t i = 0; i < polled; ++i) {
      Client& c = clients_[i];
      if (c.fd < 0) continue;
      if (fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) {
        if (!readFrom(c, t)) continue;
      }
      if (c.fd >= 0 && c.reader.buffered() > 0 && t - c.lastByteMs > options_.stallMs)
        drop(c, "stalled inside a frame (" + std::to_string(c.reader.buffered()) + " bytes waiting)");
    }
    std::vector<Client> kept;
    for (Client& c : clients_)
      if (c.fd >= 0) kept.push_back(std::move(c));
    clients_ = std::move(kept);
    if (!options_.png.empty() && t >= nextPicture) {
      nextPicture = t + 1000;
      std::string error;
      if (changed_ && !writeTopView(options_.png, error)) err(options_.png + ": " + error);
      changed_ = false;
    }
  }
  if (!options_.png.empty()) {
    std::string error;
    if (!writeTopView(options_.png, error)) err(options_.png + ": " + error);
  }
}

void Viewer::acceptClients(long long now) {
  for (;;) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    if (static_cast<int>(clients_.size()) >= options_.maxClients) {
      err("client refused: already " + std::to_string(options_.maxClients) + " clients");
      ::close(fd);
      continue;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Client c;
    c.fd = fd;
    c.id = nextId_++;
    c.lastByteMs = now;
    clients_.push_back(std::move(c));
    Client& added = clients_.back();
    out("client " + std::to_string(added.id) + " connected");
    sendLine(added, "c");  // ask for the calibration and the scene file
  }
}

bool Viewer::readFrom(Client& c, long long now) {
  uint8_t buf[kReadChunk];
  for (int round = 0; round < 16; ++round) {  // then give the other clients their turn
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n == 0) {
      if (c.reader.buffered() > 0)
        drop(c, "went away inside a frame (" + std::to_string(c.reader.buffered()) + " bytes)");
      else drop(c, "");
      return false;
    }
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
      if (errno == EINTR) continue;
      drop(c, std::string("read failed: ") + std::strerror(errno));
      return false;
    }
    c.lastByteMs = now;
    std::vector<Frame> frames;
    std::string error;
    const bool ok = c.reader.feed(buf, static_cast<size_t>(n), frames, error);
    for (const Frame& f : frames)
      if (!handle(c, f)) return false;
    if (!ok) {
      drop(c, error);
      return false;
    }
  }
  return true;
}

bool Viewer::handle(Client& c, const Frame& f) {
  ++frames_;
  if (onFrame) onFrame(f);
  const int expected = c.lastSequence % 128 + 1;
  if (c.lastSequence != 0 && f.sequence != expected) {
    ++sequenceErrors_;
    err("client " + std::to_string(c.id) + ": sequence " + std::to_string(f.sequence) + ", expected " +
        std::to_string(expected));
  }
  c.lastSequence = f.sequence;
  std::vector<std::string> changes;
  std::string file, error;
  if (!scene_.apply(f.payload, changes, file, error)) {
    err("client " + std::to_string(c.id) + ": frame dropped: " + error);
    return true;
  }
  changed_ = true;
  if (!options_.quiet)
    for (const std::string& line : changes) out(line);
  if (!file.empty()) loadScene(c, file);
  return c.fd >= 0;
}

// The names go back as one line; the objects take them in order.
void Viewer::loadScene(Client& c, const std::string& file) {
  const std::string path = file.front() == '/' ? file : options_.scenes + "/" + file;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    err("client " + std::to_string(c.id) + ": cannot read scene file " + path);
    return;
  }
  std::string text(kMaxSceneFile, '\0');
  in.read(&text[0], static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  const std::vector<std::string> names = defNames(text);
  if (names.empty()) {
    err("client " + std::to_string(c.id) + ": no DEF names in " + path);
    return;
  }
  scene_.setNames(names);
  const std::string list = joinNames(names);
  out("names " + list);
  sendLine(c, list);
}

bool Viewer::sendLine(Client& c, const std::string& line) {
  const std::string bytes = line + "\n";
  const ssize_t n = ::send(c.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n != static_cast<ssize_t>(bytes.size())) {
    drop(c, "cannot write to it");
    return false;
  }
  return true;
}

void Viewer::drop(Client& c, const std::string& why) {
  if (c.fd < 0) return;
  ::close(c.fd);
  c.fd = -1;
  if (why.empty()) {
    out("client " + std::to_string(c.id) + " left");
  } else {
    err("client " + std::to_string(c.id) + " dropped: " + why);
  }
}

// Seen from above: x across, z down, both from -10000..10000; each object a square in its diffuse
// colour (0..100 per channel); the last sample a black cross.
bool Viewer::writeTopView(const std::string& path, std::string& error) const {
  JCanvas canvas(kTopViewSize, kTopViewSize, JColor::white);
  const auto place = [](int v) {
    const long long c = v < -10000 ? -10000 : v > 10000 ? 10000 : v;
    return static_cast<int>((c + 10000) * (kTopViewSize - 1) / 20000);
  };
  for (const SceneObject& o : scene_.objects()) {
    const auto channel = [](int v) { return v < 0 ? 0 : v > 100 ? 255 : v * 255 / 100; };
    const JColor colour(channel(o.diffuse[0]), channel(o.diffuse[1]), channel(o.diffuse[2]));
    canvas.blendRect(JRect(place(o.location[0]) - 5, place(o.location[2]) - 5, 11, 11), colour);
  }
  const int* s = scene_.samplePosition();
  const int sx = s[0] * (kTopViewSize - 1) / 1000, sy = s[1] * (kTopViewSize - 1) / 1000;
  canvas.blendRect(JRect(sx - 4, sy, 9, 1), JColor::black);
  canvas.blendRect(JRect(sx, sy - 4, 1, 9), JColor::black);
  return canvas.writePNG(path, &error);
}

}  // namespace sceneview
