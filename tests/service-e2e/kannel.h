#pragma once
// Kannel for the gateway tests and the benchmark: bearerbox, smsbox and the fake SMSC started
// on loopback in the calling process's network namespace and stopped by process id, and a
// private network namespace to run them in (Kannel's ports are fixed, and the fake SMSC listens
// on every address).
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/kernel.h"
#include "transport/tests/peer.h"

namespace hv::e2e {

inline const char* const kFakeSmsc = "/usr/lib/kannel/test/fakesmsc";

// bearerbox.conf for the three programs: the fake SMSC on 10000, smsbox's sendsms on 13013 (user
// "tester", password "testpw"), logs at logLevel in dir (access logs as well when asked).
inline std::string kannelConf(const std::string& dir, int logLevel, bool accessLogs) {
  const std::string level = std::to_string(logLevel);
  auto access = [&](const char* name) {
    return accessLogs ? "access-log = \"" + dir + "/" + name + "\"\n" : std::string();
  };
  return "group = core\nadmin-port = 13000\nadmin-interface = 127.0.0.1\nadmin-password = adminpw\n"
         "admin-allow-ip = 127.0.0.1\nsmsbox-port = 13001\nsmsbox-interface = 127.0.0.1\n"
         "box-allow-ip = 127.0.0.1\nlog-file = \"" +
         dir + "/bearerbox.log\"\nlog-level = " + level + "\n" + access("access.log") +
         "dlr-storage = internal\n\n"
         "group = smsc\nsmsc = fake\nsmsc-id = FAKE\nport = 10000\nconnect-allow-ip = 127.0.0.1\n\n"
         "group = smsbox\nbearerbox-host = 127.0.0.1\nbearerbox-port = 13001\n"
         "sendsms-port = 13013\nsendsms-interface = 127.0.0.1\nlog-file = \"" +
         dir + "/smsbox.log\"\nlog-level = " + level + "\n" + access("smsbox-access.log") +
         "\n"
         "group = sendsms-user\nusername = tester\npassword = testpw\nmax-messages = 10\n"
         "concatenation = false\n";
}

class Kannel {
 public:
  Kannel(const std::string& dir, int logLevel, bool accessLogs) : dir_(dir) {
    fs::writeFileAtomic(dir + "/kannel.conf", kannelConf(dir, logLevel, accessLogs));
    const std::string verbosity = std::to_string(logLevel > 0 ? logLevel : 1);
    Process::Options o;
    o.outputFile = dir + "/bearerbox.out";
    bearerbox_ = Process::start({"/usr/sbin/bearerbox", "-v", verbosity, dir + "/kannel.conf"}, o);
    if (!bearerbox_ || !peer::waitListening(13001, "127.0.0.1", 15000)) return;
    o.outputFile = dir + "/smsbox.out";
    smsbox_ = Process::start({"/usr/sbin/smsbox", "-v", verbosity, dir + "/kannel.conf"}, o);
    o.outputFile = dir + "/fakesmsc.out";
    fakesmsc_ =
        Process::start({kFakeSmsc, "-H", "127.0.0.1", "-r", "10000", "-m", "0", "0 0 text x"}, o);
    ready_ = smsbox_ && fakesmsc_ && peer::waitListening(13013, "127.0.0.1", 15000);
  }
  ~Kannel() {
    for (auto* p : {&fakesmsc_, &smsbox_, &bearerbox_}) {
      if (!*p) continue;
      (*p)->kill(15);
      if (!(*p)->wait(std::chrono::seconds(10))) {
        (*p)->kill(9);
        (*p)->wait(std::chrono::seconds(5));
      }
    }
  }
  Kannel(const Kannel&) = delete;
  Kannel& operator=(const Kannel&) = delete;

  bool ready() const { return ready_; }
  // What bearerbox handed to the fake SMSC (needs the access logs): "coding udh-hex msg" per
  // short message.
  std::vector<std::string> sent() const {
    std::vector<std::string> out;
    std::string log = fs::readFile(dir_ + "/access.log").value_or("");
    std::regex line(
        R"(Sent SMS.*\[flags:-?\d+:(-?\d+):[^\]]*\] \[msg:\d+:([^\]]*)\] \[udh:\d+:([0-9A-F]*)\])");
    for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it)
      out.push_back((*it)[1].str() + " " + (*it)[3].str() + " " + (*it)[2].str());
    return out;
  }
  // Short messages the fake SMSC has received.
  int received() const {
    std::string out = fs::readFile(dir_ + "/fakesmsc.out").value_or("");
    int n = 0;
    for (size_t at = 0; (at = out.find("Got message", at)) != std::string::npos; ++at) ++n;
    return n;
  }
  std::string logs() const {
    return fs::readFile(dir_ + "/access.log").value_or("") +
           fs::readFile(dir_ + "/smsbox.out").value_or("");
  }

 private:
  std::string dir_;
  std::optional<Process> bearerbox_, smsbox_, fakesmsc_;
  bool ready_ = false;
};

// Runs the calling thread (and the threads and programs it starts from then on) in a network
// namespace of its own with only lo, named prefix-pid; back in the old one when it goes. Needs
// root and Kannel; entered() says whether it worked.
class PrivateNetwork {
 public:
  explicit PrivateNetwork(const std::string& prefix) : name_(prefix + std::to_string(getpid())) {
    if (getuid() != 0 || !fs::exists(kFakeSmsc) || !fs::exists("/usr/sbin/bearerbox")) return;
    if (std::system(("ip netns add " + name_ + " 2>/dev/null && ip -n " + name_ + " link set lo up")
                        .c_str()) != 0)
      return;
    created_ = true;
    home_ = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    int ns = ::open(("/var/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
    entered_ = home_ >= 0 && ns >= 0 && ::setns(ns, CLONE_NEWNET) == 0;
    if (ns >= 0) ::close(ns);
  }
  ~PrivateNetwork() {
    if (entered_) ::setns(home_, CLONE_NEWNET);
    if (home_ >= 0) ::close(home_);
    if (created_) (void)!std::system(("ip netns delete " + name_).c_str());
  }
  PrivateNetwork(const PrivateNetwork&) = delete;
  PrivateNetwork& operator=(const PrivateNetwork&) = delete;
  bool entered() const { return entered_; }

 private:
  std::string name_;
  int home_ = -1;
  bool created_ = false, entered_ = false;
};

}  // namespace hv::e2e
