#pragma once
// Runs a program as a user would, for tests: bounded in time and in captured output.
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct ProcessResult {
  int status = -1;  // the exit status; 128 + signal when a signal ended it; -1 when it was killed
  std::string out, err;
  std::vector<std::string> outLines() const;
};

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args, int timeoutMs,
                         size_t maxCapture = 1 << 20);

// A program running beside the test: its output can be read while it runs, and it can be sent
// signals. The destructor kills it if it still runs.
class RunningProcess {
public:
  RunningProcess(const std::string& program, const std::vector<std::string>& args, size_t maxCapture = 1 << 20);
  ~RunningProcess();
  RunningProcess(const RunningProcess&) = delete;
  RunningProcess& operator=(const RunningProcess&) = delete;

  bool started() const { return pid_ > 0; }
  // Reads what the program writes until `done` says so (true) or ms pass (false).
  bool readUntil(const std::function<bool(const ProcessResult&)>& done, int ms);
  void signal(int sig);
  // Reads what comes until `program` (a path or name: the process, once a shell has exec'd it)
  // blocks sig, or ms pass (false). A program that takes its signals from a signalfd, as
  // loomwork does, is then ready for them; one sent before meets the default action, however
  // slowly the machine starts the program. (A shell blocks signals for moments of its own, and
  // catches SIGINT, so only the program's own mask counts.)
  bool readUntilBlocking(const std::string& program, int sig, int ms);
  // Reads to the end and waits for the exit, killing the program after ms.
  ProcessResult finish(int ms);
  const ProcessResult& soFar() const { return r_; }

private:
  bool pump(int ms);  // one round of reading; false once both pipes are closed
  pid_t pid_ = -1;
  int fds_[2] = {-1, -1};
  size_t maxCapture_;
  ProcessResult r_;
};
