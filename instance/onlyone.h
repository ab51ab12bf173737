#pragma once
// Onlyone: keeps one main program running per user and name, and hands the command line of every
// later start to it.
//
// The first start for a name owns a Unix-domain socket in the user's private runtime folder (see
// instance/README.md); later starts connect to it. The first instance registers its receiving
// window (an id of the window-message registry, platform/messages.h) with SH_SetWindowHandle; a
// later start's SH_SendData then delivers, in this order, on the thread that registered:
//   1. kActivateMessage (word parameter 1 for an empty command line, a single NUL: show the window
//      and restore it when minimised; 0 otherwise: only bring it forward),
//   2. kCopyDataMessage (word parameter 0, long parameter a `const CopyData*` of kind
//      kCommandLineKind holding the sender's bytes),
// and the sender returns only after the receiver has handled both. A start that comes before the
// first instance registered is held until it does (or until the sender gives up).
//
// Calling order: every start calls SH_GetSharedMemoryHandle; on 0 it calls SH_SetWindowHandle once
// its main window exists; on 1 it calls SH_SendData with its command line and the terminating NUL
// (length = string length + 1) and ends.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "include/handvane/export.h"
#include "platform/messages.h"

// An opaque handle of the channel; never dereferenced. A handle that was closed stays invalid for
// the life of the process (handles are not reused), so using it again fails cleanly.
typedef void* SH_HANDLE;

// Creates the channel named name, or opens it when another instance holds it. Returns 0 when this
// call created it (this process is the first instance), 1 when it existed already (another
// instance runs), -1 when it can be neither created nor opened (handle untouched).
HV_EXTERN_C int SH_GetSharedMemoryHandle(const char* name, SH_HANDLE* handle);
// Registers the receiving window of the first instance. Call it on the thread whose messages the
// window receives (the GUI thread). Returns 0, or -1 for a handle that is not a first instance's.
HV_EXTERN_C int SH_SetWindowHandle(SH_HANDLE handle, uint32_t window);
// Hands length bytes of data to the first instance and waits until its window has handled them;
// then closes handle. Returns 0 (also when the first instance or its window has gone meanwhile:
// nothing is delivered then), -1 for a handle that is unknown, closed or a first instance's own,
// or for bad arguments (the handle stays open), and -2 when the first instance did not answer
// within the send time-out (it hangs; the handle is closed).
HV_EXTERN_C int SH_SendData(SH_HANDLE handle, const void* data, int length);

namespace hv::onlyone {

// WM_COPYDATA: the bytes of a later start.
inline constexpr uint32_t kCopyDataMessage = 0x004A;
// Sent first: bring the window forward; word parameter 1 also asks to show and restore it.
inline constexpr uint32_t kActivateMessage = 0x8000 + 0x4F1;
inline constexpr uintptr_t kCommandLineKind = 100;
// Longest data a later start may hand over.
inline constexpr int kMaxDataLength = 64 << 20;

// What kCopyDataMessage's long parameter points to. The bytes are valid only while the handler
// runs: copy what is needed before returning, and before anything that runs an event loop (a
// message box) unless the message goes through dispatch() below.
struct CopyData {
  uintptr_t kind;
  uint32_t length;
  const void* data;
  void* delivery;  // the channel's own; dispatch() uses it
};

enum class Error {
  None,
  BadArgument,       // a null name or handle pointer, negative length, null data with a length
  UnknownHandle,     // not a handle of this process, or one closed already
  NotFirstInstance,  // a later start's handle where the first instance's is needed
  FirstInstance,     // the first instance's own handle passed to SH_SendData
  NoPrivateFolder,   // the user's private runtime folder is missing or not private
  NameTooLong,       // the socket's path does not fit a Unix-domain address
  Busy,              // another start kept the channel's lock for longer than the lock wait
  SystemError,       // a system call failed (socket, bind, listen, thread)
  TooLong,           // more than kMaxDataLength bytes
  ReceiverGone,      // the first instance ended before it took the data; nothing was delivered
  WrongPeer,         // the socket belongs to another user
  NotAnswering,      // the first instance did not answer within the send time-out
};
HV_EXPORT std::string_view errorText(Error e);
// The error of the calling thread's last SH_ call (None after a success).
HV_EXPORT Error lastError();

// How long SH_SendData waits for the first instance, from connecting to its answer (10 s unless
// changed); how long SH_GetSharedMemoryHandle waits for another start's decision (5 s).
HV_EXPORT void setSendTimeout(std::chrono::milliseconds timeout);
HV_EXPORT void setLockTimeout(std::chrono::milliseconds timeout);

// SH_SetWindowHandle with the executor that runs the window's messages (when it was registered
// with an executor other than the calling thread's).
HV_EXPORT int setWindow(SH_HANDLE handle, WindowId window, std::shared_ptr<Executor> executor);
// Gives the channel up: a first instance stops listening and removes its socket, so the next start
// becomes the first instance. Normally the channel lives until the process ends (its socket is
// removed at a normal exit; after a crash the next start finds it stale and takes over).
HV_EXPORT int closeHandle(SH_HANDLE handle);

// The receiving side's hook. The first instance either lets a CommandLineReceiver own its
// receiving window, or passes its own window's messages through dispatch().
struct ReceiverHooks {
  // Bring the window to the front; showAndRestore: also show it and restore it when minimised
  // (an empty command line).
  std::function<void(bool showAndRestore)> activate;
  // The later start's bytes, its terminating NUL included.
  std::function<void(std::string_view bytes)> commandLine;
};

// Handles the channel's two messages with the hooks; false for any other message. The sender
// stays waiting until the hook returns, even when the hook runs a nested event loop.
HV_EXPORT bool dispatch(const WindowMessage& message, const ReceiverHooks& hooks);

// A receiving window that lives as long as the object, registered on the constructing thread.
class HV_EXPORT CommandLineReceiver {
 public:
  explicit CommandLineReceiver(ReceiverHooks hooks);
  ~CommandLineReceiver();
  CommandLineReceiver(const CommandLineReceiver&) = delete;
  CommandLineReceiver& operator=(const CommandLineReceiver&) = delete;

  WindowId window() const { return window_; }
  // SH_SetWindowHandle(handle, window()); call on the constructing thread.
  int attach(SH_HANDLE handle);

 private:
  std::shared_ptr<const ReceiverHooks> hooks_;
  WindowId window_;
};

}  // namespace hv::onlyone
