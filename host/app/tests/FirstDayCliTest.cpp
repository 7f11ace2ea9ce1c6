// What a user meets on the first day through the real program: versions, a picture refused under a
// name that is not PNG, a program moved away from its modules naming where it looked, and
// --until-idle waiting for a page fetch under way.
#include <gtest/gtest.h>

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
