// What a user meets on the first day through the real program: versions, a picture refused under a
// name that is not PNG, a program moved away from its modules naming where it looked, and
// --until-idle waiting for a page fetch under way, a serial device plugged in after the start.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "testing/Loopback.h"
#include "testing/Process.h"
#include "testing/TempFolder.h"

namespace fs = std::filesystem;

TEST(FirstDayCli, VersionsAndPicturesOnlyAsPng) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--version"}, {"run", "--version"}}) {
    const ProcessResult r = runProcess(LOOMWORK_BIN, args, 10000);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "loomwork 1.0.0\n");
  }
  TempFolder dir;
  const std::string diagram = std::string(LOOMWORK_SOURCE_DIR) + "/examples/first/first.lwd";
  ProcessResult r = runProcess(
      LOOMWORK_BIN,
      {"run", diagram, "--seconds", "5", "--render", dir.file("x.jpg"), "--modules", LOOMWORK_MODULES_DIR}, 10000);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "run: --render " + dir.file("x.jpg") + ": --render writes PNG\n");
  r = runProcess(LOOMWORK_BIN, {"render", diagram, "--out", dir.file("x.JPG"), "--modules", LOOMWORK_MODULES_DIR},
                 10000);
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(fs::exists(dir.file("x.JPG")));
  r = runProcess(LOOMWORK_BIN, {"render", diagram, "--out", dir.file("x.PNG"), "--modules", LOOMWORK_MODULES_DIR},
                 10000);
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(FirstDayCli, AMovedProgramNamesThePlacesItLookedForModules) {
  TempFolder dir;
  const std::string moved = dir.file("loomwork");
  fs::copy_file(LOOMWORK_BIN, moved);
  fs::permissions(moved, fs::perms::owner_all);
  const ProcessResult r =
      runProcess("/usr/bin/env",
                 {"-u", "LOOMWORK_MODULES", moved, "run",
                  std::string(LOOMWORK_SOURCE_DIR) + "/examples/tones/tones.lwd", "--seconds", "0.1"},
                 10000);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("unknown class \"JToneDigitObj\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(dir.path() + "/../modules (no such folder)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("$LOOMWORK_MODULES (not set)"), std::string::npos) << r.err;
}

// The page is answered only after a pause: an idle run that did not wait for the fetch would end
// with no values at all.
TEST(FirstDayCli, UntilIdleWaitsForAPageFetchUnderWay) {
  int port = 0;
  std::unique_ptr<LoopbackServer> server;
  for (int p = 4100; p < 4990 && !server; p += 7) {
    server = std::make_unique<LoopbackServer>(p);
    if (!server->listening()) server.reset();
    else port = p;
  }
  ASSERT_TRUE(server) << "no free port in the page reader's range";
  TempFolder dir;
  const std::string diagram = dir.write("page.lwd",
                                        R"({"loomwork": 1, "modules": [
  {"id": "reload", "class": "Value", "rect": [20, 20, 80, 50], "content": {"value": 1, "type": "i"}},
  {"id": "page", "class": "JPageReaderObj", "rect": [20, 110, 160, 120],
   "content": {"address": "127.0.0.1", "port": )" +
                                            std::to_string(port) + R"(, "url": "/"}},
  {"id": "values", "class": "Monitor", "rect": [240, 20, 160, 100], "content": {"inputs": 2}}],
 "links": [{"from": "reload:0", "to": "page:0"}, {"from": "page:0", "to": "values:0"},
           {"from": "page:1", "to": "values:1"}]})");
  RunningProcess run(LOOMWORK_BIN, {"run", diagram, "--until-idle", "--modules", LOOMWORK_MODULES_DIR});
  ASSERT_TRUE(server->accept(10000));
  std::string line;
  while (server->readLine(line, 5000) && !line.empty()) {}
  // Well past the moment the Value's one value is delivered and the queue is empty.
  run.readUntil([](const ProcessResult& r) { return !r.out.empty(); }, 700);
  EXPECT_EQ(run.soFar().out, "");
  server->send("HTTP/1.0 200 OK\r\n\r\n<body>aaFF0A1B");
  server->closeConnection();
  const ProcessResult r = run.finish(10000);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.outLines(), (std::vector<std::string>{"M values.0 10", "M values.1 27"})) << r.out;
}

// A serial device that is not there when the run starts (a receiver plugged in later, a replay
// started later): one line says so, the port tries again every second and says when it opens,
// and what the device sends then reaches the diagram.
TEST(FirstDayCli, ASerialDevicePluggedInLaterIsOpenedWhenItAppears) {
  TempFolder dir;
  fs::create_directories(dir.file("no-modules"));
  const std::string link = dir.file("ttyLATER");
  const std::string d = dir.write("serial.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "port", "class": "SerialPort", "content": { "device": ")" +
                                                    link + R"(", "baud": 9600 } },
    { "id": "mon", "class": "Monitor" } ], "links": [ { "from": "port:0", "to": "mon:0" } ] })");
  RunningProcess run(LOOMWORK_BIN, {"run", d, "--modules", dir.file("no-modules")});
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(
      run.readUntil([](const ProcessResult& r) { return r.err.find("trying again") != std::string::npos; }, 10000))
      << run.soFar().err;

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  fs::create_symlink(ptsname(master), link);
  EXPECT_TRUE(run.readUntil([](const ProcessResult& r) { return r.err.find("opened") != std::string::npos; }, 10000))
      << run.soFar().err;
  ASSERT_EQ(write(master, "fix", 3), 3);
  EXPECT_TRUE(run.readUntil([](const ProcessResult& r) { return r.out.find("M mon.0") != std::string::npos; }, 10000))
      << run.soFar().out;
  run.signal(SIGINT);
  const ProcessResult r = run.finish(10000);
  close(master);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.rfind("port: cannot open " + link + ": No such file or directory; trying again every second\n", 0),
            0u)
      << r.err;
  EXPECT_NE(r.err.find("port: opened " + link + "\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("cannot open", 10), std::string::npos) << "the retries are not said: " << r.err;
  EXPECT_NE(r.out.find("M mon.0 "), std::string::npos);
}
