#pragma once
// handvane-service's three TCP listeners: the region server (RegionQuery), the authentication
// server (Authenticate) and the send server (TicketQuery, then MessageUpload). One event-loop
// thread (epoll) accepts, reads and answers every connection; what may block (an upload's
// durable commit, a probe of the configured send servers) goes to a small pool of worker
// threads, whose answers the loop sends. Each connection has a deadline for the whole
// connection and a shorter one for the first bytes of its first request; a request that breaks
// the protocol gets a non-zero status and its connection is closed, without touching any other
// client.
//
// Hostile clients are kept in bounds: a connection cap for all peers and one per peer address;
// a connection that is refused, times out or meets a stop gets a status reply naming why before
// the close; accept failures (descriptor limits) back off instead of spinning; stop() ends idle
// connections at once and lets only uploads whose head has arrived finish.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "service-server/store.h"
#include "service/protocol/protocol.h"

namespace hv::service {

struct ServiceConfig {
  std::string bindAddress = "127.0.0.1";
  std::string advertiseHost;  // the host the region reply names; empty: bindAddress
  int regionPort = 17001, authPort = 17002, sendPort = 17003;  // 0: any free port
  std::string spareHost;
  int sparePort = 0;
  // Send servers the region server spreads users over ("host:port"); empty: this service's own.
  std::vector<svc::Endpoint> sendServers;
  std::string dataFolder;  // holds service.db (the SQLite store)
  // The PostgreSQL store instead ([postgresql] Connection, a libpq connection string; empty:
  // SQLite), with this many connections.
  std::string postgres;
  int postgresConnections = 8;
  int connectionTimeoutMs = 10000;
  // The first request's length and command words must arrive within this time.
  int firstBytesTimeoutMs = 2000;
  uint32_t maxPacketBytes = 1 << 20;
  int maxConnections = 256;
  int maxConnectionsPerPeer = 16;
  int ticketLifetimeSeconds = 120;
  // Pause of the accept loop after accept() failed for want of descriptors or memory.
  int acceptBackoffMs = 100;
};

// Reads the [service] and [postgresql] sections of an INI file; a relative data folder is taken
// from the file's folder. Missing keys keep the defaults above.
ServiceConfig loadConfig(const std::string& path);
// The configured store: PostgreSQL when a connection string is set, else the SQLite file in the
// data folder (which must exist). nullptr with the reason in `error`.
std::unique_ptr<Store> openStore(const ServiceConfig& config, std::string& error);

// The service's own status codes (0 = success).
enum class Status : int32_t {
  Ok = 0,
  BadRequest = 1,      // wrong command for this server, bad length or malformed fields
  UnknownUser = 2,     // no account with this phone number
  AuthFailed = 3,      // the credential does not decipher to the user id
  BadTicket = 4,       // unknown, used or expired ticket
  BadPacket = 5,       // the message packet does not decode
  PacketTooLarge = 6,  // over the configured maximum
  StoreFailed = 7,     // the message could not be stored
  Busy = 8,            // too many connections (from this peer or in all); try again later
  TimedOut = 9,        // the request did not arrive within its deadline
  ShuttingDown = 10,   // the service is stopping
};
const char* describe(Status s);

class DeliveryService {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // `clock` dates tickets (tests pass their own); connection deadlines use the steady clock.
  // Tickets are kept in the store instead when it shares them between send servers
  // (Store::sharesTickets), dated by the database's clock.
  DeliveryService(ServiceConfig config, Store& store, Clock clock = {});
  ~DeliveryService();

  // Binds and listens on the three ports and starts accepting. False with the reason in error.
  bool start(std::string& error);
  // Stops accepting, closes idle connections at once, lets uploads in flight finish (bounded by
  // the connection time-out) and returns when every connection is closed.
  void stop();

  int regionPort() const { return ports_[0]; }
  int authPort() const { return ports_[1]; }
  int sendPort() const { return ports_[2]; }
  int activeConnections() const { return active_.load(); }
  // Times accept() failed for want of descriptors or memory (each followed by a back-off).
  uint64_t acceptFailures() const { return acceptFailures_.load(); }
  // The tickets good now (issued, neither redeemed nor expired) at this send server: those in
  // memory, or with a store that shares tickets, those in the database, issued by any of its
  // send servers. nullopt when the database cannot be asked.
  std::optional<size_t> liveTickets();

 private:
  enum Role { Region = 0, Auth = 1, Send = 2 };
  struct Connection;
  struct Ticket {
    std::string user;
    std::chrono::steady_clock::time_point expires;
  };
  // What follows a request's reply.
  enum class Then {
    Next,     // the next request on this connection (or the close after the last one)
    Close,    // the reply ends the connection
    Refuse,   // a status naming why, then the close
    HandOff,  // a worker thread makes the reply
    Commit,   // an upload for the committer thread; the reply once it is on disk
  };
  // A worker's result: the reply and what follows it.
  struct Outcome {
    std::vector<uint8_t> reply;
    Then then = Then::Close;
  };
  struct Answer {
    Answer(std::vector<uint8_t> r, Then t, std::function<Outcome()> w = {})
        : reply(std::move(r)), then(t), work(std::move(w)) {}
    std::vector<uint8_t> reply;
    Then then = Then::Close;
    std::function<Outcome()> work;  // for HandOff
    std::string user;               // for Commit: the ticket's user and the packet
    std::vector<uint8_t> packet;
  };
  // A timer entry: the connection (by descriptor and serial, which tells a reused descriptor).
  struct Due {
    std::chrono::steady_clock::time_point at;
    int fd;
    uint32_t serial;
  };
  struct Job {
    int fd;
    uint32_t serial;
    std::function<Outcome()> work;
  };
  struct Upload {
    int fd;
    uint32_t serial;
    std::string user;
    std::vector<uint8_t> packet;
  };
  struct Finished {
    int fd;
    uint32_t serial;
    Outcome outcome;
  };

  void loop();
  void acceptOn(int role);
  void armListeners(bool on);
  void beginStop();
  Connection* find(int fd, uint32_t serial);
  void readFrom(int fd, uint32_t serial);
  void process(int fd, uint32_t serial);
  void respond(Connection& c, std::vector<uint8_t> reply, Then then);
  void continueWrite(Connection& c);
  void afterReply(Connection& c, Then then);
  void refuse(Connection& c, uint32_t command, Status status);
  void linger(Connection& c);
  void closeConnection(Connection& c);
  void handOff(Connection& c, std::function<Outcome()> work);
  void takeFinished();
  void expire(std::chrono::steady_clock::time_point now);
  int nextTimeoutMs(std::chrono::steady_clock::time_point now);
  void workerLoop();
  void commitLoop();
  void post(std::vector<Finished> done);
  // The checks of a request's head (length and command): a refusal names the reply command.
  std::optional<std::pair<uint32_t, Status>> checkHead(const Connection& c) const;
  Answer handle(Connection& c, std::span<const uint8_t> body);
  static Answer refused(uint32_t command, Status s);
  // The whole request on a worker thread, for a store whose look-ups are round trips.
  Outcome inWorker(uint32_t command, uint32_t length, const std::vector<uint8_t>& body);
  Answer region(std::span<const uint8_t> body);
  Answer authenticate(uint32_t length, std::span<const uint8_t> body);
  Answer ticket(std::span<const uint8_t> body);
  Answer upload(std::span<const uint8_t> body);
  svc::Endpoint sendServerFor(const std::string& user);
  std::string issueTicket(const std::string& user);
  std::optional<std::string> redeemTicket(const std::string& ticket);
  void expireTickets(std::chrono::steady_clock::time_point now);

  ServiceConfig config_;
  Store& store_;
  const bool quick_;  // the store answers look-ups at once: the loop asks it itself
  Clock clock_;
  int listeners_[3] = {-1, -1, -1};
  int ports_[3] = {0, 0, 0};
  int epoll_ = -1;
  int wake_ = -1;  // eventfd: stop() and finished hand-offs
  std::thread loopThread_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> active_{0};
  std::atomic<uint64_t> acceptFailures_{0};

  // Owned by the loop thread.
  std::vector<std::unique_ptr<Connection>> connections_;  // by descriptor
  size_t open_ = 0;                                       // entries of connections_
  size_t lingering_ = 0;
  uint32_t nextSerial_ = 1;
  bool stopBegun_ = false;
  bool backingOff_ = false;
  std::chrono::steady_clock::time_point backoffUntil_{};
  std::unordered_map<uint32_t, int> perPeer_;
  // Deadlines; every entry of one queue has the same offset from its start, so each queue is in
  // deadline order. Entries of connections that moved on are skipped when they come up.
  std::deque<Due> firstBytesDue_, connectionDue_, writeDue_, lingerDue_;

  // Worker threads, started as hand-offs wait, up to a bound.
  std::mutex jobMutex_;
  std::condition_variable jobReady_;
  std::deque<Job> jobs_;
  std::vector<std::thread> workers_;
  int idleWorkers_ = 0;
  bool workersStop_ = false;
  // The committer: every upload that arrived while it was busy goes into its next commit.
  std::thread committer_;
  std::mutex uploadMutex_;
  std::condition_variable uploadReady_;
  std::vector<Upload> uploads_;
  bool committerIdle_ = false;
  bool committerStop_ = false;
  std::mutex finishedMutex_;
  std::vector<Finished> finished_;

  std::mutex ticketMutex_;
  std::unordered_map<std::string, Ticket> tickets_;
  // Tickets in the order of their deadlines (every ticket has the same lifetime, so the order
  // of issue); entries of tickets already redeemed are skipped when they come up.
  std::deque<std::pair<std::chrono::steady_clock::time_point, std::string>> ticketDeadlines_;
};

}  // namespace hv::service
