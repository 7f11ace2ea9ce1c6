#include "SerialPort.h"

#include "Render.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "loom/JWire.h"

namespace {
struct BaudRate {
  int rate;
  speed_t code;
};
const BaudRate kRates[] = {{50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
                           {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
                           {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
                           {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};

bool speedOf(int rate, speed_t& code) {
  for (const auto& r : kRates)
    if (r.rate == rate) {
      code = r.code;
      return true;
    }
  return false;
}

constexpr int kReadChunk = 4096;
constexpr int kWriteWaitMs = 2000;
constexpr int kRetryMs = 1000;

const JPortTable kInputs{{kSideLeft, 0.1, 0.8, {{"bytes to device", JBytesData::id}}}};
const JPortTable kOutputs{{kSideRight, 0.1, 0.8, {{"bytes from device", JBytesData::id}}}};
// A rate the line cannot take (inside the range) is said when the device is opened.
const JSettings kSettings{
    JSetting::text("device", &SerialPort::device)
        .whenMissing("")
        .onChange(&SerialPort::reopen)
        .note("a device that is not there yet, or that goes away (unplugged, a replay that ended), is said once and "
              "tried again every second; `opened DEVICE` says when it is back."),
    JSetting::integer("baud", &SerialPort::baud)
        .init(9600)
        .range(50, 921600, JOutOfRange::kRefuse)
        .whenMissing(9600)
        .onChange(&SerialPort::reopen),
};
}  // namespace

SerialPort::SerialPort() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
}

void SerialPort::reopen() {
  if (!reader_.isAlive()) return;
  close();
  startup();
}

SerialPort::~SerialPort() { close(); }

std::string SerialPort::openDevice() {
  const speed_t speed = dev_.speed;
  int fd = ::open(dev_.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  termios t{};
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd, TCSANOW, &t) != 0)
      JComponent::debugf("cannot set %s to raw mode: %s", dev_.path.c_str(), std::strerror(errno));
  }
  dev_.fd.store(fd);
  return {};
}

void SerialPort::startup() {
  if (reader_.isAlive() || device.isEmpty()) return;
  speed_t speed;
  if (!speedOf(baud, speed)) {
    JComponent::debugf("baud rate %d is not supported", baud);
    return;
  }
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    JComponent::debugf("cannot open %s: %s", device.c_str(), std::strerror(errno));
    return;
  }
  dev_.wakeRead = wake[0];
  dev_.wakeWrite = wake[1];
  dev_.path = device.str();
  dev_.speed = speed;
  const std::string why = openDevice();
  if (!why.empty()) JComponent::debugf("cannot open %s: %s; trying again every second", device.c_str(), why.c_str());
  reader_.start(this);
}

void SerialPort::close() {
  reader_.stop([this] {
    const char b = 0;
    if (dev_.wakeWrite >= 0 && ::write(dev_.wakeWrite, &b, 1) < 0) {
      // the pipe is full: the reader is waking already
    }
  });
  closeDevice();
}

void SerialPort::closeDevice() {
  std::lock_guard<std::mutex> g(dev_.writing);
  int fd = dev_.fd.exchange(-1);
  if (fd >= 0) ::close(fd);
  for (int* w : {&dev_.wakeRead, &dev_.wakeWrite}) {
    if (*w >= 0) ::close(*w);
    *w = -1;
  }
}

void SerialPort::loseDevice(const std::string& why) {
  JComponent::debugf("lost %s: %s; trying again every second", dev_.path.c_str(), why.c_str());
  std::lock_guard<std::mutex> g(dev_.writing);
  int fd = dev_.fd.exchange(-1);
  if (fd >= 0) ::close(fd);
}

bool SerialPort::waitForDevice() {
  while (dev_.fd.load() < 0) {
    if (!reader_.sleepFor(kRetryMs)) return false;
    if (openDevice().empty()) JComponent::debugf("opened %s", dev_.path.c_str());
  }
  return reader_.running();
}

// The reader waits for bytes from the device or for close()'s wake-up, whichever comes first.
void SerialPort::run() {
  uint8_t buf[kReadChunk];
  while (waitForDevice()) {
    int fd = dev_.fd.load();
    pollfd p[2] = {{fd, POLLIN, 0}, {dev_.wakeRead, POLLIN, 0}};
    int r = ::poll(p, 2, -1);
    if (!reader_.running()) break;
    if (r <= 0) continue;
    if (p[0].revents & (POLLERR | POLLNVAL)) {
      loseDevice("the device reported an error");
      continue;
    }
    if (!(p[0].revents & (POLLIN | POLLHUP))) continue;
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      received_.set(JBlock(buf, static_cast<int>(n)));
      broadcast(0);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      // Unplugged, or the far side of a pseudo-terminal closed (a replay that ended): a replay
      // started again makes a new one, so the path is opened anew.
      loseDevice(n == 0 ? "the device hung up" : std::strerror(errno));
    }
  }
}

void SerialPort::access(int n, JLinkObj&, const JDataType& data) {
  if (n != 0 || data.type() != JBytesData::id) return;
  static_cast<const JBytesData&>(data) = received_.get();
}

void SerialPort::engine(int n, JLinkObj& link) {
  if (n != 0) return;
  JBlock b = readBytes(link);
  std::lock_guard<std::mutex> g(dev_.writing);
  int fd = dev_.fd.load();
  if (fd < 0) return;
  int done = 0;
  while (done < b.size()) {
    ssize_t w = ::write(fd, b.data() + done, static_cast<size_t>(b.size() - done));
    if (w > 0) {
      done += static_cast<int>(w);
      continue;
    }
    if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, kWriteWaitMs) > 0) continue;
    }
    JComponent::debugf("write to %s failed: %s", device.c_str(),
                       w < 0 ? std::strerror(errno) : "device does not take bytes");
    return;
  }
}

void SerialPort::draw(JGraphics& g, int x, int y, int w, int h) {
  drawHostLabel(*this, g, "Serial", x, y, w, h, 0, 2);
  // A long path would shrink to an unreadable size: its last part names the device well enough.
  std::string shown = device.isEmpty() ? std::string("-") : device.str();
  const size_t slash = shown.rfind('/');
  if (shown.size() > 12 && slash != std::string::npos && slash + 1 < shown.size())
    shown = "\u2026/" + shown.substr(slash + 1);
  drawHostLabel(*this, g, JString(shown), x, y, w, h, 1, 2);
}
