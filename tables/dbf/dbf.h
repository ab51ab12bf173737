#pragma once
// The table layer: SQL statements over the dBase III tables of one folder. A Database runs SQLite
// on an in-memory database in which every table file of the folder ("FRIENDS" is FRIENDS.DBF,
// found without regard to case) appears as a virtual table once a statement names it. Reads come
// straight from the file; every change is in the file, header updated and flushed, before the
// statement returns. Field values are read as text: character fields lose their trailing blanks,
// numeric fields come back as numbers.
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "include/handvane/export.h"

namespace hv::dbf {

enum class Errc {
  BadConnectionString,  // not a "Driver=HandvaneDBF;DBQ=<dir>/" text
  NoDirectory,          // the folder does not exist
  NoTable,              // no table file of that name in the folder
  Damaged,              // the file is not a readable dBase table
  Unsupported,          // a field type or version this layer does not handle
  BadValue,             // a value that does not fit its field (a number too wide, not a number)
  Io,                   // reading or writing the file failed
  Locked,               // another writer held the file too long
  Sql,                  // the statement itself is wrong
};
HV_EXPORT const char* errcText(Errc code);

class HV_EXPORT Error : public std::runtime_error {
 public:
  Error(Errc code, const std::string& detail);
  Errc code() const { return code_; }

 private:
  Errc code_;
};

class Recordset;

class HV_EXPORT Database {
 public:
  // Throws Error (BadConnectionString, NoDirectory).
  explicit Database(std::string_view connectionString);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  const std::string& directory() const { return directory_; }
  // Runs one statement that returns no rows. Throws Error.
  void execute(std::string_view sql);
  // Runs one query; its rows are read forward only. Throws Error.
  Recordset query(std::string_view sql);

  // The typed error a table reported during the current statement, if any (used by the
  // virtual-table module).
  struct Pending;
  Pending& pending() { return *pending_; }

 private:
  friend class Recordset;
  sqlite3_stmt* prepare(std::string_view sql);
  void attachTable(const std::string& name);
  [[noreturn]] void fail(int rc, std::string_view context);

  std::string directory_;
  sqlite3* db_ = nullptr;
  std::unique_ptr<Pending> pending_;
};

class HV_EXPORT Recordset {
 public:
  Recordset(Recordset&& other) noexcept;
  Recordset& operator=(Recordset&&) = delete;
  ~Recordset();

  // Moves to the next row; false after the last. Throws Error.
  bool next();
  int columnCount() const;
  // The current row's value of a column as text ("" for a null value).
  std::string text(int column) const;

 private:
  friend class Database;
  Recordset(Database& db, sqlite3_stmt* stmt) : db_(&db), stmt_(stmt) {}
  Database* db_;
  sqlite3_stmt* stmt_;
};

// The directory named by a connection string; throws Error(BadConnectionString).
HV_EXPORT std::string directoryOf(std::string_view connectionString);

// A text as an SQL string literal: in single quotes, each quote doubled ("O'Brien" ->
// 'O''Brien'); text after a NUL byte is dropped.
HV_EXPORT std::string quote(std::string_view text);
// A value for a numeric column: a plain decimal number as it is, anything else as a quoted text
// (which the numeric field then refuses), so that no value can change a statement's meaning.
HV_EXPORT std::string numberLiteral(std::string_view text);

}  // namespace hv::dbf
