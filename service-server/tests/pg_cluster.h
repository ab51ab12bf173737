#pragma once
// A PostgreSQL server of the test's own: a fresh cluster (initdb) in a temporary folder, served
// on 127.0.0.1 at a free port with its Unix socket in that folder, stopped by process id at the
// end. PostgreSQL refuses to run as root, so under root the folder is given to the `nobody` user
// and the programs run as that user through setpriv (util-linux), which changes no system file.
// The server programs come from Debian's postgresql package (scripts/deps.sh); without them
// start() fails and says so. stop() and restart() play a database server that goes away and
// comes back on the same data and address.
#include <libpq-fe.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "platform/kernel.h"
#include "transport/tests/peer.h"

namespace hv::service::probe {

class PgCluster {
 public:
  PgCluster() = default;
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;
  ~PgCluster() {
    stop();
    if (!dir_.empty()) fs::removeAll(dir_);
  }

  // The folder of initdb and postgres: pg_config's answer, else Debian's versioned folders.
  static std::string binDir() {
    std::string dir;
    if (FILE* p = ::popen("pg_config --bindir 2>/dev/null", "r")) {
      char line[512];
      if (std::fgets(line, sizeof line, p)) dir = line;
      ::pclose(p);
    }
    while (!dir.empty() && (dir.back() == '\n' || dir.back() == '/')) dir.pop_back();
    if (!dir.empty() && fs::exists(dir + "/initdb")) return dir;
    for (int v = 20; v >= 11; --v) {
      std::string d = "/usr/lib/postgresql/" + std::to_string(v) + "/bin";
      if (fs::exists(d + "/initdb")) return d;
    }
    return {};
  }

  // initdb, then the server; false with the reason when either fails.
  bool start(std::string& error) {
    std::string bin = binDir();
    if (bin.empty()) {
      error =
          "the PostgreSQL server programs (initdb, postgres) are missing: install the postgresql "
          "package (scripts/deps.sh)";
      return false;
    }
    // Directly under /tmp: the suite's own temporary folder is private to this user.
    dir_ = fs::createTempDirectory("/tmp", "hvpg").value_or("");
    if (dir_.empty()) {
      error = "cannot create a temporary folder";
      return false;
    }
    while (!dir_.empty() && dir_.back() == '/') dir_.pop_back();
    if (::geteuid() == 0) {
      const passwd* nobody = ::getpwnam("nobody");
      if (!nobody || ::chown(dir_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
        error = "cannot give the cluster's folder to the nobody user";
        return false;
      }
      as_ = {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
             "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups", "--"};
    }
    bin_ = bin;
    Process::Options o;
    o.outputFile = dir_ + "/initdb.log";
    auto init = Process::start(command({bin + "/initdb", "-D", dir_ + "/data", "-U", "handvane",
                                        "-A", "trust", "-E", "UTF8", "--locale=C", "--no-sync"}),
                               o);
    if (!init || init->wait(std::chrono::seconds(120)).value_or(-1) != 0) {
      error = "initdb failed: " + fs::readFile(dir_ + "/initdb.log").value_or("");
      return false;
    }
    port_ = peer::freePort();
    return serve(error);
  }

  // The server again, on the same folder and port, after stop(); false with the reason.
  bool restart(std::string& error) {
    if (server_ || bin_.empty()) {
      error = server_ ? "postgres is running" : "the cluster was never started";
      return false;
    }
    return serve(error);
  }

  std::string conninfo(const std::string& database = "postgres") const {
    return "host=127.0.0.1 port=" + std::to_string(port_) + " dbname=" + database +
           " user=handvane connect_timeout=10";
  }

  // Runs one statement on a connection of its own; the first value of the first row ("" when
  // there is none), or nullopt when the statement failed.
  std::optional<std::string> query(const std::string& sql,
                                   const std::string& database = "postgres") const {
    PGconn* c = PQconnectdb(conninfo(database).c_str());
    std::optional<std::string> out;
    if (PQstatus(c) == CONNECTION_OK) {
      PGresult* r = PQexec(c, sql.c_str());
      auto s = PQresultStatus(r);
      if (s == PGRES_TUPLES_OK || s == PGRES_COMMAND_OK)
        out = PQntuples(r) > 0 && !PQgetisnull(r, 0, 0) ? PQgetvalue(r, 0, 0) : "";
      PQclear(r);
    }
    PQfinish(c);
    return out;
  }

  // Fast shutdown (SIGINT), by process id; SIGKILL when it does not end in time.
  void stop() {
    if (!server_) return;
    server_->kill(2);
    if (!server_->wait(std::chrono::seconds(20))) {
      server_->kill(9);
      server_->wait(std::chrono::seconds(5));
    }
    server_.reset();
  }

  int port() const { return port_; }

 private:
  std::vector<std::string> command(std::vector<std::string> argv) const {
    argv.insert(argv.begin(), as_.begin(), as_.end());
    return argv;
  }

  // postgres on the cluster's folder and port, until it answers (or ends).
  bool serve(std::string& error) {
    // A log of each run's own.
    const std::string log = dir_ + "/postgres-" + std::to_string(++runs_) + ".log";
    Process::Options o;
    o.outputFile = log;
    server_ = Process::start(
        command({bin_ + "/postgres", "-D", dir_ + "/data", "-k", dir_, "-h", "127.0.0.1", "-p",
                 std::to_string(port_), "-c", "max_connections=200", "-c", "shared_buffers=32MB"}),
        o);
    if (!server_) {
      error = "cannot start postgres";
      return false;
    }
    bool up = peer::waitUntil(
        [&] {
          return PQping(conninfo().c_str()) == PQPING_OK ||
                 server_->wait(std::chrono::milliseconds(0)).has_value();
        },
        60000);
    if (!up || PQping(conninfo().c_str()) != PQPING_OK) {
      error = "postgres did not come up: " + fs::readFile(log).value_or("");
      return false;
    }
    return true;
  }

  std::string dir_, bin_;
  std::vector<std::string> as_;  // the prefix that runs a program as nobody (under root)
  int port_ = 0;
  int runs_ = 0;
  std::optional<Process> server_;
};

}  // namespace hv::service::probe
