#pragma once
// A field that a module's own thread and the host thread both touch, which the module's copy
// constructor copies like any other field: a copy takes the value as it is at that moment.
#include <atomic>

template <class T>
class JAtomic : public std::atomic<T> {
public:
  JAtomic() : std::atomic<T>(T()) {}
  JAtomic(T v) : std::atomic<T>(v) {}  // NOLINT: reads like the plain field it replaces
  JAtomic(const JAtomic& o) : std::atomic<T>(o.load()) {}
  JAtomic& operator=(const JAtomic& o) {
    this->store(o.load());
    return *this;
  }
  JAtomic& operator=(T v) {
    this->store(v);
    return *this;
  }
};
