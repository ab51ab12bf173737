#pragma once
// The service's SQLite database: accounts (phone number and the session-cipher key of the
// password; the password itself is not kept) and received messages (the whole packet, its
// metadata and what was decoded from it).
#include <sqlite3.h>

#include <cstdint>
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

  // The new message's id, or 0 when it could not be stored.
  int64_t storeMessage(const std::string& user, const svc::DecodedPacket& decoded,
                       std::span<const uint8_t> packet);
  std::vector<StoredMessage> messages(std::optional<int64_t> id = std::nullopt);
  // The messages with `phone` among their recipients, oldest first; only those after `afterId`.
  std::vector<StoredMessage> messagesTo(const std::string& phone, int64_t afterId = 0);
  // Every number that a message was addressed to, with the id of its newest message.
  std::map<std::string, int64_t> recipients();

 private:
  explicit Store(sqlite3* db) : db_(db) {}
  bool exec(const char* sql);
  std::mutex mutex_;
  sqlite3* db_;
};

}  // namespace hv::service
