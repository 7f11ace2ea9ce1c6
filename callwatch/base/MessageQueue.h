#pragma once
// The program's message loop and hidden windows. Callwatch runs on one thread; the telephony
// provider and the wave devices raise their events on threads of their own and post them here, so
// that every event runs on the thread that asked for it (the thread that initialized the
// telephony interface or made the hidden window). One instance of this library serves the whole
// process, the program and the provider it loads alike.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class CMessageQueue {
public:
  // The calling thread's queue, made on first use.
  static std::shared_ptr<CMessageQueue> ForThisThread();

  void Post(std::function<void()> work);
  // Runs what is posted, waiting up to ms for the first piece of work; returns the count run.
  int Pump(int ms);
  // Pump until done() holds or ms pass; done() is checked after every piece of work.
  bool PumpUntil(const std::function<bool()>& done, int ms);
  // Wakes a Pump that waits, so that a signal or a request to quit is seen at once.
  void Wake();
  size_t Pending() const;

private:
  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<std::function<void()>> m_work;
  bool m_woken = false;
};

// A hidden window: a handle that device events are posted to, delivered to its procedure on the
// thread that made it. Messages posted after the window is destroyed are dropped.
class IWindowProc {
public:
  virtual ~IWindowProc() = default;
  virtual void WindowProc(uint32_t message, uintptr_t wParam, uintptr_t lParam) = 0;
};

namespace hidden_window {
// Made on the calling thread; 0 when it cannot be made.
uintptr_t Create(IWindowProc* proc);
void Destroy(uintptr_t window);
// False when there is no such window.
bool Post(uintptr_t window, uint32_t message, uintptr_t wParam, uintptr_t lParam);
}  // namespace hidden_window
