#pragma once
// The life of a module's own thread, in one place: start, a stop that wakes the thread from any
// wait at once, and the join. A worker is owned by one module; a copy of the module gets a
// worker that is not running (a clone of a running module gets no thread), and assigning one
// module to another stops the target's thread first.
//
// The body polls nothing: it waits with sleepFor(), which stop() cuts short, and a module whose
// thread blocks in a read hands stop() a wake-up (closing the socket or device) that ends it. A
// wait that the body enters elsewhere (the host's full delivery queue) registers a StopWake, so
// that stop() ends that wait too.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "base/JThread.h"

class JObject;

class JWorker {
public:
  JWorker() = default;
  JWorker(const JWorker&) {}
  JWorker& operator=(const JWorker&);  // stops this one's thread; the other's is not shared
  ~JWorker();                          // stops and joins

  // Starts body on a thread of its own (run() of the module when body is empty). The thread's
  // debug lines carry the module's name; an exception that ends the body prints one debug line,
  // "WHAT: TEXT" where WHAT is the body's description. False when a thread is already running.
  bool start(JObject* module, std::function<void()> body = {});
  // Clears the running flag, runs wake (if any) to unblock a read, cuts every sleepFor short,
  // and joins. Safe to call from the worker's own thread (it then does not join) and more than
  // once.
  void stop(const std::function<void()>& wake = {});

  // For the body: whether it should go on. Takes no lock, so a wait elsewhere may ask it under a
  // lock of its own.
  bool running() const;
  // For the body: waits up to ms, or until stop(); returns running().
  bool sleepFor(int ms);
  // Whether the thread is still inside its body.
  bool isAlive() const;
  bool onWorkerThread() const;
  // The worker whose body runs on the calling thread, or null on any other thread.
  static JWorker* current();

  // While one lives on the worker's thread, stop() calls wake (after clearing running()), which
  // ends a wait the body is in outside the worker. wake must not block.
  class StopWake {
  public:
    StopWake(JWorker* worker, std::function<void()> wake);
    ~StopWake();
    StopWake(const StopWake&) = delete;
    StopWake& operator=(const StopWake&) = delete;

  private:
    JWorker* worker_;
    std::function<void()> wake_;
  };

  // Recorded priority, as JThread keeps it (Linux threads keep their policy).
  int getPriority() const {
    std::lock_guard<std::mutex> g(mutex_);
    return priority_;
  }

private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool running_ = false;
  std::atomic<bool> runningFlag_{false};  // running_, readable without the lock
  bool alive_ = false;
  const std::function<void()>* stopWake_ = nullptr;  // the body's StopWake, while one lives
  std::thread thread_;
  int priority_ = JThread::TNORM_PRIORITY;
};
