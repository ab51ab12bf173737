#include "service-server/pg_store.h"

#include <poll.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <iterator>

namespace hv::service {
namespace {

// The schema by version: step n brings a database of version n - 1 to version n. Tickets live
// only as long as an upload takes, so their table is unlogged: writing one costs no WAL flush,
// and a database crash merely forgets the tickets issued before it.
constexpr const char* kSchema[] = {
    "CREATE TABLE accounts (phone bytea PRIMARY KEY, key bytea NOT NULL);"
    "CREATE TABLE messages (id bigserial PRIMARY KEY, user_id bytea NOT NULL,"
    " received bigint NOT NULL, service_code bytea, content_class bytea, sender bytea,"
    " recipients bytea, model bytea, content_kind bytea, content_type bytea,"
    " attachment_type bigint, texts bytea, short_messages bigint, content_size bigint,"
    " packet bytea);"
    "CREATE TABLE gateway_queue (id bigserial PRIMARY KEY, message_id bigint NOT NULL,"
    " sender bytea, recipient bytea, udh bytea, data bytea, coding bigint, mclass bigint,"
    " key bytea, accepted bigint NOT NULL DEFAULT 0, attempts bigint NOT NULL DEFAULT 0,"
    " next_attempt bigint NOT NULL DEFAULT 0, last_error bytea NOT NULL DEFAULT '',"
    " report_status bigint NOT NULL DEFAULT 0, report_at bigint NOT NULL DEFAULT 0);"
    "CREATE INDEX gateway_waiting ON gateway_queue (accepted, next_attempt);"
    "CREATE INDEX gateway_of_message ON gateway_queue (message_id);"
    "CREATE UNLOGGED TABLE tickets (ticket bytea PRIMARY KEY, user_id bytea NOT NULL,"
    " expires timestamptz NOT NULL);"
    "CREATE INDEX tickets_expiry ON tickets (expires);",
};
constexpr int kVersion = int(std::size(kSchema));
// Held by the process that creates or upgrades the schema, so that servers starting together
// on an empty database do not both create it.
constexpr const char* kLockSchema = "SELECT pg_advisory_xact_lock(1752589921)";

std::vector<uint8_t> keyBytes(const std::string& password) {
  auto key = SessionCipher::deriveKey(password);
  return {key.begin(), key.end()};
}

// Loaded from the big-endian binary form of int2, int4, int8 and bool.
int64_t binaryInteger(const char* p, int length) {
  uint64_t v = 0;
  for (int i = 0; i < length; ++i) v = (v << 8) | uint8_t(p[i]);
  if (length > 0 && length < 8 && (uint8_t(p[0]) & 0x80)) v |= ~uint64_t(0) << (8 * length);
  return int64_t(v);
}

void ignoreNotice(void*, const char*) {}

}  // namespace

// A prepared statement's run: parameters and results all in binary form.
class PgStore::Query {
 public:
  Query() = default;
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;
  ~Query() { PQclear(result_); }
  Query& bytes(std::span<const uint8_t> b) {
    values_.emplace_back(reinterpret_cast<const char*>(b.data()), b.size());
    return *this;
  }
  Query& text(const std::string& s) {
    values_.push_back(s);
    return *this;
  }
  Query& integer(int64_t v) {
    std::string b(8, '\0');
    for (int i = 7; i >= 0; --i, v = int64_t(uint64_t(v) >> 8)) b[size_t(i)] = char(v & 0xff);
    values_.push_back(std::move(b));
    return *this;
  }
  // A one-dimensional bigint[] without nulls, in the array's binary form.
  Query& integers(std::span<const int64_t> list) {
    std::string b;
    auto put = [&b](uint64_t v, int bytes) {
      for (int i = bytes - 1; i >= 0; --i) b += char((v >> (8 * i)) & 0xff);
    };
    constexpr uint32_t kInt8Oid = 20;
    put(list.empty() ? 0 : 1, 4);  // dimensions
    put(0, 4);                     // no nulls
    put(kInt8Oid, 4);
    if (!list.empty()) {
      put(list.size(), 4);  // the dimension's length and lower bound
      put(1, 4);
    }
    for (int64_t v : list) {
      put(8, 4);
      put(uint64_t(v), 8);
    }
    values_.push_back(std::move(b));
    return *this;
  }
  // Prepares `sql` on the connection the first time it is run there. False on failure.
  bool run(Connection& c, const char* sql) {
    auto it = c.prepared.find(sql);
    if (it == c.prepared.end()) {
      std::string name = "s" + std::to_string(c.prepared.size());
      PGresult* r = PQprepare(c.pg, name.c_str(), sql, 0, nullptr);
      bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
      PQclear(r);
      if (!ok) return false;
      it = c.prepared.emplace(sql, std::move(name)).first;
    }
    std::vector<const char*> values;
    std::vector<int> lengths, formats(values_.size(), 1);
    for (auto& v : values_) {
      values.push_back(v.data());
      lengths.push_back(int(v.size()));
    }
    PQclear(result_);
    result_ = PQexecPrepared(c.pg, it->second.c_str(), int(values.size()), values.data(),
                             lengths.data(), formats.data(), 1);
    auto status = PQresultStatus(result_);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  }
  int rows() const { return result_ ? PQntuples(result_) : 0; }
  // Rows changed by an INSERT, UPDATE or DELETE.
  int changed() const { return result_ ? std::atoi(PQcmdTuples(result_)) : 0; }
  bool isNull(int row, int col) const { return PQgetisnull(result_, row, col) != 0; }
  std::string text(int row, int col) const {
    return std::string(PQgetvalue(result_, row, col), size_t(PQgetlength(result_, row, col)));
  }
  std::vector<uint8_t> blob(int row, int col) const {
    auto p = reinterpret_cast<const uint8_t*>(PQgetvalue(result_, row, col));
    return std::vector<uint8_t>(p, p + PQgetlength(result_, row, col));
  }
  int64_t integer(int row, int col) const {
    return isNull(row, col)
               ? 0
               : binaryInteger(PQgetvalue(result_, row, col), PQgetlength(result_, row, col));
  }

 private:
  std::vector<std::string> values_;
  PGresult* result_ = nullptr;
};

class PgStore::Lease {
 public:
  explicit Lease(PgStore& store) : store_(store), c_(store.acquire()) {}
  ~Lease() { store_.release(c_); }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  Connection& operator*() { return *c_; }
  Connection* operator->() { return c_; }

 private:
  PgStore& store_;
  Connection* c_;
};

namespace {

// A statement without parameters or results (transaction control, session settings).
bool exec(PGconn* pg, const char* sql) {
  PGresult* r = PQexec(pg, sql);
  auto status = PQresultStatus(r);
  PQclear(r);
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

std::string lastError(PGconn* pg) {
  std::string e = pg ? PQerrorMessage(pg) : "out of memory";
  while (!e.empty() && (e.back() == '\n' || e.back() == ' ')) e.pop_back();
  return e;
}

// Lists of texts in the text batch layout, as in the SQLite file.
std::vector<uint8_t> packList(const std::vector<std::string>& items) {
  return encodeTextBatch(items);
}
std::vector<std::string> unpackList(const std::vector<uint8_t>& blob) {
  return decodeTextBatch(blob).value_or(std::vector<std::string>{});
}

std::span<const uint8_t> asBytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

constexpr const char* kMessageColumns =
    "id, user_id, received, service_code, content_class, sender, recipients, model,"
    " content_kind, content_type, attachment_type, texts, short_messages, content_size, packet";
constexpr const char* kSmsColumns =
    "id, message_id, sender, recipient, udh, data, coding, mclass, key, accepted, attempts,"
    " next_attempt, last_error, report_status, report_at";

}  // namespace

std::unique_ptr<PgStore> PgStore::open(const std::string& conninfo, int connections,
                                       std::string& error) {
  std::unique_ptr<PgStore> store(new PgStore(conninfo));
  for (int i = 0; i < std::max(1, connections); ++i) {
    // Owned by the store first, so that a failed connection is closed with it.
    store->connections_.push_back(std::make_unique<Connection>());
    if (!store->connect(*store->connections_.back(), error)) return nullptr;
    store->idle_.push_back(store->connections_.back().get());
  }
  if (!store->migrate(error)) return nullptr;
  return store;
}

PgStore::~PgStore() {
  for (auto& c : connections_) PQfinish(c->pg);
}

int PgStore::schemaVersion() {
  return kVersion;
}

// Every session commits durably whatever the server's default is: an upload is answered only
// once its row is on disk. A connection attempt gives up after kConnectTimeout unless the
// connection string says otherwise (its keywords override the ones before it), so that a
// database server that does not answer at all holds a call up for a bounded time.
bool PgStore::connect(Connection& c, std::string& error) {
  static constexpr const char* kConnectTimeout = "10";
  if (c.pg) {
    PQreset(c.pg);
    c.prepared.clear();
  } else {
    const char* keywords[] = {"connect_timeout", "dbname", nullptr};
    const char* values[] = {kConnectTimeout, conninfo_.c_str(), nullptr};
    c.pg = PQconnectdbParams(keywords, values, 1);
  }
  if (!c.pg || PQstatus(c.pg) != CONNECTION_OK) {
    error = "cannot connect to PostgreSQL: " + lastError(c.pg);
    return false;
  }
  PQsetNoticeProcessor(c.pg, ignoreNotice, nullptr);
  if (!exec(c.pg, "SET synchronous_commit = on") ||
      !exec(c.pg, "SET client_min_messages = warning")) {
    error = "cannot set up the PostgreSQL session: " + lastError(c.pg);
    return false;
  }
  return true;
}

PgStore::Connection* PgStore::acquire() {
  std::unique_lock lock(poolMutex_);
  poolFree_.wait(lock, [this] { return !idle_.empty(); });
  Connection* c = idle_.back();
  idle_.pop_back();
  lock.unlock();
  revive(*c);
  return c;
}

namespace {

// Whether an idle connection is still up, as far as can be told without a round trip. A server
// that ends (shutdown, restart, crash) sends its last words and closes the socket, which makes
// the idle connection readable: reading it then meets the end and marks the connection broken.
// What else may arrive while idle (notices, parameter changes) is read and set aside.
bool idleConnectionUp(PGconn* pg) {
  for (int i = 0; i < 4 && PQstatus(pg) == CONNECTION_OK; ++i) {
    pollfd p{PQsocket(pg), POLLIN, 0};
    if (p.fd < 0 || ::poll(&p, 1, 0) != 1) break;
    if (!PQconsumeInput(pg)) break;
    PQisBusy(pg);  // parses what arrived
  }
  return PQstatus(pg) == CONNECTION_OK;
}

}  // namespace

// A connection that broke is opened again, once per call; the call fails if that fails too, and
// the next one tries again.
bool PgStore::revive(Connection& c) {
  if (idleConnectionUp(c.pg)) return true;
  std::string ignored;
  return connect(c, ignored);
}

void PgStore::release(Connection* c) {
  // A connection left inside a transaction by a failure is rolled back before its next user.
  if (PQstatus(c->pg) == CONNECTION_OK && PQtransactionStatus(c->pg) != PQTRANS_IDLE)
    exec(c->pg, "ROLLBACK");
  {
    std::lock_guard lock(poolMutex_);
    idle_.push_back(c);
  }
  poolFree_.notify_one();
}

bool PgStore::migrate(std::string& error) {
  Lease c(*this);
  auto failed = [&](const std::string& what) {
    error = what + ": " + lastError(c->pg);
    exec(c->pg, "ROLLBACK");
    return false;
  };
  if (!exec(c->pg, "BEGIN") || !exec(c->pg, kLockSchema) ||
      !exec(c->pg, "CREATE TABLE IF NOT EXISTS schema_version (version bigint NOT NULL)"))
    return failed("cannot read the schema version");
  Query v;
  if (!v.run(*c, "SELECT MAX(version) FROM schema_version"))
    return failed("cannot read the schema version");
  int version = int(v.integer(0, 0));
  if (version > kVersion) {
    exec(c->pg, "ROLLBACK");
    error = "the database has schema version " + std::to_string(version) +
            ", newer than this service's " + std::to_string(kVersion);
    return false;
  }
  for (; version < kVersion; ++version)
    if (!exec(c->pg, kSchema[version]))
      return failed("cannot create schema version " + std::to_string(version + 1));
  Query set;
  set.integer(kVersion);
  if (!exec(c->pg, "DELETE FROM schema_version") ||
      !set.run(*c, "INSERT INTO schema_version (version) VALUES ($1::bigint)") ||
      !exec(c->pg, "COMMIT"))
    return failed("cannot record the schema version");
  return true;
}

int PgStore::databaseSchemaVersion() {
  Lease c(*this);
  Query v;
  if (!v.run(*c, "SELECT MAX(version) FROM schema_version") || v.rows() != 1) return -1;
  return int(v.integer(0, 0));
}

bool PgStore::addAccount(const std::string& phone, const std::string& password) {
  Lease c(*this);
  Query q;
  q.text(phone).bytes(keyBytes(password));
  return q.run(*c,
               "INSERT INTO accounts (phone, key) VALUES ($1::bytea, $2::bytea)"
               " ON CONFLICT DO NOTHING") &&
         q.changed() == 1;
}

bool PgStore::removeAccount(const std::string& phone) {
  Lease c(*this);
  Query q;
  q.text(phone);
  return q.run(*c, "DELETE FROM accounts WHERE phone = $1::bytea") && q.changed() == 1;
}

bool PgStore::setPassword(const std::string& phone, const std::string& password) {
  Lease c(*this);
  Query q;
  q.bytes(keyBytes(password)).text(phone);
  return q.run(*c, "UPDATE accounts SET key = $1::bytea WHERE phone = $2::bytea") &&
         q.changed() == 1;
}

std::vector<std::string> PgStore::accounts() {
  Lease c(*this);
  Query q;
  std::vector<std::string> out;
  if (!q.run(*c, "SELECT phone FROM accounts ORDER BY phone")) return out;
  for (int i = 0; i < q.rows(); ++i) out.push_back(q.text(i, 0));
  return out;
}

std::optional<SessionCipher::Key> PgStore::accountKey(const std::string& phone) {
  Lease c(*this);
  Query q;
  q.text(phone);
  if (!q.run(*c, "SELECT key FROM accounts WHERE phone = $1::bytea") || q.rows() != 1)
    return std::nullopt;
  auto blob = q.blob(0, 0);
  if (blob.size() != 8) return std::nullopt;
  SessionCipher::Key key;
  std::copy(blob.begin(), blob.end(), key.begin());
  return key;
}

// The whole batch in one transaction, committed durably. When one upload's statements fail the
// transaction is void, and each upload is then tried again in a transaction of its own, so that
// it fails alone; a failed or interrupted COMMIT fails the whole batch (its outcome may be
// unknown, and trying again could store the uploads twice).
void PgStore::commitBatch(std::vector<PendingInsert*>& batch) {
  Lease c(*this);
  const int64_t now = int64_t(std::time(nullptr));
  if (insertBatch(*c, batch, now) || batch.size() == 1 || PQstatus(c->pg) != CONNECTION_OK) return;
  for (auto* p : batch) {
    std::vector<PendingInsert*> one = {p};
    insertBatch(*c, one, now);
  }
}

bool PgStore::insertBatch(Connection& c, std::vector<PendingInsert*>& batch, int64_t now) {
  for (auto* p : batch) p->id = 0;
  if (!exec(c.pg, "BEGIN")) return false;
  std::vector<int64_t> ids;
  for (auto* p : batch) {
    const auto& d = *p->decoded;
    Query s;
    s.text(*p->user)
        .integer(now)
        .text(d.serviceCode)
        .text(d.contentClass)
        .text(d.sender)
        .bytes(packList(d.recipients))
        .text(d.model)
        .text(d.contentKind)
        .text(d.contentType)
        .integer(d.attachmentType)
        .bytes(packList(d.texts))
        .integer(int64_t(d.shortMessages.size()))
        .integer(int64_t(d.content.size()))
        .bytes(p->packet);
    if (!s.run(c,
               "INSERT INTO messages (user_id, received, service_code, content_class, sender,"
               " recipients, model, content_kind, content_type, attachment_type, texts,"
               " short_messages, content_size, packet) VALUES ($1::bytea, $2::bigint,"
               " $3::bytea, $4::bytea, $5::bytea, $6::bytea, $7::bytea, $8::bytea, $9::bytea,"
               " $10::bigint, $11::bytea, $12::bigint, $13::bigint, $14::bytea) RETURNING id") ||
        s.rows() != 1) {
      exec(c.pg, "ROLLBACK");
      return false;
    }
    const int64_t id = s.integer(0, 0);
    for (auto& m : p->sms) {
      m.messageId = id;
      Query q;
      q.integer(id)
          .text(m.sender)
          .text(m.recipient)
          .bytes(m.udh)
          .bytes(m.data)
          .integer(m.coding)
          .integer(m.mclass)
          .text(m.key);
      if (!q.run(c,
                 "INSERT INTO gateway_queue (message_id, sender, recipient, udh, data, coding,"
                 " mclass, key) VALUES ($1::bigint, $2::bytea, $3::bytea, $4::bytea, $5::bytea,"
                 " $6::bigint, $7::bigint, $8::bytea)")) {
        exec(c.pg, "ROLLBACK");
        return false;
      }
    }
    ids.push_back(id);
  }
  if (!exec(c.pg, "COMMIT")) return false;
  for (size_t i = 0; i < batch.size(); ++i) batch[i]->id = ids[i];
  return true;
}

std::vector<OutgoingSms> PgStore::smsQuery(const char* sql, const std::vector<int64_t>& args) {
  Lease c(*this);
  Query q;
  for (int64_t a : args) q.integer(a);
  std::vector<OutgoingSms> out;
  if (!q.run(*c, sql)) return out;
  for (int i = 0; i < q.rows(); ++i) {
    OutgoingSms m;
    m.id = q.integer(i, 0);
    m.messageId = q.integer(i, 1);
    m.sender = q.text(i, 2);
    m.recipient = q.text(i, 3);
    m.udh = q.blob(i, 4);
    m.data = q.blob(i, 5);
    m.coding = int(q.integer(i, 6));
    m.mclass = int(q.integer(i, 7));
    m.key = q.text(i, 8);
    m.accepted = q.integer(i, 9) != 0;
    m.attempts = int(q.integer(i, 10));
    m.nextAttemptMs = q.integer(i, 11);
    m.lastError = q.text(i, 12);
    m.reportStatus = int(q.integer(i, 13));
    m.reportAt = q.integer(i, 14);
    out.push_back(std::move(m));
  }
  return out;
}

// Due short messages are claimed: their next attempt moves kClaimMs ahead, so that the gateway
// worker of another process passes them over while this one sends them; rows that another
// worker is claiming at this moment are skipped rather than waited for. The next attempt shown
// is the one that made them due, and claimedUntilMs the one the claim set.
std::vector<OutgoingSms> PgStore::dueSms(int64_t nowMs, int limit) {
  auto due = smsQuery(
      "WITH due AS (SELECT id, next_attempt AS was FROM gateway_queue"
      " WHERE accepted = 0 AND next_attempt <= $1::bigint ORDER BY next_attempt, id"
      " LIMIT $2::bigint FOR UPDATE SKIP LOCKED),"
      " claimed AS (UPDATE gateway_queue g SET next_attempt = $3::bigint FROM due"
      " WHERE g.id = due.id RETURNING g.id, g.message_id, g.sender, g.recipient, g.udh, g.data,"
      " g.coding, g.mclass, g.key, g.accepted, g.attempts, due.was, g.last_error,"
      " g.report_status, g.report_at)"
      " SELECT * FROM claimed ORDER BY was, id",
      {nowMs, limit, nowMs + kClaimMs});
  for (auto& m : due) m.claimedUntilMs = nowMs + kClaimMs;
  return due;
}

// Only rows still under this claim go back: one whose claim lapsed may be another worker's now.
bool PgStore::releaseSms(std::span<const OutgoingSms> untried) {
  std::vector<int64_t> ids, was, claims;
  for (const auto& m : untried) {
    if (m.claimedUntilMs == 0) continue;
    ids.push_back(m.id);
    was.push_back(m.nextAttemptMs);
    claims.push_back(m.claimedUntilMs);
  }
  if (ids.empty()) return true;
  Lease c(*this);
  Query q;
  q.integers(ids).integers(was).integers(claims);
  return q.run(*c,
               "UPDATE gateway_queue g SET next_attempt = u.was"
               " FROM unnest($1::bigint[], $2::bigint[], $3::bigint[]) AS u(id, was, claim)"
               " WHERE g.id = u.id AND g.accepted = 0 AND g.next_attempt = u.claim");
}

std::vector<OutgoingSms> PgStore::smsOf(int64_t messageId) {
  static const std::string sql = std::string("SELECT ") + kSmsColumns +
                                 " FROM gateway_queue WHERE message_id = $1::bigint"
                                 " ORDER BY id LIMIT 1000";
  return smsQuery(sql.c_str(), {messageId});
}

std::vector<OutgoingSms> PgStore::allSms() {
  static const std::string sql =
      std::string("SELECT ") + kSmsColumns + " FROM gateway_queue ORDER BY id";
  return smsQuery(sql.c_str(), {});
}

std::optional<int64_t> PgStore::nextSmsAttempt() {
  Lease c(*this);
  Query q;
  if (!q.run(*c, "SELECT MIN(next_attempt) FROM gateway_queue WHERE accepted = 0") ||
      q.rows() != 1 || q.isNull(0, 0))
    return std::nullopt;
  return q.integer(0, 0);
}

bool PgStore::smsAccepted(int64_t id) {
  Lease c(*this);
  Query q;
  q.integer(id);
  return q.run(*c,
               "UPDATE gateway_queue SET accepted = 1, attempts = attempts + 1, last_error = ''"
               " WHERE id = $1::bigint") &&
         q.changed() == 1;
}

bool PgStore::smsRetry(int64_t id, int64_t nextAttemptMs, const std::string& error) {
  Lease c(*this);
  Query q;
  q.integer(nextAttemptMs).text(error).integer(id);
  return q.run(*c,
               "UPDATE gateway_queue SET attempts = attempts + 1, next_attempt = $1::bigint,"
               " last_error = $2::bytea WHERE id = $3::bigint") &&
         q.changed() == 1;
}

bool PgStore::smsReport(int64_t id, const std::string& key, int status, int64_t atSeconds) {
  if (key.empty()) return false;
  Lease c(*this);
  Query q;
  q.integer(status).integer(atSeconds).integer(id).text(key);
  return q.run(*c,
               "UPDATE gateway_queue SET report_status = report_status | $1::bigint,"
               " report_at = $2::bigint WHERE id = $3::bigint AND key = $4::bytea") &&
         q.changed() == 1;
}

namespace {

// The rows of a query over kMessageColumns.
std::vector<StoredMessage> storedMessages(const PgStore::Query& q) {
  std::vector<StoredMessage> out;
  for (int i = 0; i < q.rows(); ++i) {
    StoredMessage m;
    m.id = q.integer(i, 0);
    m.user = q.text(i, 1);
    m.receivedAt = q.integer(i, 2);
    m.serviceCode = q.text(i, 3);
    m.contentClass = q.text(i, 4);
    m.sender = q.text(i, 5);
    m.recipients = unpackList(q.blob(i, 6));
    m.model = q.text(i, 7);
    m.contentKind = q.text(i, 8);
    m.contentType = q.text(i, 9);
    m.attachmentType = int(q.integer(i, 10));
    m.texts = unpackList(q.blob(i, 11));
    m.shortMessages = int(q.integer(i, 12));
    m.contentSize = q.integer(i, 13);
    m.packet = q.blob(i, 14);
    out.push_back(std::move(m));
  }
  return out;
}

}  // namespace

std::vector<StoredMessage> PgStore::messages(std::optional<int64_t> id) {
  static const std::string one =
      std::string("SELECT ") + kMessageColumns + " FROM messages WHERE id = $1::bigint";
  static const std::string all =
      std::string("SELECT ") + kMessageColumns + " FROM messages ORDER BY id";
  Lease c(*this);
  Query q;
  if (id) q.integer(*id);
  if (!q.run(*c, id ? one.c_str() : all.c_str())) return {};
  return storedMessages(q);
}

// The recipients are a packed list (each number followed by a NUL): the database picks the
// messages whose list holds the number's bytes, and the match is made exact here.
std::vector<StoredMessage> PgStore::messagesTo(const std::string& phone, int64_t afterId) {
  static const std::string after = std::string("SELECT ") + kMessageColumns +
                                   " FROM messages WHERE id > $1::bigint"
                                   " AND position($2::bytea IN recipients) > 0 ORDER BY id";
  std::vector<StoredMessage> all;
  {
    Lease c(*this);
    Query q;
    q.integer(afterId).bytes(asBytes(phone + '\0'));
    if (!q.run(*c, after.c_str())) return {};
    all = storedMessages(q);
  }
  std::vector<StoredMessage> out;
  for (auto& m : all)
    if (std::find(m.recipients.begin(), m.recipients.end(), phone) != m.recipients.end())
      out.push_back(std::move(m));
  return out;
}

std::map<std::string, int64_t> PgStore::recipients() {
  Lease c(*this);
  Query q;
  std::map<std::string, int64_t> out;
  if (!q.run(*c, "SELECT id, recipients FROM messages ORDER BY id")) return out;
  for (int i = 0; i < q.rows(); ++i)
    for (auto& r : unpackList(q.blob(i, 1))) out[r] = q.integer(i, 0);
  return out;
}

bool PgStore::putTicket(const std::string& ticket, const std::string& user, int lifetimeSeconds) {
  Lease c(*this);
  // Expired tickets are swept now and then (an index on the deadline keeps it short).
  if (ticketsPut_.fetch_add(1) % 256 == 0)
    exec(c->pg, "DELETE FROM tickets WHERE expires <= clock_timestamp()");
  Query q;
  q.bytes(asBytes(ticket)).text(user).integer(lifetimeSeconds);
  return q.run(*c,
               "INSERT INTO tickets (ticket, user_id, expires) VALUES ($1::bytea, $2::bytea,"
               " clock_timestamp() + $3::bigint * interval '1 second') ON CONFLICT (ticket)"
               " DO UPDATE SET user_id = EXCLUDED.user_id, expires = EXCLUDED.expires");
}

std::optional<std::string> PgStore::takeTicket(const std::string& ticket) {
  Lease c(*this);
  Query q;
  q.bytes(asBytes(ticket));
  if (!q.run(*c,
             "DELETE FROM tickets WHERE ticket = $1::bytea"
             " RETURNING user_id, expires > clock_timestamp()") ||
      q.rows() != 1 || q.integer(0, 1) == 0)
    return std::nullopt;
  return q.text(0, 0);
}

// Expired rows that the sweep in putTicket has not reached yet are not counted.
std::optional<size_t> PgStore::liveTickets() {
  Lease c(*this);
  Query q;
  if (!q.run(*c, "SELECT count(*) FROM tickets WHERE expires > clock_timestamp()") || q.rows() != 1)
    return std::nullopt;
  return size_t(q.integer(0, 0));
}

}  // namespace hv::service
