#include "platform/kernel.h"

#include <errno.h>
#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "platform/fs.h"

extern char** environ;

namespace hv {

uint32_t GetTickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}

// ---- named semaphore

std::string NamedSemaphore::systemName(std::string_view name) {
  std::string n = "/handvane.";
  for (char c : name) n += (c == '/' ? '_' : c);
  n += "." + std::to_string(getuid());
  return n;
}

std::unique_ptr<NamedSemaphore> NamedSemaphore::open(std::string_view name, unsigned initial,
                                                     unsigned maximum) {
  sem_t* s = sem_open(systemName(name).c_str(), O_CREAT, 0600, initial);
  if (s == SEM_FAILED) return nullptr;
  return std::unique_ptr<NamedSemaphore>(new NamedSemaphore(s, maximum));
}

NamedSemaphore::~NamedSemaphore() {
  sem_close(static_cast<sem_t*>(sem_));
}

bool NamedSemaphore::wait(std::optional<std::chrono::milliseconds> timeout) {
  auto* s = static_cast<sem_t*>(sem_);
  if (!timeout) {
    while (sem_wait(s) != 0)
      if (errno != EINTR) return false;
    return true;
  }
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  long long ms = timeout->count() < 0 ? 0 : timeout->count();
  deadline.tv_sec += time_t(ms / 1000);
  deadline.tv_nsec += long(ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  while (sem_clockwait(s, CLOCK_MONOTONIC, &deadline) != 0)
    if (errno != EINTR) return false;
  return true;
}

bool NamedSemaphore::release(unsigned count) {
  auto* s = static_cast<sem_t*>(sem_);
  int v = 0;
  if (sem_getvalue(s, &v) != 0 || unsigned(v) + count > maximum_) return false;
  for (unsigned i = 0; i < count; ++i)
    if (sem_post(s) != 0) return false;
  return true;
}

int NamedSemaphore::value() const {
  int v = 0;
  sem_getvalue(static_cast<sem_t*>(sem_), &v);
  return v;
}

void NamedSemaphore::unlink(std::string_view name) {
  sem_unlink(systemName(name).c_str());
}

// ---- byte-range locks

namespace {
bool ofdLock(int fd, short type, off_t start, off_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  fl.l_pid = 0;  // required for open-file-description locks
  return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}
}  // namespace

bool tryLockRange(int fd, off_t start, off_t length, bool exclusive) {
  if (fd < 0 || length <= 0) return false;
  return ofdLock(fd, exclusive ? F_WRLCK : F_RDLCK, start, length);
}

bool unlockRange(int fd, off_t start, off_t length) {
  if (fd < 0 || length <= 0) return false;
  return ofdLock(fd, F_UNLCK, start, length);
}

// ---- processes

std::string commandInterpreter() {
  const char* c = getenv("ComSpec");
  return c && *c ? std::string(c) : std::string("/bin/sh");
}

std::optional<Process> Process::start(const std::vector<std::string>& argv,
                                      const Options& options) {
  if (argv.empty()) return std::nullopt;
  std::vector<std::string> osArgs;
  for (const auto& a : argv) {
    auto o = fs::osPath(a);
    if (!o) return std::nullopt;
    osArgs.push_back(*o);
  }
  std::vector<char*> args;
  for (auto& a : osArgs) args.push_back(a.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::string out = "/dev/null";
  if (!options.outputFile.empty()) {
    auto o = fs::osPath(options.outputFile);
    if (!o) return std::nullopt;
    out = *o;
  }
  if (!options.inheritOutput) {
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  std::string cwd;
  if (!options.workingDirectory.empty()) {
    auto o = fs::osPath(options.workingDirectory);
    if (!o) {
      posix_spawn_file_actions_destroy(&actions);
      return std::nullopt;
    }
    cwd = *o;
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  }
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // A new session: no controlling terminal, and signals to the caller's terminal pass it by.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);

  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return std::nullopt;
  return Process(pid);
}

std::optional<Process> Process::startShell(std::string_view commandLine, const Options& options) {
  return start({commandInterpreter(), "-c", std::string(commandLine)}, options);
}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    this->~Process();
    pid_ = other.pid_;
    other.pid_ = -1;
  }
  return *this;
}

Process::~Process() {
  if (pid_ > 0) {
    pid_t pid = pid_;
    std::thread([pid] {
      int status;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  }
}

std::optional<int> Process::wait(std::optional<std::chrono::milliseconds> timeout) {
  if (pid_ <= 0) return std::nullopt;
  auto deadline = std::chrono::steady_clock::now() + timeout.value_or(std::chrono::milliseconds(0));
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, timeout ? WNOHANG : 0);
    if (r == pid_) {
      pid_ = -1;
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
      return -1;
    }
    if (r < 0 && errno != EINTR) {
      pid_ = -1;
      return std::nullopt;
    }
    if (timeout && std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    if (timeout) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Process::kill(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
}

}  // namespace hv
