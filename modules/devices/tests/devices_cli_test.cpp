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
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include "testing/Process.h"
#include "testing/SettingRoads.h"
#include "testing/TempFolder.h"

namespace {

const std::string kExamples = std::string(LOOMWORK_SOURCE_DIR) + "/examples/devices/";
const std::string kLogs = std::string(LOOMWORK_SOURCE_DIR) + "/modules/devices/tests/data/";

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

// A Player's script of a recording: blocks of 1 to 64 bytes, one a millisecond, as a serial
// reader delivers them.
std::string playerScript(const std::string& bytes) {
  static const char hex[] = "0123456789abcdef";
  std::string csv;
  unsigned seed = 12345;
  int t = 0;
  for (size_t at = 0; at < bytes.size(); ++t) {
    seed = seed * 1103515245u + 12345u;
    const size_t n = std::min(bytes.size() - at, size_t(1 + (seed >> 16) % 64));
    csv += std::to_string(t) + ",0,0x";
    for (size_t i = at; i < at + n; ++i) {
      csv += hex[static_cast<unsigned char>(bytes[i]) >> 4];
      csv += hex[bytes[i] & 15];
    }
    csv += "\n";
    at += n;
  }
  return csv;
}

// Player → GPS → Monitor "position", the GPS's content as given, and a Value into "enable DEBUG".
std::string gpsDiagram(const std::string& gpsContent, int debug) {
  return R"({ "loomwork": 1, "modules": [
    { "id": "player", "class": "Player", "rect": [20, 40, 100, 60], "content": { "file": "log.csv", "outputs": "b" } },
    { "id": "debug", "class": "Value", "rect": [200, 0, 60, 30], "content": { "value": )" +
         std::to_string(debug) + R"(, "type": "i" } },
    { "id": "gps", "class": "JGeoFixObj", "rect": [180, 30, 100, 80], "content": )" +
         gpsContent + R"( },
    { "id": "position", "class": "Monitor", "rect": [340, 20, 200, 100], "content": { "inputs": 3 } } ],
  "links": [ { "from": "player:0", "to": "gps:0" }, { "from": "debug:0", "to": "gps:1" },
    { "from": "gps:0", "to": "position:0" }, { "from": "gps:1", "to": "position:1" },
    { "from": "gps:2", "to": "position:2" } ] })";
}

// The .expect lines ("OUTPUT VALUE") as the Monitor prints them.
std::vector<std::string> monitorLines(const std::string& expectFile) {
  std::vector<std::string> out;
  std::istringstream in(TempFolder::read(expectFile));
  for (std::string l; std::getline(in, l);) out.push_back("M position." + l);
  return out;
}

}  // namespace

// The receivers' logs played into the real loomwork: what each receiver sent, with "any talker"
// left out of the diagram (0, as before), stored as 1, and (one log) set to 1 on the command line.
void playLogThroughLoomwork(const std::string& log, bool alsoBySet) {
  TempFolder dir;
  dir.write("log.csv", playerScript(TempFolder::read(kLogs + log + ".nmea")));
  const std::string before = dir.write("before.lwd", gpsDiagram("{}", 0));
  const std::string stored = dir.write("stored.lwd", gpsDiagram(R"({ "anyTalker": 1 })", 0));
  const auto off = monitorLines(kLogs + log + ".anytalker0.expect");
  const auto on = monitorLines(kLogs + log + ".anytalker1.expect");
  ASSERT_FALSE(off.empty());
  ASSERT_FALSE(on.empty());

  ProcessResult r = loomwork({"run", before, "--until-idle"}, 60000);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.outLines(), off) << log;
  r = loomwork({"run", stored, "--until-idle"}, 60000);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.outLines(), on) << log;
  if (alsoBySet) {
    r = loomwork({"run", before, "--until-idle", "--set", "gps.any talker=1"}, 60000);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.outLines(), on) << log;
  }
}

TEST(DevicesCli, SingleGpsReceiverLogThroughLoomwork) { playLogThroughLoomwork("single-gps", false); }
TEST(DevicesCli, MultiGnssReceiverLogThroughLoomwork) { playLogThroughLoomwork("multi-gnss", true); }
TEST(DevicesCli, OneSequenceReceiverLogThroughLoomwork) { playLogThroughLoomwork("one-sequence", false); }

// The property as `props` lists it, and a value outside 0..1 by every road.
TEST(DevicesCli, AnyTalkerByEveryRoad) {
  TempFolder dir;
  const std::string d = dir.write("d.lwd", gpsDiagram("{}", 0));
  const ProcessResult props = loomwork({"props", d, "gps"}, 60000);
  EXPECT_NE(props.out.find("any talker"), std::string::npos) << props.out << props.err;
  for (const std::string& failure : checkSettingRoads("JGeoFixObj", LOOMWORK_BIN, LOOMWORK_MODULES_DIR))
    ADD_FAILURE() << failure;
}

// A log damaged on its way: latitudes with a digit changed, a byte that is a control character.
// No damaged value reaches the Monitor; with "enable DEBUG" on, each damaged sentence is one
// "bad checksum" line on standard error, its control byte written as \xNN.
TEST(DevicesCli, ADamagedLogPublishesNoDamagedValue) {
  std::string log = TempFolder::read(kLogs + "multi-gnss.nmea");
  int damaged = 0;
  int seen = 0;
  for (size_t at = log.find("$GNGLL,5231."); at != std::string::npos; at = log.find("$GNGLL,5231.", at + 1)) {
    if (seen++ % 2 == 1) continue;
    log[at + 9] = '7';  // 52 31 becomes 52 71: 74 km to the north
    ++damaged;
  }
  ASSERT_GE(damaged, 5);
  const size_t gsv = log.find("$GLGSV,2,1");
  ASSERT_NE(gsv, std::string::npos);
  log[gsv + 7] = '\x02';
  TempFolder dir;
  dir.write("log.csv", playerScript(log));
  for (int anyTalker : {0, 1}) {
    const std::string diagram =
        dir.write("d.lwd", gpsDiagram(R"({ "anyTalker": )" + std::to_string(anyTalker) + " }", 1));
    ProcessResult r = loomwork({"run", diagram, "--until-idle"}, 60000);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("52 71."), std::string::npos) << r.out;
    std::vector<std::string> bad;
    std::istringstream err(r.err);
    for (std::string l; std::getline(err, l);)
      if (l.rfind("gps: bad checksum: ", 0) == 0) bad.push_back(l);
    ASSERT_EQ(bad.size(), static_cast<size_t>(damaged + 1)) << r.err;
    EXPECT_EQ(bad[0].rfind("gps: bad checksum: $GLGSV,\\x02,1,", 0), 0u) << bad[0];
    EXPECT_EQ(bad[1].rfind("gps: bad checksum: $GNGLL,5271.", 0), 0u) << bad[1];
    if (anyTalker == 1) { EXPECT_NE(r.out.find("M position.0 \"52 31."), std::string::npos); }
  }
}

// A tracker diagram run where no flockOfBirds.profile lies: one line naming the path, while a
// diagram that only reads records says nothing.
TEST(DevicesCli, TrackerWithoutItsProfileNamesThePath) {
  TempFolder dir;
  dir.write("stream.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "stream", "class": "Value", "rect": [200, 10, 80, 30], "content": { "value": 1, "type": "i" } },
    { "id": "tracker", "class": "JMotionTrackerObj", "rect": [180, 80, 120, 120] } ],
  "links": [ { "from": "stream:0", "to": "tracker:1" } ] })");
  const std::string cd = "cd '" + dir.path() + "' && exec '" + LOOMWORK_BIN + "' run ";
  const std::string tail = " --seconds 0.2 --modules '" + std::string(LOOMWORK_MODULES_DIR) + "'";
  ProcessResult r = runProcess("/bin/sh", {"-c", cd + "stream.lwd" + tail}, 60000);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "tracker: cannot read profile " + dir.file("flockOfBirds.profile") + ": No such file or directory\n");
  r = runProcess("/bin/sh", {"-c", cd + "'" + kExamples + "tracker-player.lwd' --until-idle" + tail}, 60000);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

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
