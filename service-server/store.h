#pragma once
// The service's SQLite database: accounts (phone number and the session-cipher key of the
// password; the password itself is not kept) and received messages (the whole packet, its
// metadata and what was decoded from it).
#include <sqlite3.h>

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
};

class Store {
 public:
  // Opens (creating) the database file; nullptr with the reason in `error` on failure.
  static std::unique_ptr<Store> open(const std::string& path, std::string& error);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // False when the account exists already (add) or does not exist (remove, setPassword).
  bool addAccount(const std::string& phone, const std::string& password);
  bool removeAccount(const std::string& phone);
  bool setPassword(const std::string& phone, const std::string& password);
  std::vector<std::string> accounts();
  std::optional<SessionCipher::Key> accountKey(const std::string& phone);
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
  std::vector<StoredMessage> messages(std::optional<int64_t> id = std::nullopt);
  // The messages with `phone` among their recipients, oldest first; only those after `afterId`.
  std::vector<StoredMessage> messagesTo(const std::string& phone, int64_t afterId = 0);
  // Every number that a message was addressed to, with the id of its newest message.
  std::map<std::string, int64_t> recipients();

  // What is handed to the SMS gateway for a stored message (none when unset), and who is told
  // that new short messages were queued. Set before the servers start.
  using Outbound =
      std::function<std::vector<OutgoingSms>(const std::string& user, const svc::DecodedPacket&)>;
  void setOutbound(Outbound outbound, std::function<void()> queued);

  // The gateway queue: short messages not yet accepted whose next attempt is due at `nowMs`
  // (milliseconds since the epoch), oldest first; the earliest next attempt of any waiting one.
  std::vector<OutgoingSms> dueSms(int64_t nowMs, int limit);
  std::optional<int64_t> nextSmsAttempt();
  bool smsAccepted(int64_t id);
  // Several at once, in one transaction (one flush for all).
  bool smsAccepted(std::span<const int64_t> ids);
  bool smsRetry(int64_t id, int64_t nextAttemptMs, const std::string& error);
  // A delivery report; false when the id and key do not name a queued short message.
  bool smsReport(int64_t id, const std::string& key, int status, int64_t atSeconds);
  std::vector<OutgoingSms> smsOf(int64_t messageId);
  std::vector<OutgoingSms> allSms();

 private:
  struct PendingInsert {
    const std::string* user;
    const svc::DecodedPacket* decoded;
    std::span<const uint8_t> packet;
    std::vector<OutgoingSms> sms;
    int64_t id = 0;
    bool done = false;
    // Instead of a message: a change run in the batch's transaction (true: it succeeded).
    std::function<bool()> change = {};
  };
  // Queues the entries for the next group commit and returns when theirs is done.
  void commitTogether(std::vector<PendingInsert>& mine);
  explicit Store(sqlite3* db) : db_(db) {}
  bool openReader(const std::string& path);
  bool exec(const char* sql);
  void commitBatch(std::vector<PendingInsert*>& batch);
  std::vector<OutgoingSms> smsWhere(const char* where, int64_t a, int64_t b, int limit,
                                    const char* order = "id");
  std::mutex mutex_;  // the connection
  sqlite3* db_;
  // Account look-ups have a connection of their own, so that they never wait for a commit's
  // flush (WAL readers do not block on the writer); its statement is prepared once.
  std::mutex readMutex_;
  sqlite3* readDb_ = nullptr;
  sqlite3_stmt* keyQuery_ = nullptr;
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
