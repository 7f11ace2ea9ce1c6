#include "base/MessageQueue.h"

#include <chrono>
#include <map>

std::shared_ptr<CMessageQueue> CMessageQueue::ForThisThread() {
  thread_local std::shared_ptr<CMessageQueue> queue = std::make_shared<CMessageQueue>();
  return queue;
}

void CMessageQueue::Post(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_work.push_back(std::move(work));
  }
  m_wake.notify_all();
}

void CMessageQueue::Wake() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_woken = true;
  }
  m_wake.notify_all();
}

size_t CMessageQueue::Pending() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_work.size();
}

int CMessageQueue::Pump(int ms) {
  std::deque<std::function<void()>> batch;
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(ms < 0 ? 0 : ms), [&] { return !m_work.empty() || m_woken; });
    m_woken = false;
    batch.swap(m_work);
  }
  // Work posted while this batch runs waits for the next round, so events keep their order.
  for (auto& work : batch) work();
  return static_cast<int>(batch.size());
}

bool CMessageQueue::PumpUntil(const std::function<bool()>& done, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    std::function<void()> one;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_wake.wait_for(lock, std::min(left, std::chrono::milliseconds(50)), [&] { return !m_work.empty(); });
      if (m_work.empty()) continue;
      one = std::move(m_work.front());
      m_work.pop_front();
    }
    one();
  }
  return true;
}

namespace {

struct Window {
  IWindowProc* proc;
  std::weak_ptr<CMessageQueue> queue;
};

std::mutex g_windowsMutex;
std::map<uintptr_t, Window> g_windows;
uintptr_t g_nextWindow = 0x1000;

}  // namespace

uintptr_t hidden_window::Create(IWindowProc* proc) {
  if (!proc) return 0;
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  uintptr_t handle = ++g_nextWindow;
  g_windows[handle] = Window{proc, CMessageQueue::ForThisThread()};
  return handle;
}

void hidden_window::Destroy(uintptr_t window) {
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  g_windows.erase(window);
}

bool hidden_window::Post(uintptr_t window, uint32_t message, uintptr_t wParam, uintptr_t lParam) {
  std::shared_ptr<CMessageQueue> queue;
  {
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    auto it = g_windows.find(window);
    if (it == g_windows.end()) return false;
    queue = it->second.queue.lock();
  }
  if (!queue) return false;
  queue->Post([=] {
    // Looked up again on the window's thread: it may have gone while the message waited.
    IWindowProc* proc = nullptr;
    {
      std::lock_guard<std::mutex> lock(g_windowsMutex);
      auto it = g_windows.find(window);
      if (it != g_windows.end()) proc = it->second.proc;
    }
    if (proc) proc->WindowProc(message, wParam, lParam);
  });
  return true;
}
