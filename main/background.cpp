#include "main/background.h"

#include <optional>
#include <string>

namespace hv::launcher {

BackgroundJob::~BackgroundJob() {
  requestStop();
  // A job that outlived its time-out is detached: the process is ending and it polls its flag.
  if (thread_.joinable()) {
    if (waitFinished(std::chrono::milliseconds(0))) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }
}

bool BackgroundJob::start() {
  if (thread_.joinable()) return true;
  try {
    thread_ = std::thread([this] {
      run();
      std::lock_guard lock(mutex_);
      finished_ = true;
      wake_.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void BackgroundJob::requestStop() {
  std::lock_guard lock(mutex_);
  stop_ = true;
  wake_.notify_all();
}

bool BackgroundJob::waitFinished(std::optional<std::chrono::milliseconds> timeout) {
  if (!thread_.joinable()) return true;
  std::unique_lock lock(mutex_);
  if (timeout) return wake_.wait_for(lock, *timeout, [&] { return finished_; });
  wake_.wait(lock, [&] { return finished_; });
  return true;
}

bool BackgroundJob::sleepFor(std::chrono::milliseconds d) {
  std::unique_lock lock(mutex_);
  return wake_.wait_for(lock, d, [&] { return stop_.load(); });
}

void HandoffWatcher::run() {
  while (!sleepFor(std::chrono::hours(1))) {
  }
}

void UpdateCheck::run() {}

void readHandoffFile(const std::string&) {}

}  // namespace hv::launcher
