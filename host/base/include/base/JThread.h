#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

class JObject;

// A thread running the run() of a host object. Copies never share a running thread: a copy is a
// fresh, unstarted thread on the same runnable. Destroying or replacing a started thread waits
// for it.
class JThread {
public:
  static constexpr int TMIN_PRIORITY = 1;
  static constexpr int TNORM_PRIORITY = 5;
  static constexpr int TMAX_PRIORITY = 10;

  JThread() = default;
  explicit JThread(JObject* runnable) : runnable_(runnable) {}
  JThread(const JThread& o) : runnable_(o.runnable_) {}
  JThread& operator=(const JThread& o);
  ~JThread();

  bool start();                                    // false when already started or there is no runnable
  void setPriority(int p) { priority_.store(p); }  // recorded; Linux threads keep their policy
  int getPriority() const { return priority_.load(); }
  void waitFor();  // joins; returns at once when not started or called from itself
  bool isAlive() const { return alive_ && alive_->load(); }
  static void sleep(int ms);

private:
  JObject* runnable_ = nullptr;
  std::thread thread_;
  std::shared_ptr<std::atomic<bool>> alive_;
  std::atomic<int> priority_{TNORM_PRIORITY};
};

// Guards fields shared between a module's thread and the host thread. Re-entrant. A copy is a
// new, unlocked section.
class JCriticalSection {
public:
  JCriticalSection() = default;
  JCriticalSection(const JCriticalSection&) {}
  JCriticalSection& operator=(const JCriticalSection&) { return *this; }
  void lock() { m_.lock(); }
  void unlock() { m_.unlock(); }
  bool tryLock() { return m_.try_lock(); }

  class Lock {
  public:
    explicit Lock(JCriticalSection& s) : s_(s) { s_.lock(); }
    ~Lock() { s_.unlock(); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    JCriticalSection& s_;
  };

private:
  std::recursive_mutex m_;
};
