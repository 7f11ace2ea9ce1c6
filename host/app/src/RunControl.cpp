#include "RunControl.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "HostOutput.h"
#include "base/JClock.h"
#include "loom/JDiagram.h"

namespace {
constexpr int kProgressMs = 200;

// The progress line is not worth a wait: a terminal that takes nothing now (scrolling stopped)
// does not get it, and the signal thread stays free for the signals.
void writeIfReady(const char* text, size_t size) {
  pollfd p{STDERR_FILENO, POLLOUT, 0};
  if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLOUT)) return;
  ssize_t n = ::write(STDERR_FILENO, text, size);
  (void)n;
}
}  // namespace

RunControl::RunControl(JDiagram& d, std::vector<JModuleObj*> players) : d_(d), players_(std::move(players)) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signals_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (signals_ < 0 || wake_ < 0) {
    const std::string why = std::strerror(errno);
    if (signals_ >= 0) close(signals_);
    if (wake_ >= 0) close(wake_);
    throw std::runtime_error("run: cannot watch for signals: " + why);
  }
  progress_ = isatty(STDERR_FILENO) == 1;
  start_ = JClock::millis();
  worker_.start(nullptr, [this] { watch(); });
}

RunControl::~RunControl() {
  worker_.stop([this] {
    const uint64_t one = 1;
    ssize_t n = write(wake_, &one, sizeof one);
    (void)n;  // a full counter has woken the thread already
  });
  clearProgress();
  close(signals_);
  close(wake_);
}

void RunControl::setPlayers(std::vector<JModuleObj*> players) {
  std::lock_guard<std::mutex> g(playersMutex_);
  players_ = std::move(players);
}

void RunControl::watch() {
  pollfd fds[2] = {{signals_, POLLIN, 0}, {wake_, POLLIN, 0}};
  while (worker_.running()) {
    // Without a progress line there is nothing to do between signals.
    const int ready = poll(fds, 2, progress_ ? kProgressMs : -1);
    if (ready < 0 && errno != EINTR) worker_.sleepFor(kProgressMs);  // out of resources: try again
    if (!worker_.running()) break;
    if (ready > 0 && (fds[0].revents & POLLIN)) takeSignals();
    if (progress_ && !closing_.load()) drawProgress();
  }
}

void RunControl::takeSignals() {
  signalfd_siginfo info[4];
  ssize_t n;
  while ((n = read(signals_, info, sizeof info)) > 0) {
    for (size_t i = 0; i < static_cast<size_t>(n) / sizeof info[0]; ++i) {
      const auto sig = static_cast<int>(info[i].ssi_signo);
      if (sig != SIGINT && sig != SIGTERM) continue;
      if (stops_.fetch_add(1) > 0 || closing_.load()) {
        // At once, whatever another thread holds: no lock is waited for here.
        clearProgress();
        hostFlushBeforeExit();
        _exit(130);
      }
      // The host thread ends its run before its next value, and stops waiting for an output
      // that takes nothing.
      hostStopWaiting();
      d_.stop();
    }
  }
}

// A run started in the background of an interactive shell (`loomwork run ... &`) shares the
// terminal with what the user types next: its progress line would garble that. A terminal that is
// not the controlling one has no foreground to ask about, and is drawn on.
static bool inTerminalForeground() {
  const pid_t foreground = tcgetpgrp(STDERR_FILENO);
  return foreground < 0 || foreground == getpgrp();
}

void RunControl::drawProgress() {
  if (!inTerminalForeground()) return;
  char line[256];
  int n = std::snprintf(line, sizeof line, "\r%.1f s", (JClock::millis() - start_) / 1000.0);
  std::lock_guard<std::mutex> g(playersMutex_);
  for (JModuleObj* p : players_) {
    if (n < 0 || n >= static_cast<int>(sizeof line) - 40) break;
    size_t played = 0, total = 0;
    p->playProgress(played, total);
    n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "  %s %zu/%zu", p->id().c_str(), played, total);
  }
  if (n < 0) return;
  n = std::min(n, static_cast<int>(sizeof line) - 4);
  std::memcpy(line + n, "\x1b[K", 3);
  writeIfReady(line, static_cast<size_t>(n) + 3);
  drawn_ = true;
}

void RunControl::clearProgress() {
  if (!drawn_) return;
  writeIfReady("\r\x1b[K", 4);
  drawn_ = false;
}
