#include "HostOutput.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex outMutex;
}

void hostPrintLine(const std::string& line) {
  std::lock_guard<std::mutex> g(outMutex);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

void hostFlush() {
  std::lock_guard<std::mutex> g(outMutex);
  std::fflush(stdout);
}
