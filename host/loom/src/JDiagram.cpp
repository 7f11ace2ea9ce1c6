#include "loom/JDiagram.h"

#include <algorithm>

#include "base/JClock.h"
#include "base/JComponent.h"

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
    timed_.erase(std::remove_if(timed_.begin(), timed_.end(), [&](const Timed& t) { return t.owner == module; }),
                 timed_.end());
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
    Queued q{&module, output, JWireValue::capture(module, output), nullptr};
    bool wakeHost;
    {
      std::lock_guard<std::mutex> g(qMutex_);
      queue_.push_back(std::move(q));
      wakeHost = hostWaiting_;
    }
    if (wakeHost) qCond_.notify_one();
    return;
  }
  if (observer_) observer_(module, output, JWireValue::capture(module, output));
  deliver(module, output, nullptr);
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
  {
    std::lock_guard<std::mutex> g(qMutex_);
    queue_.push_back(Queued{owner, 0, JWireValue(), std::move(task)});
  }
  qCond_.notify_one();
}

void JDiagram::postAt(long long atMs, std::function<void()> task, JModuleObj* owner) {
  {
    std::lock_guard<std::mutex> g(qMutex_);
    timed_.push_back(Timed{atMs, timedSeq_++, std::move(task), owner});
  }
  qCond_.notify_one();
}

// Takes everything queued so far in one step (one lock for a whole batch), then the timed task
// that is due first.
bool JDiagram::takeReady(std::deque<Queued>& batch) {
  std::lock_guard<std::mutex> g(qMutex_);
  if (!queue_.empty()) {
    batch.swap(queue_);
    return true;
  }
  if (timed_.empty()) return false;
  long long now = JClock::millis();
  auto due = std::min_element(timed_.begin(), timed_.end(), [](const Timed& a, const Timed& b) {
    return a.at != b.at ? a.at < b.at : a.seq < b.seq;
  });
  if (due->at > now) return false;
  batch.push_back(Queued{due->owner, 0, JWireValue(), std::move(due->task)});
  timed_.erase(due);
  return true;
}

int JDiagram::runPending() {
  int ran = 0;
  std::deque<Queued> batch;
  while (takeReady(batch)) {
    while (!batch.empty()) {
      Queued q = std::move(batch.front());
      batch.pop_front();
      ++ran;
      if (q.task) {
        q.task();
      } else {
        if (observer_) observer_(*q.module, q.output, q.value);
        deliver(*q.module, q.output, &q.value);
      }
    }
  }
  return ran;
}

bool JDiagram::nothingQueued() const {
  std::lock_guard<std::mutex> g(qMutex_);
  if (!queue_.empty()) return false;
  long long now = JClock::millis();
  for (const auto& t : timed_)
    if (t.at <= now) return false;
  return true;
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

bool JDiagram::run(const std::function<bool()>& done, long long deadlineMs) {
  for (;;) {
    runPending();
    if (done && done()) return true;
    long long now = JClock::millis();
    if (deadlineMs >= 0 && now >= deadlineMs) return false;
    std::unique_lock<std::mutex> lk(qMutex_);
    if (!queue_.empty() || woken_) {
      woken_ = false;
      continue;
    }
    long long wakeAt = deadlineMs;
    for (const auto& t : timed_)
      if (wakeAt < 0 || t.at < wakeAt) wakeAt = t.at;
    // The host clock may be a manual one that moves without notice: look again at least every
    // 10 ms.
    long long wait = wakeAt < 0 ? 10 : std::min<long long>(std::max<long long>(wakeAt - now, 0), 10);
    hostWaiting_ = true;
    qCond_.wait_for(lk, std::chrono::milliseconds(wait));
    hostWaiting_ = false;
    woken_ = false;
  }
}
