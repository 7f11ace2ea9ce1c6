#include "link/QueuedDigitLink.h"

#include <atomic>
#include <chrono>

// The machine's sockets until the link closes; then no new connection is tried (as if the
// network were unreachable), so that closing never waits out a receiver that is not there.
class CQueuedDigitLink::StoppableSockets : public CSocketLayer {
public:
  explicit StoppableSockets(CSocketLayer& real) : m_real(real) {}
  std::atomic<bool> stopped{false};

  int socket(int family, int type, int protocol) override { return Pass(m_real.socket(family, type, protocol)); }
  int setsockopt(int s, int level, int name, const void* value, int length) override {
    return Pass(m_real.setsockopt(s, level, name, value, length));
  }
  int lookupName(const char* host, int port, sockaddr_in* found, int max) override {
    if (stopped) return Refuse();
    return Pass(m_real.lookupName(host, port, found, max));
  }
  int connect(int s, const sockaddr_in& address) override {
    if (stopped) return Refuse();
    return Pass(m_real.connect(s, address));
  }
  int send(int s, const void* bytes, int length) override { return Pass(m_real.send(s, bytes, length)); }
  int peek(int s, void* bytes, int length) override { return Pass(m_real.peek(s, bytes, length)); }
  int closesocket(int s) override { return Pass(m_real.closesocket(s)); }
  int lastError() override { return m_refused ? kNetworkUnreachable : m_real.lastError(); }

private:
  int Pass(int result) {
    m_refused = false;
    return result;
  }
  int Refuse() {
    m_refused = true;
    return kSocketError;
  }
  CSocketLayer& m_real;
  bool m_refused = false;  // the worker's own: only it calls the layer
};

CQueuedDigitLink::CQueuedDigitLink(CDigitLinkSetup setup, Debug debug)
    : m_setup(std::move(setup)), m_debug(std::move(debug)) {}

CQueuedDigitLink::~CQueuedDigitLink() { Close(); }

void CQueuedDigitLink::Tell(const std::string& text) {
  if (m_debug) m_debug(text);
}

void CQueuedDigitLink::SendDigitToLoomwork(char c) { Queue(Item{false, c}); }

void CQueuedDigitLink::EndDataToLoomwork() { Queue(Item{true, 0}); }

void CQueuedDigitLink::Queue(Item item) {
  std::string told;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed) return;
    if (!item.end && m_waitingDigits >= kMostWaitingDigits) {
      ++m_dropped;
      if (m_droppedUntold++ == 0)
        told = "digit link: Loomwork takes no digits; " + std::to_string(kMostWaitingDigits) +
               " are waiting, so digit " + std::string(1, item.digit) + " and the next ones are dropped\n";
    } else {
      if (!item.end) ++m_waitingDigits;
      m_queue.push_back(item);
    }
  }
  if (!told.empty()) Tell(told);
  m_changed.notify_all();
  if (m_worker.isAlive()) return;
  // The first digit (or end) of the run starts the worker.
  if (!m_link) {
    m_sockets = std::make_unique<StoppableSockets>(*m_setup.sockets);
    CDigitLinkSetup setup = m_setup;
    setup.sockets = m_sockets.get();
    if (!setup.pause) setup.pause = [this](int ms) { m_worker.sleepFor(ms); };
    m_link = std::make_unique<CDigitLink>(setup);
  }
  m_worker.start(nullptr, [this] { Run(); });
}

void CQueuedDigitLink::Run() {
  for (;;) {
    Item item{};
    bool closing = false;
    size_t droppedUntold = 0;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_changed.wait(lock, [&] { return !m_queue.empty() || m_closed; });
      if (m_queue.empty()) break;
      item = m_queue.front();
      m_queue.pop_front();
      if (!item.end) --m_waitingDigits;
      closing = m_closed;
      m_busy = true;
      // Room again after drops: say how many went.
      if (m_droppedUntold > 0 && !closing && m_waitingDigits < kMostWaitingDigits / 2) {
        droppedUntold = m_droppedUntold;
        m_droppedUntold = 0;
      }
    }
    if (droppedUntold > 0)
      Tell("digit link: " + std::to_string(droppedUntold) + " digits were dropped while Loomwork took none\n");

    const CDigitSocket* socket = m_link->Socket();
    if (item.end) {
      m_link->EndDataToLoomwork();
    } else if (closing && !(socket && socket->IsConnected())) {
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_dropped;
      ++m_unsent;
    } else {
      m_link->SendDigitToLoomwork(item.digit);
    }
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_busy = false;
    }
    m_changed.notify_all();
  }
}

bool CQueuedDigitLink::WaitIdle(int ms) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_queue.empty() && !m_busy; });
}

void CQueuedDigitLink::Close() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed) return;
    m_closed = true;
  }
  if (m_sockets) m_sockets->stopped = true;
  // Pauses end at once; the worker sends what it can and ends with the queue.
  m_worker.stop([this] {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_changed.notify_all();
  });
  size_t unsent;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    unsent = m_unsent + m_droppedUntold;
  }
  if (unsent > 0)
    Tell("digit link: " + std::to_string(unsent) +
         " digits were not sent: Loomwork had not taken them when Callwatch stopped\n");
  m_link.reset();  // the connection and the trace file closed
}

size_t CQueuedDigitLink::Waiting() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_waitingDigits;
}

size_t CQueuedDigitLink::Dropped() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_dropped;
}

bool CQueuedDigitLink::Closed() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_closed;
}
