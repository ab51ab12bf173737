#pragma once
// The two background jobs of the running program: the web hand-off watcher (the cookie channel
// with the service's web site) and the update check. Start-up starts the watcher, then the update
// check; after the window closed the watcher is stopped and waited for without limit, the update
// check is stopped and given at most 3000 ms.
//
// Neither job is built yet: both objects keep the order and the stop protocol of the real jobs
// (a stop flag that the job polls, a thread that marks itself finished) but do no work, so the
// program starts and ends exactly as it will once they exist.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

namespace hv::launcher {

class BackgroundJob {
 public:
  virtual ~BackgroundJob();
  // Starts the job's thread; false when it cannot be started.
  bool start();
  // Sets the stop flag.
  void requestStop();
  // Waits until the thread has finished; true when it has (or never ran). Without a limit when
  // timeout is nullopt.
  bool waitFinished(std::optional<std::chrono::milliseconds> timeout);
  bool started() const { return thread_.joinable(); }

 protected:
  bool stopRequested() const { return stop_.load(); }
  // Waits up to d or until a stop is requested; true when stopped.
  bool sleepFor(std::chrono::milliseconds d);
  // The job's work, on its thread; returns when done or stopped.
  virtual void run() = 0;

 private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool finished_ = false;
};

// Watches the cookie channel for download requests. Not built yet: it waits for the stop.
class HandoffWatcher : public BackgroundJob {
 protected:
  void run() override;
};

// Checks for a newer version of the suite. Not built yet: it ends at once, as the real one
// does when the update client is not ready.
class UpdateCheck : public BackgroundJob {
 protected:
  void run() override;
};

// What a ".hdv" hand-off file asks for; not read yet (the hand-off component does not exist).
void readHandoffFile(const std::string& path);

}  // namespace hv::launcher
