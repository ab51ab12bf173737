#include "tables/dbf/module.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "tables/dbf/format.h"
#include "tables/dbf/writer.h"

namespace hv::dbf {
namespace {

// One table file as the statements of one database see it. The header is read when the table is
// first named; the records when a statement first reads them.
struct Table {
  std::string path;
  std::string name;
  Header header;
  // The file as read; its records (recordCount of them, deletion flag first) start at
  // header.headerLength. Not zero-filled before reading: tables are read often and whole.
  std::unique_ptr<uint8_t[]> file;
  bool loaded = false;

  void open() {
    auto bytes = readHead();
    header = parseHeader(bytes.first, bytes.second, name);
  }

  void load() {
    int fd = hv::fs::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Error(Errc::Io, "table " + name + ": cannot be read");
    struct stat st {};
    size_t size = 0;
    bool ok = fstat(fd, &st) == 0;
    std::unique_ptr<uint8_t[]> all;
    if (ok) {
      size = size_t(st.st_size);
      all.reset(new uint8_t[std::max<size_t>(size, 1)]);
      size_t done = 0;
      while (ok && done < size) {
        ssize_t n = pread(fd, all.get() + done, size - done, off_t(done));
        ok = n > 0;
        if (ok) done += size_t(n);
      }
    }
    ::close(fd);
    if (!ok) throw Error(Errc::Io, "table " + name + ": cannot be read");
    Header now = parseHeader({all.get(), size}, size, name);
    if (now.recordLength != header.recordLength || now.headerLength != header.headerLength ||
        now.fields.size() != header.fields.size()) {
      throw Error(Errc::Damaged, "table " + name + ": its layout changed while it was open");
    }
    header.recordCount = now.recordCount;
    file = std::move(all);
    loaded = true;
  }

  uint8_t* recordAt(size_t i) const {
    return file.get() + header.headerLength + i * header.recordLength;
  }
  std::span<const uint8_t> record(size_t i) const { return {recordAt(i), header.recordLength}; }
  // As dBase readers do, only records marked ' ' are live; '*' and any other mark are not.
  bool active(size_t i) const { return *recordAt(i) == uint8_t(kActive); }

 private:
  std::pair<std::vector<uint8_t>, uint64_t> readHead() {
    int fd = hv::fs::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Error(Errc::NoTable, "table " + name + ": cannot be opened");
    struct stat st {};
    std::vector<uint8_t> head(kFileHeaderSize);
    ssize_t n = fstat(fd, &st) == 0 ? pread(fd, head.data(), head.size(), 0) : -1;
    if (n == ssize_t(kFileHeaderSize)) {
      size_t len = size_t(head[8] | (head[9] << 8));
      head.resize(std::max(len, kFileHeaderSize));
      n = pread(fd, head.data(), head.size(), 0);
    }
    ::close(fd);
    if (n < 0) throw Error(Errc::Io, "table " + name + ": cannot be read");
    head.resize(size_t(n));
    return {std::move(head), uint64_t(st.st_size)};
  }
};

struct VTab : sqlite3_vtab {
  Database::Pending* pending = nullptr;
  Table table;
  std::unique_ptr<Writer> writer;
};

struct Cursor : sqlite3_vtab_cursor {
  size_t index = 0;
};

VTab* vtabOf(sqlite3_vtab* v) {
  return static_cast<VTab*>(v);
}
VTab* vtabOf(sqlite3_vtab_cursor* c) {
  return static_cast<VTab*>(c->pVtab);
}

int report(sqlite3_vtab* v, const Error& e) {
  VTab* t = vtabOf(v);
  t->pending->error = e;
  sqlite3_free(v->zErrMsg);
  v->zErrMsg = sqlite3_mprintf("%s", e.what());
  return SQLITE_ERROR;
}

std::string unquote(std::string_view s) {
  if (s.size() < 2 || s.front() != '\'' || s.back() != '\'') return std::string(s);
  std::string out;
  for (size_t i = 1; i + 1 < s.size(); ++i) {
    out += s[i];
    if (s[i] == '\'' && s[i + 1] == '\'') ++i;
  }
  return out;
}

int xConnect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out,
             char** err) {
  if (argc != 4) {
    *err = sqlite3_mprintf("hvdbf takes the path of one table file");
    return SQLITE_ERROR;
  }
  auto vt = std::make_unique<VTab>();
  vt->pending = static_cast<Database::Pending*>(aux);
  vt->table.name = argv[2];
  vt->table.path = unquote(argv[3]);
  try {
    vt->table.open();
  } catch (const Error& e) {
    vt->pending->error = e;
    *err = sqlite3_mprintf("%s", e.what());
    return SQLITE_ERROR;
  }
  std::string schema = "CREATE TABLE x(";
  for (size_t i = 0; i < vt->table.header.fields.size(); ++i) {
    const Field& f = vt->table.header.fields[i];
    if (i) schema += ',';
    schema += '"' + f.name + "\" " + ((f.type == 'N' || f.type == 'F') ? "NUMERIC" : "TEXT");
  }
  schema += ')';
  int rc = sqlite3_declare_vtab(db, schema.c_str());
  if (rc != SQLITE_OK) return rc;
  *out = vt.release();
  return SQLITE_OK;
}

int xDisconnect(sqlite3_vtab* v) {
  delete vtabOf(v);
  return SQLITE_OK;
}

int xBestIndex(sqlite3_vtab* v, sqlite3_index_info* info) {
  info->estimatedCost = double(vtabOf(v)->table.header.recordCount) + 1;
  info->estimatedRows = vtabOf(v)->table.header.recordCount;
  return SQLITE_OK;
}

int xOpen(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
  *out = new Cursor;
  return SQLITE_OK;
}

int xClose(sqlite3_vtab_cursor* c) {
  delete static_cast<Cursor*>(c);
  return SQLITE_OK;
}

void skipDeleted(Cursor* c) {
  const Table& t = vtabOf(c)->table;
  while (c->index < t.header.recordCount && !t.active(c->index)) ++c->index;
}

int xFilter(sqlite3_vtab_cursor* c, int, const char*, int, sqlite3_value**) {
  VTab* vt = vtabOf(c);
  if (!vt->table.loaded) {
    try {
      vt->table.load();
    } catch (const Error& e) {
      return report(vt, e);
    }
  }
  auto* cur = static_cast<Cursor*>(c);
  cur->index = 0;
  skipDeleted(cur);
  return SQLITE_OK;
}

int xNext(sqlite3_vtab_cursor* c) {
  auto* cur = static_cast<Cursor*>(c);
  ++cur->index;
  skipDeleted(cur);
  return SQLITE_OK;
}

int xEof(sqlite3_vtab_cursor* c) {
  return static_cast<Cursor*>(c)->index >= vtabOf(c)->table.header.recordCount;
}

int xColumn(sqlite3_vtab_cursor* c, sqlite3_context* ctx, int column) {
  const Table& t = vtabOf(c)->table;
  Value v = decodeField(t.header.fields[size_t(column)], t.record(static_cast<Cursor*>(c)->index));
  switch (v.kind) {
    case Value::Kind::Null:
      sqlite3_result_null(ctx);
      break;
    case Value::Kind::Integer:
      sqlite3_result_int64(ctx, v.integer);
      break;
    case Value::Kind::Real:
      sqlite3_result_double(ctx, v.real);
      break;
    case Value::Kind::Text:
      sqlite3_result_text(ctx, v.text.data(), int(v.text.size()), SQLITE_TRANSIENT);
      break;
  }
  return SQLITE_OK;
}

int xRowid(sqlite3_vtab_cursor* c, sqlite3_int64* rowid) {
  *rowid = sqlite3_int64(static_cast<Cursor*>(c)->index);
  return SQLITE_OK;
}

Value valueOf(const Field& f, sqlite3_value* v) {
  Value out;
  int type = sqlite3_value_type(v);
  if (type == SQLITE_NULL) return out;
  if (f.type == 'C' || type == SQLITE_TEXT || type == SQLITE_BLOB) {
    out.kind = Value::Kind::Text;
    const auto* p = sqlite3_value_text(v);
    out.text.assign(reinterpret_cast<const char*>(p), size_t(sqlite3_value_bytes(v)));
  } else if (type == SQLITE_INTEGER) {
    out.kind = Value::Kind::Integer;
    out.integer = sqlite3_value_int64(v);
  } else {
    out.kind = Value::Kind::Real;
    out.real = sqlite3_value_double(v);
  }
  return out;
}

std::string buildRecord(const Header& h, sqlite3_value** values) {
  std::string record(1, kActive);
  for (size_t i = 0; i < h.fields.size(); ++i)
    record += encodeField(h.fields[i], valueOf(h.fields[i], values[i]));
  return record;
}

int xUpdate(sqlite3_vtab* v, int argc, sqlite3_value** argv, sqlite3_int64* rowid) {
  VTab* vt = vtabOf(v);
  Table& t = vt->table;
  try {
    if (!vt->writer) vt->writer = std::make_unique<Writer>(t.path, t.header);
    Writer& w = *vt->writer;
    if (argc == 1) {
      auto index = sqlite3_value_int64(argv[0]);
      w.markDeleted(int(index));
      if (t.loaded && uint64_t(index) < t.header.recordCount)
        *t.recordAt(size_t(index)) = uint8_t(kDeleted);
    } else if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
      if (size_t(argc - 2) != t.header.fields.size()) throw Error(Errc::Sql, "wrong column count");
      std::string record = buildRecord(t.header, argv + 2);
      int index = w.recordCount();
      w.putRecord(index, record);
      t.loaded = false;  // read again, with the new record, when a statement reads the table
      *rowid = index;
    } else {
      auto index = sqlite3_value_int64(argv[0]);
      if (sqlite3_value_int64(argv[1]) != index)
        throw Error(Errc::Sql, "a row's position cannot change");
      std::string record = buildRecord(t.header, argv + 2);
      w.putRecord(int(index), record);
      if (t.loaded && uint64_t(index) < t.header.recordCount)
        std::copy(record.begin(), record.end(), t.recordAt(size_t(index)));
    }
    w.flush();
  } catch (const Error& e) {
    return report(v, e);
  }
  return SQLITE_OK;
}

int xBegin(sqlite3_vtab*) {
  return SQLITE_OK;
}

int xSync(sqlite3_vtab* v) {
  VTab* vt = vtabOf(v);
  if (!vt->writer) return SQLITE_OK;
  try {
    vt->writer->sync();
  } catch (const Error& e) {
    return report(v, e);
  }
  return SQLITE_OK;
}

int xEnd(sqlite3_vtab* v) {
  vtabOf(v)->writer.reset();  // closes the file and gives up its lock
  return SQLITE_OK;
}

const sqlite3_module kModule = {
    /* iVersion */ 1,
    /* xCreate */ xConnect,
    /* xConnect */ xConnect,
    xBestIndex,
    xDisconnect,
    /* xDestroy */ xDisconnect,
    xOpen,
    xClose,
    xFilter,
    xNext,
    xEof,
    xColumn,
    xRowid,
    xUpdate,
    xBegin,
    xSync,
    /* xCommit */ xEnd,
    /* xRollback */ xEnd,
    /* xFindFunction */ nullptr,
    /* xRename */ nullptr,
    /* xSavepoint */ nullptr,
    /* xRelease */ nullptr,
    /* xRollbackTo */ nullptr,
    /* xShadowName */ nullptr,
};

}  // namespace

const sqlite3_module& tableModule() {
  return kModule;
}

}  // namespace hv::dbf
