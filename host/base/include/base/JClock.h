#pragma once
// The host clock: milliseconds since the process started, monotonic. Tests put a manual clock in
// its place.
#include <atomic>

class JClock {
public:
  static long long millis();

  // A clock that moves only when told to. While one is installed, millis() reads it.
  class Manual {
  public:
    explicit Manual(long long start = 0);
    ~Manual();  // puts the real clock back
    Manual(const Manual&) = delete;
    Manual& operator=(const Manual&) = delete;
    void set(long long ms) { now_.store(ms); }
    void advance(long long ms) { now_.fetch_add(ms); }
    long long now() const { return now_.load(); }

  private:
    std::atomic<long long> now_;
  };
};
