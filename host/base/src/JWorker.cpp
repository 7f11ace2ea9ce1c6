#include "base/JWorker.h"

#include <chrono>
#include <exception>

#include "base/JComponent.h"
#include "base/JObject.h"

namespace {
thread_local JWorker* currentWorker = nullptr;
}

JWorker& JWorker::operator=(const JWorker& o) {
  if (this != &o) stop();
  return *this;
}

JWorker::~JWorker() {
  stop();
  if (thread_.joinable()) thread_.detach();  // destroyed by its own body: nobody is left to wait
}

bool JWorker::start(JObject* module, std::function<void()> body) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (alive_) return false;
  if (thread_.joinable()) {  // an earlier body that ended by itself
    std::thread old = std::move(thread_);
    lock.unlock();
    if (old.get_id() != std::this_thread::get_id()) old.join();
    else old.detach();
    lock.lock();
    if (alive_) return false;
  }
  if (!body) {
    if (!module) return false;
    body = [module] { module->run(); };
  }
  running_ = true;
  runningFlag_.store(true);
  alive_ = true;
  priority_ = JThread::TNORM_PRIORITY + 1;
  thread_ = std::thread([this, module, body = std::move(body)] {
    JComponent::Scope scope(module);  // debug lines from the thread carry the module's name
    currentWorker = this;
    try {
      body();
    } catch (const std::exception& e) { JComponent::debug(e.what()); } catch (...) {
      JComponent::debug("thread ended by an unknown exception");
    }
    std::lock_guard<std::mutex> g(mutex_);
    alive_ = false;
  });
  return true;
}

void JWorker::stop(const std::function<void()>& wake) {
  std::thread t;
  {
    std::lock_guard<std::mutex> g(mutex_);
    running_ = false;
    runningFlag_.store(false);
    priority_ = JThread::TNORM_PRIORITY;
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) t = std::move(thread_);
    // Under the lock: the StopWake cannot go away meanwhile, and its wake does not block.
    if (stopWake_) (*stopWake_)();
  }
  wake_.notify_all();
  if (wake) wake();
  if (t.joinable()) t.join();
}

bool JWorker::running() const { return runningFlag_.load(); }

JWorker* JWorker::current() { return currentWorker; }

JWorker::StopWake::StopWake(JWorker* worker, std::function<void()> wake) : worker_(worker), wake_(std::move(wake)) {
  if (!worker_) return;
  std::lock_guard<std::mutex> g(worker_->mutex_);
  worker_->stopWake_ = &wake_;
}

JWorker::StopWake::~StopWake() {
  if (!worker_) return;
  std::lock_guard<std::mutex> g(worker_->mutex_);
  worker_->stopWake_ = nullptr;
}

bool JWorker::sleepFor(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (ms > 0) wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !running_; });
  return running_;
}

bool JWorker::isAlive() const {
  std::lock_guard<std::mutex> g(mutex_);
  return alive_;
}

bool JWorker::onWorkerThread() const {
  std::lock_guard<std::mutex> g(mutex_);
  return thread_.get_id() == std::this_thread::get_id();
}
