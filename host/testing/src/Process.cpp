#include "testing/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

std::vector<std::string> ProcessResult::outLines() const {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args, int timeoutMs,
                         size_t maxCapture) {
  RunningProcess p(program, args, maxCapture);
  return p.finish(timeoutMs);
}

RunningProcess::RunningProcess(const std::string& program, const std::vector<std::string>& args, size_t maxCapture)
    : maxCapture_(maxCapture) {
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return;
  }
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  if (pid < 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    return;
  }
  pid_ = pid;
  fds_[0] = outPipe[0];
  fds_[1] = errPipe[0];
}

RunningProcess::~RunningProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : fds_)
    if (fd >= 0) close(fd);
}

bool RunningProcess::pump(int ms) {
  pollfd fds[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
  if (fds_[0] < 0 && fds_[1] < 0) return false;
  if (poll(fds, 2, ms) <= 0) return true;
  std::string* sinks[2] = {&r_.out, &r_.err};
  for (int i = 0; i < 2; ++i) {
    if (fds_[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buf[4096];
    const ssize_t n = read(fds_[i], buf, sizeof buf);
    if (n > 0 && sinks[i]->size() < maxCapture_) sinks[i]->append(buf, static_cast<size_t>(n));
    if (n == 0 || (n < 0 && errno != EINTR)) {
      close(fds_[i]);
      fds_[i] = -1;
    }
  }
  return true;
}

bool RunningProcess::readUntil(const std::function<bool(const ProcessResult&)>& done, int ms) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (done(r_)) return true;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now()).count();
    if (left <= 0 || !pump(static_cast<int>(left))) return done(r_);
  }
}

void RunningProcess::signal(int sig) {
  if (pid_ > 0) kill(pid_, sig);
}

namespace {
// Whether the process now runs `program` (its name as the kernel keeps it, cut to 15 bytes) and
// blocks sig (the main thread's mask is the one shown).
bool runsAndBlocks(pid_t pid, const std::string& program, int sig) {
  const std::string proc = "/proc/" + std::to_string(pid);
  std::string comm;
  std::getline(std::ifstream(proc + "/comm"), comm);
  if (comm != program.substr(program.rfind('/') + 1).substr(0, 15)) return false;
  std::ifstream status(proc + "/status");
  const char* field = "SigBlk:";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return (std::stoull(line.substr(std::strlen(field)), nullptr, 16) >> (sig - 1)) & 1;
  }
  return false;
}
}  // namespace

bool RunningProcess::readUntilBlocking(const std::string& program, int sig, int ms) {
  if (pid_ <= 0) return false;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!runsAndBlocks(pid_, program, sig)) {
    if (std::chrono::steady_clock::now() >= limit || !pump(20)) return false;
  }
  return true;
}

ProcessResult RunningProcess::finish(int ms) {
  if (pid_ <= 0) return r_;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  bool killed = false;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      kill(pid_, SIGKILL);
      killed = true;
      break;
    }
    if (!pump(static_cast<int>(left))) break;
  }
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  r_.status = killed ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r_;
}
