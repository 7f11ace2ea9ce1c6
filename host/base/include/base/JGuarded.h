#pragma once
// A composite field (a block, a text) that a module's own thread and the host thread both touch:
// every read and write holds its lock, a copy of the module included, so the default copy
// constructor of the module stays right.
#include <mutex>
#include <utility>

template <class T>
class JGuarded {
public:
  JGuarded() = default;
  explicit JGuarded(T v) : value_(std::move(v)) {}
  JGuarded(const JGuarded& o) : value_(o.get()) {}
  JGuarded& operator=(const JGuarded& o) {
    if (this != &o) set(o.get());
    return *this;
  }

  T get() const {
    std::lock_guard<std::mutex> g(m_);
    return value_;
  }
  void set(T v) {
    std::lock_guard<std::mutex> g(m_);
    value_ = std::move(v);
  }

private:
  mutable std::mutex m_;
  T value_{};
};
