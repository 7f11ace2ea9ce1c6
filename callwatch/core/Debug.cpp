#include "core/Debug.h"

#include <cstdio>

namespace {
std::function<void(const std::string&)>& Listener() {
  static std::function<void(const std::string&)> listener;
  return listener;
}
}  // namespace

void OutputDebug(const std::string& text) {
  if (Listener()) {
    Listener()(text);
    return;
  }
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

void SetDebugOutput(std::function<void(const std::string&)> listener) { Listener() = std::move(listener); }
