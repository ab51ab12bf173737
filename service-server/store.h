#pragma once
// The service's database: accounts (phone number and the session-cipher key of the password;
// the password itself is not kept), received messages (the whole packet, its metadata and what
// was decoded from it) and the SMS gateway's queue. One interface, two back-ends: an SQLite file
// (the embedded default, Store::open) and a PostgreSQL database that several send servers share
// (PgStore, service-server/pg_store.h).
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cipher/session_cipher.h"
#include "service/protocol/packet.h"

namespace hv::service {

struct StoredMessage {
  int64_t id = 0;
  std::string user;        // the ticket's user
  int64_t receivedAt = 0;  // seconds since the epoch
  std::string serviceCode, contentClass, sender, model, contentKind, contentType;
  std::vector<std::string> recipients;
  std::vector<std::string> texts;
  int shortMessages = 0;
  int attachmentType = 0;
  int64_t contentSize = 0;
  std::vector<uint8_t> packet;
};

// One short message handed to the SMS gateway: the user-data header (empty for a text) and the
// user data, with the data coding (0 GSM default alphabet, 1 8-bit, 2 UCS-2) and the message
// class (-1: none). Texts are kept as UTF-8 and converted by the gateway.
struct OutgoingSms {
  int64_t id = 0;
  int64_t messageId = 0;
  std::string sender, recipient;
  std::vector<uint8_t> udh, data;
  int coding = 0;
  int mclass = -1;
  std::string key;  // the delivery report's credential, drawn when queued
  // Filled from the table:
  bool accepted = false;
  int attempts = 0;
  int64_t nextAttemptMs = 0;
  std::string lastError;
  int reportStatus = 0;  // the delivery reports received, their types OR-ed (0: none yet)
  int64_t reportAt = 0;
  // Set by a back-end whose dueSms claims what it hands out: the next attempt the claim moved
  // the short message to (0: not claimed).
  int64_t claimedUntilMs = 0;
};

class Store {
 public:
  // Opens (creating or upgrading) the SQLite database file; nullptr with the reason in `error`
  // on failure.
  static std::unique_ptr<Store> open(const std::string& path, std::string& error);
  virtual ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // False when the account exists already (add) or does not exist (remove, setPassword).
  virtual bool addAccount(const std::string& phone, const std::string& password) = 0;
  virtual bool removeAccount(const std::string& phone) = 0;
  virtual bool setPassword(const std::string& phone, const std::string& password) = 0;
  virtual std::vector<std::string> accounts() = 0;
  virtual std::optional<SessionCipher::Key> accountKey(const std::string& phone) = 0;
  // True when account look-ups and tickets are answered from this machine in microseconds (an
  // event loop may ask them itself); false when each is a round trip to a server.
  virtual bool quickLookups() const { return false; }
  bool hasAccount(const std::string& phone) { return accountKey(phone).has_value(); }

  // The new message's id, or 0 when it could not be stored. Uploads that arrive together are
  // committed together in one transaction (group commit): the call returns only after the
  // transaction holding its row is durable. The short messages that the outbound hook makes of
  // the message are queued in the same transaction.
  int64_t storeMessage(const std::string& user, const svc::DecodedPacket& decoded,
                       std::span<const uint8_t> packet);
  // Several messages at once, committed together (with whatever else is pending); the new ids in
  // their order, 0 for each that could not be stored. For a caller that gathers uploads itself,
  // so that one thread, not one per upload, waits for the flush.
  struct NewMessage {
    const std::string* user;
    const svc::DecodedPacket* decoded;
    std::span<const uint8_t> packet;
  };
  std::vector<int64_t> storeMessages(std::span<const NewMessage> messages);
  virtual std::vector<StoredMessage> messages(std::optional<int64_t> id = std::nullopt) = 0;
  // The messages with `phone` among their recipients, oldest first; only those after `afterId`.
  virtual std::vector<StoredMessage> messagesTo(const std::string& phone, int64_t afterId = 0) = 0;
  // Every number that a message was addressed to, with the id of its newest message.
  virtual std::map<std::string, int64_t> recipients() = 0;

  // What is handed to the SMS gateway for a stored message (none when unset), and who is told
  // that new short messages were queued. Set before the servers start.
  using Outbound =
      std::function<std::vector<OutgoingSms>(const std::string& user, const svc::DecodedPacket&)>;
  void setOutbound(Outbound outbound, std::function<void()> queued);

  // The gateway queue: short messages not yet accepted whose next attempt is due at `nowMs`
  // (milliseconds since the epoch), oldest first; the earliest next attempt of any waiting one.
  // A back-end that several processes share hands each due short message to one of them only.
  virtual std::vector<OutgoingSms> dueSms(int64_t nowMs, int limit) = 0;
  virtual std::optional<int64_t> nextSmsAttempt() = 0;
  virtual bool smsAccepted(int64_t id) = 0;
  // Several at once (a back-end may do them in one transaction); false when any failed.
  virtual bool smsAcceptedAll(std::span<const int64_t> ids) {
    bool ok = true;
    for (int64_t id : ids) ok = smsAccepted(id) && ok;
    return ok;
  }
  virtual bool smsRetry(int64_t id, int64_t nextAttemptMs, const std::string& error) = 0;
  // Short messages that dueSms handed out and that were not tried after all (the pass ended
  // early): their claims are given up, so that they are due again at the next attempt they had,
  // here or at another process, instead of when the claim lapses. A claim that lapsed and was
  // taken by another since is left alone. Nothing to do for a back-end that does not claim.
  virtual bool releaseSms(std::span<const OutgoingSms> /*untried*/) { return true; }
  // A delivery report; false when the id and key do not name a queued short message.
  virtual bool smsReport(int64_t id, const std::string& key, int status, int64_t atSeconds) = 0;
  virtual std::vector<OutgoingSms> smsOf(int64_t messageId) = 0;
  virtual std::vector<OutgoingSms> allSms() = 0;

  // Send tickets kept in the database, so that a ticket issued by one send server is good at
  // every send server of the database (and still only once). A back-end that does not share
  // them answers false, and each service keeps its own tickets in memory.
  virtual bool sharesTickets() const { return false; }
  // Records a ticket for `user`, good for `lifetimeSeconds` by the database's clock.
  virtual bool putTicket(const std::string& /*ticket*/, const std::string& /*user*/,
                         int /*lifetimeSeconds*/) {
    return false;
  }
  // The ticket's user when it is known and has not expired; the ticket is gone afterwards.
  virtual std::optional<std::string> takeTicket(const std::string& /*ticket*/) {
    return std::nullopt;
  }
  // The shared tickets that are good now (neither redeemed nor expired), whichever send server
  // issued them; nullopt when the database cannot be asked or does not share tickets.
  virtual std::optional<size_t> liveTickets() { return std::nullopt; }

 protected:
  Store() = default;
  struct PendingInsert {
    const std::string* user;
    const svc::DecodedPacket* decoded;
    std::span<const uint8_t> packet;
    std::vector<OutgoingSms> sms;
    int64_t id = 0;
    bool done = false;
    // Instead of a message: a change the back-end runs in the batch's transaction (true: it
    // succeeded; the entry's id is then 1).
    std::function<bool()> change = {};
  };
  // Queues the entries for the next group commit and returns when theirs is durable.
  void commitTogether(std::vector<PendingInsert>& mine);
  // Inserts every upload of the batch (its message row and its queued short messages) and
  // makes them durable before it returns; sets the id of each one stored (0: it failed).
  virtual void commitBatch(std::vector<PendingInsert*>& batch) = 0;

 private:
  Outbound outbound_;
  std::function<void()> queued_;
  // Group commit: inserts wait here; the first caller that finds no commit running commits
  // everything that is pending, then wakes the others.
  std::mutex commitMutex_;
  std::condition_variable committed_;
  std::vector<PendingInsert*> pending_;
  bool committing_ = false;
};

}  // namespace hv::service
