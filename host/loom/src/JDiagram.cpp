#include "loom/JDiagram.h"

#include <malloc.h>

#include <algorithm>
#include <optional>

#include "base/JClock.h"
#include "base/JComponent.h"
#include "base/JWorker.h"

namespace {
// After a burst of this many bytes has gone through the queue, the memory it held is handed back
// to the system (at most once in kTrimPauseMs), so that one flood does not keep the host large.
constexpr size_t kTrimAfterBytes = 8u << 20;
constexpr long long kTrimPauseMs = 1000;
}  // namespace

size_t JDiagram::costOf(const JWireValue& v) {
  return sizeof(Queued) + static_cast<size_t>(v.text().length()) + static_cast<size_t>(v.bytes().size());
}

JDiagram::JDiagram() : hostThread_(std::this_thread::get_id()) {}

JDiagram::~JDiagram() {
  links_.clear();
  order_.clear();
  byId_.clear();
}

std::string JDiagram::freshId(const std::string& base) const {
  for (int i = 1;; ++i) {
    std::string id = base + std::to_string(i);
    if (!byId_.count(id)) return id;
  }
}

JModuleObj* JDiagram::add(JModuleObj* module, const std::string& id, const JRect& rect) {
  std::unique_ptr<JModuleObj> owned(module);
  if (!owned) throw JDiagramError("no module to add");
  std::string name = id.empty() ? freshId(owned->className()) : id;
  if (byId_.count(name)) throw JDiagramError("module id \"" + name + "\" is used twice");
  owned->diagram_ = this;
  owned->id_ = name;
  owned->rect = rect;
  order_.push_back(owned.get());
  return (byId_[name] = std::move(owned)).get();
}

JModuleObj* JDiagram::create(const std::string& className, const std::string& id, const JRect& rect) {
  const JObject* proto = JClassRegistry::prototype(className);
  if (!proto) throw JDiagramError("unknown class \"" + className + "\"");
  if (!dynamic_cast<const JModuleObj*>(proto)) throw JDiagramError("class \"" + className + "\" is not a module");
  return add(static_cast<JModuleObj*>(proto->clone()), id, rect);
}

JModuleObj* JDiagram::find(const std::string& id) const {
  auto it = byId_.find(id);
  return it == byId_.end() ? nullptr : it->second.get();
}

void JDiagram::remove(JModuleObj* module) {
  if (!module || module->diagram_ != this) return;
  std::vector<JLinkObj*> attached;
  for (const auto& l : links_)
    if (l->from == module || l->to == module) attached.push_back(l.get());
  for (JLinkObj* l : attached) unlink(l);
  {
    // A module's own thread may still broadcast until close() has stopped it.
    JComponent::Scope scope(module);
    module->close();
  }
  auto purge = [this, module] {
    std::lock_guard<std::mutex> g(qMutex_);
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(), [&](const Queued& q) { return q.module == module; }),
                 queue_.end());
    recount();
    timed_.erase(std::remove_if(timed_.begin(), timed_.end(), [&](const Timed& t) { return t.owner == module; }),
                 timed_.end());
    std::make_heap(timed_.begin(), timed_.end(), later);
    roomCond_.notify_all();
  };
  purge();
  order_.erase(std::remove(order_.begin(), order_.end(), module), order_.end());
  byId_.erase(module->id_);
  purge();  // anything sent while it was being destroyed
}

JLinkObj* JDiagram::link(JModuleObj* from, int output, JModuleObj* to, int input) {
  if (!from || !to) throw JDiagramError("link to a missing module");
  auto port = [](JModuleObj* m, const char* kind, int n) {
    return kind + std::string(" ") + std::to_string(n) + " of \"" + m->id() + "\"";
  };
  if (output < 0 || output >= from->outputCount)
    throw JDiagramError(port(from, "output", output) + " does not exist (it has " + std::to_string(from->outputCount) +
                        " outputs)");
  if (input < 0 || input >= to->inputCount)
    throw JDiagramError(port(to, "input", input) + " does not exist (it has " + std::to_string(to->inputCount) +
                        " inputs)");
  int outType = from->outputType(output), inType = to->inputType(input);
  if (outType != inType && inType != kAnyDataType)
    throw JDiagramError(port(from, "output", output) + " carries " + dataTypeName(outType) + " but " +
                        port(to, "input", input) + " takes " + dataTypeName(inType));
  if (!to->inputAllowed(input)) throw JDiagramError(port(to, "input", input) + " takes no further link");
  if (!from->outputAllowed(output)) throw JDiagramError(port(from, "output", output) + " takes no further link");
  links_.push_back(std::make_unique<JLinkObj>(from, output, to, input));
  JLinkObj* l = links_.back().get();
  from->outputSlot(output).links_.push_back(l);
  to->inputSlot(input).links_.push_back(l);
  return l;
}

void JDiagram::unlink(JLinkObj* link) {
  auto drop = [link](JLinkSet& s) {
    s.links_.erase(std::remove(s.links_.begin(), s.links_.end(), link), s.links_.end());
  };
  drop(link->from->outputSlot(link->fromPort));
  drop(link->to->inputSlot(link->toPort));
  links_.erase(std::remove_if(links_.begin(), links_.end(), [link](const auto& l) { return l.get() == link; }),
               links_.end());
}

std::string JDiagram::resolvePath(const std::string& path) const {
  if (path.empty() || path[0] == '/' || folder_.empty()) return path;
  return folder_ + "/" + path;
}

void JDiagram::startupAll() {
  for (JModuleObj* m : std::vector<JModuleObj*>(order_)) {
    JComponent::Scope scope(m);
    m->startup();
  }
}

void JDiagram::closeAll() {
  for (JModuleObj* m : std::vector<JModuleObj*>(order_)) {
    JComponent::Scope scope(m);
    m->close();
  }
}

// --- delivery ---

void JDiagram::broadcastFrom(JModuleObj& module, int output) {
  if (!onHostThread()) {
    JWireValue v = JWireValue::capture(module, output);
    const size_t cost = costOf(v);
    enqueue(Queued{&module, output, std::move(v), nullptr, cost}, true);
    return;
  }
  if (observer_) observer_(module, output, JWireValue::capture(module, output));
  deliver(module, output, nullptr);
}

bool JDiagram::full(size_t cost) const {
  // One value larger than the whole bound still goes, alone.
  return !queue_.empty() && (queue_.size() >= kMaxQueued || queuedBytes_ + cost > kMaxQueuedBytes);
}

void JDiagram::recount() {
  queuedBytes_ = 0;
  for (const auto& q : queue_) queuedBytes_ += q.cost;
}

void JDiagram::enqueue(Queued q, bool mayWait) {
  JWorker* worker = mayWait ? JWorker::current() : nullptr;
  // A module's thread waits until its worker stops; any other thread until the run stops.
  auto released = [&] { return worker ? !worker->running() : stop_.load(); };
  // Made and destroyed without qMutex_ held: stop() calls its wake under the worker's lock.
  std::optional<JWorker::StopWake> stopWake;
  std::unique_lock<std::mutex> lk(qMutex_);
  if (mayWait && !onHostThread() && full(q.cost) && !released()) {
    lk.unlock();
    stopWake.emplace(worker, [this] {
      std::lock_guard<std::mutex> g(qMutex_);
      roomCond_.notify_all();
    });
    lk.lock();
    ++sendersWaiting_;
    roomCond_.wait_for(lk, std::chrono::milliseconds(kSenderPatienceMs), [&] { return !full(q.cost) || released(); });
    --sendersWaiting_;
  }
  queuedBytes_ += q.cost;
  queue_.push_back(std::move(q));
  const bool wakeHost = hostWaiting_;
  lk.unlock();
  stopWake.reset();
  if (wakeHost) qCond_.notify_one();
}

void JDiagram::deliver(JModuleObj& module, int output, const JWireValue* captured) {
  if (depth_ >= kMaxDepth) {
    JComponent::Scope scope(&module);
    JComponent::debug((std::string("delivery of output ") + std::to_string(output) +
                       " dropped: wires nested deeper than " + std::to_string(kMaxDepth))
                          .c_str());
    return;
  }
  const JLinkSet& set = module.outputSet(output);
  ++depth_;
  for (size_t i = 0; i < set.links_.size(); ++i) {
    JLinkObj* l = set.links_[i];
    const JWireValue* before = l->captured_;
    l->captured_ = captured;
    {
      JComponent::Scope scope(l->to);
      l->to->engine(l->toPort, *l);
    }
    l->captured_ = before;
  }
  --depth_;
}

// --- the host loop ---

void JDiagram::bindHostThread() { hostThread_ = std::this_thread::get_id(); }

void JDiagram::post(std::function<void()> task, JModuleObj* owner) {
  // Tasks never wait for room: the host thread posts too, and tasks are few and small.
  enqueue(Queued{owner, 0, JWireValue(), std::move(task), costOf(JWireValue())}, false);
  qCond_.notify_one();
}

void JDiagram::postAt(long long atMs, std::function<void()> task, JModuleObj* owner) {
  {
    std::lock_guard<std::mutex> g(qMutex_);
    timed_.push_back(Timed{atMs, timedSeq_++, std::move(task), owner});
    std::push_heap(timed_.begin(), timed_.end(), later);
  }
  qCond_.notify_one();
}

void JDiagram::runItem(Queued& q) {
  if (q.task) {
    q.task();
  } else {
    if (observer_) observer_(*q.module, q.output, q.value);
    deliver(*q.module, q.output, &q.value);
  }
}

// Rounds of: everything queued so far, taken in one step (one lock for a whole batch, and the
// senders get the whole room back at once), then the timed tasks that are due, earliest first,
// no more of them than there were at the start of the round, so that a flood of deliveries and
// a crowd of late timers take turns rather than starve each other.
int JDiagram::drain(const std::function<bool()>* interrupted) {
  int ran = 0;
  std::deque<Queued> batch;
  size_t batchBytes = 0;
  for (;;) {
    size_t timedTurn;
    {
      std::lock_guard<std::mutex> g(qMutex_);
      if (!queue_.empty()) {
        batch.swap(queue_);
        batchBytes = queuedBytes_;
        queuedBytes_ = 0;
        if (sendersWaiting_ > 0) roomCond_.notify_all();
      }
      timedTurn = timed_.size();
    }
    bool any = !batch.empty();
    while (!batch.empty()) {
      if (interrupted && (*interrupted)()) {
        // Left for later, ahead of anything queued since.
        std::lock_guard<std::mutex> g(qMutex_);
        while (!batch.empty()) {
          queuedBytes_ += batch.back().cost;
          queue_.push_front(std::move(batch.back()));
          batch.pop_back();
        }
        return ran;
      }
      Queued q = std::move(batch.front());
      batch.pop_front();
      ++ran;
      runItem(q);
    }
    drainedSinceTrim_ += batchBytes;
    batchBytes = 0;
    for (; timedTurn > 0; --timedTurn) {
      if (interrupted && (*interrupted)()) return ran;
      Timed t;
      {
        std::lock_guard<std::mutex> g(qMutex_);
        if (timed_.empty() || timed_.front().at > JClock::millis()) break;
        std::pop_heap(timed_.begin(), timed_.end(), later);
        t = std::move(timed_.back());
        timed_.pop_back();
      }
      any = true;
      ++ran;
      t.task();
    }
    if (!any) break;
  }
  // The queue is empty now: after a burst, give its memory back.
  if (drainedSinceTrim_ >= kTrimAfterBytes) {
    const long long now = JClock::millis();
    if (now - lastTrimMs_ >= kTrimPauseMs || now < lastTrimMs_) {
      drainedSinceTrim_ = 0;
      lastTrimMs_ = now;
      std::deque<Queued>().swap(batch);
      malloc_trim(0);
    }
  }
  return ran;
}

int JDiagram::runPending() { return drain(nullptr); }

bool JDiagram::nothingQueued() const {
  std::lock_guard<std::mutex> g(qMutex_);
  return queue_.empty() && (timed_.empty() || timed_.front().at > JClock::millis());
}

bool JDiagram::nothingScheduled() const {
  std::lock_guard<std::mutex> g(qMutex_);
  return queue_.empty() && timed_.empty();
}

void JDiagram::wake() {
  {
    std::lock_guard<std::mutex> g(qMutex_);
    woken_ = true;
  }
  qCond_.notify_all();
}

void JDiagram::stop() {
  stop_.store(true);
  {
    std::lock_guard<std::mutex> g(qMutex_);
    woken_ = true;
  }
  qCond_.notify_all();
  roomCond_.notify_all();
}

bool JDiagram::run(const std::function<bool()>& done, long long deadlineMs) {
  const std::function<bool()> interrupted = [this, deadlineMs] {
    return stop_.load() || (deadlineMs >= 0 && JClock::millis() >= deadlineMs);
  };
  for (;;) {
    drain(&interrupted);
    if (stop_.load()) return true;
    if (done && done()) return true;
    long long now = JClock::millis();
    if (deadlineMs >= 0 && now >= deadlineMs) return false;
    std::unique_lock<std::mutex> lk(qMutex_);
    if (!queue_.empty() || woken_ || stop_.load()) {
      woken_ = false;
      continue;
    }
    long long wakeAt = deadlineMs;
    if (!timed_.empty() && (wakeAt < 0 || timed_.front().at < wakeAt)) wakeAt = timed_.front().at;
    // The host clock may be a manual one that moves without notice: look again at least every
    // 10 ms.
    long long wait = wakeAt < 0 ? 10 : std::min<long long>(std::max<long long>(wakeAt - now, 0), 10);
    hostWaiting_ = true;
    qCond_.wait_for(lk, std::chrono::milliseconds(wait));
    hostWaiting_ = false;
    woken_ = false;
  }
}
