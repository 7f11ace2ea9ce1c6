// The telephony provider: simulated line devices, their phones and wave devices, and calls
// placed and driven through the control socket (phonesim). Loaded by name at run time; exports
// the line, phone, request and wave functions under their own names.
//
// Every event goes to the program's thread: the queue of the thread that initialized the line
// (or phone) half, or the hidden window a wave device reports to. State is guarded by one mutex;
// the program's calls take it briefly, each call's script runs on the thread of its control
// connection, and one ticker thread moves the wave devices along at real pace.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ControlProtocol.h"
#include "base/MessageQueue.h"
#include "base/TapiDefs.h"
#include "base/WaveDefs.h"
#include "base/WaveFile.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMostLines = 16;
constexpr DWORD kVersion = 0x00020000;
constexpr DWORD kBaseHandle = 0x100;

std::mutex g_mutex;
std::condition_variable g_changed;  // any call's state, any device

struct SimCall {
  HCALL handle = 0;
  int line = 0;
  DWORD state = LINECALLSTATE_IDLE;
  DWORD origin = LINECALLORIGIN_EXTERNAL;
  DWORD callerFlags = LINECALLPARTYID_UNKNOWN;
  std::string name, number;
  bool ended = false;      // reached IDLE
  bool appHolds = false;   // the program has the handle and has not deallocated it
  bool dropRequested = false;
  DWORD monitorModes = 0;
  std::vector<int16_t> speech;
  bool speaking = false;
  bool wasConnected = false;
  Clock::time_point speechStart;
  Clock::time_point connectedAt;
};

struct WaveDevice {
  bool input = true;
  int line = 0;
  uintptr_t window = 0;
  std::list<WAVEHDR*> queue;
  bool started = false;
  Clock::time_point startedAt;
  uint64_t delivered = 0;  // samples since start (input) or into the current buffer (output)
  Clock::time_point playingSince;
};

struct SimLine {
  HLINE open = 0;
  uintptr_t instance = 0;
  DWORD privileges = 0;
  DWORD devStates = 0;
  DWORD rings = 0;
  bool voiceOnly = false;
  bool hasSpeaker = false;
  HPHONE phoneOpen = 0;
  uintptr_t phoneInstance = 0;
  DWORD hookMode = PHONEHOOKSWITCHMODE_ONHOOK;
  Clock::time_point quietSince = Clock::now();  // nothing played to the caller since
};

struct App {
  DWORD handle = 0;
  LINECALLBACK callback = nullptr;
  std::shared_ptr<CMessageQueue> queue;
};

int g_lineCount = -1;
std::vector<SimLine> g_lines;
App g_lineApp, g_phoneApp;
DWORD g_nextHandle = kBaseHandle;
LONG g_nextRequest = 1;
std::map<HCALL, std::shared_ptr<SimCall>> g_calls;
std::map<uint32_t, WaveDevice> g_waves;

// Read from the environment when the provider is first used, and again whenever a program
// initializes while nothing of an earlier one remains.
void Configure(bool again = false) {
  if (g_lineCount >= 0 && !(again && !g_phoneApp.handle && g_waves.empty() && g_calls.empty()))
    return;
  g_lineCount = 2;
  if (const char* env = std::getenv("PHONESIM_LINES")) {
    char* end = nullptr;
    long n = std::strtol(env, &end, 10);
    if (end != env && *end == 0 && n >= 0 && n <= kMostLines)
      g_lineCount = static_cast<int>(n);
    else
      std::fprintf(stderr, "phonesim: PHONESIM_LINES must be 0 to %d; using 2\n", kMostLines);
  }
  g_lines.assign(g_lineCount, SimLine{});
  if (g_lineCount > 0) g_lines[0].hasSpeaker = true;  // the other lines' phones have none
  if (const char* env = std::getenv("PHONESIM_VOICE_ONLY_LINES")) {
    for (const char* p = env; *p; ++p)
      if (*p >= '0' && *p <= '9' && *p - '0' < g_lineCount) g_lines[*p - '0'].voiceOnly = true;
  }
}

SimLine* LineByHandle(HLINE h) {
  for (auto& l : g_lines)
    if (h && l.open == h) return &l;
  return nullptr;
}
int IndexOf(const SimLine* l) { return static_cast<int>(l - g_lines.data()); }

std::shared_ptr<SimCall> CallFor(HCALL h) {
  auto it = g_calls.find(h);
  return it == g_calls.end() ? nullptr : it->second;
}

// ---- events to the program --------------------------------------------------------------------

// Posts a line event; at delivery it is dropped when the line closed meanwhile.
void RaiseLine(int line, DWORD device, DWORD message, uintptr_t p1, uintptr_t p2, uintptr_t p3) {
  const SimLine& l = g_lines[line];
  if (!l.open || !g_lineApp.queue) return;
  const HLINE open = l.open;
  const uintptr_t instance = l.instance;
  const LINECALLBACK callback = g_lineApp.callback;
  const DWORD app = g_lineApp.handle;
  g_lineApp.queue->Post([=] {
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      if (g_lineApp.handle != app || line >= static_cast<int>(g_lines.size()) ||
          g_lines[line].open != open)
        return;
    }
    callback(device, message, instance, p1, p2, p3);
  });
}

void RaisePhone(int line, DWORD message, uintptr_t p1, uintptr_t p2, uintptr_t p3) {
  const SimLine& l = g_lines[line];
  if (!l.phoneOpen || !g_phoneApp.queue) return;
  const HPHONE open = l.phoneOpen;
  const uintptr_t instance = l.phoneInstance;
  const PHONECALLBACK callback = g_phoneApp.callback;
  const DWORD app = g_phoneApp.handle;
  g_phoneApp.queue->Post([=] {
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      if (g_phoneApp.handle != app || g_lines[line].phoneOpen != open) return;
    }
    callback(open, message, instance, p1, p2, p3);
  });
}

void SetState(SimCall& call, DWORD state, DWORD detail = 0) {
  if (call.state == state) return;
  call.state = state;
  if (state == LINECALLSTATE_CONNECTED) {
    call.connectedAt = Clock::now();
    call.wasConnected = true;
  }
  if (state == LINECALLSTATE_IDLE) call.ended = true;
  RaiseLine(call.line, call.handle, LINE_CALLSTATE, state, detail, 0);
  g_changed.notify_all();
}

// Ends a call that is not idle yet: disconnected, then idle unless a program owns it and will
// drop it itself.
void HangUp(SimCall& call, bool ownerDrops) {
  if (call.state != LINECALLSTATE_DISCONNECTED && call.state != LINECALLSTATE_IDLE)
    SetState(call, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
  if (!ownerDrops) SetState(call, LINECALLSTATE_IDLE);
}

bool OwnerWatches(const SimCall& call) {
  const SimLine& l = g_lines[call.line];
  return l.open && (l.privileges & LINECALLPRIVILEGE_OWNER) && call.appHolds;
}

void ForgetIfDone(HCALL h) {
  auto it = g_calls.find(h);
  if (it != g_calls.end() && it->second->ended && !it->second->appHolds) g_calls.erase(it);
}

// ---- the wave ticker --------------------------------------------------------------------------

std::mutex g_tickerMutex;
std::thread& g_ticker = *new std::thread;  // never destroyed: a process may end with a device open
bool g_tickerRunning = false;  // under g_mutex
uint64_t g_tickerGeneration = 0;  // a ticker that is told to stop leaves even if another starts

// The caller's sample at a device sample; silence outside what the caller says.
int16_t SpeechAt(const WaveDevice& d, uint64_t sample) {
  for (auto& [h, call] : g_calls) {
    if (call->line != d.line || call->state != LINECALLSTATE_CONNECTED || !call->speaking) continue;
    auto since = std::chrono::duration_cast<std::chrono::microseconds>(call->speechStart -
                                                                       d.startedAt).count();
    int64_t offset = since * static_cast<int64_t>(kWaveRate) / 1000000;
    int64_t index = static_cast<int64_t>(sample) - offset;
    if (index >= 0 && index < static_cast<int64_t>(call->speech.size()))
      return call->speech[static_cast<size_t>(index)];
    return 0;
  }
  return 0;
}

// Records up to `until` samples since start into the queued buffers, finishing the full ones.
void FillInput(uint32_t handle, WaveDevice& d, uint64_t until) {
  while (d.delivered < until && !d.queue.empty()) {
    WAVEHDR* h = d.queue.front();
    const uint32_t room = (h->dwBufferLength - h->dwBytesRecorded) / 2;
    const uint64_t n = std::min<uint64_t>(room, until - d.delivered);
    for (uint64_t i = 0; i < n; ++i) {
      int16_t s = SpeechAt(d, d.delivered + i);
      std::memcpy(h->lpData + h->dwBytesRecorded + 2 * i, &s, 2);
    }
    h->dwBytesRecorded += static_cast<uint32_t>(2 * n);
    d.delivered += n;
    if (h->dwBufferLength - h->dwBytesRecorded < 2) {
      h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
      d.queue.pop_front();
      hidden_window::Post(d.window, MM_WIM_DATA, handle, reinterpret_cast<uintptr_t>(h));
    }
  }
}

void FinishOutput(uint32_t handle, WaveDevice& d, Clock::time_point now) {
  while (!d.queue.empty()) {
    WAVEHDR* h = d.queue.front();
    auto lasts = std::chrono::microseconds(uint64_t(h->dwBufferLength) * 1000000 / (2 * kWaveRate));
    if (now - d.playingSince < lasts) break;
    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    d.queue.pop_front();
    d.playingSince += std::chrono::duration_cast<Clock::duration>(lasts);
    g_lines[d.line].quietSince = now;
    hidden_window::Post(d.window, MM_WOM_DONE, handle, reinterpret_cast<uintptr_t>(h));
  }
}

uint64_t SamplesSince(Clock::time_point start, Clock::time_point now) {
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(now - start).count();
  return us <= 0 ? 0 : static_cast<uint64_t>(us) * kWaveRate / 1000000;
}

void Tick(uint64_t generation) {
  std::unique_lock<std::mutex> lock(g_mutex);
  while (g_tickerRunning && g_tickerGeneration == generation) {
    const auto now = Clock::now();
    for (auto& [handle, d] : g_waves) {
      if (d.input && d.started) FillInput(handle, d, SamplesSince(d.startedAt, now));
      if (!d.input) FinishOutput(handle, d, now);
    }
    g_changed.wait_for(lock, std::chrono::milliseconds(10));
  }
}

// Called with g_mutex held; the ticker runs while any wave device is open.
void StartTickerLocked() {
  if (g_tickerRunning) return;
  g_tickerRunning = true;
  ++g_tickerGeneration;
  std::lock_guard<std::mutex> tl(g_tickerMutex);
  if (g_ticker.joinable()) g_ticker.detach();  // an older ticker sees its generation end and leaves
  g_ticker = std::thread(Tick, g_tickerGeneration);
}

void StopTickerIfIdle() {
  std::thread old;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_waves.empty() || !g_tickerRunning) return;
    g_tickerRunning = false;
    g_changed.notify_all();
    std::lock_guard<std::mutex> tl(g_tickerMutex);
    old = std::move(g_ticker);
  }
  if (old.joinable()) old.join();
}

// ---- the control socket and the calls' scripts ------------------------------------------------

class ControlServer {
public:
  bool Start();
  void Stop();

private:
  void Accept();
  void Serve(int fd);

  int m_listen = -1;
  std::string m_path;
  std::atomic<bool> m_stopping{false};
  std::thread m_acceptor;
  // One thread per connection; finished ones are joined as new ones come.
  struct Connection {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  static constexpr size_t kMostConnections = 32;
  std::mutex m_threadsMutex;
  std::vector<Connection> m_threads;
};

ControlServer& g_server = *new ControlServer;  // outlives static destruction, like the ticker
bool g_serverRunning = false;  // under g_mutex

void Reply(int fd, const std::string& line) {
  std::string text = line + "\n";
  (void)::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
}

bool ControlServer::Start() {
  m_path = ControlSocketPath();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (m_path.size() >= sizeof address.sun_path) {
    std::fprintf(stderr, "phonesim: control socket path too long: %s\n", m_path.c_str());
    return false;
  }
  std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);
  m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_listen < 0) return false;
  // A socket file left by a provider that is gone is taken over; a live one is not.
  int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  bool live = probe >= 0 &&
              ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (probe >= 0) ::close(probe);
  if (live) {
    std::fprintf(stderr, "phonesim: control socket %s is in use\n", m_path.c_str());
    ::close(m_listen);
    m_listen = -1;
    return false;
  }
  ::unlink(m_path.c_str());
  if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(m_listen, 8) != 0) {
    std::fprintf(stderr, "phonesim: cannot listen on %s: %s\n", m_path.c_str(),
                 std::strerror(errno));
    ::close(m_listen);
    m_listen = -1;
    return false;
  }
  m_stopping = false;
  m_acceptor = std::thread([this] { Accept(); });
  return true;
}

void ControlServer::Stop() {
  if (m_listen < 0) return;
  m_stopping = true;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_changed.notify_all();
  }
  m_acceptor.join();
  std::vector<Connection> threads;
  {
    std::lock_guard<std::mutex> lock(m_threadsMutex);
    threads.swap(m_threads);
  }
  for (auto& t : threads) t.thread.join();
  ::close(m_listen);
  m_listen = -1;
  ::unlink(m_path.c_str());
}

void ControlServer::Accept() {
  while (!m_stopping) {
    pollfd p{m_listen, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(m_threadsMutex);
    for (auto it = m_threads.begin(); it != m_threads.end();) {
      if (it->done->load()) {
        it->thread.join();
        it = m_threads.erase(it);
      } else {
        ++it;
      }
    }
    if (m_threads.size() >= kMostConnections) {
      Reply(fd, "error too many calls at once");
      ::close(fd);
      continue;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    m_threads.push_back(Connection{std::thread([this, fd, done] {
                                     Serve(fd);
                                     ::close(fd);
                                     done->store(true);
                                   }),
                                   done});
  }
}

bool PeerGone(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  if (p.revents & (POLLHUP | POLLERR)) return true;
  char byte;
  return ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

// Reads the request line, bounded.
bool ReadRequest(int fd, const std::atomic<bool>& stopping, std::string* line) {
  line->clear();
  const auto until = Clock::now() + std::chrono::seconds(5);
  while (!stopping && Clock::now() < until) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char block[512];
    ssize_t n = ::recv(fd, block, sizeof block, 0);
    if (n <= 0) return false;
    for (ssize_t i = 0; i < n; ++i) {
      if (block[i] == '\n') return true;
      if (line->size() >= kMostControlLine) return false;
      *line += block[i];
    }
  }
  return false;
}

// One call's life, told to the phonesim that placed it.
class CallScript {
public:
  CallScript(int fd, const CCallRequest& r, const std::atomic<bool>& stopping)
      : m_fd(fd), m_r(r), m_stopping(stopping) {}
  void Run(std::vector<int16_t> speech);

private:
  // Waits up to ms (or until the call ends, the caller leaves or the provider stops) while
  // telling every change of state; returns whether the call goes on.
  bool Wait(std::unique_lock<std::mutex>& lock, int ms, const std::function<bool()>& until = {});
  void Tell(std::unique_lock<std::mutex>& lock, const std::string& line);
  void Report(std::unique_lock<std::mutex>& lock);

  int m_fd;
  CCallRequest m_r;
  const std::atomic<bool>& m_stopping;
  std::shared_ptr<SimCall> m_call;
  bool m_toldAnswered = false, m_toldDropped = false, m_toldIdle = false;
  bool m_callerLeft = false;
};

void CallScript::Tell(std::unique_lock<std::mutex>& lock, const std::string& line) {
  lock.unlock();
  Reply(m_fd, line);
  lock.lock();
}

// Tells each step once, in order, however quickly the states passed.
void CallScript::Report(std::unique_lock<std::mutex>& lock) {
  const SimCall& c = *m_call;
  const bool over = c.state == LINECALLSTATE_DISCONNECTED || c.state == LINECALLSTATE_IDLE;
  if (c.wasConnected && !m_toldAnswered) {
    m_toldAnswered = true;
    Tell(lock, "answered");
  }
  if ((over || c.ended) && !m_toldDropped) {
    m_toldDropped = true;
    Tell(lock, "dropped");
  }
  if (c.ended && !m_toldIdle) {
    m_toldIdle = true;
    Tell(lock, "idle");
  }
}

bool CallScript::Wait(std::unique_lock<std::mutex>& lock, int ms,
                      const std::function<bool()>& until) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    Report(lock);
    if (m_call->ended || m_stopping) return false;
    if (m_call->state == LINECALLSTATE_DISCONNECTED) return false;
    if (until && until()) return true;
    if (Clock::now() >= end) return true;
    lock.unlock();
    const bool gone = PeerGone(m_fd);
    lock.lock();
    if (gone) {
      m_callerLeft = true;
      return false;
    }
    g_changed.wait_for(lock, std::chrono::milliseconds(20));
  }
}

void CallScript::Run(std::vector<int16_t> speech) {
  std::unique_lock<std::mutex> lock(g_mutex);
  if (m_r.line < 0 || m_r.line >= g_lineCount) {
    Tell(lock, "error no line " + std::to_string(m_r.line) + " (the provider has " +
                   std::to_string(g_lineCount) + ")");
    return;
  }
  m_call = std::make_shared<SimCall>();
  SimCall& c = *m_call;
  c.handle = g_nextHandle++;
  c.line = m_r.line;
  c.speech = std::move(speech);
  c.name = m_r.name;
  c.number = m_r.number;
  if (m_r.outbound) {
    c.origin = LINECALLORIGIN_OUTBOUND;
    c.callerFlags = LINECALLPARTYID_UNKNOWN;
  } else if (m_r.blocked) {
    c.callerFlags = LINECALLPARTYID_BLOCKED;
  } else {
    c.callerFlags = (c.name.empty() ? DWORD{0} : DWORD{LINECALLPARTYID_NAME}) |
                    (c.number.empty() ? DWORD{0} : DWORD{LINECALLPARTYID_ADDRESS});
    if (!c.callerFlags) c.callerFlags = LINECALLPARTYID_UNKNOWN;
  }
  // The call is offered (or dialling) before anyone hears of it, so that a program answering
  // at its first news finds it so.
  c.state = m_r.outbound ? LINECALLSTATE_DIALING : LINECALLSTATE_OFFERING;
  g_calls[c.handle] = m_call;
  SimLine& line = g_lines[c.line];
  if (line.open) {
    c.appHolds = true;
    const DWORD privilege = (line.privileges & LINECALLPRIVILEGE_OWNER) ? LINECALLPRIVILEGE_OWNER
                                                                        : LINECALLPRIVILEGE_MONITOR;
    RaiseLine(c.line, line.open, LINE_APPNEWCALL, 0, c.handle, privilege);
  }
  Tell(lock, "offered");
  bool goesOn = true;
  if (m_r.outbound) {
    RaiseLine(c.line, c.handle, LINE_CALLSTATE, LINECALLSTATE_DIALING, 0, 0);
    SetState(c, LINECALLSTATE_PROCEEDING);
    for (int ring = 1; ring <= m_r.rings && goesOn; ++ring) {
      // Each ringback is its own state report.
      c.state = LINECALLSTATE_PROCEEDING;
      SetState(c, LINECALLSTATE_RINGBACK);
      Tell(lock, "rung " + std::to_string(ring));
      goesOn = Wait(lock, m_r.ringMs);
    }
    if (goesOn) SetState(c, LINECALLSTATE_CONNECTED);
  } else {
    RaiseLine(c.line, c.handle, LINE_CALLSTATE, LINECALLSTATE_OFFERING, 0, 0);
    RaiseLine(c.line, c.handle, LINE_CALLINFO, LINECALLINFOSTATE_CALLERID, 0, 0);
    auto answered = [&] { return c.state == LINECALLSTATE_CONNECTED; };
    int ring = 0;
    while (goesOn && !answered() && ring < m_r.rings) {
      ++ring;
      if (g_lines[c.line].devStates & LINEDEVSTATE_RINGING)
        RaiseLine(c.line, g_lines[c.line].open, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0, ring);
      Tell(lock, "rung " + std::to_string(ring));
      goesOn = Wait(lock, m_r.ringMs, answered);
    }
    if (goesOn && !answered()) {
      if (m_r.answerElsewhere) {
        m_toldAnswered = true;
        SetState(c, LINECALLSTATE_CONNECTED);
        Tell(lock, "answered elsewhere");
      } else {
        goesOn = false;  // nobody answered: the caller gives up
      }
    }
  }
  Report(lock);
  if (goesOn && c.state == LINECALLSTATE_CONNECTED) {
    // The caller waits while something is played to it, then speaks: at once when the line
    // starts listening, or after a second of quiet.
    goesOn = Wait(lock, kMostMs, [&] {
      if (c.speaking) return true;
      const auto quiet = std::max(g_lines[c.line].quietSince, c.connectedAt);
      bool playing = false;
      for (auto& [h, d] : g_waves)
        if (!d.input && d.line == c.line && !d.queue.empty()) playing = true;
      if (!playing && Clock::now() - quiet >= std::chrono::seconds(1)) {
        c.speaking = true;
        c.speechStart = Clock::now();
      }
      return c.speaking;
    });
    if (goesOn)
      goesOn = Wait(lock, static_cast<int>(c.speech.size() * 1000 / kWaveRate));
    for (char digit : m_r.digits) {
      if (!goesOn) break;
      goesOn = Wait(lock, m_r.digitMs);
      if (!goesOn) break;
      if (c.state != LINECALLSTATE_CONNECTED) break;
      if (c.monitorModes & LINEDIGITMODE_DTMF)
        RaiseLine(c.line, c.handle, LINE_MONITORDIGITS, static_cast<unsigned char>(digit),
                  LINEDIGITMODE_DTMF, 0);
      Tell(lock, std::string("digit sent ") + digit);
    }
    if (goesOn) goesOn = Wait(lock, m_r.hangupMs);
  }
  // The caller hangs up (or has gone); an owning program drops the call itself.
  if (!c.ended) {
    HangUp(c, OwnerWatches(c) && !m_stopping);
    Report(lock);
    // A program that owns the call has a while to drop it.
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (!c.ended && !m_stopping && Clock::now() < until) {
      Report(lock);
      g_changed.wait_for(lock, std::chrono::milliseconds(20));
    }
    if (!c.ended) SetState(c, LINECALLSTATE_IDLE);
  }
  Report(lock);
  ForgetIfDone(c.handle);
}

void ControlServer::Serve(int fd) {
  std::string line, error;
  CCallRequest request;
  if (!ReadRequest(fd, m_stopping, &line)) return;
  if (!ParseCallRequest(line, &request, &error)) {
    Reply(fd, "error " + error);
    return;
  }
  std::vector<int16_t> speech;
  if (!request.audio.empty() && !ReadWaveFile(request.audio, &speech, &error)) {
    Reply(fd, "error " + error);
    return;
  }
  CallScript(fd, request, m_stopping).Run(std::move(speech));
}

template <typename T>
bool Fits(const VARHEADER* h) {
  return h && h->dwTotalSize >= sizeof(T);
}

// Appends a text (with its terminator) to a variable-size structure; its size and offset fields
// are set only when it fits.
void PutText(VARHEADER* h, DWORD* used, DWORD* size, DWORD* offset, const std::string& text) {
  const DWORD length = static_cast<DWORD>(text.size() + 1);
  h->dwNeededSize += length;
  if (*used + length <= h->dwTotalSize) {
    std::memcpy(reinterpret_cast<char*>(h) + *used, text.c_str(), length);
    *size = length;
    *offset = *used;
    *used += length;
  } else {
    *size = *offset = 0;
  }
}

}  // namespace

// ---- line functions ---------------------------------------------------------------------------

EXPORT LONG lineInitializeExA(HLINEAPP* app, void*, LINECALLBACK callback, const char*,
                              DWORD* numDevs, DWORD* apiVersion, LINEINITIALIZEEXPARAMS* params) {
  if (!app || !callback || !numDevs || !apiVersion) return LINEERR_INVALPOINTER;
  if (params && params->dwTotalSize < sizeof(LINEINITIALIZEEXPARAMS))
    return LINEERR_STRUCTURETOOSMALL;
  bool startServer = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_lineApp.handle) return LINEERR_OPERATIONFAILED;  // one program at a time
    Configure(true);
    g_lineApp = App{g_nextHandle++, callback, CMessageQueue::ForThisThread()};
    *app = g_lineApp.handle;
    *numDevs = static_cast<DWORD>(g_lineCount);
    *apiVersion = kVersion;
    startServer = !g_serverRunning;
    g_serverRunning = true;
  }
  if (startServer && !g_server.Start()) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_serverRunning = false;
  }
  return 0;
}

EXPORT LONG lineNegotiateAPIVersion(HLINEAPP app, DWORD device, DWORD low, DWORD high,
                                    DWORD* version, LINEEXTENSIONID* extension) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_lineApp.handle) return LINEERR_INVALAPPHANDLE;
  if (device >= static_cast<DWORD>(g_lineCount)) return LINEERR_BADDEVICEID;
  if (!version) return LINEERR_INVALPOINTER;
  if (low > kVersion || high < 0x00010003) return LINEERR_INCOMPATIBLEAPIVERSION;
  *version = high < kVersion ? high : kVersion;
  if (extension) *extension = LINEEXTENSIONID{};
  return 0;
}

EXPORT LONG lineShutdown(HLINEAPP app) {
  bool stopServer = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!app || app != g_lineApp.handle) return LINEERR_INVALAPPHANDLE;
    for (auto& l : g_lines) {
      l.open = 0;
      l.instance = 0;
      l.privileges = 0;
      l.devStates = 0;
    }
    for (auto& [h, call] : g_calls) call->appHolds = false;
    g_lineApp = App{};
    stopServer = g_serverRunning;
    g_serverRunning = false;
    g_changed.notify_all();
  }
  // Calls still placed end with the program: their scripts see the provider stop.
  if (stopServer) g_server.Stop();
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto it = g_calls.begin(); it != g_calls.end();)
    it = it->second->ended ? g_calls.erase(it) : std::next(it);
  return 0;
}

EXPORT LONG lineOpenA(HLINEAPP app, DWORD device, HLINE* line, DWORD apiVersion, DWORD,
                      uintptr_t instance, DWORD privileges, DWORD mediaModes, const void*) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_lineApp.handle) return LINEERR_INVALAPPHANDLE;
  if (device >= static_cast<DWORD>(g_lineCount)) return LINEERR_BADDEVICEID;
  if (!line) return LINEERR_INVALPOINTER;
  if (apiVersion < 0x00010003 || apiVersion > kVersion) return LINEERR_INCOMPATIBLEAPIVERSION;
  SimLine& l = g_lines[device];
  if (l.open) return kErr(0x80000001);  // LINEERR_ALLOCATED
  const DWORD known = LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;
  if (!privileges || (privileges & ~known)) return LINEERR_INVALPRIVSELECT;
  if (privileges & LINECALLPRIVILEGE_OWNER) {
    const DWORD supported = l.voiceOnly ? LINEMEDIAMODE_INTERACTIVEVOICE
                                        : (LINEMEDIAMODE_UNKNOWN | LINEMEDIAMODE_INTERACTIVEVOICE |
                                           LINEMEDIAMODE_AUTOMATEDVOICE);
    if (!mediaModes || (mediaModes & ~supported)) return kErr(0x8000002F);  // INVALMEDIAMODE
  }
  l.open = g_nextHandle++;
  l.instance = instance;
  l.privileges = privileges;
  *line = l.open;
  return 0;
}

EXPORT LONG lineClose(HLINE line) {
  std::lock_guard<std::mutex> lock(g_mutex);
  SimLine* l = LineByHandle(line);
  if (!l) return LINEERR_INVALLINEHANDLE;
  const int index = IndexOf(l);
  l->open = 0;
  l->instance = 0;
  l->privileges = 0;
  l->devStates = 0;
  std::vector<HCALL> done;
  for (auto& [h, call] : g_calls)
    if (call->line == index) {
      call->appHolds = false;
      if (call->ended) done.push_back(h);
    }
  for (HCALL h : done) ForgetIfDone(h);
  g_changed.notify_all();
  return 0;
}

EXPORT LONG lineSetStatusMessages(HLINE line, DWORD lineStates, DWORD) {
  std::lock_guard<std::mutex> lock(g_mutex);
  SimLine* l = LineByHandle(line);
  if (!l) return LINEERR_INVALLINEHANDLE;
  l->devStates = lineStates;
  return 0;
}

EXPORT LONG lineGetDevCapsA(HLINEAPP app, DWORD device, DWORD apiVersion, DWORD,
                            LINEDEVCAPS* caps) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_lineApp.handle) return LINEERR_INVALAPPHANDLE;
  if (device >= static_cast<DWORD>(g_lineCount)) return LINEERR_BADDEVICEID;
  if (apiVersion < 0x00010003 || apiVersion > kVersion) return LINEERR_INCOMPATIBLEAPIVERSION;
  auto* h = reinterpret_cast<VARHEADER*>(caps);
  if (!Fits<LINEDEVCAPS>(h)) return LINEERR_STRUCTURETOOSMALL;
  const DWORD total = caps->dwTotalSize;
  std::memset(caps, 0, sizeof *caps);
  caps->dwTotalSize = total;
  caps->dwNeededSize = caps->dwUsedSize = sizeof *caps;
  caps->dwPermanentLineID = device;
  caps->dwStringFormat = STRINGFORMAT_ASCII;
  caps->dwNumAddresses = 1;
  caps->dwMediaModes = g_lines[device].voiceOnly ? LINEMEDIAMODE_INTERACTIVEVOICE
                                                 : (LINEMEDIAMODE_UNKNOWN |
                                                    LINEMEDIAMODE_INTERACTIVEVOICE |
                                                    LINEMEDIAMODE_AUTOMATEDVOICE);
  PutText(h, &caps->dwUsedSize, &caps->dwLineNameSize, &caps->dwLineNameOffset,
          "Simulated line " + std::to_string(device));
  return 0;
}

EXPORT LONG lineGetNewCalls(HLINE line, DWORD, DWORD select, LINECALLLIST* list) {
  std::lock_guard<std::mutex> lock(g_mutex);
  SimLine* l = LineByHandle(line);
  if (!l) return LINEERR_INVALLINEHANDLE;
  if (select != LINECALLSELECT_LINE && select != LINECALLSELECT_ADDRESS) return LINEERR_INVALPARAM;
  auto* h = reinterpret_cast<VARHEADER*>(list);
  if (!Fits<LINECALLLIST>(h)) return LINEERR_STRUCTURETOOSMALL;
  const DWORD total = list->dwTotalSize;
  std::memset(list, 0, sizeof *list);
  list->dwTotalSize = total;
  std::vector<HCALL> handles;
  for (auto& [handle, call] : g_calls)
    if (call->line == IndexOf(l) && !call->ended) handles.push_back(handle);
  list->dwNeededSize = static_cast<DWORD>(sizeof *list + 4 * handles.size());
  list->dwUsedSize = sizeof *list;
  if (list->dwNeededSize <= total) {
    list->dwCallsNumEntries = static_cast<DWORD>(handles.size());
    list->dwCallsSize = static_cast<DWORD>(4 * handles.size());
    list->dwCallsOffset = sizeof *list;
    if (!handles.empty())
      std::memcpy(reinterpret_cast<char*>(list) + sizeof *list, handles.data(), 4 * handles.size());
    list->dwUsedSize = list->dwNeededSize;
    for (HCALL handle : handles) g_calls[handle]->appHolds = true;
  }
  return 0;
}

EXPORT LONG lineGetCallInfoA(HCALL handle, LINECALLINFO* info) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto call = CallFor(handle);
  if (!call || !call->appHolds) return LINEERR_INVALCALLHANDLE;
  auto* h = reinterpret_cast<VARHEADER*>(info);
  if (!h) return LINEERR_INVALPOINTER;
  const DWORD total = h->dwTotalSize;
  if (total < sizeof(LINECALLINFO)) {
    h->dwNeededSize = sizeof(LINECALLINFO) + 256;
    return LINEERR_STRUCTURETOOSMALL;
  }
  std::memset(info, 0, sizeof *info);
  info->dwTotalSize = total;
  info->dwNeededSize = info->dwUsedSize = sizeof *info;
  info->hLine = g_lines[call->line].open;
  info->dwLineDeviceID = static_cast<DWORD>(call->line);
  info->dwAddressID = 0;
  info->dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
  info->dwCallID = call->handle;
  info->dwCallStates = 0xFFFF;
  info->dwMonitorDigitModes = call->monitorModes;
  info->dwOrigin = call->origin;
  info->dwCallerIDFlags = call->callerFlags;
  DWORD* used = &info->dwUsedSize;
  if (call->origin == LINECALLORIGIN_OUTBOUND) {
    if (!call->name.empty())
      PutText(h, used, &info->dwCalledPartySize, &info->dwCalledPartyOffset, call->name);
    if (!call->number.empty())
      PutText(h, used, &info->dwDisplayableAddressSize, &info->dwDisplayableAddressOffset,
              call->number);
  } else {
    if (call->callerFlags & LINECALLPARTYID_ADDRESS)
      PutText(h, used, &info->dwCallerIDSize, &info->dwCallerIDOffset, call->number);
    if (call->callerFlags & LINECALLPARTYID_NAME)
      PutText(h, used, &info->dwCallerIDNameSize, &info->dwCallerIDNameOffset, call->name);
  }
  return 0;
}

EXPORT LONG lineGetIDA(HLINE line, DWORD addressID, HCALL handle, DWORD select, VARSTRING* id,
                       const char* deviceClass) {
  std::lock_guard<std::mutex> lock(g_mutex);
  int index = -1;
  if (select == LINECALLSELECT_CALL) {
    auto call = CallFor(handle);
    if (!call || !call->appHolds) return LINEERR_INVALCALLHANDLE;
    index = call->line;
  } else if (select == LINECALLSELECT_LINE || select == LINECALLSELECT_ADDRESS) {
    SimLine* l = LineByHandle(line);
    if (!l) return LINEERR_INVALLINEHANDLE;
    if (addressID != 0) return LINEERR_INVALADDRESSID;
    index = IndexOf(l);
  } else {
    return LINEERR_INVALPARAM;
  }
  if (!deviceClass) return LINEERR_INVALPOINTER;
  const std::string cls = deviceClass;
  if (cls != "wave/in" && cls != "wave/out" && cls != "tapi/phone" && cls != "tapi/line")
    return LINEERR_INVALDEVICECLASS;
  auto* h = reinterpret_cast<VARHEADER*>(id);
  if (!Fits<VARSTRING>(h)) return LINEERR_STRUCTURETOOSMALL;
  const DWORD total = id->dwTotalSize;
  std::memset(id, 0, sizeof *id);
  id->dwTotalSize = total;
  id->dwNeededSize = sizeof *id + 4;
  id->dwUsedSize = sizeof *id;
  id->dwStringFormat = STRINGFORMAT_BINARY;
  if (id->dwNeededSize <= total) {
    // Each line has one wave input, one wave output and one phone, numbered as the line is.
    const DWORD device = static_cast<DWORD>(index);
    std::memcpy(reinterpret_cast<char*>(id) + sizeof *id, &device, 4);
    id->dwStringSize = 4;
    id->dwStringOffset = sizeof *id;
    id->dwUsedSize = id->dwNeededSize;
  }
  return 0;
}

EXPORT LONG lineGetNumRings(HLINE line, DWORD addressID, DWORD* rings) {
  std::lock_guard<std::mutex> lock(g_mutex);
  SimLine* l = LineByHandle(line);
  if (!l) return LINEERR_INVALLINEHANDLE;
  if (addressID != 0) return LINEERR_INVALADDRESSID;
  if (!rings) return LINEERR_INVALPOINTER;
  *rings = l->rings;
  return 0;
}

EXPORT LONG lineSetNumRings(HLINE line, DWORD addressID, DWORD rings) {
  std::lock_guard<std::mutex> lock(g_mutex);
  SimLine* l = LineByHandle(line);
  if (!l) return LINEERR_INVALLINEHANDLE;
  if (addressID != 0) return LINEERR_INVALADDRESSID;
  l->rings = rings;
  return 0;
}

namespace {
// The owning program's request on a call it holds; the reply and the new states follow as events.
LONG OwnerCall(HCALL handle, std::shared_ptr<SimCall>* out) {
  auto call = CallFor(handle);
  if (!call || !call->appHolds) return LINEERR_INVALCALLHANDLE;
  if (!(g_lines[call->line].privileges & LINECALLPRIVILEGE_OWNER)) return LINEERR_NOTOWNER;
  *out = call;
  return 0;
}
}  // namespace

EXPORT LONG lineAnswer(HCALL handle, const char*, DWORD) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::shared_ptr<SimCall> call;
  if (LONG error = OwnerCall(handle, &call)) return error;
  if (call->state != LINECALLSTATE_OFFERING && call->state != LINECALLSTATE_ACCEPTED)
    return LINEERR_INVALCALLSTATE;
  const LONG request = g_nextRequest++;
  RaiseLine(call->line, 0, LINE_REPLY, static_cast<uintptr_t>(request), 0, 0);
  SetState(*call, LINECALLSTATE_CONNECTED);
  return request;
}

EXPORT LONG lineDrop(HCALL handle, const char*, DWORD) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::shared_ptr<SimCall> call;
  if (LONG error = OwnerCall(handle, &call)) return error;
  if (call->state == LINECALLSTATE_IDLE) return LINEERR_INVALCALLSTATE;
  const LONG request = g_nextRequest++;
  call->dropRequested = true;
  RaiseLine(call->line, 0, LINE_REPLY, static_cast<uintptr_t>(request), 0, 0);
  HangUp(*call, false);
  return request;
}

EXPORT LONG lineDeallocateCall(HCALL handle) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto call = CallFor(handle);
  if (!call || !call->appHolds) return LINEERR_INVALCALLHANDLE;
  // The only owner may not let go of a call that is still up.
  if (!call->ended && (g_lines[call->line].privileges & LINECALLPRIVILEGE_OWNER))
    return LINEERR_INVALCALLSTATE;
  call->appHolds = false;
  ForgetIfDone(handle);
  g_changed.notify_all();
  return 0;
}

EXPORT LONG lineMonitorDigits(HCALL handle, DWORD modes) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto call = CallFor(handle);
  if (!call || !call->appHolds) return LINEERR_INVALCALLHANDLE;
  if (modes & ~(LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND))
    return kErr(0x80000029);  // LINEERR_INVALDIGITMODE
  if (call->ended) return LINEERR_INVALCALLSTATE;
  call->monitorModes = modes;
  return 0;
}

// ---- phone functions --------------------------------------------------------------------------

EXPORT LONG phoneInitializeExA(HPHONEAPP* app, void*, PHONECALLBACK callback, const char*,
                               DWORD* numDevs, DWORD* apiVersion, PHONEINITIALIZEEXPARAMS*) {
  if (!app || !callback || !numDevs || !apiVersion) return LINEERR_INVALPOINTER;
  std::lock_guard<std::mutex> lock(g_mutex);
  Configure();
  if (g_phoneApp.handle) return PHONEERR_OPERATIONFAILED;
  g_phoneApp = App{g_nextHandle++, callback, CMessageQueue::ForThisThread()};
  *app = g_phoneApp.handle;
  *numDevs = static_cast<DWORD>(g_lineCount);
  *apiVersion = kVersion;
  return 0;
}

EXPORT LONG phoneNegotiateAPIVersion(HPHONEAPP app, DWORD device, DWORD low, DWORD high,
                                     DWORD* version, PHONEEXTENSIONID* extension) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_phoneApp.handle) return kErr(0x90000011);  // PHONEERR_INVALAPPHANDLE
  if (device >= static_cast<DWORD>(g_lineCount)) return PHONEERR_BADDEVICEID;
  if (!version) return LINEERR_INVALPOINTER;
  if (low > kVersion || high < 0x00010003) return kErr(0x9000000C);
  *version = high < kVersion ? high : kVersion;
  if (extension) *extension = PHONEEXTENSIONID{};
  return 0;
}

EXPORT LONG phoneShutdown(HPHONEAPP app) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_phoneApp.handle) return kErr(0x90000011);
  for (auto& l : g_lines) {
    l.phoneOpen = 0;
    l.hookMode = PHONEHOOKSWITCHMODE_ONHOOK;
  }
  g_phoneApp = App{};
  return 0;
}

EXPORT LONG phoneOpen(HPHONEAPP app, DWORD device, HPHONE* phone, DWORD, DWORD,
                      uintptr_t instance, DWORD privilege) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_phoneApp.handle) return kErr(0x90000011);
  if (device >= static_cast<DWORD>(g_lineCount)) return PHONEERR_BADDEVICEID;
  if (!phone) return LINEERR_INVALPOINTER;
  if (privilege != PHONEPRIVILEGE_OWNER && privilege != PHONEPRIVILEGE_MONITOR)
    return PHONEERR_INVALPRIVILEGE;
  SimLine& l = g_lines[device];
  if (l.phoneOpen) return kErr(0x90000001);  // PHONEERR_ALLOCATED
  l.phoneOpen = g_nextHandle++;
  l.phoneInstance = instance;
  *phone = l.phoneOpen;
  return 0;
}

EXPORT LONG phoneClose(HPHONE phone) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto& l : g_lines)
    if (phone && l.phoneOpen == phone) {
      l.phoneOpen = 0;
      l.hookMode = PHONEHOOKSWITCHMODE_ONHOOK;
      return 0;
    }
  return PHONEERR_INVALPHONEHANDLE;
}

EXPORT LONG phoneSetStatusMessages(HPHONE phone, DWORD, DWORD, DWORD) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto& l : g_lines)
    if (phone && l.phoneOpen == phone) return 0;
  return PHONEERR_INVALPHONEHANDLE;
}

EXPORT LONG phoneGetDevCapsA(HPHONEAPP app, DWORD device, DWORD, DWORD, PHONECAPS* caps) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!app || app != g_phoneApp.handle) return kErr(0x90000011);
  if (device >= static_cast<DWORD>(g_lineCount)) return PHONEERR_BADDEVICEID;
  auto* h = reinterpret_cast<VARHEADER*>(caps);
  if (!Fits<PHONECAPS>(h)) return PHONEERR_STRUCTURETOOSMALL;
  const DWORD total = caps->dwTotalSize;
  std::memset(caps, 0, sizeof *caps);
  caps->dwTotalSize = total;
  caps->dwNeededSize = caps->dwUsedSize = sizeof *caps;
  caps->dwStringFormat = STRINGFORMAT_ASCII;
  caps->dwHookSwitchDevs = PHONEHOOKSWITCHDEV_HANDSET |
                           (g_lines[device].hasSpeaker ? DWORD{PHONEHOOKSWITCHDEV_SPEAKER} : DWORD{0});
  caps->dwHandsetHookSwitchModes = PHONEHOOKSWITCHMODE_ONHOOK | PHONEHOOKSWITCHMODE_MICSPEAKER;
  caps->dwSpeakerHookSwitchModes =
      g_lines[device].hasSpeaker ? (PHONEHOOKSWITCHMODE_ONHOOK | PHONEHOOKSWITCHMODE_MICSPEAKER)
                                 : 0;
  PutText(h, &caps->dwUsedSize, &caps->dwPhoneNameSize, &caps->dwPhoneNameOffset,
          "Simulated phone " + std::to_string(device));
  return 0;
}

EXPORT LONG phoneGetIDA(HPHONE phone, VARSTRING* id, const char* deviceClass) {
  std::lock_guard<std::mutex> lock(g_mutex);
  int index = -1;
  for (size_t i = 0; i < g_lines.size(); ++i)
    if (phone && g_lines[i].phoneOpen == phone) index = static_cast<int>(i);
  if (index < 0) return PHONEERR_INVALPHONEHANDLE;
  if (!deviceClass || std::string(deviceClass) != "tapi/line") return kErr(0x90000012);
  auto* h = reinterpret_cast<VARHEADER*>(id);
  if (!Fits<VARSTRING>(h)) return PHONEERR_STRUCTURETOOSMALL;
  const DWORD total = id->dwTotalSize;
  std::memset(id, 0, sizeof *id);
  id->dwTotalSize = total;
  id->dwNeededSize = sizeof *id + 4;
  id->dwUsedSize = sizeof *id;
  id->dwStringFormat = STRINGFORMAT_BINARY;
  if (id->dwNeededSize <= total) {
    const DWORD device = static_cast<DWORD>(index);
    std::memcpy(reinterpret_cast<char*>(id) + sizeof *id, &device, 4);
    id->dwStringSize = 4;
    id->dwStringOffset = sizeof *id;
    id->dwUsedSize = id->dwNeededSize;
  }
  return 0;
}

EXPORT LONG phoneSetHookSwitch(HPHONE phone, DWORD devices, DWORD mode) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (size_t i = 0; i < g_lines.size(); ++i) {
    SimLine& l = g_lines[i];
    if (!phone || l.phoneOpen != phone) continue;
    if ((devices & PHONEHOOKSWITCHDEV_SPEAKER) && !l.hasSpeaker) return PHONEERR_INVALHOOKSWITCHMODE;
    if (mode & (mode - 1)) return PHONEERR_INVALHOOKSWITCHMODE;
    const LONG request = g_nextRequest++;
    l.hookMode = mode;
    RaisePhone(static_cast<int>(i), PHONE_REPLY, static_cast<uintptr_t>(request), 0, 0);
    g_changed.notify_all();
    return request;
  }
  return PHONEERR_INVALPHONEHANDLE;
}

EXPORT DWORD phonesimHookSwitchMode(DWORD line) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return line < g_lines.size() ? g_lines[line].hookMode : 0;
}

// ---- request functions ------------------------------------------------------------------------

EXPORT LONG tapiGetLocationInfoA(char* countryCode, char* cityCode) {
  if (!countryCode || !cityCode) return TAPIERR_REQUESTFAILED;
  std::string country = "1", city = "425";
  if (const char* env = std::getenv("PHONESIM_LOCATION")) {
    // "COUNTRY,CITY"; an empty value means no location service.
    std::string text = env;
    if (text.empty()) return TAPIERR_REQUESTFAILED;
    const size_t comma = text.find(',');
    country = text.substr(0, comma);
    city = comma == std::string::npos ? "" : text.substr(comma + 1);
  }
  // Both buffers hold 8 bytes.
  std::snprintf(countryCode, 8, "%s", country.c_str());
  std::snprintf(cityCode, 8, "%s", city.c_str());
  return 0;
}

EXPORT LONG tapiRequestMakeCallA(const char* destAddress, const char*, const char*, const char*) {
  if (!destAddress || !*destAddress) return TAPIERR_INVALDESTADDRESS;
  return TAPIERR_NOREQUESTRECIPIENT;  // the simulated exchange has no dialler
}

// ---- wave devices -----------------------------------------------------------------------------

namespace {

bool GoodFormat(const WAVEFORMATEX* f) {
  return f && f->wFormatTag == WAVE_FORMAT_PCM && f->nChannels == 1 &&
         f->nSamplesPerSec == kWaveRate && f->wBitsPerSample == 16 && f->nBlockAlign == 2;
}

MMRESULT OpenWave(bool input, uint32_t* handle, uint32_t device, const WAVEFORMATEX* format,
                  uintptr_t callback, uint32_t flags) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Configure();
  if (device == WAVE_MAPPER) device = 0;
  if (device >= static_cast<uint32_t>(g_lineCount)) return MMSYSERR_BADDEVICEID;
  if (!GoodFormat(format)) return WAVERR_BADFORMAT;
  if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
  if (!handle) return MMSYSERR_INVALPARAM;
  if ((flags & CALLBACK_WINDOW) == 0 || !callback) return MMSYSERR_INVALFLAG;
  for (auto& [h, d] : g_waves)
    if (d.input == input && d.line == static_cast<int>(device)) return MMSYSERR_ALLOCATED;
  WaveDevice d;
  d.input = input;
  d.line = static_cast<int>(device);
  d.window = callback;
  *handle = g_nextHandle++;
  g_waves[*handle] = d;
  hidden_window::Post(callback, input ? MM_WIM_OPEN : MM_WOM_OPEN, *handle, 0);
  StartTickerLocked();
  return MMSYSERR_NOERROR;
}

WaveDevice* Wave(uint32_t handle, bool input) {
  auto it = g_waves.find(handle);
  return it == g_waves.end() || it->second.input != input ? nullptr : &it->second;
}

MMRESULT Prepare(uint32_t handle, bool input, WAVEHDR* h, uint32_t size, bool prepare) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!Wave(handle, input)) return MMSYSERR_INVALHANDLE;
  if (!h || size < sizeof(WAVEHDR) || !h->lpData) return MMSYSERR_INVALPARAM;
  if (h->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  if (prepare) h->dwFlags |= WHDR_PREPARED;
  else h->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT Queue(uint32_t handle, bool input, WAVEHDR* h, uint32_t size) {
  std::lock_guard<std::mutex> lock(g_mutex);
  WaveDevice* d = Wave(handle, input);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (!h || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  if (!(h->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (h->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  if (input) h->dwBytesRecorded = 0;
  if (!input && d->queue.empty()) {
    d->playingSince = Clock::now();
    g_lines[d->line].quietSince = d->playingSince;
  }
  d->queue.push_back(h);
  g_changed.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT ResetWave(uint32_t handle, bool input) {
  std::lock_guard<std::mutex> lock(g_mutex);
  WaveDevice* d = Wave(handle, input);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (input && d->started) FillInput(handle, *d, SamplesSince(d->startedAt, Clock::now()));
  // What is still queued comes back now, marked done.
  for (WAVEHDR* h : d->queue) {
    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    hidden_window::Post(d->window, input ? MM_WIM_DATA : MM_WOM_DONE, handle,
                        reinterpret_cast<uintptr_t>(h));
  }
  d->queue.clear();
  d->started = false;
  if (!input) g_lines[d->line].quietSince = Clock::now();
  g_changed.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT CloseWave(uint32_t handle, bool input) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    WaveDevice* d = Wave(handle, input);
    if (!d) return MMSYSERR_INVALHANDLE;
    if (!d->queue.empty()) return WAVERR_STILLPLAYING;
    hidden_window::Post(d->window, input ? MM_WIM_CLOSE : MM_WOM_CLOSE, handle, 0);
    g_waves.erase(handle);
  }
  StopTickerIfIdle();
  return MMSYSERR_NOERROR;
}

}  // namespace

EXPORT MMRESULT waveInOpen(HWAVEIN* h, uint32_t device, const WAVEFORMATEX* format,
                           uintptr_t callback, uintptr_t, uint32_t flags) {
  return OpenWave(true, h, device, format, callback, flags);
}
EXPORT MMRESULT waveInPrepareHeader(HWAVEIN h, WAVEHDR* hdr, uint32_t size) {
  return Prepare(h, true, hdr, size, true);
}
EXPORT MMRESULT waveInUnprepareHeader(HWAVEIN h, WAVEHDR* hdr, uint32_t size) {
  return Prepare(h, true, hdr, size, false);
}
EXPORT MMRESULT waveInAddBuffer(HWAVEIN h, WAVEHDR* hdr, uint32_t size) {
  return Queue(h, true, hdr, size);
}
EXPORT MMRESULT waveInStart(HWAVEIN h) {
  std::lock_guard<std::mutex> lock(g_mutex);
  WaveDevice* d = Wave(h, true);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (d->started) return MMSYSERR_NOERROR;
  d->started = true;
  d->startedAt = Clock::now();
  d->delivered = 0;
  // A caller waiting to speak starts as the line begins to listen.
  for (auto& [handle, call] : g_calls)
    if (call->line == d->line && call->state == LINECALLSTATE_CONNECTED && !call->speaking) {
      call->speaking = true;
      call->speechStart = d->startedAt;
    }
  g_changed.notify_all();
  return MMSYSERR_NOERROR;
}
EXPORT MMRESULT waveInReset(HWAVEIN h) { return ResetWave(h, true); }
EXPORT MMRESULT waveInClose(HWAVEIN h) { return CloseWave(h, true); }

EXPORT MMRESULT waveOutOpen(HWAVEOUT* h, uint32_t device, const WAVEFORMATEX* format,
                            uintptr_t callback, uintptr_t, uint32_t flags) {
  return OpenWave(false, h, device, format, callback, flags);
}
EXPORT MMRESULT waveOutPrepareHeader(HWAVEOUT h, WAVEHDR* hdr, uint32_t size) {
  return Prepare(h, false, hdr, size, true);
}
EXPORT MMRESULT waveOutUnprepareHeader(HWAVEOUT h, WAVEHDR* hdr, uint32_t size) {
  return Prepare(h, false, hdr, size, false);
}
EXPORT MMRESULT waveOutWrite(HWAVEOUT h, WAVEHDR* hdr, uint32_t size) {
  return Queue(h, false, hdr, size);
}
EXPORT MMRESULT waveOutReset(HWAVEOUT h) { return ResetWave(h, false); }
EXPORT MMRESULT waveOutClose(HWAVEOUT h) { return CloseWave(h, false); }
