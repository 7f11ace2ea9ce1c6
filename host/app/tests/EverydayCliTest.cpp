// loomwork as it is used every day: live runs ended by a signal, output that reaches a pipe while
// the run goes on, diagrams written by hand, saving into another folder.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <thread>

#include "testing/Loopback.h"
#include "testing/Process.h"
#include "testing/TempFolder.h"

namespace fs = std::filesystem;

namespace {
// Only the host modules, unless a test asks for the built libraries.
std::vector<std::string> hostOnly(TempFolder& dir, std::vector<std::string> args) {
  fs::create_directories(dir.file("no-modules"));
  args.insert(args.begin() + 1, {"--modules", dir.file("no-modules")});
  return args;
}

// A loopback port on which nothing listens, inside the tone receiver's 3000..8000: a diagram's
// port outside that range is left out. Its default 3502 is passed over, as examples listen there.
int unusedReceiverPort() {
  for (int i = 0; i < 5000; ++i) {
    const int port = 3000 + (static_cast<int>(getpid()) * 7 + i) % 5001;
    if (port != 3502 && LoopbackServer(port).listening()) return port;
  }
  return -1;
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A Timer ticking every 20 ms into a Monitor: a live diagram that never goes idle.
std::string liveDiagram(TempFolder& dir) {
  return dir.write("live.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "t", "class": "Timer", "rect": [10, 10, 80, 60], "content": { "periodMs": 20 } },
    { "id": "mon", "class": "Monitor", "rect": [120, 10, 120, 60], "content": { "inputs": 1 } } ],
    "links": [ { "from": "t:0", "to": "mon:0" } ] })");
}
}  // namespace

// Without --seconds or --until-idle the run goes on until a signal; the signal ends it as the end
// of its time would: every line kept (read here through a pipe while the run goes on), the
// diagram saved, the picture drawn, status 0.
TEST(EverydayCli, ALiveRunEndsCleanlyOnSigintOrSigterm) {
  for (int sig : {SIGINT, SIGTERM}) {
    TempFolder dir;
    const std::string d = liveDiagram(dir);
    RunningProcess p(LOOMWORK_BIN,
                     hostOnly(dir, {"run", d, "--save", dir.file("out.lwd"), "--render", dir.file("out.png")}));
    ASSERT_TRUE(p.started());
    // Lines arrive while the run goes on, not all at its end.
    ASSERT_TRUE(p.readUntil([](const ProcessResult& r) { return count(r.out, "\n") >= 5; }, 10000))
        << "no live output: " << p.soFar().out << p.soFar().err;
    p.signal(sig);
    const ProcessResult r = p.finish(10000);
    EXPECT_EQ(r.status, 0) << strsignal(sig) << ": " << r.err;
    // Every tick 1, 2, 3 ... with no gap and a whole last line.
    const auto lines = r.outLines();
    ASSERT_GE(lines.size(), 5u);
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], "M mon.0 " + std::to_string(i + 1));
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_TRUE(fs::exists(dir.file("out.png")));
    const auto saved = nlohmann::json::parse(TempFolder::read(dir.file("out.lwd")), nullptr, false);
    ASSERT_TRUE(saved.is_object()) << strsignal(sig);
    EXPECT_EQ(saved["modules"][0]["content"]["periodMs"], 20);
  }
}

// A second signal while the run closes ends the process at once with status 130, keeping every
// line printed so far. Here closing never ends by itself: the picture goes to a pipe nobody reads.
TEST(EverydayCli, ASecondSignalWhileClosingEndsAtOnce) {
  TempFolder dir;
  const std::string d = liveDiagram(dir);
  const std::string stuck = dir.file("stuck.png");
  ASSERT_EQ(mkfifo(stuck.c_str(), 0600), 0);
  RunningProcess p(LOOMWORK_BIN, hostOnly(dir, {"run", d, "--render", stuck}));
  ASSERT_TRUE(p.started());
  ASSERT_TRUE(p.readUntil([](const ProcessResult& r) { return count(r.out, "\n") >= 3; }, 10000))
      << p.soFar().out << p.soFar().err;
  p.signal(SIGINT);
  p.signal(SIGTERM);  // another kind, so that the two cannot merge into one while pending
  const ProcessResult r = p.finish(10000);
  EXPECT_EQ(r.status, 130) << r.err;
  const auto lines = r.outLines();
  ASSERT_GE(lines.size(), 3u);
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], "M mon.0 " + std::to_string(i + 1));
  EXPECT_EQ(r.out.back(), '\n');
}

// On a terminal, standard error shows the run's time and where each Player is in its file, drawn
// over itself and cleared at the end; standard output carries the lines alone.
TEST(EverydayCli, AProgressLineOnATerminalOnly) {
  TempFolder dir;
  dir.write("values.csv", "0,0,1\n300,0,2\n700,0,3\n");
  const std::string d = dir.write("d.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "p", "class": "Player", "content": { "file": "values.csv", "outputs": "i" } },
    { "id": "mon", "class": "Monitor" } ], "links": [ { "from": "p:0", "to": "mon:0" } ] })");
  const std::vector<std::string> args = hostOnly(dir, {"run", d, "--until-idle"});

  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(grantpt(terminal), 0);
  ASSERT_EQ(unlockpt(terminal), 0);
  const std::string side = ptsname(terminal);
  std::vector<char*> argv{const_cast<char*>(LOOMWORK_BIN)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {  // only async-signal-safe calls from here
    const int err = open(side.c_str(), O_RDWR | O_NOCTTY);
    if (err < 0) _exit(126);
    dup2(out[1], STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    close(err);
    close(out[0]);
    close(out[1]);
    close(terminal);
    execv(LOOMWORK_BIN, argv.data());
    _exit(127);
  }
  close(out[1]);
  // Both ends are read until the program has gone and its pipe is closed, within a bound.
  std::string text, shown;
  bool outOpen = true;
  int status = -1;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < limit && (outOpen || status < 0)) {
    pollfd fds[2] = {{terminal, POLLIN, 0}, {outOpen ? out[0] : -1, POLLIN, 0}};
    poll(fds, 2, 50);
    char buf[4096];
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(terminal, buf, sizeof buf);
      if (n > 0) shown.append(buf, static_cast<size_t>(n));
    }
    if (outOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
      const ssize_t n = read(out[0], buf, sizeof buf);
      if (n > 0) text.append(buf, static_cast<size_t>(n));
      else outOpen = false;
    }
    int st = 0;
    if (status < 0 && waitpid(pid, &st, WNOHANG) == pid) status = WIFEXITED(st) ? WEXITSTATUS(st) : 128;
  }
  if (status < 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  for (char buf[4096];;) {  // what the terminal still holds
    pollfd fd{terminal, POLLIN, 0};
    if (poll(&fd, 1, 0) <= 0 || !(fd.revents & POLLIN)) break;
    const ssize_t n = read(terminal, buf, sizeof buf);
    if (n <= 0) break;
    shown.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  close(terminal);

  EXPECT_EQ(status, 0) << shown;
  EXPECT_EQ(text, "M mon.0 1\nM mon.0 2\nM mon.0 3\n");
  EXPECT_NE(shown.find(" s  p "), std::string::npos) << shown;
  EXPECT_NE(shown.find("/3\x1b[K"), std::string::npos) << shown;
  ASSERT_GE(shown.size(), 4u);
  EXPECT_EQ(shown.substr(shown.size() - 4), "\r\x1b[K") << "the line is cleared at the end";

  // Not on a terminal: nothing on standard error.
  const ProcessResult piped = runProcess(LOOMWORK_BIN, args, 20000);
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err, "");
}

// Values written as a user would write them: numbers as numbers, texts as they are (the quoted
// form stays readable), and saved that way.
TEST(EverydayCli, ValuesInTheirNaturalForm) {
  TempFolder dir;
  const std::string d = dir.write("v.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "n", "class": "Value", "content": { "value": 42, "type": "i" } },
    { "id": "s", "class": "Value", "content": { "value": "hello world", "type": "s" } },
    { "id": "q", "class": "Value", "content": { "value": "\"quoted\"", "type": "s" } },
    { "id": "b", "class": "Value", "content": { "value": "0x0aff", "type": "b" } },
    { "id": "mon", "class": "Monitor", "content": { "inputs": 4 } } ],
    "links": [ { "from": "n:0", "to": "mon:0" }, { "from": "s:0", "to": "mon:1" },
               { "from": "q:0", "to": "mon:2" }, { "from": "b:0", "to": "mon:3" } ] })");
  const ProcessResult r =
      runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", d, "--until-idle", "--save", dir.file("saved.lwd")}), 20000);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.outLines(), (std::vector<std::string>{"M mon.0 42", "M mon.1 \"hello world\"", "M mon.2 \"quoted\"",
                                                    "M mon.3 0x0aff"}));
  const auto saved = nlohmann::json::parse(TempFolder::read(dir.file("saved.lwd")));
  EXPECT_EQ(saved["modules"][0]["content"]["value"], 42);
  EXPECT_EQ(saved["modules"][1]["content"]["value"], "hello world");
  EXPECT_EQ(saved["modules"][2]["content"]["value"], "quoted");
  EXPECT_EQ(saved["modules"][3]["content"]["value"], "0x0aff");
}

// What the reader does not understand it says: a key nobody reads is a warning and the run goes
// on; a numeric text is converted; a value that cannot be read as the module reads it ends the
// run with one line and status 2.
TEST(EverydayCli, HandWrittenDiagramsAreReadHonestly) {
  TempFolder dir;
  const std::string typo = dir.write("typo.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "t", "class": "Timer", "content": { "period": 5, "periodMs": "20" } } ] })");
  ProcessResult r = runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", typo, "--seconds", "0.1"}), 20000);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, typo + ": warning: module \"t\": key \"period\" is not used\n");
  r = runProcess(LOOMWORK_BIN, hostOnly(dir, {"props", typo, "t"}), 20000);
  EXPECT_NE(r.out.find("periodMs integer 20 "), std::string::npos) << r.out;

  const std::string wrong = dir.write("wrong.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "t", "class": "Timer", "content": { "periodMs": "fast" } } ] })");
  r = runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", wrong, "--seconds", "0.1"}), 20000);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, wrong + ": error: module \"t\": key \"periodMs\": \"fast\" is not an integer\n");
  EXPECT_EQ(r.out, "");

  // An unknown class names where the libraries were looked for.
  const std::string unknown =
      dir.write("unknown.lwd", R"({ "loomwork": 1, "modules": [ { "id": "x", "class": "Nope" } ] })");
  r = runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", unknown}), 20000);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("searched in: " + dir.file("no-modules")), std::string::npos) << r.err;

  // Output files are checked before the run.
  r = runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", typo, "--save", dir.file("nowhere/x.lwd")}), 20000);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
}

// A diagram saved into another folder still finds the files it names.
TEST(EverydayCli, SavedIntoAnotherFolderItStillRuns) {
  TempFolder dir;
  fs::create_directories(dir.file("data"));
  fs::create_directories(dir.file("elsewhere/deeper"));
  dir.write("data/values.csv", "0,0,5\n10,0,6\n");
  const std::string d = dir.write("data/d.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "p", "class": "Player", "content": { "file": "values.csv", "outputs": "i" } },
    { "id": "mon", "class": "Monitor", "content": { "inputs": 1 } } ],
    "links": [ { "from": "p:0", "to": "mon:0" } ] })");
  const std::string moved = dir.file("elsewhere/deeper/moved.lwd");
  ProcessResult r = runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", d, "--until-idle", "--save", moved}), 20000);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto saved = nlohmann::json::parse(TempFolder::read(moved));
  EXPECT_EQ(saved["modules"][0]["content"]["file"], "../../data/values.csv");
  r = runProcess(LOOMWORK_BIN, hostOnly(dir, {"run", moved, "--until-idle"}), 20000);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.outLines(), (std::vector<std::string>{"M mon.0 5", "M mon.0 6"}));
}

// A module thread that ends by an exception says why, with the module's id; the run goes on.
TEST(EverydayCli, ATakenPortGivesTheReceiversDebugLine) {
  if (!fs::exists(std::string(LOOMWORK_MODULES_DIR) + "/JToneDigitObj.so"))
    GTEST_SKIP() << "the tone receiver is not part of this build";
  TempFolder dir;
  const int port = unusedReceiverPort();
  ASSERT_GT(port, 0);
  const std::string content = R"({ "port": )" + std::to_string(port) + " }";
  RunningProcess holder(LOOMWORK_BIN,
                        {"run", "--modules", LOOMWORK_MODULES_DIR, dir.write("a.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "first", "class": "JToneDigitObj", "content": )" + content + " } ] }")});
  // The first receiver listens; a second on the same port cannot.
  bool listening = false;
  for (int i = 0; i < 200 && !listening; ++i) {
    listening = LoopbackClient(port).connected();
    if (!listening) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(listening) << holder.soFar().err;
  const std::string second = dir.write("b.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "dtmf", "class": "JToneDigitObj", "content": )" +
                                                    content + " } ] }");
  const ProcessResult r =
      runProcess(LOOMWORK_BIN, {"run", second, "--seconds", "0.3", "--modules", LOOMWORK_MODULES_DIR}, 20000);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "dtmf: listen: Address already in use\n");
  holder.signal(SIGTERM);
  const ProcessResult h = holder.finish(10000);
  EXPECT_EQ(h.status, 0) << h.err;
}

// Started in the background of a shell with job control (as `loomwork run ... &` at a prompt),
// the run draws no progress line on the terminal it shares with what the user types next; in the
// foreground of the same kind of terminal it does.
TEST(EverydayCli, NoProgressLineFromTheBackground) {
  if (!fs::exists("/usr/bin/script")) GTEST_SKIP() << "no script(1) to give the run a terminal";
  TempFolder dir;
  dir.write("values.csv", "0,0,1\n300,0,2\n700,0,3\n");
  const std::string d = dir.write("d.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "p", "class": "Player", "content": { "file": "values.csv", "outputs": "i" } },
    { "id": "mon", "class": "Monitor" } ], "links": [ { "from": "p:0", "to": "mon:0" } ] })");
  const std::string run =
      std::string(LOOMWORK_BIN) + " run '" + d + "' --until-idle --modules '" + dir.file("no-modules") + "'";
  fs::create_directories(dir.file("no-modules"));
  const ProcessResult background =
      runProcess("/usr/bin/script", {"-qec", "sh -c 'set -m; " + run + " & wait'", "/dev/null"}, 20000);
  EXPECT_EQ(background.status, 0);
  EXPECT_NE(background.out.find("M mon.0 3"), std::string::npos) << background.out;
  EXPECT_EQ(background.out.find("\x1b[K"), std::string::npos) << "a progress line from the background";
  const ProcessResult foreground = runProcess("/usr/bin/script", {"-qec", run, "/dev/null"}, 20000);
  EXPECT_EQ(foreground.status, 0);
  EXPECT_NE(foreground.out.find("\x1b[K"), std::string::npos) << foreground.out;
}
