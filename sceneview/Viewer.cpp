#include "Viewer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gfxkit/JCanvas.h"
#include "gfxkit/JGraphics.h"

namespace sceneview {

namespace {
long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
constexpr size_t kReadChunk = 64 * 1024;

// Whether path is root or lies below it (both resolved).
bool inside(const std::string& root, const std::string& path) {
  if (root == "/") return !path.empty() && path[0] == '/';
  return path.compare(0, root.size(), root) == 0 && (path.size() == root.size() || path[root.size()] == '/');
}

bool hasParentStep(const std::string& name) {
  size_t start = 0;
  for (;;) {
    const size_t end = name.find('/', start);
    if (name.compare(start, end == std::string::npos ? std::string::npos : end - start, "..") == 0) return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

struct FdCloser {
  int fd;
  ~FdCloser() { ::close(fd); }
};

std::string duration(int ms) { return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms"; }
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

bool Viewer::resolveScenes(std::string& error) {
  char resolved[PATH_MAX];
  struct stat st {};
  if (!::realpath(options_.scenes.c_str(), resolved) || ::stat(resolved, &st) != 0) {
    error = "--scenes " + options_.scenes + ": " + (errno == ENOENT ? "no such folder" : std::strerror(errno));
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    error = "--scenes " + options_.scenes + ": not a folder";
    return false;
  }
  scenesRoot_ = resolved;
  return true;
}

bool Viewer::checkPaths(std::string& error) {
  if (!resolveScenes(error)) return false;
  if (options_.png.empty()) return true;
  const std::string& png = options_.png;
  struct stat st {};
  if (::stat(png.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    error = "--png " + png + ": is a folder";
    return false;
  }
  const size_t slash = png.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : png.substr(0, slash);
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = "--png " + png + ": no such folder";
    return false;
  }
  if (::access(folder.c_str(), W_OK) != 0) {
    error = "--png " + png + ": its folder cannot be written";
    return false;
  }
  return true;
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
      // A silent client holds one of the few places; a feed that is dropped connects again.
      if (c.fd >= 0 && t - c.lastByteMs >= options_.idleMs) drop(c, "silent for " + duration(options_.idleMs));
    }
    std::vector<Client> kept;
    for (Client& c : clients_)
      if (c.fd >= 0) kept.push_back(std::move(c));
    clients_ = std::move(kept);
    if (static_cast<int>(clients_.size()) < options_.maxClients) fullReported_ = false;
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
      if (!fullReported_) err("client refused: already " + std::to_string(options_.maxClients) + " clients");
      fullReported_ = true;
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
  if (!file.empty()) {
    loadScene(c, file, changes.empty() ? std::string() : changes.front());
  } else if (!options_.quiet) {
    for (const std::string& line : changes) out(line);
  }
  return c.fd >= 0;
}

bool Viewer::readSceneFile(const std::string& name, std::string& text, std::string& resolved, std::string& why) {
  if (name[0] == '/') {
    why = "an absolute path (names are taken inside --scenes)";
    return false;
  }
  if (hasParentStep(name)) {
    why = "\"..\" leads out of --scenes";
    return false;
  }
  if (scenesRoot_.empty() && !resolveScenes(why)) return false;
  char path[PATH_MAX];
  if (!::realpath((scenesRoot_ + "/" + name).c_str(), path)) {
    why = std::strerror(errno);
    return false;
  }
  resolved = path;
  if (!inside(scenesRoot_, resolved)) {
    why = "a link that leads out of --scenes";
    return false;
  }
  // Not blocking: a pipe or a device is opened without waiting for a writer, and refused below.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  const FdCloser closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    why = "not a regular file";
    return false;
  }
  const std::string tooLarge = "larger than " + std::to_string(kMaxSceneFile) + " bytes";
  if (static_cast<unsigned long long>(st.st_size) > kMaxSceneFile) {
    why = tooLarge;
    return false;
  }
  // The file opened is the one checked, even when a folder on the way was swapped for a link
  // meanwhile.
  char opened[PATH_MAX];
  const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), opened, sizeof opened - 1);
  if (length > 0 && !inside(scenesRoot_, std::string(opened, static_cast<size_t>(length)))) {
    why = "a link that leads out of --scenes";
    return false;
  }
  // Read to the end but never past the limit (the file may grow meanwhile).
  text.assign(kMaxSceneFile + 1, '\0');
  size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(fd, &text[got], text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = std::strerror(errno);
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  if (got > kMaxSceneFile) {
    why = tooLarge;
    return false;
  }
  text.resize(got);
  return true;
}

// The names go back as one line; the objects take them in order. The same file with the same
// names again (the feed asks at every calibration) keeps the scene as it is and prints nothing.
void Viewer::loadScene(Client& c, const std::string& file, const std::string& changeLine) {
  std::string text, resolved, why;
  if (!readSceneFile(file, text, resolved, why)) {
    const std::string line = "cannot read scene file " + printable(file) + ": " + why;
    if (line != lastSceneError_) err("client " + std::to_string(c.id) + ": " + line);
    lastSceneError_ = line;
    return;
  }
  const std::vector<std::string> names = defNames(text);
  if (names.empty()) {
    const std::string line = "no DEF names in " + printable(file);
    if (line != lastSceneError_) err("client " + std::to_string(c.id) + ": " + line);
    lastSceneError_ = line;
    return;
  }
  lastSceneError_.clear();
  const std::string list = joinNames(names);
  if (resolved != loadedPath_ || names != loadedNames_) {
    scene_.setNames(names);
    loadedPath_ = resolved;
    loadedNames_ = names;
    if (!options_.quiet && !changeLine.empty()) out(changeLine);
    out("names " + list);
  }
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

// Seen from above: x across, z down, one scale for both, fitted to where the shown objects are
// and have been (their trails), with a margin for the squares and names. Each object is a square
// in its diffuse colour (0..100 per channel) with its name below; the last sample is a red cross
// at its x and z, each 0..1000 of its calibrated range taken across the same extent.
bool Viewer::writeTopView(const std::string& path, std::string& error) const {
  constexpr int kSize = 400, kMargin = 56, kSquare = 11, kLabelW = 112, kLabelH = 14;
  JCanvas canvas(kSize, kSize, JColor::white);
  JGraphics g(canvas);

  std::vector<const SceneObject*> shown;
  double x0 = 0, x1 = 0, z0 = 0, z1 = 0;
  bool any = false;
  const auto extend = [&](double x, double z) {
    x0 = any ? std::min(x0, x) : x, x1 = any ? std::max(x1, x) : x;
    z0 = any ? std::min(z0, z) : z, z1 = any ? std::max(z1, z) : z;
    any = true;
  };
  for (const SceneObject& o : scene_.objects()) {
    if (!o.shown) continue;
    shown.push_back(&o);
    extend(o.location[0], o.location[2]);
    for (const auto& p : o.trail) extend(p.first, p.second);
  }
  const double span = std::max({x1 - x0, z1 - z0, 1.0});
  const double scale = (kSize - 2 * kMargin) / span;
  const auto px = [&](double x) { return static_cast<int>(kSize / 2 + (x - (x0 + x1) / 2) * scale + 0.5); };
  const auto pz = [&](double z) { return static_cast<int>(kSize / 2 + (z - (z0 + z1) / 2) * scale + 0.5); };

  g.setJColor(JColor(225, 225, 225));  // the extent
  if (any) g.drawRect(px(x0), pz(z0), px(x1) - px(x0) + 1, pz(z1) - pz(z0) + 1);
  const auto colourOf = [](const SceneObject& o) {
    const auto channel = [](int v) { return v < 0 ? 0 : v > 100 ? 255 : v * 255 / 100; };
    return JColor(channel(o.diffuse[0]), channel(o.diffuse[1]), channel(o.diffuse[2]));
  };
  for (const SceneObject* o : shown) {  // trails, lighter than the objects
    const JColor c = colourOf(*o);
    g.setJColor(JColor((c.getRed() + 150) / 2, (c.getGreen() + 150) / 2, (c.getBlue() + 150) / 2));
    for (size_t i = 1; i < o->trail.size(); ++i)
      g.drawLine(px(o->trail[i - 1].first), pz(o->trail[i - 1].second), px(o->trail[i].first), pz(o->trail[i].second));
  }
  std::vector<JRect> labels;
  for (const SceneObject* o : shown) {
    const int cx = px(o->location[0]), cz = pz(o->location[2]);
    g.setJColor(colourOf(*o));
    g.fillRect(cx - kSquare / 2, cz - kSquare / 2, kSquare, kSquare);
    g.setJColor(JColor(60, 60, 60));
    g.drawRect(cx - kSquare / 2, cz - kSquare / 2, kSquare, kSquare);
    // Below the square, kept on the picture; moved further down (or above) past earlier names.
    JRect label(std::min(std::max(cx - kLabelW / 2, 2), kSize - 2 - kLabelW), cz + kSquare / 2 + 2, kLabelW, kLabelH);
    const auto overlaps = [&](const JRect& r) {
      return std::any_of(labels.begin(), labels.end(), [&](const JRect& l) {
        return r.x < l.x + l.width && l.x < r.x + r.width && r.y < l.y + l.height && l.y < r.y + r.height;
      });
    };
    for (int tries = 0; tries < 8 && overlaps(label); ++tries) label.y += kLabelH;
    if (label.y + kLabelH > kSize - 2) label.y = cz - kSquare / 2 - 2 - kLabelH;
    labels.push_back(label);
    g.setJColor(JColor::black);
    g.drawText(o->name, label);
  }
  if (scene_.hasSample()) {
    const int* s = scene_.samplePosition();
    const int sx = px(x0 + (x1 - x0) * s[0] / 1000.0), sz = pz(z0 + (z1 - z0) * s[2] / 1000.0);
    g.setJColor(JColor(210, 0, 0));  // thin, so that an object under it still shows
    g.fillRect(sx - 10, sz, 21, 1);
    g.fillRect(sx, sz - 10, 1, 21);
  }
  g.setJColor(JColor(120, 120, 120));
  const auto number = [](double v) { return std::to_string(static_cast<long long>(v)); };
  g.drawText(any ? "x " + number(x0) + " .. " + number(x1) + " across, z " + number(z0) + " .. " + number(z1) + " down"
                 : "no objects yet",
             JRect(0, kSize - 18, kSize, 16));

  // Written beside and renamed, so that a reader never sees half a picture.
  const std::string partial = path + ".partial" + std::to_string(::getpid());
  if (!canvas.writePNG(partial, &error)) {
    ::unlink(partial.c_str());
    return false;
  }
  if (::rename(partial.c_str(), path.c_str()) != 0) {
    error = std::strerror(errno);
    ::unlink(partial.c_str());
    return false;
  }
  return true;
}

}  // namespace sceneview
