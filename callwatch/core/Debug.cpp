#include "core/Debug.h"

#include <cstdio>
#include <mutex>

namespace {
// The digit link's worker reports from its own thread.
std::mutex& ListenerMutex() {
  static std::mutex mutex;
  return mutex;
}
std::function<void(const std::string&)>& Listener() {
  static std::function<void(const std::string&)> listener;
  return listener;
}
}  // namespace

void OutputDebug(const std::string& text) {
  std::function<void(const std::string&)> listener;
  {
    std::lock_guard<std::mutex> lock(ListenerMutex());
    listener = Listener();
  }
  if (listener) {
    listener(text);
    return;
  }
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

void SetDebugOutput(std::function<void(const std::string&)> listener) {
  std::lock_guard<std::mutex> lock(ListenerMutex());
  Listener() = std::move(listener);
}
