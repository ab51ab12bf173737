#include "platform/messages.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace hv {
namespace {

// The queue of a thread without Qt.
class ThreadQueue : public Executor {
 public:
  void post(std::function<void()> task) override {
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    cv_.notify_one();
  }
  void processPending() override {
    std::deque<std::function<void()>> batch;
    {
      std::lock_guard lock(mutex_);
      batch.swap(tasks_);
    }
    for (auto& t : batch) t();
  }
  // Waits until a task arrives or the deadline passes; true when one arrived.
  bool waitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return cv_.wait_until(lock, deadline, [&] { return !tasks_.empty(); });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
};

thread_local std::shared_ptr<Executor> installedExecutor;
thread_local std::shared_ptr<ThreadQueue> ownQueue;

std::shared_ptr<ThreadQueue> threadQueue() {
  if (!ownQueue) ownQueue = std::make_shared<ThreadQueue>();
  return ownQueue;
}

struct Receiver {
  std::function<void(const WindowMessage&)> handler;
  std::shared_ptr<Executor> executor;
};

struct Registry {
  std::mutex mutex;
  std::unordered_map<WindowId, std::shared_ptr<Receiver>> receivers;
  WindowId next = 0x10000;
};

Registry& registry() {
  static Registry* r = new Registry;  // lives until the process ends, past static destructors
  return *r;
}

}  // namespace

std::shared_ptr<Executor> currentExecutor() {
  if (installedExecutor) return installedExecutor;
  return threadQueue();
}

void setThreadExecutor(std::shared_ptr<Executor> executor) {
  installedExecutor = std::move(executor);
}

WindowId registerWindow(std::function<void(const WindowMessage&)> handler) {
  return registerWindow(std::move(handler), currentExecutor());
}

WindowId registerWindow(std::function<void(const WindowMessage&)> handler,
                        std::shared_ptr<Executor> executor) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  WindowId id = r.next++;
  r.receivers[id] = std::make_shared<Receiver>(Receiver{std::move(handler), std::move(executor)});
  return id;
}

void unregisterWindow(WindowId id) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.receivers.erase(id);
}

bool PostMessage(WindowId id, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  std::shared_ptr<Executor> executor;
  {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.receivers.find(id);
    if (it == r.receivers.end()) return false;
    executor = it->second->executor;
  }
  WindowMessage m{message, wparam, lparam};
  executor->post([id, m] {
    // Look the receiver up again on its own thread: it may have gone in the meantime.
    std::shared_ptr<Receiver> receiver;
    {
      auto& r = registry();
      std::lock_guard lock(r.mutex);
      auto it = r.receivers.find(id);
      if (it == r.receivers.end()) return;
      receiver = it->second;
    }
    receiver->handler(m);
  });
  return true;
}

void pumpMessages() {
  currentExecutor()->processPending();
}

void pumpMessagesFor(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  if (installedExecutor) {
    // The GUI thread: let the installed executor run its loop in short slices.
    while (std::chrono::steady_clock::now() < deadline) {
      installedExecutor->processPending();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return;
  }
  auto q = threadQueue();
  do {
    q->processPending();
  } while (q->waitUntil(deadline));
  q->processPending();
}

}  // namespace hv
