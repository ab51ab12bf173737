#pragma once
// handvane-service's three TCP listeners: the region server (RegionQuery), the authentication
// server (Authenticate) and the send server (TicketQuery, then MessageUpload). Each accepted
// connection is served by its own thread with a deadline for the whole connection and a shorter
// one for the first bytes of its first request; a request that breaks the protocol gets a
// non-zero status and its connection is closed, without touching any other client.
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
#include <mutex>
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
  size_t liveTickets();  // those kept in memory

 private:
  enum Role { Region = 0, Auth = 1, Send = 2 };
  class Connection;
  struct Ticket {
    std::string user;
    std::chrono::steady_clock::time_point expires;
  };

  void acceptLoop();
  void admit(int role, int fd, uint32_t peer);
  void refuseAtAccept(
      int role, int fd,
      std::vector<std::pair<int, std::chrono::steady_clock::time_point>>& lingering);
  void serve(Role role, int fd);
  // Each returns false when the connection must be closed after the reply.
  bool region(Connection& c, uint32_t length);
  bool authenticate(Connection& c, uint32_t length);
  bool ticket(Connection& c, uint32_t length);
  bool upload(Connection& c, uint32_t length);
  svc::Endpoint sendServerFor(const std::string& user);
  std::string issueTicket(const std::string& user);
  std::optional<std::string> redeemTicket(const std::string& ticket);
  void expireTickets(std::chrono::steady_clock::time_point now);

  ServiceConfig config_;
  Store& store_;
  Clock clock_;
  int listeners_[3] = {-1, -1, -1};
  int ports_[3] = {0, 0, 0};
  int wakePipe_[2] = {-1, -1};
  // Readable once stop() began: every connection polls it.
  int stopPipe_[2] = {-1, -1};
  std::thread acceptor_;
  std::atomic<int> active_{0};
  std::atomic<uint64_t> acceptFailures_{0};
  std::mutex doneMutex_;
  std::condition_variable done_;
  std::map<uint32_t, int> perPeer_;  // guarded by doneMutex_
  std::mutex ticketMutex_;
  std::unordered_map<std::string, Ticket> tickets_;
  // Tickets in the order of their deadlines (every ticket has the same lifetime, so the order
  // of issue); entries of tickets already redeemed are skipped when they come up.
  std::deque<std::pair<std::chrono::steady_clock::time_point, std::string>> ticketDeadlines_;
};

}  // namespace hv::service
