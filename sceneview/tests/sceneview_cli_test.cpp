// The real sceneview program against hostile clients and bad starts, and the real loomwork's
// plot feed against viewers that are missing or close at once.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "SceneProtocol.h"
#include "TestFrames.h"
#include "testing/Loopback.h"
#include "testing/Process.h"
#include "testing/TempFolder.h"

namespace {

using namespace sceneview_test;

size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// sceneview on a port of the system's choice, running beside the test.
class Sceneview {
public:
  explicit Sceneview(std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", "0"});
    process = std::make_unique<RunningProcess>(SCENEVIEW_BIN, args);
    std::smatch m;
    process->readUntil(
        [&](const ProcessResult& r) {
          static const std::regex listening("listening on ([0-9]+)");
          if (!std::regex_search(r.out, m, listening)) return false;
          port = std::stoi(m[1]);
          return true;
        },
        5000);
  }
  // Waits until standard error holds part (count times).
  bool errSays(const std::string& part, size_t count = 1, int ms = 3000) {
    return process->readUntil([&](const ProcessResult& r) { return countOf(r.err, part) >= count; }, ms);
  }
  std::string err() const { return process->soFar().err; }
  std::string out() const { return process->soFar().out; }
  std::unique_ptr<RunningProcess> process;
  int port = -1;
};

// A client that says what a feed says: its scene file, and reads the names line back.
std::string askForScene(LoopbackClient& c, int seq, const std::string& file) {
  c.send(sceneFileFrame(seq, file));
  std::string line;
  for (std::string b = c.read(1, 3000); !b.empty(); b = c.read(1, 3000)) {
    line += b;
    if (b == "\n" || line.size() > 200) break;
  }
  return line;
}

TEST(SceneviewStart, MissingFoldersHelpAndVersion) {
  TempFolder dir;
  const std::string missing = dir.file("no-such-folder");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--scenes", missing},
                                               {"--png", missing + "/top.png"},
                                               {"--png", dir.path()},
                                               {"--scenes", dir.write("file.txt", "x")}}) {
    const ProcessResult r = runProcess(SCENEVIEW_BIN, args, 5000);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.out, "") << "nothing is served: " << r.out;
    EXPECT_EQ(countOf(r.err, "\n"), 1u) << r.err;
    EXPECT_EQ(countOf(r.err, args[1]), 1u) << "the path once: " << r.err;
    EXPECT_EQ(r.err.rfind("sceneview: " + args[0] + " ", 0), 0u) << r.err;
  }
  const ProcessResult help = runProcess(SCENEVIEW_BIN, {"--help"}, 5000);
  EXPECT_EQ(help.status, 0);
  for (const char* word :
       {"--port", "--scenes", "--png", "--seconds", "--quiet", "--version", "LOOMWORK_FONT", "SCENEVIEW_TEST_IDLE_MS"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  const ProcessResult version = runProcess(SCENEVIEW_BIN, {"--version"}, 5000);
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("sceneview [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.out;
}

// Names are taken inside --scenes only, as regular files of bounded size; what is refused sends
// nothing back, so the next answer is the good file's names.
TEST(SceneviewFiles, NamesStayInsideTheScenesFolder) {
  TempFolder dir;
  dir.write("secret.txt", "DEF secret Shape {}\n");
  const std::string scenes = dir.file("scenes");
  ASSERT_EQ(::mkdir(scenes.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((scenes + "/sub").c_str(), 0755), 0);
  dir.write("scenes/ok.wrl", "DEF cube Shape {}\n");
  dir.write("scenes/sub/inner.wrl", "DEF inner Shape {}\n");
  ASSERT_EQ(::symlink("../secret.txt", (scenes + "/out.wrl").c_str()), 0);
  ASSERT_EQ(::symlink("/dev/zero", (scenes + "/zero.wrl").c_str()), 0);
  ASSERT_EQ(::symlink(scenes.c_str(), (scenes + "/loop").c_str()), 0);  // inside: allowed
  ASSERT_EQ(::symlink("sub/inner.wrl", (scenes + "/in.wrl").c_str()), 0);
  ASSERT_EQ(::mkfifo((scenes + "/fifo.wrl").c_str(), 0644), 0);
  dir.write("scenes/big.wrl", "DEF big Shape {}\n" + std::string(sceneview::kMaxSceneFile, ' '));

  Sceneview viewer({"--scenes", scenes});
  ASSERT_GT(viewer.port, 0) << viewer.err();
  LoopbackClient c(viewer.port);
  ASSERT_EQ(c.read(2), "c\n");
  const std::vector<std::pair<std::string, std::string>> refused{{"../secret.txt", "\"..\" leads out"},
                                                                 {"sub/../ok.wrl", "\"..\" leads out"},
                                                                 {"/etc/passwd", "an absolute path"},
                                                                 {"/proc/self/environ", "an absolute path"},
                                                                 {"/dev/zero", "an absolute path"},
                                                                 {"out.wrl", "a link that leads out"},
                                                                 {"zero.wrl", "a link that leads out"},
                                                                 {"fifo.wrl", "not a regular file"},
                                                                 {"big.wrl", "larger than"},
                                                                 {"sub", "not a regular file"},
                                                                 {"missing.wrl", "No such file"}};
  int seq = 1;
  for (const auto& [name, why] : refused) {
    c.send(sceneFileFrame(seq++, name));
    EXPECT_EQ(askForScene(c, seq++, "ok.wrl"), "cube\n") << name;
    EXPECT_TRUE(viewer.errSays("cannot read scene file " + name + ": ")) << name << "\n" << viewer.err();
    EXPECT_NE(viewer.err().find(name + ": " + why), std::string::npos) << viewer.err();
  }
  EXPECT_EQ(askForScene(c, seq++, "in.wrl"), "inner\n");
  EXPECT_EQ(askForScene(c, seq++, "loop/sub/inner.wrl"), "inner\n");
  viewer.process->signal(SIGTERM);
  const ProcessResult seen = viewer.process->finish(5000);
  EXPECT_EQ(seen.status, 0);
  EXPECT_EQ(seen.out.find("secret"), std::string::npos);
  // Refusals leave the scene as it was: the same file again is no change, and two ways to one
  // file are one file.
  EXPECT_EQ(countOf(seen.out, "names cube"), 1u) << seen.out;
  EXPECT_EQ(countOf(seen.out, "names inner"), 1u) << seen.out;
}

// A pipe named as a scene is refused without waiting for a writer: a second client is served.
TEST(SceneviewFiles, APipeDoesNotStallTheServer) {
  TempFolder dir;
  dir.write("ok.wrl", "DEF cube Shape {}\n");
  ASSERT_EQ(::mkfifo(dir.file("pipe.wrl").c_str(), 0644), 0);
  Sceneview viewer({"--scenes", dir.path()});
  ASSERT_GT(viewer.port, 0) << viewer.err();
  LoopbackClient first(viewer.port);
  ASSERT_EQ(first.read(2), "c\n");
  first.send(sceneFileFrame(1, "pipe.wrl"));
  LoopbackClient second(viewer.port);
  EXPECT_EQ(second.read(2, 3000), "c\n");
  EXPECT_EQ(askForScene(second, 1, "ok.wrl"), "cube\n");
  EXPECT_TRUE(viewer.errSays("pipe.wrl: not a regular file"));
}

// Clients that say nothing are dropped after the (shortened) silence; one that talks stays, the
// seventeenth is refused with one line however often it tries, and a newcomer is served once
// places are free.
TEST(SceneviewClients, SilentClientsAreDroppedWhileOthersAreServed) {
  TempFolder dir;
  dir.write("ok.wrl", "DEF cube Shape {}\n");
  ::setenv("SCENEVIEW_TEST_IDLE_MS", "800", 1);
  Sceneview viewer({"--scenes", dir.path()});
  ::unsetenv("SCENEVIEW_TEST_IDLE_MS");
  ASSERT_GT(viewer.port, 0) << viewer.err();

  LoopbackClient talker(viewer.port);
  ASSERT_EQ(talker.read(2), "c\n");
  std::atomic<bool> talking{true};
  std::thread talk([&] {
    for (int seq = 1; talking; seq = seq % 128 + 1) {
      talker.send(str(framed(seq, le({4, 0, 1, seq, 0, 0}))));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  std::vector<std::unique_ptr<LoopbackClient>> silent;
  for (int i = 0; i < 15; ++i) {
    silent.push_back(std::make_unique<LoopbackClient>(viewer.port));
    ASSERT_EQ(silent.back()->read(2), "c\n") << i;
  }
  for (int i = 0; i < 2; ++i) {
    LoopbackClient refused(viewer.port);
    EXPECT_TRUE(refused.closedByPeer(3000));
  }
  for (auto& s : silent) EXPECT_TRUE(s->closedByPeer(5000));
  LoopbackClient newcomer(viewer.port);
  EXPECT_EQ(newcomer.read(2, 3000), "c\n");
  EXPECT_EQ(askForScene(newcomer, 1, "ok.wrl"), "cube\n");
  talking = false;
  talk.join();
  EXPECT_FALSE(talker.closedByPeer(0));
  EXPECT_TRUE(viewer.errSays("silent for 800 ms", 15));
  const std::string err = viewer.err();
  EXPECT_EQ(countOf(err, "client refused"), 1u) << err;
  EXPECT_EQ(countOf(err, "client 1 dropped"), 0u) << "the talker stays: " << err;
}

// --- the plot feed in the real loomwork ---

// A port in the feed's range (1024..5000) on which a listener of the test's own can be made.
int listenInFeedRange(int& port) {
  for (int tries = 0; tries < 200; ++tries) {
    const int want = 4000 + static_cast<int>((::getpid() * 7919u + tries * 104729u) % 1000u);
    int bound = 0;
    const int fd = listenOnLoopback(want, 16, bound);
    if (fd >= 0) {
      port = bound;
      return fd;
    }
  }
  return -1;
}

// A diagram whose feed is switched on at start and connects to port.
std::string feedDiagram(const TempFolder& dir, int port) {
  return dir.write("feed.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "on", "class": "Value", "rect": [20, 20, 80, 50], "content": { "value": 1, "type": "i" } },
    { "id": "feed", "class": "JPlotFeed", "rect": [180, 20, 140, 120],
      "content": { "address": "127.0.0.1", "port": )" +
                                   std::to_string(port) +
                                   R"(, "fileToLoad": "scene.wrl" } } ],
  "links": [ { "from": "on:0", "to": "feed:9" } ] })");
}

// A viewer that takes each connection and closes it at once, counting them.
class ClosingViewer {
public:
  ClosingViewer() {
    fd_ = listenInFeedRange(port);
    if (fd_ >= 0) thread_ = std::thread([this] { serve(); });
  }
  ~ClosingViewer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  int port = -1;
  std::atomic<int> connections{0};

private:
  void serve() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      ++connections;
      ::close(c);
    }
  }
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(PlotFeedBackOff, AViewerThatClosesAtOnceIsTriedAFewTimesASecond) {
  ClosingViewer hostile;
  ASSERT_GT(hostile.port, 0);
  TempFolder dir;
  const ProcessResult r =
      runProcess(LOOMWORK_BIN,
                 {"run", feedDiagram(dir, hostile.port), "--seconds", "2", "--modules", LOOMWORK_MODULES_DIR}, 10000);
  EXPECT_EQ(r.status, 0) << r.err;
  const int tries = hostile.connections.load();
  std::printf("connections in 2 s: %d\n", tries);
  EXPECT_GE(tries, 2) << "it goes on trying";
  EXPECT_LT(tries, 20) << "it backs off";
  EXPECT_EQ(countOf(r.err, "feed: cannot connect to 127.0.0.1:" + std::to_string(hostile.port)), 1u) << r.err;
  EXPECT_EQ(countOf(r.err, "\n"), 1u) << r.err;
}

// No viewer: one line. The real sceneview comes up on that port: one line again.
TEST(PlotFeedBackOff, OneLineWhenTheViewerIsMissingAndOneWhenItComes) {
  int port = -1;
  const int probe = listenInFeedRange(port);
  ASSERT_GE(probe, 0);
  ::close(probe);  // nothing listens there now
  TempFolder dir;
  RunningProcess run(LOOMWORK_BIN, {"run", feedDiagram(dir, port), "--modules", LOOMWORK_MODULES_DIR});
  const std::string missing = "feed: cannot connect to 127.0.0.1:" + std::to_string(port) + "; trying again";
  ASSERT_TRUE(run.readUntil([&](const ProcessResult& r) { return r.err.find(missing) != std::string::npos; }, 5000))
      << run.soFar().err;
  RunningProcess viewer(SCENEVIEW_BIN, {"--port", std::to_string(port), "--scenes",
                                        std::string(LOOMWORK_SOURCE_DIR) + "/examples/scene", "--seconds", "20"});
  const std::string back = "feed: connected to 127.0.0.1:" + std::to_string(port) + " again";
  EXPECT_TRUE(run.readUntil([&](const ProcessResult& r) { return r.err.find(back) != std::string::npos; }, 5000))
      << run.soFar().err;
  run.signal(SIGINT);
  const ProcessResult r = run.finish(5000);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(countOf(r.err, missing), 1u) << r.err;
  EXPECT_EQ(countOf(r.err, back), 1u) << r.err;
  EXPECT_EQ(countOf(r.err, "\n"), 2u) << r.err;
  viewer.signal(SIGTERM);
  EXPECT_NE(viewer.finish(5000).out.find("client 1 connected"), std::string::npos);
}

}  // namespace
