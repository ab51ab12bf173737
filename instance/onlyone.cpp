#include "instance/onlyone.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "instance/channel.h"

namespace hv::onlyone {

using namespace std::chrono_literals;

namespace {

// A later start must send each part of its frame within this of the previous one.
constexpr auto kIdle = 5s;

thread_local Error lastError_ = Error::None;
std::atomic<int64_t> sendTimeoutMs{10'000};
std::atomic<int64_t> lockTimeoutMs{5'000};

int fail(Error e, int result = -1) {
  lastError_ = e;
  return result;
}

int succeed(int result) {
  lastError_ = Error::None;
  return result;
}

}  // namespace

// One later start's bytes on their way to the receiving window. It is done when the task queued
// behind the two messages has run (or was dropped with its executor), which is after the window's
// handler returned; a handler that goes through dispatch() answers itself, so that a nested event
// loop inside it does not count as done.
struct Delivery : std::enable_shared_from_this<Delivery> {
  std::vector<uint8_t> bytes;
  CopyData copy{};

  std::mutex mutex;
  std::condition_variable cv;
  bool queueReached = false;
  bool acknowledging = false;
  bool acknowledged = false;
  bool cancelled = false;

  void set(bool Delivery::*flag) {
    {
      std::lock_guard lock(mutex);
      this->*flag = true;
    }
    cv.notify_all();
  }
  // Waits until done or cancelled.
  void wait() {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return cancelled || (queueReached && (!acknowledging || acknowledged)); });
  }
};

namespace {

// The task queued behind the messages: reports when it ran, and when it is dropped unrun.
struct QueueMarker {
  std::shared_ptr<Delivery> delivery;
  ~QueueMarker() {
    if (delivery) delivery->set(&Delivery::queueReached);
  }
};

// The first instance's side: the listening socket and the thread that serves later starts, one
// at a time, in the order they connect.
struct Owner {
  ChannelPaths paths;
  dev_t device = 0;
  ino_t inode = 0;
  Fd listener;
  Fd wake;  // an eventfd that stops the thread

  std::mutex mutex;
  std::condition_variable registered;
  WindowId window = 0;
  std::shared_ptr<Executor> executor;
  bool stopping = false;
  std::shared_ptr<Delivery> current;

  std::thread thread;

  // Removes the socket file when it is still the one this instance created.
  void removeSocket() const {
    struct stat st;
    if (::lstat(paths.socket.c_str(), &st) == 0 && st.st_dev == device && st.st_ino == inode)
      ::unlink(paths.socket.c_str());
  }
};

struct Block {
  std::shared_ptr<Owner> owner;       // a first instance
  std::optional<ChannelPaths> guest;  // a later start
};

struct HandleTable {
  std::mutex mutex;
  std::map<uintptr_t, Block> blocks;
  uintptr_t next = 1;
};

HandleTable& table() {
  static auto* t = new HandleTable;  // lives past static destructors, for the listener threads
  return *t;
}

// At a normal exit the first instances' sockets go, so that the next start need not find them
// stale.
struct ExitCleanup {
  ~ExitCleanup() {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    for (auto& [id, block] : t.blocks) {
      if (block.owner) block.owner->removeSocket();
    }
  }
} exitCleanup;

std::optional<Block> findBlock(SH_HANDLE handle) {
  auto& t = table();
  std::lock_guard lock(t.mutex);
  auto it = t.blocks.find(reinterpret_cast<uintptr_t>(handle));
  if (it == t.blocks.end()) return std::nullopt;
  return it->second;
}

void forget(SH_HANDLE handle) {
  auto& t = table();
  std::lock_guard lock(t.mutex);
  t.blocks.erase(reinterpret_cast<uintptr_t>(handle));
}

bool peerClosed(int fd) {
  pollfd p{fd, POLLRDHUP, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

// Hands the bytes to the window and waits until they were handled; false when the window is
// unknown.
bool deliver(Owner& o, WindowId window, const std::shared_ptr<Executor>& executor, Frame frame) {
  auto d = std::make_shared<Delivery>();
  d->bytes = std::move(frame.bytes);
  d->copy = CopyData{frame.header.kind, uint32_t(d->bytes.size()), d->bytes.data(), d.get()};
  {
    std::lock_guard lock(o.mutex);
    if (o.stopping) return false;
    o.current = d;
  }
  const bool restore = d->bytes.size() == 1 && d->bytes[0] == 0;
  bool known = PostMessage(window, kActivateMessage, restore ? 1 : 0, 0);
  if (known) {
    known = PostMessage(window, kCopyDataMessage, 0, reinterpret_cast<intptr_t>(&d->copy));
  }
  if (known) {
    // Queued after the messages on the window's thread: it keeps the bytes alive until then.
    auto marker = std::make_shared<QueueMarker>();
    marker->delivery = d;
    executor->post([marker] {});
    marker.reset();
    d->wait();
  }
  std::lock_guard lock(o.mutex);
  o.current.reset();
  return known;
}

void serve(Owner& o, int fd) {
  auto frame = readFrame(fd, kIdle);
  if (!frame) return;  // a probe of a starting instance, or not a frame
  WindowId window;
  std::shared_ptr<Executor> executor;
  {
    // A start that comes before the window is registered waits for it, as long as it waits.
    std::unique_lock lock(o.mutex);
    while (o.window == 0 && !o.stopping) {
      if (peerClosed(fd)) return;
      o.registered.wait_for(lock, 50ms);
    }
    if (o.stopping) return;
    window = o.window;
    executor = o.executor;
  }
  const bool known = deliver(o, window, executor, std::move(*frame));
  const uint8_t answer = known ? kAnswerDelivered : kAnswerNoWindow;
  writeFull(fd, &answer, 1, Clock::now() + kIdle);
}

void listen(const std::shared_ptr<Owner>& o) {
  for (;;) {
    pollfd p[2] = {{o->listener.get(), POLLIN, 0}, {o->wake.get(), POLLIN, 0}};
    if (::poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[1].revents) return;
    Fd c(::accept4(o->listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!c) continue;
    if (peerUid(c.get()) != long(::getuid())) continue;
    serve(*o, c.get());
  }
}

std::variant<std::shared_ptr<Owner>, Error> startOwner(ChannelPaths paths, Decision d) {
  auto o = std::make_shared<Owner>();
  o->paths = std::move(paths);
  o->device = d.device;
  o->inode = d.inode;
  o->listener = std::move(d.listener);
  o->wake = Fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!o->wake) {
    o->removeSocket();
    return Error::SystemError;
  }
  try {
    o->thread = std::thread([o] { listen(o); });
  } catch (const std::system_error&) {
    o->removeSocket();
    return Error::SystemError;
  }
  return o;
}

void stopOwner(Owner& o) {
  std::shared_ptr<Delivery> current;
  {
    std::lock_guard lock(o.mutex);
    o.stopping = true;
    current = o.current;
  }
  o.registered.notify_all();
  if (current) current->set(&Delivery::cancelled);
  const uint64_t one = 1;
  (void)!::write(o.wake.get(), &one, sizeof one);
  if (o.thread.joinable()) o.thread.join();
  o.removeSocket();
  o.listener = Fd();
}

}  // namespace

std::string_view errorText(Error e) {
  switch (e) {
    case Error::None:
      return "no error";
    case Error::BadArgument:
      return "bad argument";
    case Error::UnknownHandle:
      return "unknown or closed handle";
    case Error::NotFirstInstance:
      return "the handle is not the first instance's";
    case Error::FirstInstance:
      return "the handle is the first instance's own";
    case Error::NoPrivateFolder:
      return "the user's private runtime folder cannot be used";
    case Error::NameTooLong:
      return "the channel's socket path is too long";
    case Error::Busy:
      return "another start kept the channel locked";
    case Error::SystemError:
      return "a system call failed";
    case Error::TooLong:
      return "the data is too long";
    case Error::ReceiverGone:
      return "the first instance has gone; nothing was delivered";
    case Error::WrongPeer:
      return "the channel's socket belongs to another user";
    case Error::NotAnswering:
      return "the first instance did not answer in time";
  }
  return {};
}

namespace {

// Sends the frame over a connected socket and waits for the answer.
int sendFrame(int fd, const void* data, size_t length, Clock::time_point deadline) {
  const auto head = frameHeader(uint32_t(kCommandLineKind), uint32_t(length));
  IoResult r = writeFull(fd, head.data(), head.size(), deadline);
  if (r == IoResult::Done && length > 0)
    r = writeFull(fd, static_cast<const uint8_t*>(data), length, deadline);
  uint8_t answer = 0;
  if (r == IoResult::Done) r = readFull(fd, &answer, 1, deadline);
  switch (r) {
    case IoResult::Done:
      return answer == kAnswerDelivered ? succeed(0) : fail(Error::ReceiverGone, 0);
    case IoResult::TimedOut:
      return fail(Error::NotAnswering, -2);
    case IoResult::Closed:
    case IoResult::Failed:
      break;
  }
  return fail(Error::ReceiverGone, 0);
}

}  // namespace

Error lastError() {
  return lastError_;
}

void setSendTimeout(std::chrono::milliseconds timeout) {
  sendTimeoutMs = timeout.count();
}

void setLockTimeout(std::chrono::milliseconds timeout) {
  lockTimeoutMs = timeout.count();
}

int setWindow(SH_HANDLE handle, WindowId window, std::shared_ptr<Executor> executor) {
  auto block = findBlock(handle);
  if (!block) return fail(Error::UnknownHandle);
  if (!block->owner) return fail(Error::NotFirstInstance);
  Owner& o = *block->owner;
  {
    std::lock_guard lock(o.mutex);
    o.window = window;
    o.executor = std::move(executor);
  }
  o.registered.notify_all();
  return succeed(0);
}

int closeHandle(SH_HANDLE handle) {
  auto block = findBlock(handle);
  if (!block) return fail(Error::UnknownHandle);
  forget(handle);
  if (block->owner) stopOwner(*block->owner);
  return succeed(0);
}

bool dispatch(const WindowMessage& message, const ReceiverHooks& hooks) {
  if (message.message == kActivateMessage) {
    if (hooks.activate) hooks.activate(message.wparam != 0);
    return true;
  }
  if (message.message != kCopyDataMessage || message.lparam == 0) return false;
  const auto* copy = reinterpret_cast<const CopyData*>(message.lparam);
  if (copy->kind != kCommandLineKind) return false;
  // Holding the delivery keeps the bytes alive and the sender waiting until the hook returned.
  std::shared_ptr<Delivery> delivery;
  if (copy->delivery) {
    delivery = static_cast<Delivery*>(copy->delivery)->shared_from_this();
    delivery->set(&Delivery::acknowledging);
  }
  struct Acknowledge {
    std::shared_ptr<Delivery> d;
    ~Acknowledge() {
      if (d) d->set(&Delivery::acknowledged);
    }
  } acknowledge{delivery};
  if (hooks.commandLine)
    hooks.commandLine(std::string_view(static_cast<const char*>(copy->data), copy->length));
  return true;
}

CommandLineReceiver::CommandLineReceiver(ReceiverHooks hooks)
    : hooks_(std::make_shared<const ReceiverHooks>(std::move(hooks))),
      window_(registerWindow([h = hooks_](const WindowMessage& m) { dispatch(m, *h); })) {}

CommandLineReceiver::~CommandLineReceiver() {
  unregisterWindow(window_);
}

int CommandLineReceiver::attach(SH_HANDLE handle) {
  return SH_SetWindowHandle(handle, window_);
}

}  // namespace hv::onlyone

using namespace hv::onlyone;

int SH_GetSharedMemoryHandle(const char* name, SH_HANDLE* handle) {
  if (!name || !handle) return fail(Error::BadArgument);
  const auto folder = privateFolder();
  if (!folder) return fail(Error::NoPrivateFolder);
  auto paths = channelPaths(*folder, name);
  if (auto* e = std::get_if<Error>(&paths)) return fail(*e);
  auto decision = decide(std::get<ChannelPaths>(paths), std::chrono::milliseconds(lockTimeoutMs));
  if (auto* e = std::get_if<Error>(&decision)) return fail(*e);
  Decision& d = std::get<Decision>(decision);
  const bool first = d.first;
  Block block;
  if (first) {
    auto owner = startOwner(std::get<ChannelPaths>(paths), std::move(d));
    if (auto* e = std::get_if<Error>(&owner)) return fail(*e);
    block.owner = std::get<std::shared_ptr<Owner>>(owner);
  } else {
    block.guest = std::get<ChannelPaths>(paths);
  }
  auto& t = table();
  std::lock_guard lock(t.mutex);
  const uintptr_t id = t.next++;
  t.blocks[id] = std::move(block);
  *handle = reinterpret_cast<SH_HANDLE>(id);
  return succeed(first ? 0 : 1);
}

int SH_SetWindowHandle(SH_HANDLE handle, uint32_t window) {
  return setWindow(handle, window, hv::currentExecutor());
}

int SH_SendData(SH_HANDLE handle, const void* data, int length) {
  auto block = findBlock(handle);
  if (!block) return fail(Error::UnknownHandle);
  if (block->owner) return fail(Error::FirstInstance);
  if (length < 0 || (!data && length > 0)) return fail(Error::BadArgument);
  if (length > kMaxDataLength) return fail(Error::TooLong);
  const auto deadline = Clock::now() + std::chrono::milliseconds(sendTimeoutMs);
  auto connection = connectTo(block->guest->socket, deadline);
  if (auto* r = std::get_if<IoResult>(&connection); r && *r == IoResult::Failed)
    return fail(Error::SystemError);
  if (auto* fd = std::get_if<Fd>(&connection); fd && peerUid(fd->get()) != long(::getuid()))
    return fail(Error::WrongPeer);
  // From here on the handle is used up, whatever the outcome.
  forget(handle);
  if (auto* r = std::get_if<IoResult>(&connection)) {
    return *r == IoResult::TimedOut ? fail(Error::NotAnswering, -2) : fail(Error::ReceiverGone, 0);
  }
  return sendFrame(std::get<Fd>(connection).get(), data, size_t(length), deadline);
}
