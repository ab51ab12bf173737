#pragma once
// Kernel objects the suite relies on: the tick counter, a named counting semaphore shared by the
// user's processes, non-waiting byte-range locks, and hidden child processes.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/export.h"

namespace hv {

// Milliseconds of CLOCK_MONOTONIC, kept to 32 bits: it wraps after about 49.7 days, so callers
// compare ticks by unsigned difference.
HV_EXPORT uint32_t GetTickCount();

// A counting semaphore that every process of this user opening the same name shares (a POSIX
// named semaphore whose name adds the user id). The maximum count is enforced on release.
class HV_EXPORT NamedSemaphore {
 public:
  // Opens the semaphore, creating it with `initial` units when it does not exist yet. nullptr when
  // the system refuses.
  static std::unique_ptr<NamedSemaphore> open(std::string_view name, unsigned initial,
                                              unsigned maximum);
  ~NamedSemaphore();
  NamedSemaphore(const NamedSemaphore&) = delete;
  NamedSemaphore& operator=(const NamedSemaphore&) = delete;

  // Takes one unit; waits at most `timeout`, or for ever when it is nullopt.
  bool wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt);
  // Gives back `count` units; false (and nothing given back) when that would pass the maximum.
  bool release(unsigned count = 1);
  int value() const;
  // Removes the name from the system (tests use private names and remove them).
  static void unlink(std::string_view name);
  // The system name for a suite name: "/handvane.<name>.<uid>".
  static std::string systemName(std::string_view name);

 private:
  NamedSemaphore(void* sem, unsigned maximum) : sem_(sem), maximum_(maximum) {}
  void* sem_;
  unsigned maximum_;
};

// Byte-range locks that never wait. They are open-file-description locks (F_OFD_SETLK): they
// conflict between two descriptors opened separately, whether in one process or two, and go away
// when the descriptor is closed.
HV_EXPORT bool tryLockRange(int fd, off_t start, off_t length, bool exclusive = true);
HV_EXPORT bool unlockRange(int fd, off_t start, off_t length);

// The command interpreter: $ComSpec when set, else /bin/sh. Its option for "run this text" is
// "-c" (Windows writes "/c").
HV_EXPORT std::string commandInterpreter();

// A child process started without a terminal of its own (standard input from /dev/null, output
// to /dev/null unless asked otherwise). A child that nobody waits for is still reaped: when the
// Process object goes away without wait(), a detached reaper takes the exit status.
class HV_EXPORT Process {
 public:
  struct Options {
    std::string workingDirectory;  // suite path; empty keeps the caller's
    bool inheritOutput = false;    // keep the caller's stdout/stderr (for diagnostics)
    std::string outputFile;        // suite path receiving stdout and stderr, when not empty
  };
  // Starts argv[0] (looked up in PATH when it has no "/"). nullopt when it could not be started.
  static std::optional<Process> start(const std::vector<std::string>& argv, const Options& options);
  static std::optional<Process> start(const std::vector<std::string>& argv) {
    return start(argv, Options{});
  }
  // Runs a command line through the command interpreter, as "ComSpec /c <line>" does.
  static std::optional<Process> startShell(std::string_view commandLine, const Options& options);

  Process(Process&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }
  Process& operator=(Process&& other) noexcept;
  ~Process();

  pid_t pid() const { return pid_; }
  // Waits for the end; the exit code, 128 + signal for a signal, nullopt on time-out.
  std::optional<int> wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt);
  void kill(int signal = 15);

 private:
  explicit Process(pid_t pid) : pid_(pid) {}
  pid_t pid_ = -1;
};

}  // namespace hv
