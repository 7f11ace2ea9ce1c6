#pragma once
// Runs a program as a user would, for tests: bounded in time and in captured output.
#include <string>
#include <vector>

struct ProcessResult {
  int status = -1;  // the exit status; 128 + signal when a signal ended it; -1 when it was killed
  std::string out, err;
  std::vector<std::string> outLines() const;
};

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args, int timeoutMs,
                         size_t maxCapture = 1 << 20);
