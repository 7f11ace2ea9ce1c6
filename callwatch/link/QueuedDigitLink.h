#pragma once
// The digit link as Callwatch runs it: call handling hands each digit (and each call's end) to a
// worker thread of the link's own and never waits for it. The worker makes the connection and
// sends, with all the link's tries and pauses, while calls go on being offered, rung and
// answered. One queue in call order keeps the digits of each call in order, and the calls in the
// order they ended. While Loomwork cannot be reached the queue is bounded: a digit beyond
// kMostWaitingDigits is dropped, with a debug line.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/JWorker.h"
#include "link/DigitLink.h"

class CQueuedDigitLink : public IDigitLink {
public:
  // Enough for the longest run a caller can press (1024 digits) to wait for a slow connection.
  static constexpr size_t kMostWaitingDigits = 1024;
  using Debug = std::function<void(const std::string&)>;

  // debug: where dropped digits are told (empty: nowhere).
  explicit CQueuedDigitLink(CDigitLinkSetup setup = {}, Debug debug = {});
  ~CQueuedDigitLink() override;  // Close()
  CQueuedDigitLink(const CQueuedDigitLink&) = delete;
  CQueuedDigitLink& operator=(const CQueuedDigitLink&) = delete;

  // Both only queue; the worker starts with the first digit.
  void SendDigitToLoomwork(char c) override;
  void EndDataToLoomwork() override;

  // Until everything queued has been handled, or ms pass; false on time-out.
  bool WaitIdle(int ms);
  // Ends the worker: what is queued is still sent over a connection that is up, but no new
  // connection is tried and no pause is waited out; digits that cannot go are dropped with one
  // debug line. The connection and the trace file are closed. Bounded by one connection try.
  void Close();

  // The link's setup; changes take effect before the first digit only.
  CDigitLinkSetup& Setup() { return m_setup; }
  size_t Waiting() const;
  size_t Dropped() const;
  bool Closed() const;

private:
  struct Item {
    bool end;
    char digit;
  };
  class StoppableSockets;

  void Run();
  void Queue(Item item);
  void Tell(const std::string& text);

  CDigitLinkSetup m_setup;
  Debug m_debug;
  std::unique_ptr<StoppableSockets> m_sockets;
  std::unique_ptr<CDigitLink> m_link;  // used on the worker only

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<Item> m_queue;
  size_t m_waitingDigits = 0;
  size_t m_dropped = 0;          // since the run began
  size_t m_droppedUntold = 0;    // dropped for a full queue since the last debug line about it
  size_t m_unsent = 0;           // dropped at the close
  bool m_busy = false;           // the worker is handling an item
  bool m_closed = false;
  JWorker m_worker;
};
