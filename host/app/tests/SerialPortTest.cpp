// SerialPort against a pseudo-terminal pair: the test holds the far (master) side, the module
// opens the slave as its device.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <gtest/gtest.h>

#include "SerialPort.h"
#include "testing/Harness.h"

namespace {

class PseudoTerminal {
public:
  PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[256];
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0)
      return;
    slave_ = name;
  }
  ~PseudoTerminal() {
    if (master_ >= 0) ::close(master_);
  }
  bool ok() const { return master_ >= 0 && !slave_.empty(); }
  const std::string& slave() const { return slave_; }

  bool write(const std::string& bytes) { return ::write(master_, bytes.data(), bytes.size()) == ssize_t(bytes.size()); }
  // Reads until `want` bytes came or maxMs passed.
  std::string read(size_t want, int maxMs) {
    std::string got;
    auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
    while (got.size() < want && std::chrono::steady_clock::now() < limit) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char buf[256];
      ssize_t n = ::read(master_, buf, std::min(sizeof buf, want - got.size()));
      if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }

private:
  int master_ = -1;
  std::string slave_;
};

std::string received(const JTestHarness& h, const SerialPort& port) {
  std::string all;
  for (const auto& b : h.broadcastsOf(port)) {
    EXPECT_EQ(b.output, 0);
    all.append(reinterpret_cast<const char*>(b.value.bytes().data()), static_cast<size_t>(b.value.bytes().size()));
  }
  return all;
}

}  // namespace

TEST(SerialPort, CarriesBytesBothWaysThroughAPseudoTerminal) {
  PseudoTerminal pty;
  ASSERT_TRUE(pty.ok());
  JTestHarness h;
  auto& port = h.place<SerialPort>("serial");
  port.device = pty.slave();
  port.baud = 115200;
  port.startup();
  ASSERT_TRUE(port.isOpen()) << (h.debugLines().empty() ? "" : h.debugLines()[0]);

  // Raw mode: no echo, no line editing, every byte value as it is.
  const std::string in = std::string("hello\r\n\x00\x03\x7f\xff", 11) + std::string(600, 'z');
  ASSERT_TRUE(pty.write(in));
  EXPECT_TRUE(h.runUntil([&] { return received(h, port).size() >= in.size(); }, 5000));
  EXPECT_EQ(received(h, port), in);

  const std::string out = std::string("\x01\x00\nAT\r", 6) + std::string(700, 'q');
  h.send(port, 0, JBlock(out.data(), static_cast<int>(out.size())));
  EXPECT_EQ(pty.read(out.size(), 5000), out);
  EXPECT_EQ(pty.read(1, 100), "") << "nothing echoed or added";

  port.close();
  EXPECT_FALSE(port.isOpen());
  h.clear();
  pty.write("late");
  h.runFor(150);
  EXPECT_TRUE(h.broadcasts().empty()) << "a closed port reads no more";
  h.send(port, 0, JBlock("x", 1));  // and writes nothing, without failing
  EXPECT_TRUE(h.debugLines().empty());

  // Changing a setting of an open port reopens it.
  port.startup();
  ASSERT_TRUE(port.isOpen());
  JIntegerProperty baud("baud", 9600, 50, 921600);
  EXPECT_TRUE(port.updateProperty(baud));
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(port.baud, 9600);
  pty.write("again");
  // (what the far side wrote while the port was closed may come first)
  EXPECT_TRUE(h.runUntil([&] { return received(h, port).find("again") != std::string::npos; }, 5000))
      << received(h, port);
}

TEST(SerialPort, DeviceProblemsAreDebugLinesNotFailures) {
  JTestHarness h;
  auto& missing = h.place<SerialPort>("missing");
  missing.device = "/nonexistent/tty";
  {
    JComponent::Scope scope(&missing);
    missing.startup();
  }
  EXPECT_FALSE(missing.isOpen());

  PseudoTerminal pty;
  ASSERT_TRUE(pty.ok());
  auto& odd = h.place<SerialPort>("odd");
  odd.device = pty.slave();
  odd.baud = 12345;
  {
    JComponent::Scope scope(&odd);
    odd.startup();
  }
  EXPECT_FALSE(odd.isOpen());

  auto lines = h.debugLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("missing: cannot open /nonexistent/tty", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "odd: baud rate 12345 is not supported");

  auto copy = JTestHarness::roundTrip(odd);
  EXPECT_EQ(static_cast<SerialPort&>(*copy).device, odd.device);
  EXPECT_EQ(static_cast<SerialPort&>(*copy).baud, 12345);
}

// A clone of a running port has the settings but no reader and no device; removing the running
// original from its diagram stops its reader at once (it waits for bytes without polling).
TEST(SerialPort, ClonesOfARunningPortAndRemovingIt) {
  PseudoTerminal pty;
  ASSERT_TRUE(pty.ok());
  JTestHarness h;
  auto& port = h.place<SerialPort>("serial");
  port.device = pty.slave();
  port.startup();
  ASSERT_TRUE(port.isOpen());
  std::unique_ptr<SerialPort> copy(static_cast<SerialPort*>(port.clone()));
  EXPECT_FALSE(copy->isOpen());
  EXPECT_EQ(copy->device, port.device);
  ASSERT_TRUE(pty.write("one"));
  EXPECT_TRUE(h.runUntil([&] { return received(h, port) == "one"; }, 5000));
  const auto t = std::chrono::steady_clock::now();
  h.diagram().remove(&port);
  EXPECT_LT(std::chrono::steady_clock::now() - t, std::chrono::seconds(2));
  copy->startup();  // the copy opens the device on its own
  EXPECT_TRUE(copy->isOpen());
  copy->close();
}

// A replay that ends closes its pseudo-terminal; one started again makes a new one behind the
// same link. The port says it lost the device, tries the path every second, and reads the new one.
TEST(SerialPort, AReplayStartedAgainIsFoundBehindTheSamePath) {
  char folder[] = "/tmp/serial-test-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string link = std::string(folder) + "/tty";
  auto first = std::make_unique<PseudoTerminal>();
  ASSERT_TRUE(first->ok());
  ASSERT_EQ(symlink(first->slave().c_str(), link.c_str()), 0);

  JTestHarness h;
  auto& port = h.place<SerialPort>("serial");
  port.device = link;
  port.startup();
  ASSERT_TRUE(port.isOpen());
  ASSERT_TRUE(first->write("one"));
  EXPECT_TRUE(h.runUntil([&] { return received(h, port) == "one"; }, 5000));

  first.reset();  // the replay ends
  ASSERT_EQ(unlink(link.c_str()), 0);
  EXPECT_TRUE(h.runUntil([&] { return !port.isOpen(); }, 5000));
  PseudoTerminal second;
  ASSERT_TRUE(second.ok());
  ASSERT_EQ(symlink(second.slave().c_str(), link.c_str()), 0);
  EXPECT_TRUE(h.runUntil([&] { return port.isOpen(); }, 5000));
  ASSERT_TRUE(second.write("two"));
  EXPECT_TRUE(h.runUntil([&] { return received(h, port) == "onetwo"; }, 5000)) << received(h, port);
  port.close();

  const auto lines = h.debugLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("serial: lost " + link + ": ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "serial: opened " + link);
  unlink(link.c_str());
  rmdir(folder);
}
