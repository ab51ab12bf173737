#pragma once
// The service's store in a PostgreSQL database (libpq), for several send servers on one
// database: accounts, messages, the gateway queue and the send tickets are all in the database,
// so a ticket issued by one send server is redeemed at another, and every process sees every
// account change at once. Texts of the wire (user ids, header fields) are kept as bytea: they
// are GBK or any bytes, which a UTF-8 database would refuse as text.
//
// A small pool of connections serves the calls of all threads; uploads are committed in groups
// as with SQLite (Store::storeMessage), each group in one transaction with synchronous_commit on,
// so an upload is durable before it is answered. The schema is created and upgraded by the
// first process that opens the database (schema_version, under an advisory lock).
//
// A connection broken by a restart or crash of the database server is opened again when it is
// next taken from the pool (one attempt, bounded by connect_timeout, 10 s unless the connection
// string names another); a call that cannot get a working connection fails, and the next one
// tries again. An idle connection whose server went away is recognised before it is used, so
// after a restart no call fails merely for meeting a connection that broke while it was idle.
#include <libpq-fe.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "service-server/store.h"

namespace hv::service {

class PgStore final : public Store {
 public:
  // `conninfo` is a libpq connection string ("host=... port=... dbname=... user=...") or URI;
  // `connections` the size of the pool. nullptr with the reason in `error` when the database
  // cannot be reached or its schema is newer than this service knows.
  static std::unique_ptr<PgStore> open(const std::string& conninfo, int connections,
                                       std::string& error);
  ~PgStore() override;

  // The schema version this service creates, and the one the database holds (-1: unreadable).
  static int schemaVersion();
  int databaseSchemaVersion();

  bool addAccount(const std::string& phone, const std::string& password) override;
  bool removeAccount(const std::string& phone) override;
  bool setPassword(const std::string& phone, const std::string& password) override;
  std::vector<std::string> accounts() override;
  std::optional<SessionCipher::Key> accountKey(const std::string& phone) override;
  std::vector<StoredMessage> messages(std::optional<int64_t> id = std::nullopt) override;
  std::vector<StoredMessage> messagesTo(const std::string& phone, int64_t afterId = 0) override;
  std::map<std::string, int64_t> recipients() override;
  std::vector<OutgoingSms> dueSms(int64_t nowMs, int limit) override;
  std::optional<int64_t> nextSmsAttempt() override;
  bool smsAccepted(int64_t id) override;
  bool smsRetry(int64_t id, int64_t nextAttemptMs, const std::string& error) override;
  bool releaseSms(std::span<const OutgoingSms> untried) override;
  bool smsReport(int64_t id, const std::string& key, int status, int64_t atSeconds) override;
  std::vector<OutgoingSms> smsOf(int64_t messageId) override;
  std::vector<OutgoingSms> allSms() override;
  bool sharesTickets() const override { return true; }
  bool putTicket(const std::string& ticket, const std::string& user, int lifetimeSeconds) override;
  std::optional<std::string> takeTicket(const std::string& ticket) override;
  std::optional<size_t> liveTickets() override;

  // A due short message handed out by dueSms is not handed out again (to this or another
  // process) for this long, unless smsRetry, smsAccepted or releaseSms settles it first.
  static constexpr int64_t kClaimMs = 5 * 60 * 1000;

 protected:
  void commitBatch(std::vector<PendingInsert*>& batch) override;

 public:
  // One pooled connection with the statements prepared on it so far.
  struct Connection {
    PGconn* pg = nullptr;
    std::unordered_map<const char*, std::string> prepared;  // SQL text -> statement name
  };
  class Query;

 private:
  explicit PgStore(std::string conninfo) : conninfo_(std::move(conninfo)) {}
  bool connect(Connection& c, std::string& error);
  // Opens the connection again when it is known to be broken; false when it stays broken.
  bool revive(Connection& c);
  bool migrate(std::string& error);
  // A connection of the pool for the caller's exclusive use; back to the pool when it ends.
  class Lease;
  Connection* acquire();
  void release(Connection* c);
  bool insertBatch(Connection& c, std::vector<PendingInsert*>& batch, int64_t now);
  std::vector<OutgoingSms> smsQuery(const char* sql, const std::vector<int64_t>& args);

  std::string conninfo_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::mutex poolMutex_;
  std::condition_variable poolFree_;
  std::vector<Connection*> idle_;
  std::atomic<uint32_t> ticketsPut_{0};
};

}  // namespace hv::service
