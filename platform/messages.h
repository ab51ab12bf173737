#pragma once
// Window messages without windows. A "window handle" in the suite's records is a 32-bit id issued
// here to a receiver; PostMessage may be called from any thread and runs the receiver's handler on
// the receiver's own thread: the GUI thread for Qt views, or the thread's own queue for threads
// that have no Qt (drained by pumpMessages()). Posting to an id that is unknown or was
// unregistered drops the message, as posting to a closed window does.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "include/handvane/export.h"

namespace hv {

using WindowId = uint32_t;

struct WindowMessage {
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
};

// Runs tasks on one thread.
class HV_EXPORT Executor {
 public:
  virtual ~Executor() = default;
  virtual void post(std::function<void()> task) = 0;
  // Runs what is waiting, on the calling thread, when that is the executor's thread.
  virtual void processPending() = 0;
};

// The executor of the calling thread: the one installed with setThreadExecutor, or the thread's
// own queue.
HV_EXPORT std::shared_ptr<Executor> currentExecutor();
// The Qt backend installs its GUI-thread executor on the GUI thread with this.
HV_EXPORT void setThreadExecutor(std::shared_ptr<Executor> executor);

// Registers a receiver on the calling thread; its handler runs there. Ids are never 0 and never
// reused within a process.
HV_EXPORT WindowId registerWindow(std::function<void(const WindowMessage&)> handler);
HV_EXPORT WindowId registerWindow(std::function<void(const WindowMessage&)> handler,
                                  std::shared_ptr<Executor> executor);
// After this returns, the handler is not called again (messages in flight are dropped).
HV_EXPORT void unregisterWindow(WindowId id);

// Queues the message for the receiver. False when the id is unknown.
HV_EXPORT bool PostMessage(WindowId id, uint32_t message, uintptr_t wparam, intptr_t lparam);

// Runs the calling thread's waiting messages, then returns.
HV_EXPORT void pumpMessages();
// Runs the calling thread's messages as they arrive, for at most `timeout`.
HV_EXPORT void pumpMessagesFor(std::chrono::milliseconds timeout);

// A receiver that lives as long as the object: registered on construction, unregistered on
// destruction.
class HV_EXPORT MessageWindow {
 public:
  explicit MessageWindow(std::function<void(const WindowMessage&)> handler)
      : id_(registerWindow(std::move(handler))) {}
  ~MessageWindow() { unregisterWindow(id_); }
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;
  WindowId id() const { return id_; }

 private:
  WindowId id_;
};

}  // namespace hv
