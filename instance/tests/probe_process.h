#pragma once
// The channel tests' handle on one onlyone_probe process: its standard input for commands and its
// standard output read line by line with a bound on every wait. The probe is stopped by its
// process id when the object goes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

namespace hv::onlyone::testing {

class ProbeProcess {
 public:
  ProbeProcess() {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::execl(ONLYONE_PROBE, ONLYONE_PROBE, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }
  ~ProbeProcess() {
    if (stdin_ >= 0) ::close(stdin_);
    if (pid_ > 0) {
      ::kill(pid_, SIGCONT);
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
  }
  ProbeProcess(const ProbeProcess&) = delete;
  ProbeProcess& operator=(const ProbeProcess&) = delete;

  pid_t pid() const { return pid_; }

  void send(const std::string& command) {
    const std::string line = command + "\n";
    ASSERT_EQ(::write(stdin_, line.data(), line.size()), ssize_t(line.size()));
  }
  // The next line of output, or nullopt when none came within the wait.
  std::optional<std::string> line(std::chrono::milliseconds wait = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
      if (auto nl = buffer_.find('\n'); nl != std::string::npos) {
        std::string l = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return l;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd p{stdout_, POLLIN, 0};
      if (::poll(&p, 1, int(left.count())) <= 0) continue;
      char chunk[4096];
      const ssize_t n = ::read(stdout_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, size_t(n));
    }
  }
  // Sends the command and returns the line it answered.
  std::string ask(const std::string& command) {
    send(command);
    return line().value_or("<no answer to " + command + ">");
  }
  // Whether a line is already waiting (without waiting for one).
  bool hasLine() {
    if (buffer_.find('\n') != std::string::npos) return true;
    pollfd p{stdout_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }
  // Stops the process with a signal and reaps it.
  void killWith(int signal) {
    ::kill(pid_, signal);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  void stop() { ::kill(pid_, SIGSTOP); }
  // Waits for a normal end (after "exit"); the exit status or -1.
  int waitForExit() {
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  std::string buffer_;
};

}  // namespace hv::onlyone::testing
