#pragma once
// The real programs an end-to-end test starts on loopback: handvane-service with a fresh data
// folder, and the SOCKS and HTTP proxies. Each is stopped by process id when its object goes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <regex>
#include <string>
#include <thread>

#include "platform/fs.h"
#include "platform/kernel.h"
#include "transport/tests/peer.h"

namespace hv::e2e {

// Svclink's send semaphore is shared by every process of the user (named, it outlives them). A
// test program takes one of its own before its first call into Svclink, so that its logouts never
// wait for another program's, and removes the name when it ends.
inline const bool kOwnSendSemaphore = [] {
  static const std::string name = "test-send-" + std::to_string(getpid());
  setenv("HANDVANE_SEND_SEMAPHORE", name.c_str(), 1);
  std::atexit([] { NamedSemaphore::unlink(name); });
  return true;
}();

inline std::string suiteProgram(const std::string& name) {
  const char* dir = std::getenv("HV_SUITE_DIR");
  return std::string(dir ? dir : HV_SUITE_DIR) + "/" + name;
}

// A port for a proxy daemon, kept from every other program for a minute (peer::freePort).
inline int freePort() {
  return peer::freePort();
}

// handvane-service in a fresh folder with any free ports.
class LocalService {
 public:
  explicit LocalService(const std::string& extraConfig = "") {
    dir_ = *fs::createTempDirectory();
    config_ = dir_ + "/service.ini";
    fs::writeFileAtomic(config_,
                        "[service]\r\nRegionPort=0\r\nAuthPort=0\r\nSendPort=0\r\n"
                        "DataFolder=data\r\n" +
                            extraConfig);
  }
  ~LocalService() {
    stop();
    fs::removeAll(dir_);
  }
  // Runs a command of the program's command line; its exit code.
  int command(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {suiteProgram("handvane-service"), "--config", config_};
    argv.insert(argv.end(), args.begin(), args.end());
    Process::Options o;
    o.outputFile = dir_ + "/command.out";
    auto p = Process::start(argv, o);
    if (!p) return -1;
    return p->wait(std::chrono::seconds(20)).value_or(-1);
  }
  std::string lastOutput() { return fs::readFile(dir_ + "/command.out").value_or(""); }

  bool start() {
    Process::Options o;
    o.outputFile = dir_ + "/service.out";
    process_ = Process::start({suiteProgram("handvane-service"), "--config", config_}, o);
    if (!process_) return false;
    // The line that names the ports, within 30 s (a sanitizer build on a loaded machine starts
    // slowly); a service that ended will never write it.
    std::regex line(R"(region [0-9.]+:(\d+) auth [0-9.]+:(\d+) send [0-9.]+:(\d+))");
    std::smatch m;
    std::string out;
    const bool named = peer::waitUntil(
        [&] {
          out = fs::readFile(dir_ + "/service.out").value_or("");
          return std::regex_search(out, m, line) || process_->wait(std::chrono::milliseconds(0));
        },
        30000);
    if (!named || m.empty()) return false;
    region = std::stoi(m[1]);
    auth = std::stoi(m[2]);
    send = std::stoi(m[3]);
    std::smatch w;
    std::regex webLine(R"(send [0-9.]+:\d+ data .* web [0-9.]+:(\d+))");
    if (std::regex_search(out, w, webLine)) web = std::stoi(w[1]);
    return true;
  }
  void signal(int number) {
    if (process_) process_->kill(number);
  }
  // The exit code once the process ended within the time (it is then gone).
  std::optional<int> waitForExit(std::chrono::milliseconds within) {
    if (!process_) return std::nullopt;
    auto code = process_->wait(within);
    if (code) process_.reset();
    return code;
  }
  void stop() {
    if (process_) {
      process_->kill(15);
      process_->wait(std::chrono::seconds(15));
      process_.reset();
    }
  }
  const std::string& directory() const { return dir_; }
  std::string databasePath() const { return dir_ + "/data/service.db"; }

  int region = 0, auth = 0, send = 0;
  int web = 0;  // the web site's port; 0 when it is off

 private:
  std::string dir_, config_;
  std::optional<Process> process_;
};

// A proxy program started with its arguments and stopped by process id.
class Peer {
 public:
  Peer(std::vector<std::string> argv, int port, std::string log) : port_(port) {
    Process::Options o;
    o.outputFile = std::move(log);
    process_ = Process::start(argv, o);
    ready_ = process_ && peer::waitListening(uint16_t(port), "127.0.0.1", 20000) &&
             !process_->wait(std::chrono::milliseconds(0));
  }
  ~Peer() {
    if (process_) {
      process_->kill(15);
      if (!process_->wait(std::chrono::seconds(5))) {
        process_->kill(9);
        process_->wait(std::chrono::seconds(5));
      }
    }
  }
  bool ready() const { return ready_; }
  int port() const { return port_; }

 private:
  int port_;
  bool ready_ = false;
  std::optional<Process> process_;
};

}  // namespace hv::e2e
