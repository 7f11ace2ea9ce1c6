#pragma once
// A diagram: modules with ids and places, the links between them, their files, and the host
// thread that delivers values.
//
// Delivery. broadcast(n) on the host thread delivers at once, depth first: for each link on
// output n, in the order the links were made, the receiver's engine runs before broadcast
// returns. broadcast(n) from any other thread reads the output's value at once, on that thread,
// and queues the delivery; the host thread later delivers exactly that value, keeping the order
// of each thread's broadcasts. Delivery deeper than kMaxDepth is dropped with a debug line.
//
// The queue is bounded by kMaxQueued entries and kMaxQueuedBytes: a sending thread waits while it
// is full, so that a flooding peer is held back by its own flow control (TCP, the serial line)
// rather than by the host's memory. The wait ends at once when the sender's module closes (its
// JWorker stops), and for a thread that is no module's worker also when the run stops. A sender
// that waits longer than kSenderPatienceMs queues its value anyway: a sender holding a lock that
// the host thread needs then slows down instead of hanging both.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "loom/JModuleObj.h"
#include "loom/JWireValue.h"

// A diagram that cannot be loaded or a link that cannot be made; what() is one line.
class JDiagramError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class JDiagram {
public:
  static constexpr int kMaxDepth = 128;
  static constexpr size_t kMaxQueued = 8192;
  static constexpr size_t kMaxQueuedBytes = 4u << 20;
  static constexpr int kSenderPatienceMs = 1000;

  JDiagram();
  ~JDiagram();  // closes nothing: the owner closes modules first (closeAll)
  JDiagram(const JDiagram&) = delete;
  JDiagram& operator=(const JDiagram&) = delete;

  // --- modules and links ---
  // Takes ownership. An empty id gets a fresh one; a duplicate id throws JDiagramError.
  JModuleObj* add(JModuleObj* module, const std::string& id = "", const JRect& rect = JRect(0, 0, 80, 60));
  JModuleObj* create(const std::string& className, const std::string& id, const JRect& rect);
  void remove(JModuleObj* module);  // unlinks, closes and destroys it
  JModuleObj* find(const std::string& id) const;
  const std::vector<JModuleObj*>& modules() const { return order_; }
  // Checks port ranges, data types, inputAllowed and outputAllowed; throws JDiagramError.
  JLinkObj* link(JModuleObj* from, int output, JModuleObj* to, int input);
  void unlink(JLinkObj* link);
  const std::vector<std::unique_ptr<JLinkObj>>& links() const { return links_; }

  // --- files ---
  // Throws JDiagramError "NAME: error: WHAT".
  static std::unique_ptr<JDiagram> loadFile(const std::string& path);
  static std::unique_ptr<JDiagram> loadText(const std::string& text, const std::string& name);
  // A link end as files write it, "id:port" with a decimal port; false when it is not one.
  static bool splitLinkEnd(const std::string& end, std::string& id, int& port);
  std::string saveText();                  // throws JDiagramError when a text in it is not UTF-8
  void saveFile(const std::string& path);  // throws JDiagramError
  // What loading the file noticed but could go on with ("FILE: warning: ..."), one line each.
  const std::vector<std::string>& loadWarnings() const { return warnings_; }
  // The folder relative paths in this diagram are taken from ("" for the current folder).
  const std::string& folder() const { return folder_; }
  void setFolder(const std::string& f) { folder_ = f; }
  std::string resolvePath(const std::string& path) const;

  // --- life cycle ---
  void startupAll();  // startup() on every module, in order of placement
  void closeAll();    // close() on every module, in order of placement

  // --- the host thread ---
  void bindHostThread();  // the calling thread becomes the host thread
  bool onHostThread() const { return std::this_thread::get_id() == hostThread_; }
  // Work for the host thread: now, or at a host-clock time. Work of an owner module is dropped
  // when that module is removed.
  void post(std::function<void()> task, JModuleObj* owner = nullptr);
  void postAt(long long atMs, std::function<void()> task, JModuleObj* owner = nullptr);
  // Runs everything that is due now; returns how many items ran.
  int runPending();
  // Runs the host loop until `done` says so, stop() is called or the host clock passes
  // deadlineMs (-1: no deadline). The deadline and stop() are looked at between any two items,
  // so a run ends on time under any load; what is left stays queued for runPending(). `done` is
  // asked whenever nothing more is due. Returns true when `done` or stop() ended it.
  bool run(const std::function<bool()>& done, long long deadlineMs);
  bool nothingQueued() const;     // no queued delivery or task due now
  bool nothingScheduled() const;  // no timed task left either
  void wake();                    // interrupts a waiting run() so it looks again
  // Ends run() (now and for good) from any thread; safe in a signal-watching thread.
  void stop();
  bool stopRequested() const { return stop_.load(); }

  // Called for every broadcast on the host thread before its deliveries (also for queued ones).
  using Observer = std::function<void(JModuleObj& module, int output, const JWireValue& value)>;
  void setObserver(Observer o) { observer_ = std::move(o); }

  // Used by JModuleObj::broadcast.
  void broadcastFrom(JModuleObj& module, int output);

private:
  struct Queued {
    JModuleObj* module;  // the sender of a delivery, or the owner of a task
    int output;
    JWireValue value;
    std::function<void()> task;
    size_t cost;  // what it counts against kMaxQueuedBytes
  };
  // Timed tasks are a heap on (at, seq): the earliest first, equal times in the order posted.
  struct Timed {
    long long at;
    unsigned long long seq;
    std::function<void()> task;
    JModuleObj* owner;
  };
  static bool later(const Timed& a, const Timed& b) { return a.at != b.at ? a.at > b.at : a.seq > b.seq; }
  void deliver(JModuleObj& module, int output, const JWireValue* captured);
  static size_t costOf(const JWireValue& v);
  void enqueue(Queued q, bool mayWait);
  bool full(size_t cost) const;  // with qMutex_ held
  void recount();                // queuedBytes_ from queue_, with qMutex_ held
  void runItem(Queued& q);
  // Runs queued items and due timed tasks until nothing is due, or until `interrupted` says so
  // before an item (what is left then goes back to the front of the queue).
  int drain(const std::function<bool()>* interrupted);
  std::string freshId(const std::string& base) const;

  std::vector<JModuleObj*> order_;
  std::map<std::string, std::unique_ptr<JModuleObj>> byId_;
  std::vector<std::unique_ptr<JLinkObj>> links_;
  std::string folder_;
  std::vector<std::string> warnings_;

  std::thread::id hostThread_;
  int depth_ = 0;
  Observer observer_;

  mutable std::mutex qMutex_;
  std::condition_variable qCond_;     // the host thread waits for work
  std::condition_variable roomCond_;  // senders wait for room in the queue
  std::deque<Queued> queue_;
  size_t queuedBytes_ = 0;
  int sendersWaiting_ = 0;
  std::vector<Timed> timed_;  // a heap, see later()
  unsigned long long timedSeq_ = 0;
  bool woken_ = false;
  bool hostWaiting_ = false;
  std::atomic<bool> stop_{false};
  size_t drainedSinceTrim_ = 0;  // host thread only
  long long lastTrimMs_ = 0;
};
