// loomwork under load, through the real program: a peer that floods the tone receiver and a
// serial port on /dev/zero keep the process small and the run stops on time; a stuck output
// pipe does not keep a signal from ending the run; many Timers are scheduled cheaply. The
// figures measured are printed for the record; the assertions are generous bounds.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

#include "testing/Loopback.h"
#include "testing/Process.h"
#include "testing/TempFolder.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

constexpr long kRssLimitKb = 64 * 1024;
// Time bounds stretch for a sanitizer's build (several times slower, and its exit checks take a
// while), where memory is not measured at all.
constexpr double kSlow = kSanitized ? 10.0 : 1.0;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Only the host modules, unless the test needs the built libraries.
std::vector<std::string> hostOnly(TempFolder& dir, std::vector<std::string> args) {
  fs::create_directories(dir.file("no-modules"));
  args.insert(args.begin() + 1, {"--modules", dir.file("no-modules")});
  return args;
}

// loomwork with its standard output thrown away (the shell execs it: the process is loomwork).
std::vector<std::string> quietly(const std::vector<std::string>& args) {
  std::vector<std::string> all{"-c", "exec \"$0\" \"$@\" >/dev/null", LOOMWORK_BIN};
  all.insert(all.end(), args.begin(), args.end());
  return all;
}

// A kB figure from /proc/PID/status ("VmHWM", "VmRSS"); -1 when the process is gone.
long statusKb(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key + ":", 0) == 0) return std::strtol(line.c_str() + key.size() + 1, nullptr, 10);
  return -1;
}

pid_t pidOf(const RunningProcess& p) {
  // RunningProcess keeps its pid to itself; the newest child of ours that runs loomwork is it.
  (void)p;
  pid_t found = -1;
  for (const auto& e : fs::directory_iterator("/proc")) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(e.path() / "stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = all.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(all.substr(close + 2));
    char state;
    pid_t parent = -1;
    rest >> state >> parent;
    if (parent != getpid()) continue;
    std::ifstream exe(e.path() / "cmdline");
    std::string cmd((std::istreambuf_iterator<char>(exe)), std::istreambuf_iterator<char>());
    if (cmd.rfind(LOOMWORK_BIN, 0) != 0) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    if (pid > found) found = pid;
  }
  return found;
}

// A loopback port on which nothing listens, inside the tone receiver's 3000..8000, not 3502.
int unusedReceiverPort() {
  for (int i = 0; i < 5000; ++i) {
    const int port = 3000 + (static_cast<int>(getpid()) * 13 + i) % 5001;
    if (port != 3502 && LoopbackServer(port).listening()) return port;
  }
  return -1;
}

// The tone receiver with every output on a Monitor, as in the example.
std::string toneDiagram(TempFolder& dir, int port) {
  std::string links;
  for (int k = 0; k < 12; ++k)
    links += R"({ "from": "dtmf:)" + std::to_string(k) + R"(", "to": "keys:)" + std::to_string(k) + R"(" },)";
  return dir.write("tones.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "dtmf", "class": "JToneDigitObj", "rect": [20, 20, 120, 160], "content": { "port": )" +
                                    std::to_string(port) + R"( } },
    { "id": "keys", "class": "Monitor", "rect": [220, 20, 160, 220], "content": { "inputs": 12 } },
    { "id": "digit", "class": "Monitor", "rect": [220, 260, 160, 60], "content": { "inputs": 1 } } ],
    "links": [ )" + links + R"( { "from": "dtmf:12", "to": "digit:0" } ] })");
}

// A sender that keeps sending digits as fast as the receiver takes them, reconnecting when the
// connection ends, until stopped.
class Flood {
public:
  explicit Flood(int port) : port_(port), thread_([this] { send(); }) {}
  ~Flood() {
    stop_ = true;
    thread_.join();
  }
  // Waits until a connection is made; the time of the first one.
  bool connected(int ms) {
    const auto limit = Clock::now() + std::chrono::milliseconds(ms);
    while (!connected_ && Clock::now() < limit) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return connected_;
  }
  Clock::time_point firstConnect() const { return first_; }
  long long sent() const { return sent_; }

private:
  void send() {
    std::string chunk;
    for (int i = 0; i < 32768; ++i) chunk += "12";
    while (!stop_) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      timeval t{0, 100000};
      ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
      sockaddr_in sa{};
      sa.sin_family = AF_INET;
      sa.sin_port = htons(static_cast<uint16_t>(port_));
      sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
        if (!connected_) first_ = Clock::now();
        connected_ = true;
        while (!stop_) {
          const ssize_t n = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
          if (n > 0) sent_ += n;
          else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
        }
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      ::close(fd);
    }
  }
  const int port_;
  std::atomic<bool> stop_{false}, connected_{false};
  std::atomic<long long> sent_{0};
  Clock::time_point first_;
  std::thread thread_;
};

// Samples the peak RSS while `seconds` pass.
long watchPeakKb(pid_t pid, double seconds) {
  long peak = 0;
  const auto start = Clock::now();
  while (secondsSince(start) < seconds) {
    peak = std::max(peak, statusKb(pid, "VmHWM"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return std::max(peak, statusKb(pid, "VmHWM"));
}

}  // namespace

// A peer that sends digits without pause: the receiver's values wait in a bounded queue, so the
// peer is held back by TCP and the process stays small; and the run ends on time however it is
// ended: by --seconds, SIGINT or SIGTERM (then still saving the diagram).
TEST(LoadCli, AFloodedToneReceiverStaysSmallAndStopsOnTime) {
  for (const char* how : {"--seconds", "SIGINT", "SIGTERM"}) {
    SCOPED_TRACE(how);
    TempFolder dir;
    const int port = unusedReceiverPort();
    ASSERT_GT(port, 0);
    const std::string d = toneDiagram(dir, port);
    const bool timed = std::string(how) == "--seconds";
    const double runSeconds = 2.5;
    std::vector<std::string> args{"run", d, "--save", dir.file("out.lwd")};
    if (timed) args.insert(args.end(), {"--seconds", "2.5"});
    RunningProcess p("/bin/sh", quietly(args));
    ASSERT_TRUE(p.started());
    Flood flood(port);
    ASSERT_TRUE(flood.connected(10000)) << p.soFar().err;
    const pid_t pid = pidOf(p);
    ASSERT_GT(pid, 0);
    const long peakKb = watchPeakKb(pid, timed ? runSeconds - 0.5 : 1.5);
    const auto stopAt = timed ? flood.firstConnect() + std::chrono::milliseconds(2500) : Clock::now();
    if (!timed) p.signal(std::string(how) == "SIGINT" ? SIGINT : SIGTERM);
    const ProcessResult r = p.finish(20000);
    const double late = std::chrono::duration<double>(Clock::now() - stopAt).count();
    std::printf("[ figures ] %s: %.1f MB sent, peak RSS %ld kB, ended %.0f ms after the stop\n", how,
                static_cast<double>(flood.sent()) / (1 << 20), peakKb, late * 1000);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_GT(flood.sent(), 256 * 1024) << "the flood did not reach the receiver";
    if (!kSanitized) { EXPECT_LT(peakKb, kRssLimitKb); }
    EXPECT_LT(late, 1.0 * kSlow);
    EXPECT_TRUE(fs::exists(dir.file("out.lwd")));
  }
}

// A serial port on /dev/zero reads as fast as memory goes; one SIGINT ends the run (before, only a
// second one could), and the process stays small.
TEST(LoadCli, ASerialPortOnDevZeroStaysSmallAndStopsOnOneSignal) {
  TempFolder dir;
  const std::string d = dir.write("zero.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "port", "class": "SerialPort", "content": { "device": "/dev/zero", "baud": 9600 } },
    { "id": "mon", "class": "Monitor", "content": { "inputs": 1 } } ],
    "links": [ { "from": "port:0", "to": "mon:0" } ] })");
  RunningProcess p("/bin/sh", quietly(hostOnly(dir, {"run", d, "--save", dir.file("out.lwd")})));
  ASSERT_TRUE(p.started());
  pid_t pid = -1;
  for (int i = 0; i < 200 && pid <= 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    pid = pidOf(p);
  }
  ASSERT_GT(pid, 0);
  const long peakKb = watchPeakKb(pid, 2.0);
  const auto stopAt = Clock::now();
  p.signal(SIGINT);
  const ProcessResult r = p.finish(20000);
  const double late = secondsSince(stopAt);
  std::printf("[ figures ] /dev/zero: peak RSS %ld kB, ended %.0f ms after SIGINT\n", peakKb, late * 1000);
  EXPECT_EQ(r.status, 0) << r.err;
  if (!kSanitized) { EXPECT_LT(peakKb, kRssLimitKb); }
  EXPECT_LT(late, 1.0 * kSlow);
  EXPECT_TRUE(fs::exists(dir.file("out.lwd")));
}

namespace {
// loomwork with its standard output on a pipe that nobody reads.
class StuckOutputRun {
public:
  // Standard error goes to errFile.
  StuckOutputRun(const std::vector<std::string>& args, const std::string& errFile) {
    if (pipe2(out_, O_CLOEXEC) != 0) return;
    std::vector<char*> argv{const_cast<char*>(LOOMWORK_BIN)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {  // only async-signal-safe calls from here
      const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out_[1], STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      execv(LOOMWORK_BIN, argv.data());
      _exit(127);
    }
    close(out_[1]);
  }
  ~StuckOutputRun() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_[0]);
  }
  pid_t pid() const { return pid_; }
  // Waits until the pipe takes no more (what it holds has not changed for a while; a pipe that
  // has room for less than a whole write is as full as one with no room at all) and the program
  // has had time to fill its own buffer behind it.
  bool stuck(int ms) {
    const auto limit = Clock::now() + std::chrono::milliseconds(ms);
    fcntl(out_[0], F_SETPIPE_SZ, 4096);
    int queued = 0, last = -1;
    auto since = Clock::now();
    while (Clock::now() < limit) {
      if (ioctl(out_[0], FIONREAD, &queued) != 0) return false;
      if (queued != last || queued == 0) {
        last = queued;
        since = Clock::now();
      } else if (Clock::now() - since > std::chrono::milliseconds(300)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // its buffer fills too
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  // The exit status, or -1 when it did not end within ms.
  int wait(int ms) {
    const auto limit = Clock::now() + std::chrono::milliseconds(ms);
    int status = 0;
    while (Clock::now() < limit) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }

private:
  int out_[2] = {-1, -1};
  pid_t pid_ = -1;
};

// Forty-eight Timers at 1 ms into three Monitors: lines faster than a stopped reader can hold.
std::string busyDiagram(TempFolder& dir) {
  std::string modules, links;
  for (int i = 0; i < 48; ++i) {
    modules += R"({ "id": "t)" + std::to_string(i) + R"(", "class": "Timer", "content": { "periodMs": 1 } },)";
    links += R"({ "from": "t)" + std::to_string(i) + R"(:0", "to": "m)" + std::to_string(i / 16) + ":" +
             std::to_string(i % 16) + R"(" },)";
  }
  for (int m = 0; m < 3; ++m)
    modules += R"({ "id": "m)" + std::to_string(m) + R"(", "class": "Monitor", "content": { "inputs": 16 } },)";
  modules.pop_back();
  links.pop_back();
  return dir.write("busy.lwd", R"({ "loomwork": 1, "modules": [ )" + modules + " ], \"links\": [ " + links + " ] }");
}
}  // namespace

// With standard output on a pipe that nobody reads, one signal still ends the run soon (the
// diagram saved, status 0), and a second signal ends the process at once with status 130,
// whatever the output holds.
TEST(LoadCli, AStuckOutputPipeDoesNotHoldOffSignals) {
  TempFolder dir;
  const std::string d = busyDiagram(dir);
  {
    StuckOutputRun run(hostOnly(dir, {"run", d, "--save", dir.file("out.lwd")}), dir.file("err1.txt"));
    ASSERT_GT(run.pid(), 0);
    ASSERT_TRUE(run.stuck(10000));
    const auto at = Clock::now();
    kill(run.pid(), SIGINT);
    const int status = run.wait(10000);
    std::printf("[ figures ] stuck output: one SIGINT ended the process in %.0f ms\n", secondsSince(at) * 1000);
    EXPECT_EQ(status, 0);
    EXPECT_LT(secondsSince(at), 3.0 * kSlow);
    EXPECT_TRUE(fs::exists(dir.file("out.lwd")));
    // The lines given up on are counted, where the user sees it.
    EXPECT_NE(TempFolder::read(dir.file("err1.txt")).find("output lines were not written"), std::string::npos)
        << TempFolder::read(dir.file("err1.txt"));
  }
  {
    // Closing never ends here (the picture goes to a pipe nobody opens), so the second SIGINT
    // meets a process that holds a stuck output and waits in its closing.
    const std::string fifo = dir.file("stuck.png");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    StuckOutputRun run(hostOnly(dir, {"run", d, "--render", fifo}), dir.file("err2.txt"));
    ASSERT_GT(run.pid(), 0);
    ASSERT_TRUE(run.stuck(10000));
    kill(run.pid(), SIGINT);
    EXPECT_EQ(run.wait(500), -1) << "the render to a pipe nobody opens cannot have finished";
    const auto at = Clock::now();
    kill(run.pid(), SIGINT);
    const int status = run.wait(5000);
    std::printf("[ figures ] stuck output: the second SIGINT ended the process in %.0f ms\n", secondsSince(at) * 1000);
    EXPECT_EQ(status, 130);
    EXPECT_LT(secondsSince(at), 2.0 * kSlow);
  }
}

// 100,000 Timers at 10 ms for 3 s: the schedule costs log n per tick, so the run ends on time
// (before, 30,000 Timers took 100 s and 100,000 never ended). A sanitizer's build, which takes
// long to load and close so many modules, runs 10,000.
TEST(LoadCli, AHundredThousandTimersRunOnTime) {
  TempFolder dir;
  const int timers = kSanitized ? 10000 : 100000;
  std::string text = R"({ "loomwork": 1, "modules": [)";
  for (int i = 0; i < timers; ++i)
    text += std::string(i ? "," : "") + R"({"id":"t)" + std::to_string(i) +
            R"(","class":"Timer","content":{"periodMs":10}})";
  text += R"(], "links": [] })";
  const std::string d = dir.write("timers.lwd", text);
  const auto start = Clock::now();
  const ProcessResult r = runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", d, "--seconds", "3"}), 60000);
  const double took = secondsSince(start);
  std::printf("[ figures ] %d Timers, --seconds 3: %.2f s\n", timers, took);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_LT(took, 30.0);
}
