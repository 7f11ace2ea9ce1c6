#include "base/JThread.h"

#include <chrono>
#include <exception>
#include <string>

#include "base/JComponent.h"
#include "base/JObject.h"

JThread& JThread::operator=(const JThread& o) {
  if (this == &o) return *this;
  waitFor();
  runnable_ = o.runnable_;
  alive_.reset();
  priority_.store(TNORM_PRIORITY);
  return *this;
}

JThread::~JThread() {
  if (thread_.joinable() && thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();  // destroyed by its own body: nobody is left to wait
    return;
  }
  waitFor();
}

bool JThread::start() {
  // alive_ is set by the first start() and cleared only by assignment: a thread that has run
  // (even one already waited for) does not start again.
  if (!runnable_ || alive_ || thread_.joinable()) return false;
  alive_ = std::make_shared<std::atomic<bool>>(true);
  JObject* r = runnable_;
  auto alive = alive_;
  thread_ = std::thread([r, alive] {
    JComponent::Scope scope(r);  // debug lines from the thread carry the module's name
    // An exception leaving run() ends this thread only (it would otherwise end the process).
    try {
      r->run();
    } catch (const std::exception& e) {
      JComponent::debug((std::string("uncaught exception in thread: ") + e.what()).c_str());
    } catch (...) { JComponent::debug("uncaught exception in thread"); }
    alive->store(false);
  });
  return true;
}

void JThread::waitFor() {
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) return;  // a thread cannot wait for itself
  thread_.join();
}

void JThread::sleep(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
