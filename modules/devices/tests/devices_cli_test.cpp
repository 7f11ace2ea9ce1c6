// The device modules as a user runs them: the real loomwork binary, a SerialPort on a real
// pseudo-terminal into which examples/devices/replay.py plays the recorded bytes at a line's
// pace, and the same recordings played by a Player. Both ways must give the same Monitor lines:
// no record or sentence lost or changed, wherever the serial reads happened to split them.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include "testing/Process.h"

namespace {

const std::string kExamples = std::string(LOOMWORK_SOURCE_DIR) + "/examples/devices/";

ProcessResult loomwork(const std::vector<std::string>& args, int timeoutMs) {
  std::vector<std::string> all = args;
  all.insert(all.end(), {"--modules", LOOMWORK_MODULES_DIR});
  return runProcess(LOOMWORK_BIN, all, timeoutMs);
}

// replay.py running beside the test; its standard output is read line by line.
class Replay {
public:
  Replay(const std::string& recording, int baud, double lingerS) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      const std::string script = kExamples + "replay.py", b = std::to_string(baud), l = std::to_string(lingerS);
      execlp("python3", "python3", script.c_str(), recording.c_str(), "--baud", b.c_str(), "--wait", "30", "--linger",
             l.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
  }
  ~Replay() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  // The next whole line within ms, without its line feed; false at the end or on time-out.
  bool line(std::string& l, int ms) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      auto nl = buf_.find('\n');
      if (nl != std::string::npos) {
        l = buf_.substr(0, nl);
        buf_.erase(0, nl + 1);
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now());
      if (out_ < 0 || left.count() <= 0) return false;
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char b[512];
      ssize_t n = ::read(out_, b, sizeof b);
      if (n <= 0) return false;
      buf_.append(b, static_cast<size_t>(n));
    }
  }
  // Every line until the program ends or ms pass.
  std::vector<std::string> rest(int ms) {
    std::vector<std::string> lines;
    for (std::string l; line(l, ms);) lines.push_back(l);
    return lines;
  }

private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buf_;
};

std::string deviceOf(Replay& r) {
  std::string l;
  if (!r.line(l, 10000) || l.rfind("device: ", 0) != 0) return "";
  return l.substr(8);
}

bool contains(const std::vector<std::string>& lines, const std::string& l) {
  for (const auto& x : lines)
    if (x == l) return true;
  return false;
}

long sizeOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return static_cast<long>(in.tellg());
}

int countOf(const std::string& path, const std::string& what) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  const std::string all = s.str();
  int n = 0;
  for (size_t at = all.find(what); at != std::string::npos; at = all.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(DevicesCli, GpsLogThroughAPseudoTerminalGivesWhatThePlayerGives) {
  ProcessResult played = loomwork({"run", kExamples + "gps-player.lwd", "--until-idle"}, 60000);
  ASSERT_EQ(played.status, 0) << played.err;
  EXPECT_EQ(played.err, "");
  const auto expected = played.outLines();
  // Every GLL gives both texts, every GSV message the number in view.
  const int gll = countOf(kExamples + "gps.nmea", "$GPGLL"), gsv = countOf(kExamples + "gps.nmea", "$GPGSV");
  ASSERT_EQ(expected.size(), static_cast<size_t>(2 * gll + gsv));
  EXPECT_EQ(expected[0], "M position.0 \"49 16.4500 N\"");
  EXPECT_EQ(expected[1], "M position.1 \"123 11.1200 W\"");
  EXPECT_EQ(expected[2], "M position.2 8");

  Replay replay(kExamples + "gps.nmea", 115200, 20);
  const std::string device = deviceOf(replay);
  ASSERT_FALSE(device.empty());
  ProcessResult live = loomwork({"run", kExamples + "gps-serial.lwd", "--seconds", "4", "--set",
                                 "serial.device=" + device, "--set", "serial.baud=115200"},
                                60000);
  ASSERT_EQ(live.status, 0) << live.err;
  EXPECT_EQ(live.err, "");
  std::string l;
  ASSERT_TRUE(replay.line(l, 1000)) << "the replay did not finish while loomwork ran";
  EXPECT_EQ(l.rfind("played " + std::to_string(sizeOf(kExamples + "gps.nmea")) + " bytes", 0), 0u) << l;
  EXPECT_EQ(live.outLines(), expected);
}

TEST(DevicesCli, TrackerStreamThroughAPseudoTerminalAndItsCommandBack) {
  ProcessResult played = loomwork({"run", kExamples + "tracker-player.lwd", "--until-idle"}, 60000);
  ASSERT_EQ(played.status, 0) << played.err;
  const auto expected = played.outLines();
  ASSERT_EQ(expected.size(), 6u * 300);      // six outputs of each of the 300 records
  EXPECT_EQ(expected[0], "M pose.0 2200");   // 22 inches
  EXPECT_EQ(expected[5], "M pose.5 -3500");  // -35.00 degrees of roll

  Replay replay(kExamples + "tracker.bin", 115200, 20);
  const std::string device = deviceOf(replay);
  ASSERT_FALSE(device.empty());
  // The profile's first line (continuous on) goes to the tracker when "stream" sends 1.
  ProcessResult live =
      loomwork({"run", kExamples + "tracker-serial.lwd", "--seconds", "4", "--set", "serial.device=" + device, "--set",
                "serial.baud=115200", "--set", "tracker.profileName=" + kExamples + "flockOfBirds.profile"},
               60000);
  ASSERT_EQ(live.status, 0) << live.err;
  EXPECT_EQ(live.err, "");
  EXPECT_EQ(live.outLines(), expected);
  // What the module wrote to the device, then the end of the playing.
  std::vector<std::string> said;
  for (std::string l; replay.line(l, 1000) && l.rfind("played", 0) != 0;) said.push_back(l);
  EXPECT_TRUE(contains(said, "from program: 0x5940")) << (said.empty() ? "nothing" : said[0]);
}
