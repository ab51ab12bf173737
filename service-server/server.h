#pragma once
// handvane-service's three TCP listeners: the region server (RegionQuery), the authentication
// server (Authenticate) and the send server (TicketQuery, then MessageUpload). Each accepted
// connection is served by its own thread with a deadline for the whole connection; a request
// that breaks the protocol gets a non-zero status and its connection is closed, without
// touching any other client.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "service-server/store.h"
#include "service/protocol/protocol.h"

namespace hv::service {

struct ServiceConfig {
  std::string bindAddress = "127.0.0.1";
  std::string advertiseHost;  // the host the region reply names; empty: bindAddress
  int regionPort = 17001, authPort = 17002, sendPort = 17003;  // 0: any free port
  std::string spareHost;
  int sparePort = 0;
  std::string dataFolder;  // holds service.db
  int connectionTimeoutMs = 10000;
  uint32_t maxPacketBytes = 1 << 20;
  int maxConnections = 64;
  int ticketLifetimeSeconds = 120;
};

// Reads the [service] section of an INI file; a relative data folder is taken from the file's
// folder. Missing keys keep the defaults above.
ServiceConfig loadConfig(const std::string& path);

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
};
const char* describe(Status s);

class DeliveryService {
 public:
  DeliveryService(ServiceConfig config, Store& store);
  ~DeliveryService();

  // Binds and listens on the three ports and starts accepting. False with the reason in error.
  bool start(std::string& error);
  // Stops accepting and waits (bounded by the connection time-out) for connections in service.
  void stop();

  int regionPort() const { return ports_[0]; }
  int authPort() const { return ports_[1]; }
  int sendPort() const { return ports_[2]; }
  int activeConnections() const { return active_.load(); }

 private:
  enum Role { Region = 0, Auth = 1, Send = 2 };
  class Connection;
  struct Ticket {
    std::string user;
    std::chrono::steady_clock::time_point expires;
  };

  void acceptLoop();
  void serve(Role role, int fd);
  // Each returns false when the connection must be closed after the reply.
  bool region(Connection& c, uint32_t length);
  bool authenticate(Connection& c, uint32_t length);
  bool ticket(Connection& c, uint32_t length);
  bool upload(Connection& c, uint32_t length);
  std::string issueTicket(const std::string& user);
  std::optional<std::string> redeemTicket(const std::string& ticket);

  ServiceConfig config_;
  Store& store_;
  int listeners_[3] = {-1, -1, -1};
  int ports_[3] = {0, 0, 0};
  int wakePipe_[2] = {-1, -1};
  std::thread acceptor_;
  std::atomic<int> active_{0};
  std::mutex doneMutex_;
  std::condition_variable done_;
  std::mutex ticketMutex_;
  std::unordered_map<std::string, Ticket> tickets_;
};

}  // namespace hv::service
