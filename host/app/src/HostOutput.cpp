#include "HostOutput.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kFlushDelay = std::chrono::milliseconds(40);
constexpr auto kLookAgain = std::chrono::milliseconds(20);  // waits that may be given up look this often
constexpr size_t kMaxPending = 256 * 1024;
constexpr size_t kWriteAtOnce = 32 * 1024;
constexpr size_t kAtomicWrite = PIPE_BUF;  // a pipe that polls writable takes this much without blocking
constexpr int kExitWaitMs = 100;
constexpr long long kStalledMs = 500;  // an output that took nothing for this long is stuck

struct Output {
  std::mutex m;
  std::condition_variable changed;  // the writer waits for lines
  std::condition_variable room;     // printers wait for room, flushes for the writer
  std::string pending;              // lines not yet taken by the writer
  bool writing = false;             // the writer is inside write() with lines taken from pending
  bool writerOn = false;
  bool stopWriter = false;
  bool writerDone = false;
  bool abandoned = false;  // the writer gave the output up: lines that find no room are dropped
  int flushWaiters = 0;
  size_t dropped = 0;
  std::atomic<size_t> inFlight{0};         // lines of the writer's chunk not yet written
  std::atomic<bool> mayGiveUp{false};      // hostStopWaiting was called
  std::atomic<long long> lastProgress{0};  // when the writer's write last began or moved on
};

// Never destroyed: a writer blocked in a write to a pipe nobody reads may outlive main().
Output& out() {
  static Output* o = new Output;
  return *o;
}

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// Nobody waits for the output any more, and it has taken nothing for kStalledMs.
bool stalled(const Output& o) { return o.mayGiveUp.load() && nowMs() - o.lastProgress.load() >= kStalledMs; }

// With the lock held. Only an output that is stuck is given up on: a slow reader that goes on
// reading gets every line.
bool givenUp(const Output& o) { return o.abandoned || (o.writing && stalled(o)); }

size_t pendingLines(const Output& o) {
  return static_cast<size_t>(std::count(o.pending.begin(), o.pending.end(), '\n'));
}

// With the lock held: the lines waiting for an output that will take no more are counted as
// dropped.
void dropPending(Output& o) {
  o.dropped += pendingLines(o);
  o.pending.clear();
}

// The most one write() hands an output that polls writable without blocking: all of it for a
// regular file, PIPE_BUF for a pipe, a socket or a terminal.
size_t writeLimit() {
  static const size_t limit = [] {
    struct stat st {};
    return ::fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode) ? SIZE_MAX : kAtomicWrite;
  }();
  return limit;
}

enum class Written { kAll, kFailed, kGivenUp };

// Writes all of it, waiting for the output as long as it takes lines, but not inside write():
// an output that took nothing for kStalledMs once nobody waits for it any more (hostStopWaiting)
// is given up on. An output that fails (full disk, an error) loses the rest of the chunk, as
// stdio would, and is tried again with the next lines.
Written writeAll(Output& o, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    pollfd p{STDOUT_FILENO, POLLOUT, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(kLookAgain.count()));
    if (ready < 0 && errno != EINTR) return Written::kFailed;
    if (ready <= 0) {
      if (stalled(o)) return Written::kGivenUp;
      continue;
    }
    const size_t want = std::min(bytes.size() - done, writeLimit());
    const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, want);
    if (n > 0) {
      o.inFlight -= static_cast<size_t>(std::count(bytes.begin() + static_cast<std::ptrdiff_t>(done),
                                                   bytes.begin() + static_cast<std::ptrdiff_t>(done) + n, '\n'));
      done += static_cast<size_t>(n);
      o.lastProgress.store(nowMs());
    } else if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    } else {
      return Written::kFailed;
    }
  }
  return Written::kAll;
}

void writerLoop() {
  Output& o = out();
  std::unique_lock<std::mutex> lock(o.m);
  Clock::time_point lastWrite{};
  for (;;) {
    o.changed.wait(lock, [&] { return !o.pending.empty() || o.stopWriter; });
    if (o.abandoned) {  // lines for an output given up on are counted, until the stop
      dropPending(o);
      o.room.notify_all();
      if (o.stopWriter) break;
      continue;
    }
    if (o.pending.empty()) break;  // stopped, and everything written
    // A line after a quiet spell is written at once (a digit, a Monitor value, seen as it
    // happens); lines that follow one soon share the next write, unless someone waits for them or
    // there are enough of them already: a flood costs a write every kFlushDelay, not one a line.
    auto writeNow = [&] { return o.stopWriter || o.flushWaiters > 0 || o.pending.size() >= kWriteAtOnce; };
    if (!writeNow()) o.changed.wait_until(lock, lastWrite + kFlushDelay, writeNow);
    lastWrite = Clock::now();
    std::string chunk;
    chunk.swap(o.pending);
    o.writing = true;
    o.inFlight = static_cast<size_t>(std::count(chunk.begin(), chunk.end(), '\n'));
    o.lastProgress.store(nowMs());
    o.room.notify_all();
    lock.unlock();
    const Written written = writeAll(o, chunk);
    chunk = std::string();  // a burst's buffer is not kept
    lock.lock();
    o.writing = false;
    if (written == Written::kGivenUp) {  // a stuck output takes no more lines: they are counted
      o.dropped += o.inFlight.load();
      o.inFlight = 0;
      o.abandoned = true;
      o.writerDone = true;  // nothing more will be written: nobody waits for it
      o.room.notify_all();
      continue;  // the writer stays until the stop, so that a process ending at once leaves none behind
    }
    o.inFlight = 0;  // written, or lost with an output that failed
    o.room.notify_all();
  }
  o.writerDone = true;
  o.room.notify_all();
}
}  // namespace

void hostPrintLine(const std::string& line) {
  Output& o = out();
  std::unique_lock<std::mutex> lock(o.m);
  if (!o.writerOn) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    return;
  }
  while (o.pending.size() >= kMaxPending && !givenUp(o)) o.room.wait_for(lock, kLookAgain);
  if (o.pending.size() >= kMaxPending) {
    ++o.dropped;
    return;
  }
  const size_t before = o.pending.size();
  o.pending += line;
  o.pending += '\n';
  if (before == 0 || (before < kWriteAtOnce && o.pending.size() >= kWriteAtOnce)) o.changed.notify_all();
}

void hostFlush() {
  Output& o = out();
  std::unique_lock<std::mutex> lock(o.m);
  if (!o.writerOn) {
    std::fflush(stdout);
    return;
  }
  ++o.flushWaiters;
  o.changed.notify_all();
  while ((!o.pending.empty() || o.writing) && !o.writerDone && !givenUp(o)) o.room.wait_for(lock, kLookAgain);
  --o.flushWaiters;
}

void hostStopWaiting() { out().mayGiveUp.store(true); }

size_t hostUnwrittenLines() {
  Output& o = out();
  std::lock_guard<std::mutex> g(o.m);
  if (!o.writerOn) return 0;
  return o.dropped + pendingLines(o) + o.inFlight.load();
}

void hostFlushBeforeExit() {
  Output& o = out();
  const auto until = Clock::now() + std::chrono::milliseconds(kExitWaitMs);
  std::unique_lock<std::mutex> lock(o.m, std::defer_lock);
  // Whoever holds the lock holds it briefly, unless it is stuck; the writer may be in the middle
  // of its lines, which go first.
  for (;;) {
    if (lock.try_lock()) {
      if (!o.writing) break;
      lock.unlock();
    }
    if (Clock::now() >= until) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (!o.writerOn) return;  // stdio's buffer: flushing it could block
  size_t done = 0;
  while (done < o.pending.size() && Clock::now() < until) {
    pollfd p{STDOUT_FILENO, POLLOUT, 0};
    if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLOUT)) break;
    // Whole lines, no more than the output takes without blocking (one long line alone).
    size_t end = std::min(o.pending.size(), done + kAtomicWrite);
    const size_t lastLine = o.pending.rfind('\n', end - 1);
    if (lastLine != std::string::npos && lastLine >= done) end = lastLine + 1;
    else end = o.pending.find('\n', done) + 1;
    const ssize_t n = ::write(STDOUT_FILENO, o.pending.data() + done, end - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  o.pending.erase(0, done);
}

OutputFlusher::OutputFlusher() {
  Output& o = out();
  {
    std::lock_guard<std::mutex> g(o.m);
    if (o.writerOn) return;
    std::fflush(stdout);  // what went through stdio before comes first
    o.writerOn = owner_ = true;
    o.stopWriter = o.writerDone = o.abandoned = false;
  }
  writer_.start(nullptr, writerLoop);
}

OutputFlusher::~OutputFlusher() {
  if (!owner_) return;
  Output& o = out();
  {
    std::lock_guard<std::mutex> g(o.m);
    o.stopWriter = true;
    o.changed.notify_all();
  }
  // The writer writes what is left, or gives a stuck output up once nobody waits for it: it never
  // sits inside a write, so it can always be joined.
  writer_.stop();
  std::lock_guard<std::mutex> g(o.m);
  o.writerOn = false;
  dropPending(o);  // lines printed after the writer gave up
}
