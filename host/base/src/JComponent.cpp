#include "base/JComponent.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "base/JObject.h"
#include "base/JString.h"

namespace {
std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}
JComponent::Sink& sink() {
  static JComponent::Sink s;
  return s;
}
}  // namespace

// Set around every delivery: the initial-exec model keeps it one instruction away.
thread_local const JObject* JComponent::currentObject __attribute__((tls_model("initial-exec"))) = nullptr;

JComponent::Sink JComponent::setSink(Sink s) {
  std::lock_guard<std::mutex> g(sinkMutex());
  Sink old = std::move(sink());
  sink() = std::move(s);
  return old;
}

void JComponent::debug(const char* text) {
  std::string name = currentObject ? currentObject->debugName() : std::string("loomwork");
  std::string line = text ? text : "";
  // A line is one line: a trailing line end from printf-style formatting is dropped.
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  // Debug lines quote what came in (network bytes, file lines, names): control bytes and broken
  // UTF-8 are shown escaped, never sent to the terminal.
  line = escapeForMessage(line);
  std::lock_guard<std::mutex> g(sinkMutex());
  if (sink()) {
    sink()(name, line);
  } else {
    std::fprintf(stderr, "%s: %s\n", name.c_str(), line.c_str());
    std::fflush(stderr);
  }
}

void JComponent::debug(const JString& text) { debug(text.c_str()); }

void JComponent::debugf(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  debug(line);
}
