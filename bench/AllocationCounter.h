#pragma once
// Counts heap allocations of the whole benchmark program. Include in exactly one file of a
// benchmark executable; read allocationCount() before and after the measured loop.
#include <atomic>
#include <cstdlib>
#include <new>

inline std::atomic<long long>& allocationCounter() {
  static std::atomic<long long> count{0};
  return count;
}
inline long long allocationCount() { return allocationCounter().load(std::memory_order_relaxed); }

void* operator new(std::size_t n) {
  allocationCounter().fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  allocationCounter().fetch_add(1, std::memory_order_relaxed);
  return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
