#include <cctype>
#include <string>

#include "platform/fs.h"
#include "tables/dbf/dbf.h"
#include "tables/dbf/module.h"

namespace hv::dbf {
namespace {

constexpr std::string_view kDriver = "HandvaneDBF";
constexpr std::string_view kNoSuchTable = "no such table: ";
// A statement names only a few tables; each attach makes one more name known.
constexpr int kMaxTablesPerStatement = 16;

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool validTableName(std::string_view name) {
  if (name.empty() || name.size() > 32) return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

// Statements may read and change the folder's tables, nothing else: no other database files.
int authorize(void*, int action, const char*, const char*, const char*, const char*) {
  return (action == SQLITE_ATTACH || action == SQLITE_DETACH) ? SQLITE_DENY : SQLITE_OK;
}

}  // namespace

const char* errcText(Errc code) {
  switch (code) {
    case Errc::BadConnectionString:
      return "not a table connection string";
    case Errc::NoDirectory:
      return "the table folder does not exist";
    case Errc::NoTable:
      return "no such table";
    case Errc::Damaged:
      return "the table file is damaged";
    case Errc::Unsupported:
      return "the table file uses something this driver does not support";
    case Errc::BadValue:
      return "a value does not fit its field";
    case Errc::Io:
      return "the table file could not be read or written";
    case Errc::Locked:
      return "the table file is locked by another program";
    case Errc::Sql:
      return "the statement is not valid";
  }
  return "unknown error";
}

Error::Error(Errc code, const std::string& detail)
    : std::runtime_error(detail.empty() ? std::string(errcText(code)) : detail), code_(code) {}

std::string directoryOf(std::string_view connectionString) {
  std::string driver, dir;
  bool haveDir = false;
  std::string_view rest = connectionString;
  while (!rest.empty()) {
    size_t semi = rest.find(';');
    std::string_view part = rest.substr(0, semi);
    rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
    size_t eq = part.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = trim(part.substr(0, eq)), value = trim(part.substr(eq + 1));
    if (equalsNoCase(key, "Driver")) driver = value;
    if (equalsNoCase(key, "DBQ")) {
      dir = value;
      haveDir = true;
    }
  }
  if (!equalsNoCase(driver, kDriver) || !haveDir || dir.empty()) {
    throw Error(Errc::BadConnectionString, "not a " + std::string(kDriver) + " connection string");
  }
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::string quote(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::string numberLiteral(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  size_t digits = 0, points = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9')
      ++digits;
    else if (c == '.')
      ++points;
    else if (!(i == 0 && c == '-'))
      return quote(text);
  }
  if (digits == 0 || points > 1) return quote(text);
  return std::string(text);
}

Database::Database(std::string_view connectionString)
    : directory_(directoryOf(connectionString)), pending_(std::make_unique<Pending>()) {
  // Shipped folders are found whatever the case of their names ("Data" is "DATA").
  if (auto found = hv::fs::resolveNoCase(directory_)) {
    directory_ = *found;
    if (directory_.back() != '/') directory_ += '/';
  }
  if (!hv::fs::isDirectory(directory_)) {
    throw Error(Errc::NoDirectory, "the table folder " + directory_ + " does not exist");
  }
  if (sqlite3_open_v2(":memory:", &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK ||
      sqlite3_create_module_v2(db_, "hvdbf", &tableModule(), pending_.get(), nullptr) !=
          SQLITE_OK) {
    std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw Error(Errc::Io, "cannot start the table engine: " + why);
  }
  sqlite3_set_authorizer(db_, authorize, nullptr);
}

Database::~Database() {
  sqlite3_close_v2(db_);
}

void Database::fail(int rc, std::string_view context) {
  if (pending_->error) {
    Error e = *pending_->error;
    pending_->error.reset();
    throw e;
  }
  throw Error(Errc::Sql,
              std::string(context) + ": " + sqlite3_errmsg(db_) + " (" + std::to_string(rc) + ")");
}

void Database::attachTable(const std::string& name) {
  if (!validTableName(name)) throw Error(Errc::NoTable, "no table named " + name);
  auto path = hv::fs::resolveNoCase(directory_ + name + ".DBF");
  if (!path)
    throw Error(Errc::NoTable, "table " + name + ": no file " + name + ".DBF in " + directory_);
  std::string sql = "CREATE VIRTUAL TABLE temp.\"" + name + "\" USING hvdbf(" + quote(*path) + ")";
  pending_->error.reset();
  int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc, "table " + name);
}

sqlite3_stmt* Database::prepare(std::string_view sql) {
  pending_->error.reset();
  for (int attempt = 0; attempt <= kMaxTablesPerStatement; ++attempt) {
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.data(), int(sql.size()), &stmt, &tail);
    if (rc == SQLITE_OK) {
      if (!stmt) throw Error(Errc::Sql, "the statement is empty");
      if (!trim(std::string_view(tail, size_t(sql.data() + sql.size() - tail))).empty()) {
        sqlite3_finalize(stmt);
        throw Error(Errc::Sql, "only one statement at a time");
      }
      return stmt;
    }
    std::string msg = sqlite3_errmsg(db_);
    if (msg.rfind(kNoSuchTable, 0) != 0) fail(rc, "statement");
    attachTable(msg.substr(kNoSuchTable.size()));
  }
  throw Error(Errc::Sql, "the statement names too many tables");
}

void Database::execute(std::string_view sql) {
  sqlite3_stmt* stmt = prepare(sql);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) {
    sqlite3_finalize(stmt);
    fail(rc, "statement");
  }
  sqlite3_finalize(stmt);
}

Recordset Database::query(std::string_view sql) {
  return Recordset(*this, prepare(sql));
}

Recordset::Recordset(Recordset&& other) noexcept : db_(other.db_), stmt_(other.stmt_) {
  other.stmt_ = nullptr;
}

Recordset::~Recordset() {
  sqlite3_finalize(stmt_);
}

bool Recordset::next() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  db_->fail(rc, "query");
}

int Recordset::columnCount() const {
  return sqlite3_column_count(stmt_);
}

std::string Recordset::text(int column) const {
  const auto* p = sqlite3_column_text(stmt_, column);
  if (!p) return {};
  return std::string(reinterpret_cast<const char*>(p), size_t(sqlite3_column_bytes(stmt_, column)));
}

}  // namespace hv::dbf
