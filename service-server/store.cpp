#include "service-server/store.h"

#include <openssl/rand.h>
#include <sqlite3.h>

#include <algorithm>
#include <ctime>

namespace hv::service {
namespace {

// A prepared statement that finalizes itself.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  explicit operator bool() const { return stmt_ != nullptr; }
  Statement& text(int i, const std::string& s) {
    sqlite3_bind_text(stmt_, i, s.data(), int(s.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& blob(int i, std::span<const uint8_t> b) {
    sqlite3_bind_blob(stmt_, i, b.data(), int(b.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& integer(int i, int64_t v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  int step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  void reset() {
    if (stmt_) sqlite3_reset(stmt_), sqlite3_clear_bindings(stmt_);
  }
  bool isNull(int i) { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }
  std::string columnText(int i) {
    auto p = static_cast<const char*>(sqlite3_column_blob(stmt_, i));
    return p ? std::string(p, size_t(sqlite3_column_bytes(stmt_, i))) : std::string();
  }
  std::vector<uint8_t> columnBlob(int i) {
    auto p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, i));
    return p ? std::vector<uint8_t>(p, p + sqlite3_column_bytes(stmt_, i)) : std::vector<uint8_t>();
  }
  int64_t columnInt(int i) { return sqlite3_column_int64(stmt_, i); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Lists of texts are kept in the text batch layout (count, then each length, bytes and NUL), so
// any byte of a text survives.
std::vector<uint8_t> packList(const std::vector<std::string>& items) {
  return encodeTextBatch(items);
}
std::vector<std::string> unpackList(const std::vector<uint8_t>& blob) {
  return decodeTextBatch(blob).value_or(std::vector<std::string>{});
}

std::vector<uint8_t> keyBytes(const std::string& password) {
  auto key = SessionCipher::deriveKey(password);
  return {key.begin(), key.end()};
}

// The embedded back-end: one SQLite file, one connection guarded by a mutex.
class SqliteStore final : public Store {
 public:
  explicit SqliteStore(sqlite3* db) : db_(db) {}
  ~SqliteStore() override;
  bool migrate(std::string& error);
  bool openReader(const std::string& path);

  bool addAccount(const std::string& phone, const std::string& password) override;
  bool removeAccount(const std::string& phone) override;
  bool setPassword(const std::string& phone, const std::string& password) override;
  std::vector<std::string> accounts() override;
  std::optional<SessionCipher::Key> accountKey(const std::string& phone) override;
  bool quickLookups() const override { return true; }
  std::vector<StoredMessage> messages(std::optional<int64_t> id = std::nullopt) override;
  std::vector<StoredMessage> messagesTo(const std::string& phone, int64_t afterId = 0) override;
  std::map<std::string, int64_t> recipients() override;
  std::vector<OutgoingSms> dueSms(int64_t nowMs, int limit) override;
  std::optional<int64_t> nextSmsAttempt() override;
  bool smsAccepted(int64_t id) override;
  bool smsAcceptedAll(std::span<const int64_t> ids) override;
  bool smsRetry(int64_t id, int64_t nextAttemptMs, const std::string& error) override;
  bool smsReport(int64_t id, const std::string& key, int status, int64_t atSeconds) override;
  std::vector<OutgoingSms> smsOf(int64_t messageId) override;
  std::vector<OutgoingSms> allSms() override;

 protected:
  void commitBatch(std::vector<PendingInsert*>& batch) override;

 private:
  bool exec(const char* sql);
  std::vector<OutgoingSms> smsWhere(const char* where, int64_t a, int64_t b, int limit,
                                    const char* order = "id");
  std::mutex mutex_;  // the connection
  sqlite3* db_;
  // Account look-ups have a connection of their own, so that they never wait for a commit's
  // flush (WAL readers do not block on the writer); its statement is prepared once.
  std::mutex readMutex_;
  sqlite3* readDb_ = nullptr;
  sqlite3_stmt* keyQuery_ = nullptr;
};

}  // namespace

Store::~Store() = default;

// The schema by version: step n brings a database of version n - 1 to version n. Version 1 is
// the layout of the files written before the version table existed (hence IF NOT EXISTS).
constexpr const char* kSqliteSchema[] = {
    "CREATE TABLE IF NOT EXISTS accounts (phone TEXT PRIMARY KEY, key BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS messages (id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " user TEXT, received INTEGER, service_code TEXT, content_class TEXT,"
    " sender TEXT, recipients BLOB, model TEXT, content_kind TEXT,"
    " content_type TEXT, attachment_type INTEGER, texts BLOB,"
    " short_messages INTEGER, content_size INTEGER, packet BLOB);"
    "CREATE TABLE IF NOT EXISTS gateway_queue (id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " message_id INTEGER, sender TEXT, recipient TEXT, udh BLOB, data BLOB,"
    " coding INTEGER, mclass INTEGER, key TEXT, accepted INTEGER DEFAULT 0,"
    " attempts INTEGER DEFAULT 0, next_attempt INTEGER DEFAULT 0,"
    " last_error TEXT DEFAULT '', report_status INTEGER DEFAULT 0,"
    " report_at INTEGER DEFAULT 0);"
    "CREATE INDEX IF NOT EXISTS gateway_waiting ON gateway_queue (accepted, next_attempt);",
};

std::unique_ptr<Store> Store::open(const std::string& path, std::string& error) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    error = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 5000);
  auto store = std::make_unique<SqliteStore>(db);
  if (!store->migrate(error)) return nullptr;
  if (!store->openReader(path)) {
    error = "cannot open the account reader";
    return nullptr;
  }
  return store;
}

bool SqliteStore::openReader(const std::string& path) {
  if (sqlite3_open_v2(path.c_str(), &readDb_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    return false;
  sqlite3_busy_timeout(readDb_, 5000);
  // Every commit of the writer invalidates this connection's page cache; mapped, the pages of
  // the database file are read again without a system call each.
  sqlite3_exec(readDb_, "PRAGMA mmap_size=268435456", nullptr, nullptr, nullptr);
  return sqlite3_prepare_v3(readDb_, "SELECT key FROM accounts WHERE phone = ?", -1,
                            SQLITE_PREPARE_PERSISTENT, &keyQuery_, nullptr) == SQLITE_OK;
}

// FULL: a commit is on disk (the WAL flushed) before it returns, so a stored message survives a
// crash or a power loss once its sender has been told it was accepted. The schema is brought to
// the newest version in one transaction; a file of a newer version is refused.
bool SqliteStore::migrate(std::string& error) {
  constexpr int kVersion = int(std::size(kSqliteSchema));
  auto failed = [&](const std::string& what) {
    error = what + ": " + sqlite3_errmsg(db_);
    exec("ROLLBACK");
    return false;
  };
  if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=FULL"))
    return failed("cannot set up the database");
  if (!exec("BEGIN IMMEDIATE") ||
      !exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"))
    return failed("cannot read the schema version");
  int version = 0;
  {
    Statement s(db_, "SELECT MAX(version) FROM schema_version");
    if (s.step() == SQLITE_ROW && !s.isNull(0)) version = int(s.columnInt(0));
  }
  if (version > kVersion) {
    exec("ROLLBACK");
    error = "the database has schema version " + std::to_string(version) +
            ", newer than this service's " + std::to_string(kVersion);
    return false;
  }
  for (; version < kVersion; ++version)
    if (!exec(kSqliteSchema[version]))
      return failed("cannot create schema version " + std::to_string(version + 1));
  if (!exec("DELETE FROM schema_version")) return failed("cannot record the schema version");
  Statement v(db_, "INSERT INTO schema_version (version) VALUES (?)");
  v.integer(1, kVersion);
  if (v.step() != SQLITE_DONE || !exec("COMMIT")) return failed("cannot record the schema version");
  return true;
}

SqliteStore::~SqliteStore() {
  sqlite3_finalize(keyQuery_);
  sqlite3_close(readDb_);
  sqlite3_close(db_);
}

bool SqliteStore::exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool SqliteStore::addAccount(const std::string& phone, const std::string& password) {
  std::lock_guard lock(mutex_);
  Statement s(db_, "INSERT OR IGNORE INTO accounts (phone, key) VALUES (?, ?)");
  s.text(1, phone).blob(2, keyBytes(password));
  return s.step() == SQLITE_DONE && sqlite3_changes(db_) == 1;
}

bool SqliteStore::removeAccount(const std::string& phone) {
  std::lock_guard lock(mutex_);
  Statement s(db_, "DELETE FROM accounts WHERE phone = ?");
  s.text(1, phone);
  return s.step() == SQLITE_DONE && sqlite3_changes(db_) == 1;
}

bool SqliteStore::setPassword(const std::string& phone, const std::string& password) {
  std::lock_guard lock(mutex_);
  Statement s(db_, "UPDATE accounts SET key = ? WHERE phone = ?");
  s.blob(1, keyBytes(password)).text(2, phone);
  return s.step() == SQLITE_DONE && sqlite3_changes(db_) == 1;
}

std::vector<std::string> SqliteStore::accounts() {
  std::lock_guard lock(mutex_);
  Statement s(db_, "SELECT phone FROM accounts ORDER BY phone");
  std::vector<std::string> out;
  while (s.step() == SQLITE_ROW) out.push_back(s.columnText(0));
  return out;
}

std::optional<SessionCipher::Key> SqliteStore::accountKey(const std::string& phone) {
  std::lock_guard lock(readMutex_);
  sqlite3_bind_text(keyQuery_, 1, phone.data(), int(phone.size()), SQLITE_STATIC);
  std::optional<SessionCipher::Key> key;
  if (sqlite3_step(keyQuery_) == SQLITE_ROW && sqlite3_column_bytes(keyQuery_, 0) == 8) {
    auto p = static_cast<const uint8_t*>(sqlite3_column_blob(keyQuery_, 0));
    key.emplace();
    std::copy(p, p + 8, key->begin());
  }
  sqlite3_reset(keyQuery_);
  sqlite3_clear_bindings(keyQuery_);
  return key;
}

void Store::setOutbound(Outbound outbound, std::function<void()> queued) {
  outbound_ = std::move(outbound);
  queued_ = std::move(queued);
}

namespace {
std::string reportKey() {
  unsigned char b[12];
  if (RAND_bytes(b, sizeof b) != 1) return {};
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : b) out += {digits[c >> 4], digits[c & 15]};
  return out;
}
}  // namespace

int64_t Store::storeMessage(const std::string& user, const svc::DecodedPacket& d,
                            std::span<const uint8_t> packet) {
  NewMessage one{&user, &d, packet};
  return storeMessages(std::span(&one, 1))[0];
}

std::vector<int64_t> Store::storeMessages(std::span<const NewMessage> messages) {
  std::vector<PendingInsert> mine;
  mine.reserve(messages.size());
  for (const auto& m : messages) {
    mine.push_back({m.user, m.decoded, m.packet, {}, 0, false});
    if (outbound_) mine.back().sms = outbound_(*m.user, *m.decoded);
    for (auto& sms : mine.back().sms) sms.key = reportKey();
  }
  commitTogether(mine);
  std::vector<int64_t> ids;
  bool queued = false;
  for (const auto& p : mine) {
    ids.push_back(p.id);
    queued = queued || (p.id != 0 && !p.sms.empty());
  }
  if (queued && queued_) queued_();
  return ids;
}

void Store::commitTogether(std::vector<PendingInsert>& mine) {
  std::unique_lock lock(commitMutex_);
  for (auto& p : mine) pending_.push_back(&p);
  auto allDone = [&] {
    return std::all_of(mine.begin(), mine.end(), [](const PendingInsert& p) { return p.done; });
  };
  while (!allDone()) {
    if (committing_) {
      committed_.wait(lock);
      continue;
    }
    committing_ = true;
    std::vector<PendingInsert*> batch;
    batch.swap(pending_);
    lock.unlock();
    commitBatch(batch);
    lock.lock();
    for (auto* p : batch) p->done = true;
    committing_ = false;
    committed_.notify_all();
  }
}

// One transaction for the whole batch; each upload in a savepoint of its own, so that one that
// cannot be inserted fails alone. When the commit fails, every upload of the batch failed.
void SqliteStore::commitBatch(std::vector<PendingInsert*>& batch) {
  std::lock_guard lock(mutex_);
  if (!exec("BEGIN IMMEDIATE")) return;
  Statement s(db_,
              "INSERT INTO messages (user, received, service_code, content_class, sender,"
              " recipients, model, content_kind, content_type, attachment_type, texts,"
              " short_messages, content_size, packet) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  Statement q(db_,
              "INSERT INTO gateway_queue (message_id, sender, recipient, udh, data, coding,"
              " mclass, key) VALUES (?,?,?,?,?,?,?,?)");
  const int64_t now = int64_t(std::time(nullptr));
  for (auto* p : batch) {
    if (!exec("SAVEPOINT one")) continue;
    if (p->change) {
      p->id = p->change() ? 1 : 0;
      exec(p->id ? "RELEASE one" : "ROLLBACK TO one");
      if (!p->id) exec("RELEASE one");
      continue;
    }
    const auto& d = *p->decoded;
    auto recipients = packList(d.recipients);
    auto texts = packList(d.texts);
    s.reset();
    s.text(1, *p->user)
        .integer(2, now)
        .text(3, d.serviceCode)
        .text(4, d.contentClass)
        .text(5, d.sender)
        .blob(6, recipients)
        .text(7, d.model)
        .text(8, d.contentKind)
        .text(9, d.contentType)
        .integer(10, d.attachmentType)
        .blob(11, texts)
        .integer(12, int64_t(d.shortMessages.size()))
        .integer(13, int64_t(d.content.size()))
        .blob(14, p->packet);
    bool ok = s.step() == SQLITE_DONE;
    const int64_t id = ok ? sqlite3_last_insert_rowid(db_) : 0;
    for (auto& m : p->sms) {
      if (!ok) break;
      m.messageId = id;
      q.reset();
      q.integer(1, id)
          .text(2, m.sender)
          .text(3, m.recipient)
          .blob(4, m.udh)
          .blob(5, m.data)
          .integer(6, m.coding)
          .integer(7, m.mclass)
          .text(8, m.key);
      ok = q.step() == SQLITE_DONE;
    }
    if (ok) {
      p->id = id;
      exec("RELEASE one");
    } else {
      exec("ROLLBACK TO one");
      exec("RELEASE one");
    }
  }
  if (!exec("COMMIT")) {
    exec("ROLLBACK");
    for (auto* p : batch) p->id = 0;
  }
}

std::vector<OutgoingSms> SqliteStore::smsWhere(const char* where, int64_t a, int64_t b, int limit,
                                               const char* order) {
  std::string sql =
      "SELECT id, message_id, sender, recipient, udh, data, coding, mclass, key, accepted,"
      " attempts, next_attempt, last_error, report_status, report_at FROM gateway_queue WHERE ";
  sql += where;
  sql += " ORDER BY ";
  sql += order;
  sql += " LIMIT ?3";
  std::lock_guard lock(mutex_);
  Statement s(db_, sql.c_str());
  s.integer(1, a).integer(2, b).integer(3, limit);
  std::vector<OutgoingSms> out;
  while (s.step() == SQLITE_ROW) {
    OutgoingSms m;
    m.id = s.columnInt(0);
    m.messageId = s.columnInt(1);
    m.sender = s.columnText(2);
    m.recipient = s.columnText(3);
    m.udh = s.columnBlob(4);
    m.data = s.columnBlob(5);
    m.coding = int(s.columnInt(6));
    m.mclass = int(s.columnInt(7));
    m.key = s.columnText(8);
    m.accepted = s.columnInt(9) != 0;
    m.attempts = int(s.columnInt(10));
    m.nextAttemptMs = s.columnInt(11);
    m.lastError = s.columnText(12);
    m.reportStatus = int(s.columnInt(13));
    m.reportAt = s.columnInt(14);
    out.push_back(std::move(m));
  }
  return out;
}

std::vector<OutgoingSms> SqliteStore::dueSms(int64_t nowMs, int limit) {
  // The longest waiting first, so that one that keeps failing does not hold up the others.
  return smsWhere("accepted = 0 AND next_attempt <= ?1 AND ?2 = ?2", nowMs, 0, limit,
                  "next_attempt, id");
}

std::vector<OutgoingSms> SqliteStore::smsOf(int64_t messageId) {
  return smsWhere("message_id = ?1 AND ?2 = ?2", messageId, 0, 1000);
}

std::vector<OutgoingSms> SqliteStore::allSms() {
  return smsWhere("?1 = ?2", 0, 0, 1 << 30);
}

std::optional<int64_t> SqliteStore::nextSmsAttempt() {
  std::lock_guard lock(mutex_);
  Statement s(db_, "SELECT MIN(next_attempt) FROM gateway_queue WHERE accepted = 0");
  if (s.step() != SQLITE_ROW || s.isNull(0)) return std::nullopt;
  return s.columnInt(0);
}

bool SqliteStore::smsAccepted(int64_t id) {
  std::lock_guard lock(mutex_);
  Statement s(db_,
              "UPDATE gateway_queue SET accepted = 1, attempts = attempts + 1, last_error = ''"
              " WHERE id = ?");
  s.integer(1, id);
  return s.step() == SQLITE_DONE && sqlite3_changes(db_) == 1;
}

bool SqliteStore::smsAcceptedAll(std::span<const int64_t> ids) {
  if (ids.empty()) return true;
  std::lock_guard lock(mutex_);
  if (!exec("BEGIN IMMEDIATE")) return false;
  Statement s(db_,
              "UPDATE gateway_queue SET accepted = 1, attempts = attempts + 1, last_error = ''"
              " WHERE id = ?");
  bool ok = true;
  for (int64_t id : ids) {
    s.reset();
    s.integer(1, id);
    ok = s.step() == SQLITE_DONE && sqlite3_changes(db_) == 1 && ok;
  }
  if (!exec("COMMIT")) {
    exec("ROLLBACK");
    return false;
  }
  return ok;
}

bool SqliteStore::smsRetry(int64_t id, int64_t nextAttemptMs, const std::string& error) {
  std::lock_guard lock(mutex_);
  Statement s(db_,
              "UPDATE gateway_queue SET attempts = attempts + 1, next_attempt = ?, last_error = ?"
              " WHERE id = ?");
  s.integer(1, nextAttemptMs).text(2, error).integer(3, id);
  return s.step() == SQLITE_DONE && sqlite3_changes(db_) == 1;
}

// Reports come in bursts from the gateway's many connections: they share the group commit of
// the uploads, so that one flush records many.
bool SqliteStore::smsReport(int64_t id, const std::string& key, int status, int64_t atSeconds) {
  if (key.empty()) return false;
  bool found = false;
  std::vector<PendingInsert> mine(1);
  mine[0].change = [&] {
    Statement s(db_,
                "UPDATE gateway_queue SET report_status = report_status | ?, report_at = ?"
                " WHERE id = ? AND key = ?");
    s.integer(1, status).integer(2, atSeconds).integer(3, id).text(4, key);
    if (s.step() != SQLITE_DONE) return false;
    found = sqlite3_changes(db_) == 1;
    return true;
  };
  commitTogether(mine);
  return mine[0].id != 0 && found;
}

std::vector<StoredMessage> SqliteStore::messages(std::optional<int64_t> id) {
  std::lock_guard lock(mutex_);
  Statement s(db_,
              id ? "SELECT id, user, received, service_code, content_class, sender, recipients,"
                   " model, content_kind, content_type, attachment_type, texts, short_messages,"
                   " content_size, packet FROM messages WHERE id = ?"
                 : "SELECT id, user, received, service_code, content_class, sender, recipients,"
                   " model, content_kind, content_type, attachment_type, texts, short_messages,"
                   " content_size, packet FROM messages ORDER BY id");
  if (id) s.integer(1, *id);
  std::vector<StoredMessage> out;
  while (s.step() == SQLITE_ROW) {
    StoredMessage m;
    m.id = s.columnInt(0);
    m.user = s.columnText(1);
    m.receivedAt = s.columnInt(2);
    m.serviceCode = s.columnText(3);
    m.contentClass = s.columnText(4);
    m.sender = s.columnText(5);
    m.recipients = unpackList(s.columnBlob(6));
    m.model = s.columnText(7);
    m.contentKind = s.columnText(8);
    m.contentType = s.columnText(9);
    m.attachmentType = int(s.columnInt(10));
    m.texts = unpackList(s.columnBlob(11));
    m.shortMessages = int(s.columnInt(12));
    m.contentSize = s.columnInt(13);
    m.packet = s.columnBlob(14);
    out.push_back(std::move(m));
  }
  return out;
}

std::vector<StoredMessage> SqliteStore::messagesTo(const std::string& phone, int64_t afterId) {
  std::vector<int64_t> ids;
  {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT id, recipients FROM messages WHERE id > ? ORDER BY id");
    s.integer(1, afterId);
    while (s.step() == SQLITE_ROW) {
      auto to = unpackList(s.columnBlob(1));
      if (std::find(to.begin(), to.end(), phone) != to.end()) ids.push_back(s.columnInt(0));
    }
  }
  std::vector<StoredMessage> out;
  for (int64_t id : ids) {
    auto m = messages(id);
    if (!m.empty()) out.push_back(std::move(m[0]));
  }
  return out;
}

std::map<std::string, int64_t> SqliteStore::recipients() {
  std::lock_guard lock(mutex_);
  Statement s(db_, "SELECT id, recipients FROM messages ORDER BY id");
  std::map<std::string, int64_t> out;
  while (s.step() == SQLITE_ROW)
    for (auto& r : unpackList(s.columnBlob(1))) out[r] = s.columnInt(0);
  return out;
}

}  // namespace hv::service
