// A small program the channel's tests start as first and later instances. It reads commands from
// standard input, one a line, runs them on its main thread (which also receives the channel's
// messages) and reports on standard output, one line each:
//   get <name>          -> "get <result>"       SH_GetSharedMemoryHandle
//   register hook|raw   -> "registered <result>" a window through CommandLineReceiver, or a plain
//                                               registry window with its own handler
//   unregister          -> "ok"                 the window goes away
//   slow <ms>           -> "ok"                 the handler waits that long before it finishes
//   nested <ms>         -> "ok"                 the handler runs a nested message loop that long
//   out <folder>        -> "ok"                 where received bytes are written (recv-<n>.bin)
//   timeout <ms>        -> "ok"                 the send time-out
//   send <file>         -> "sent <result> <error>" SH_SendData with the file's bytes
//   sendnull            -> "sent <result> <error>" SH_SendData(handle, nullptr, 0)
//   set-own-window      -> "set <result>"       SH_SetWindowHandle with the current handle
//   close               -> "closed <result>"
//   block               -> nothing; the main thread stops for good (the test kills the probe)
//   exit
// Events: "activate <0|1>" and "received <n> <length> <kind>" once the bytes are on disk.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "instance/onlyone.h"
#include "platform/messages.h"

namespace {

using namespace std::chrono_literals;
namespace oo = hv::onlyone;

void report(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

class Probe {
 public:
  void run(const std::string& line) {
    std::istringstream in(line);
    std::string cmd, arg;
    in >> cmd;
    std::getline(in >> std::ws, arg);
    if (cmd == "get") {
      report("get " + std::to_string(SH_GetSharedMemoryHandle(arg.c_str(), &handle_)));
    } else if (cmd == "register") {
      registerWindow(arg == "raw");
    } else if (cmd == "unregister") {
      hook_.reset();
      if (raw_) hv::unregisterWindow(raw_);
      raw_ = 0;
      report("ok");
    } else if (cmd == "slow") {
      slow_ = std::chrono::milliseconds(std::stoi(arg));
      report("ok");
    } else if (cmd == "nested") {
      nested_ = std::chrono::milliseconds(std::stoi(arg));
      report("ok");
    } else if (cmd == "out") {
      out_ = arg;
      report("ok");
    } else if (cmd == "timeout") {
      oo::setSendTimeout(std::chrono::milliseconds(std::stoi(arg)));
      report("ok");
    } else if (cmd == "send") {
      std::ifstream f(arg, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(f)),
                              std::istreambuf_iterator<char>());
      sent(SH_SendData(handle_, bytes.data(), int(bytes.size())));
    } else if (cmd == "sendnull") {
      sent(SH_SendData(handle_, nullptr, 0));
    } else if (cmd == "set-own-window") {
      report("set " + std::to_string(SH_SetWindowHandle(handle_, hook_ ? hook_->window() : raw_)));
    } else if (cmd == "close") {
      report("closed " + std::to_string(oo::closeHandle(handle_)));
    } else if (cmd == "block") {
      std::this_thread::sleep_for(600s);
    } else if (cmd == "exit") {
      std::fflush(stdout);
      std::exit(0);
    } else {
      report("unknown " + cmd);
    }
  }

 private:
  void sent(int result) {
    report("sent " + std::to_string(result) + " " + std::to_string(int(oo::lastError())));
  }

  void registerWindow(bool raw) {
    if (raw) {
      raw_ = hv::registerWindow([this](const hv::WindowMessage& m) {
        if (m.message == oo::kActivateMessage) {
          report("activate " + std::to_string(m.wparam));
        } else if (m.message == oo::kCopyDataMessage) {
          const auto* c = reinterpret_cast<const oo::CopyData*>(m.lparam);
          received(std::string_view(static_cast<const char*>(c->data), c->length), c->kind);
        }
      });
      report("registered " + std::to_string(SH_SetWindowHandle(handle_, raw_)));
      return;
    }
    hook_ = std::make_unique<oo::CommandLineReceiver>(oo::ReceiverHooks{
        [](bool restore) { report(std::string("activate ") + (restore ? "1" : "0")); },
        [this](std::string_view bytes) { received(bytes, oo::kCommandLineKind); }});
    report("registered " + std::to_string(hook_->attach(handle_)));
  }

  // Writes the bytes to disk after the configured delays, then reports them.
  void received(std::string_view bytes, uintptr_t kind) {
    if (nested_.count() > 0) hv::pumpMessagesFor(nested_);
    if (slow_.count() > 0) std::this_thread::sleep_for(slow_);
    ++count_;
    if (!out_.empty()) {
      std::ofstream(out_ + "/recv-" + std::to_string(count_) + ".bin", std::ios::binary)
          .write(bytes.data(), std::streamsize(bytes.size()));
    }
    report("received " + std::to_string(count_) + " " + std::to_string(bytes.size()) + " " +
           std::to_string(kind));
  }

  SH_HANDLE handle_ = nullptr;
  std::unique_ptr<oo::CommandLineReceiver> hook_;
  hv::WindowId raw_ = 0;
  std::chrono::milliseconds slow_{0}, nested_{0};
  std::string out_;
  int count_ = 0;
};

}  // namespace

int main() {
  Probe probe;
  std::mutex mutex;
  std::deque<std::string> lines;
  bool ended = false;
  // Commands reach the main thread as messages, so that they run between the channel's ones.
  hv::MessageWindow control([&](const hv::WindowMessage&) {
    for (;;) {
      std::string line;
      {
        std::lock_guard lock(mutex);
        if (lines.empty()) return;
        line = std::move(lines.front());
        lines.pop_front();
      }
      probe.run(line);
    }
  });
  std::thread reader([&, id = control.id()] {
    std::string line;
    while (std::getline(std::cin, line)) {
      {
        std::lock_guard lock(mutex);
        lines.push_back(line);
      }
      hv::PostMessage(id, 1, 0, 0);
    }
    std::lock_guard lock(mutex);
    ended = true;
  });
  reader.detach();
  report("ready");
  for (;;) {
    hv::pumpMessagesFor(50ms);
    std::lock_guard lock(mutex);
    if (ended && lines.empty()) std::exit(0);  // the reader thread may still be unwinding
  }
}
