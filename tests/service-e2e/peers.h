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

namespace hv::e2e {

inline std::string suiteProgram(const std::string& name) {
  const char* dir = std::getenv("HV_SUITE_DIR");
  return std::string(dir ? dir : HV_SUITE_DIR) + "/" + name;
}

// A port that was free a moment ago (bound to 127.0.0.1 and released).
inline int freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

// True once something accepts connections on 127.0.0.1:port (within about 5 s).
inline bool waitForListener(int port) {
  for (int i = 0; i < 100; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
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
    std::regex line(R"(region [0-9.]+:(\d+) auth [0-9.]+:(\d+) send [0-9.]+:(\d+))");
    for (int i = 0; i < 200; ++i) {
      std::smatch m;
      std::string out = fs::readFile(dir_ + "/service.out").value_or("");
      if (std::regex_search(out, m, line)) {
        region = std::stoi(m[1]);
        auth = std::stoi(m[2]);
        send = std::stoi(m[3]);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
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
    ready_ = process_ && waitForListener(port);
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
