// Hostile files through the real program: diagrams nested without end, kills while a diagram or a
// picture is written, full disks, and control bytes in what the messages quote.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "Libraries.h"
#include "Render.h"
#include "gfxkit/JCanvas.h"
#include "loom/JDiagram.h"
#include "testing/Process.h"
#include "testing/TempFolder.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Only the host modules.
std::vector<std::string> hostOnly(TempFolder& dir, std::vector<std::string> args) {
  fs::create_directories(dir.file("no-modules"));
  args.insert(args.begin() + 1, {"--modules", dir.file("no-modules")});
  return args;
}

std::set<std::string> namesIn(const std::string& folder) {
  std::set<std::string> n;
  for (const auto& e : fs::directory_iterator(folder)) n.insert(e.path().filename().string());
  return n;
}

mode_t modeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

bool isLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

void expectOneLine(const ProcessResult& r, const std::string& fragment, const std::string& what) {
  EXPECT_EQ(r.status, 2) << what << "\n" << r.err;
  EXPECT_EQ(r.out, "") << what;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << what << ": not one line:\n" << r.err;
  EXPECT_NE(r.err.find(fragment), std::string::npos) << what << ": " << r.err;
}

// No byte of a terminal control in a message: line ends only.
bool printableLines(const std::string& err) {
  return std::none_of(err.begin(), err.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && c != '\n') || u == 0x7f;
  });
}

pid_t spawnQuiet(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

// Whether the process holds a file in `folder` that is being written: one without a name yet, a
// temporary beside the target, or the target itself (`target`, when it is written in place).
bool writingIn(pid_t pid, const std::string& folder, const std::string& target) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  DIR* d = ::opendir(fds.c_str());
  if (!d) return false;
  bool found = false;
  while (const dirent* e = ::readdir(d)) {
    char buf[4096];
    const ssize_t n = ::readlink((fds + "/" + e->d_name).c_str(), buf, sizeof buf - 1);
    if (n <= 0) continue;
    const std::string to(buf, static_cast<size_t>(n));
    if (to.compare(0, folder.size() + 1, folder + "/") == 0 &&
        (to.find(" (deleted)") != std::string::npos || to.find(".tmp") != std::string::npos ||
         (!target.empty() && to == folder + "/" + target)))
      found = true;
  }
  ::closedir(d);
  return found;
}

// Kills pid with SIGKILL: at `after`, or, when aimed, as soon as it writes its file in folder (the
// moment a kill used to leave a temporary or a half file). Returns when it is gone.
void killWhileWriting(pid_t pid, const std::string& folder, Clock::duration after, bool aimed,
                      const std::string& target = "") {
  const auto end = Clock::now() + (aimed ? std::chrono::seconds(10) : after);
  while (Clock::now() < end) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return;  // finished before the kill
    if (aimed && writingIn(pid, folder, target)) break;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

pid_t endedPid() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

}  // namespace

// A diagram nested 100,000 deep anywhere in it is one error line with status 2 for every command
// that reads a diagram; nesting up to the limit, and brackets inside texts, still load.
TEST(SafeFiles, DeepNestingIsOneErrorLineForEveryCommand) {
  TempFolder dir;
  const std::string open(100000, '['), close(100000, ']');
  const std::string objects = [] {
    std::string s;
    for (int i = 0; i < 100000; ++i) s += "{\"a\":";
    return s + "1" + std::string(100000, '}');
  }();
  const std::string value = R"({ "id": "v", "class": "Value", "content": { "value": "1", "type": "i" } })";
  const std::vector<std::string> files = {
      dir.write("modules.lwd", R"({ "loomwork": 1, "modules": )" + open + close + "}"),
      dir.write("key.lwd", R"({ "loomwork": 1, "modules": [ )" + value + R"( ], "x": )" + open + close + "}"),
      dir.write("content.lwd",
                R"({ "loomwork": 1, "modules": [ { "id": "v", "class": "Value", "content": )" + objects + "} ] }"),
      dir.write("top.lwd", open + close)};
  for (const std::string& d : files) {
    const std::string png = dir.file("p.png");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"run", d, "--seconds", "0"},
                                                 {"set", d, "v.value=2"},
                                                 {"props", d, "v"},
                                                 {"render", d, "--out", png}}) {
      const ProcessResult r = runProcess(LOOMWORK_BIN, hostOnly(dir, args), 20000);
      expectOneLine(r, ": error: line 1, column ", args[0] + " " + d);
      EXPECT_NE(r.err.find("nested deeper than 128 levels"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(png));
  }
  // 128 levels load; brackets in a text are no nesting; content keeps its own, lower bound.
  const std::string at = dir.write("at.lwd", R"({ "loomwork": 1, "modules": [ )" + value + R"( ], "x": )" +
                                                 std::string(127, '[') + std::string(127, ']') + "}");
  EXPECT_EQ(runProcess(LOOMWORK_BIN, hostOnly(dir, {"props", at, "v"}), 20000).status, 0);
  const std::string text =
      dir.write("text.lwd", R"({ "loomwork": 1, "modules": [ { "id": "v", "class": "Value", "content": { "value": ")" +
                                std::string(1000, '[') + "\\\"" + std::string(1000, '{') + R"(", "type": "s" } } ] })");
  const ProcessResult t = runProcess(LOOMWORK_BIN, hostOnly(dir, {"props", text, "v"}), 20000);
  EXPECT_EQ(t.status, 0) << t.err;
  const std::string content =
      dir.write("c70.lwd", R"({ "loomwork": 1, "modules": [ { "id": "v", "class": "Value", "content": { "value": )" +
                               std::string(70, '[') + std::string(70, ']') + "} } ] }");
  expectOneLine(runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", content, "--seconds", "0"}), 20000),
                "module \"v\": \"content\" is nested deeper than 64 levels", "content 70 deep");
}

// `set` killed at any moment, and above all while it writes, leaves the diagram as it was or as
// set, whole, with its permissions, its symbolic link, and nothing beside it. A temporary that an
// older kill left behind is cleared.
TEST(SafeFiles, KilledSetLeavesTheOldDiagramOrTheNewOneAndNoDebris) {
  TempFolder dir;
  const std::string big(1 << 19, 'x');
  const std::string real = dir.write("real.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "v", "class": "Value", "content": { "value": ")" +
                                                     big + R"(", "type": "s" } },
    { "id": "t", "class": "Timer", "content": { "periodMs": 100 } } ] })");
  ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
  const std::string link = dir.file("link.lwd");
  fs::create_symlink("real.lwd", link);
  fs::create_directories(dir.file("no-modules"));
  const std::string debris = "real.lwd.tmp" + std::to_string(endedPid());
  dir.write(debris, big);
  const std::set<std::string> expected = {"real.lwd", "link.lwd", "no-modules"};

  int period = 100;
  auto check = [&](int wanted, const std::string& when) {
    EXPECT_EQ(namesIn(dir.path()), expected) << when;
    EXPECT_TRUE(isLink(link)) << when;
    EXPECT_EQ(modeOf(real), 0600u) << when;
    const auto doc = nlohmann::json::parse(TempFolder::read(real), nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << when << ": the diagram is not whole";
    EXPECT_EQ(doc["modules"][0]["content"]["value"].get<std::string>().size(), big.size()) << when;
    const int now = doc["modules"][1]["content"]["periodMs"].get<int>();
    EXPECT_TRUE(now == period || now == wanted) << when << ": " << now;
    period = now;
  };

  const auto start = Clock::now();
  const ProcessResult first = runProcess(LOOMWORK_BIN, hostOnly(dir, {"set", link, "t.periodMs=101"}), 30000);
  const auto once = Clock::now() - start;
  ASSERT_EQ(first.status, 0) << first.err;
  check(101, "uninterrupted");
  EXPECT_EQ(period, 101);

  // As many kills as fit in about a second and a half, at least four; every other one aimed at the write.
  const int kills = static_cast<int>(
      std::clamp<long long>(std::chrono::milliseconds(1500) / std::max(once, Clock::duration(1)), 4, 12));
  for (int i = 0; i < kills; ++i) {
    const int wanted = 200 + i;
    const pid_t pid = spawnQuiet(
        LOOMWORK_BIN, {"set", "--modules", dir.file("no-modules"), link, "t.periodMs=" + std::to_string(wanted)});
    ASSERT_GT(pid, 0);
    // The others late in the run, where loading ends and saving begins.
    killWhileWriting(pid, dir.path(), once / 2 + once * (i / 2) / kills, i % 2 == 0);
    check(wanted, "kill " + std::to_string(i));
  }
}

// The same for a picture: a kill while it is written keeps the previous picture whole.
TEST(SafeFiles, KilledRenderKeepsThePreviousPictureWhole) {
  TempFolder dir;
  registerHostModules();
  // Two pictures of different sizes, large enough that writing one takes a while.
  auto diagram = [&](int side) {
    return JDiagram::loadText(R"({ "loomwork": 1, "modules": [ { "id": "v", "class": "Value", "rect": [0, 0, )" +
                                  std::to_string(side) + ", " + std::to_string(side) + "] } ] }",
                              "d.lwd");
  };
  auto small = diagram(1000), large = diagram(1200);
  const std::string real = dir.file("real.png"), link = dir.file("link.png");
  std::string error;
  ASSERT_TRUE(writeDiagramPicture(*small, real, error)) << error;
  ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
  fs::create_symlink("real.png", link);
  const std::set<std::string> expected = {"real.png", "link.png"};

  for (int i = 0; i < 8; ++i) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::string why;
      for (int k = 0;; ++k) writeDiagramPicture(k % 2 ? *small : *large, link, why);
    }
    killWhileWriting(pid, dir.path(), std::chrono::milliseconds(40 * i), i % 2 == 0, "real.png");
    EXPECT_EQ(namesIn(dir.path()), expected) << "kill " << i;
    EXPECT_TRUE(isLink(link));
    EXPECT_EQ(modeOf(real), 0600u);
    JCanvas back(1, 1);
    ASSERT_TRUE(JCanvas::readPNG(real, back, &error)) << "kill " << i << ": " << error;
    EXPECT_TRUE(back.width() == 1010 || back.width() == 1210) << back.width();
  }
}

// A full disk, or a file size limit, names the reason; the diagram stays as it was.
TEST(SafeFiles, WriteErrorsNameTheReasonAndKeepTheDiagram) {
  TempFolder dir;
  const std::string d = dir.write("d.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "v", "class": "Value", "content": { "value": ")" +
                                               std::string(300000, 'x') + R"(", "type": "s" } },
    { "id": "t", "class": "Timer", "content": { "periodMs": 100 } } ] })");
  expectOneLine(runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", d, "--seconds", "0", "--save", "/dev/full"}), 20000),
                "/dev/full: error: cannot write the file: No space left on device", "--save /dev/full");
  const std::string before = TempFolder::read(d);
  fs::create_directories(dir.file("no-modules"));
  const ProcessResult r =
      runProcess("/bin/sh",
                 {"-c", "trap '' XFSZ; ulimit -f 100; exec \"$0\" set --modules \"$1\" \"$2\" t.periodMs=5",
                  LOOMWORK_BIN, dir.file("no-modules"), d},
                 20000);
  expectOneLine(r, "d.lwd: error: cannot write the file: File too large", "set under a size limit");
  EXPECT_TRUE(TempFolder::read(d) == before);  // (no dump of 300 KB on failure)
  EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"d.lwd", "no-modules"}));
}

// Control bytes in a Player's file, in a diagram's ids, classes and keys and in a file's name
// reach the terminal escaped.
TEST(SafeFiles, ControlBytesInQuotedInputAreEscaped) {
  TempFolder dir;
  const std::string title = "\x1b]0;owned\x07\x1b[2J";
  dir.write("values.csv", title + ",0,1\n");
  const std::string player = dir.write("player.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "p", "class": "Player", "content": { "file": "values.csv", "outputs": "i" } } ] })");
  ProcessResult r = runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", player, "--until-idle"}), 20000);
  expectOneLine(r, "values.csv: error: line 1: bad time \"\\x1b]0;owned\\x07\\x1b[2J\"", "csv");
  EXPECT_TRUE(printableLines(r.err)) << r.err;

  const std::string letters = dir.write("letters.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "p", "class": "Player", "content": { "file": "values.csv", "outputs": "i\u001b" } } ] })");
  r = runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", letters, "--until-idle"}), 20000);
  expectOneLine(r, "output type '\\x1b' is not one of i, s, b", "outputs");
  EXPECT_TRUE(printableLines(r.err)) << r.err;

  const std::string cls = dir.write("class.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "\u001b[2Jv", "class": "Nope\u009b\r" } ] })");
  r = runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", cls, "--seconds", "0"}), 20000);
  expectOneLine(r, "module \"\\x1b[2Jv\"", "class");
  EXPECT_NE(r.err.find("Nope\\xc2\\x9b\\x0d"), std::string::npos) << r.err;
  EXPECT_TRUE(printableLines(r.err)) << r.err;

  // An unused key is a warning, and the run goes on.
  const std::string key = dir.write("key.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "v", "class": "Value", "content": { "value": "1", "type": "i", "\u001b]0;k\u0007": 1 } } ] })");
  r = runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", key, "--seconds", "0"}), 20000);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("key \"\\x1b]0;k\\x07\" is not used"), std::string::npos) << r.err;
  EXPECT_TRUE(printableLines(r.err)) << r.err;

  r = runProcess(LOOMWORK_BIN, hostOnly(dir, {"props", dir.file("gone\x1b[2J.lwd"), "v"}), 20000);
  expectOneLine(r, "gone\\x1b[2J.lwd: error: cannot read the file", "file name");
  EXPECT_TRUE(printableLines(r.err)) << r.err;
}

// Targets that cannot be written fail at once, before the run: a folder, a folder that takes no
// files (seen by a user that its permissions bind), a missing folder. The diagram's Timer would
// run until stopped, so only a refusal before the run ends it within the wait.
TEST(SafeFiles, UnwritableTargetsAreRefusedBeforeTheRun) {
  TempFolder dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const std::string d = dir.write(
      "d.lwd", R"({ "loomwork": 1, "modules": [ { "id": "t", "class": "Timer", "content": { "periodMs": 50 } } ] })");
  ASSERT_EQ(::chmod(d.c_str(), 0644), 0);
  fs::create_directories(dir.file("folder.png"));
  expectOneLine(runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", d, "--render", dir.file("folder.png")}), 10000),
                "run: --render " + dir.file("folder.png") + ": it is a folder", "--render a folder");
  expectOneLine(runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", d, "--save", dir.path()}), 10000),
                "run: --save " + dir.path() + ": it is a folder", "--save a folder");
  expectOneLine(runProcess(LOOMWORK_BIN, hostOnly(dir, {"render", d, "--out", dir.path()}), 10000),
                "render: --out " + dir.path() + ": it is a folder", "render --out a folder");
  expectOneLine(runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", d, "--save", dir.file("none/x.lwd")}), 10000),
                "the folder " + dir.file("none") + " does not exist", "--save into no folder");

  // A read-only folder; root passes every permission, so the program runs as nobody there.
  fs::create_directories(dir.file("ro"));
  const std::string inRo = dir.file("ro/d.lwd");
  fs::copy_file(d, inRo);
  ASSERT_EQ(::chmod(inRo.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(dir.file("ro").c_str(), 0555), 0);
  fs::create_directories(dir.file("no-modules"));
  auto asUser = [&](std::vector<std::string> args) {
    args.insert(args.begin() + 1, {"--modules", dir.file("no-modules")});
    if (::geteuid() != 0) return runProcess(LOOMWORK_BIN, args, 10000);
    args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", LOOMWORK_BIN});
    return runProcess("/usr/bin/setpriv", args, 10000);
  };
  // Where the build lies out of nobody's reach (a private checkout), the program cannot start there.
  if (::geteuid() == 0 && asUser({"--version"}).status != 0) {
    ::chmod(dir.file("ro").c_str(), 0755);
    GTEST_SKIP() << "the program cannot be run as nobody from " << LOOMWORK_BIN;
  }
  const std::string why = ": the folder " + dir.file("ro") + " is not writable: Permission denied";
  expectOneLine(asUser({"run", d, "--save", dir.file("ro/out.lwd")}), "run: --save " + dir.file("ro/out.lwd") + why,
                "--save into a read-only folder");
  expectOneLine(asUser({"run", d, "--render", dir.file("ro/out.png")}), "run: --render " + dir.file("ro/out.png") + why,
                "--render into a read-only folder");
  expectOneLine(asUser({"set", inRo, "t.periodMs=60"}), "set: " + inRo + why, "set in a read-only folder");
  EXPECT_EQ(namesIn(dir.file("ro")), std::set<std::string>{"d.lwd"});
  ::chmod(dir.file("ro").c_str(), 0755);
}

// The program's own render, killed while it writes: the previous picture stays whole.
TEST(SafeFiles, KilledRenderCommandKeepsThePreviousPicture) {
  TempFolder dir;
  const std::string d = dir.write("d.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "v", "class": "Value", "rect": [0, 0, 1200, 1200] } ] })");
  fs::create_directories(dir.file("no-modules"));
  const std::string real = dir.file("real.png"), link = dir.file("link.png");
  ASSERT_EQ(runProcess(LOOMWORK_BIN, hostOnly(dir, {"render", d, "--out", real}), 20000).status, 0);
  ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
  fs::create_symlink("real.png", link);
  for (int i = 0; i < 6; ++i) {
    const pid_t pid = spawnQuiet(LOOMWORK_BIN, {"render", "--modules", dir.file("no-modules"), d, "--out", link});
    ASSERT_GT(pid, 0);
    killWhileWriting(pid, dir.path(), std::chrono::milliseconds(30 * i), i % 2 == 0, "real.png");
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"d.lwd", "real.png", "link.png", "no-modules"})) << i;
    EXPECT_TRUE(isLink(link));
    EXPECT_EQ(modeOf(real), 0600u);
    JCanvas back(1, 1);
    std::string error;
    EXPECT_TRUE(JCanvas::readPNG(real, back, &error)) << "kill " << i << ": " << error;
  }
}
