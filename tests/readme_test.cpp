// Every loomwork and lwd2html command line in the README's code blocks works as shown: each runs
// from a copy of the examples beside this build (so that what it writes stays there) and ends
// with status 0. A live run (no --seconds or --until-idle, or started with '&') is ended with
// Ctrl-C after a moment, as a user would; one that serves the canvas serves it on a free port.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "testing/Process.h"
#include "testing/TempFolder.h"

namespace fs = std::filesystem;

namespace {
struct Command {
  std::string line;
  bool live;
};

std::vector<Command> readmeCommands() {
  std::vector<Command> out;
  std::istringstream in(TempFolder::read(std::string(LOOMWORK_SOURCE_DIR) + "/README.md"));
  bool inBlock = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("```", 0) == 0) {
      inBlock = !inBlock;
      continue;
    }
    if (!inBlock) continue;
    const size_t start = line.find("build/bin/");
    if (start == std::string::npos) continue;
    std::string cmd = line.substr(start);
    if (cmd.rfind("build/bin/loomwork", 0) != 0 && cmd.rfind("build/bin/lwd2html", 0) != 0) continue;
    if (const size_t hash = cmd.find(" #"); hash != std::string::npos) cmd.erase(hash);
    while (!cmd.empty() && cmd.back() == ' ') cmd.pop_back();
    bool background = false;
    if (!cmd.empty() && cmd.back() == '&') {
      background = true;
      cmd.pop_back();
      while (!cmd.empty() && cmd.back() == ' ') cmd.pop_back();
    }
    // A served canvas listens on a port the system picks, so that the test takes none in use.
    if (const size_t serve = cmd.find(" --serve "); serve != std::string::npos) {
      const size_t at = serve + 9, end = cmd.find(' ', at);
      cmd.replace(at, end == std::string::npos ? std::string::npos : end - at, "127.0.0.1:0");
    }
    const bool run = cmd.find(" run ") != std::string::npos;
    const bool bounded = cmd.find("--seconds") != std::string::npos || cmd.find("--until-idle") != std::string::npos;
    out.push_back({cmd, background || (run && !bounded)});
  }
  return out;
}
}  // namespace

TEST(Readme, EveryCommandLineWorksAsShown) {
  const auto commands = readmeCommands();
  ASSERT_GE(commands.size(), 8u) << "the README shows fewer command lines than expected";
  TempFolder dir("loomwork-readme");
  fs::copy(std::string(LOOMWORK_SOURCE_DIR) + "/examples", dir.file("examples"), fs::copy_options::recursive);
  fs::create_directories(dir.file("build"));
  fs::create_directory_symlink(std::string(LOOMWORK_BUILD_DIR) + "/bin", dir.file("build/bin"));
  fs::create_directory_symlink(std::string(LOOMWORK_BUILD_DIR) + "/modules", dir.file("build/modules"));
  for (const auto& c : commands) {
    SCOPED_TRACE(c.line);
    const std::vector<std::string> args{"-c", "cd '" + dir.path() + "' && exec " + c.line};
    if (c.live) {
      RunningProcess p("/bin/sh", args);
      const std::string program = c.line.substr(0, c.line.find(' '));
      EXPECT_TRUE(p.readUntilBlocking(program, SIGINT, 60000)) << "it never got ready for Ctrl-C: " << p.soFar().err;
      p.readUntil([](const ProcessResult&) { return false; }, 1500);
      p.signal(SIGINT);
      const ProcessResult r = p.finish(60000);
      EXPECT_EQ(r.status, 0) << r.err;
      if (c.line.find(" --serve ") != std::string::npos) {
        EXPECT_NE(r.err.find("serving http://127.0.0.1:"), std::string::npos) << r.err;
      }
    } else {
      const ProcessResult r = runProcess("/bin/sh", args, 120000);
      EXPECT_EQ(r.status, 0) << r.err;
    }
  }
}
