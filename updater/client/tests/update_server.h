#pragma once
// A web site on loopback for the tests: update_server.py serving a folder the test fills.
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "platform/fs.h"
#include "platform/kernel.h"

class UpdateServer {
 public:
  // Serves root (a folder ending in "/").
  explicit UpdateServer(std::string root) : root_(std::move(root)) {
    const std::string portFile = root_ + ".port";
    process_ = hv::Process::start(
        {"python3", HV_SOURCE_DIR "/updater/client/tests/update_server.py", root_, portFile});
    // Bounded: the server writes its port file within a second; 30 s covers a loaded machine.
    for (int i = 0; process_ && i < 3000 && port_ == 0; ++i) {
      if (auto text = hv::fs::readFile(portFile)) {
        port_ = std::stoi(*text);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
  }
  ~UpdateServer() {
    if (process_) {
      process_->kill();
      process_->wait();
    }
  }
  int port() const { return port_; }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
  }
  const std::string& root() const { return root_; }
  // The paths requested so far, one a line.
  std::string requests() const { return hv::fs::readFile(root_ + ".requests").value_or(""); }

 private:
  std::string root_;
  std::optional<hv::Process> process_;
  int port_ = 0;
};
