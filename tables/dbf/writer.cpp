#include "tables/dbf/writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

#include "platform/fs.h"

namespace hv::dbf {

// What the hooks keep per open file. shapelib hands it back as its SAFile.
struct HookFile {
  int fd = -1;
  bool failed = false;
  std::string error;
  Header header;  // as checked when the file was opened for changing
};

namespace {

constexpr auto kLockWait = std::chrono::milliseconds(5000);

// shapelib derives the names it opens from the one it is given (adding ".dbf" or ".DBF", and
// looking for a ".cpg" beside it). The hooks open the table file they were set up for instead,
// so names keep the spelling found on disk.
thread_local const std::string* tTarget = nullptr;
thread_local bool tCheckHeader = false;
// Why the last open or create through the hooks failed: the kind and the text, set where the
// failure is seen, so that the kind is never guessed from the text.
struct HookFailure {
  Errc code = Errc::Damaged;
  std::string text;
  void set(Errc c, std::string t) {
    code = c;
    text = std::move(t);
  }
  void clear() {
    code = Errc::Damaged;
    text.clear();
  }
};
thread_local HookFailure tError;

void noteError(HookFile* f, const std::string& what) {
  if (!f->failed) {
    f->failed = true;
    f->error = what + ": " + std::strerror(errno);
  }
}

bool endsWithNoCase(std::string_view s, std::string_view tail) {
  if (s.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    char a = s[s.size() - tail.size() + i];
    if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
    if (a != tail[i]) return false;
  }
  return true;
}

bool lockForWriting(int fd) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (fcntl(fd, F_OFD_SETLK, &fl) != 0) {
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Reads and checks the header with our own reader before shapelib parses it.
bool checkHeader(HookFile* f) {
  struct stat st {};
  if (fstat(f->fd, &st) != 0) return false;
  uint8_t head[kFileHeaderSize];
  if (pread(f->fd, head, sizeof head, 0) != ssize_t(sizeof head)) {
    tError.set(Errc::Damaged, "the file header is cut short");
    return false;
  }
  size_t len = size_t(head[8] | (head[9] << 8));
  std::vector<uint8_t> bytes(std::max(len, kFileHeaderSize));
  ssize_t got = pread(f->fd, bytes.data(), bytes.size(), 0);
  if (got < 0) return false;
  bytes.resize(size_t(got));
  try {
    f->header = parseHeader(bytes, uint64_t(st.st_size), "");
  } catch (const Error& e) {
    tError.set(e.code(), e.what());
    return false;
  }
  return true;
}

SAFile hookOpen(const char* name, const char* access) {
  if (endsWithNoCase(name, ".cpg") || !tTarget) return nullptr;
  std::string_view a(access);
  int flags = a.find('+') != std::string_view::npos ? O_RDWR : O_RDONLY;
  if (a[0] == 'w') flags = O_RDWR | O_CREAT | O_TRUNC;
  int fd = hv::fs::open(*tTarget, flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    tError.set(Errc::Io, std::string("cannot open the file: ") + std::strerror(errno));
    return nullptr;
  }
  auto* f = new HookFile;
  f->fd = fd;
  if (flags == O_RDWR) {
    if (!lockForWriting(fd)) {
      tError.set(Errc::Locked, "another program keeps the table locked");
      ::close(fd);
      delete f;
      return nullptr;
    }
    if (tCheckHeader && !checkHeader(f)) {
      ::close(fd);
      delete f;
      return nullptr;
    }
  }
  return reinterpret_cast<SAFile>(f);
}

SAOffset hookRead(void* p, SAOffset size, SAOffset count, SAFile file) {
  auto* f = reinterpret_cast<HookFile*>(file);
  size_t want = size * count, done = 0;
  while (done < want) {
    ssize_t n = ::read(f->fd, static_cast<char*>(p) + done, want - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) noteError(f, "read failed");
    if (n <= 0) break;
    done += size_t(n);
  }
  return size ? done / size : 0;
}

SAOffset hookWrite(void* p, SAOffset size, SAOffset count, SAFile file) {
  auto* f = reinterpret_cast<HookFile*>(file);
  size_t want = size * count, done = 0;
  // One write call per block, so that a process that dies leaves each block whole or absent.
  while (done < want) {
    ssize_t n = ::write(f->fd, static_cast<const char*>(p) + done, want - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      noteError(f, "write failed");
      break;
    }
    done += size_t(n);
  }
  return size ? done / size : 0;
}

SAOffset hookSeek(SAFile file, SAOffset offset, int whence) {
  auto* f = reinterpret_cast<HookFile*>(file);
  if (lseek(f->fd, off_t(offset), whence) < 0) {
    noteError(f, "seek failed");
    return SAOffset(-1);
  }
  return 0;
}

SAOffset hookTell(SAFile file) {
  auto* f = reinterpret_cast<HookFile*>(file);
  off_t pos = lseek(f->fd, 0, SEEK_CUR);
  return pos < 0 ? 0 : SAOffset(pos);
}

int hookFlush(SAFile) {
  return 0;
}  // nothing is buffered; Writer::sync makes writes durable

int hookClose(SAFile file) {
  auto* f = reinterpret_cast<HookFile*>(file);
  int rc = ::close(f->fd);
  delete f;
  return rc;
}

int hookRemove(const char*) {
  return 0;
}  // shapelib only ever removes a ".cpg" beside the file

void hookError(const char* message) {
  // shapelib complains about what it read; the hooks have set the kind for their own failures.
  if (tError.text.empty()) tError.set(Errc::Damaged, message ? message : "shapelib error");
}

double hookAtof(const char* s) {
  return std::strtod(s, nullptr);
}

SAHooks hooks() {
  SAHooks h{};
  h.FOpen = hookOpen;
  h.FRead = hookRead;
  h.FWrite = hookWrite;
  h.FSeek = hookSeek;
  h.FTell = hookTell;
  h.FFlush = hookFlush;
  h.FClose = hookClose;
  h.Remove = hookRemove;
  h.Error = hookError;
  h.Atof = hookAtof;
  return h;
}

// Sets the hooks' target for the duration of one shapelib open or create call.
class TargetScope {
 public:
  TargetScope(const std::string& path, bool checkHeader) {
    tTarget = &path;
    tCheckHeader = checkHeader;
    tError.clear();
  }
  ~TargetScope() {
    tTarget = nullptr;
    tCheckHeader = false;
  }
};

bool sameLayout(const Header& a, const Header& b) {
  if (a.headerLength != b.headerLength || a.recordLength != b.recordLength ||
      a.fields.size() != b.fields.size())
    return false;
  for (size_t i = 0; i < a.fields.size(); ++i) {
    const Field &x = a.fields[i], &y = b.fields[i];
    if (x.name != y.name || x.type != y.type || x.width != y.width || x.decimals != y.decimals)
      return false;
  }
  return true;
}

Date today() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

void checkFieldSpec(const Field& f) {
  bool ok = f.name.size() <= 10 && !f.name.empty();
  switch (f.type) {
    case 'C':
      ok = ok && f.width >= 1 && f.width <= 254 && f.decimals == 0;
      break;
    case 'N':
    case 'F':
      ok = ok && f.width >= 1 && f.width <= 32 && f.decimals < f.width;
      break;
    case 'L':
      ok = ok && f.width == 1;
      break;
    case 'D':
      ok = ok && f.width == 8;
      break;
    default:
      ok = false;
  }
  if (!ok) throw Error(Errc::Unsupported, "field " + f.name + " cannot be created as given");
}

}  // namespace

Writer::Writer(const std::string& path, const Header& expected) : path_(path) {
  SAHooks h = hooks();
  {
    TargetScope scope(path_, true);
    handle_ = DBFOpenLL(path_.c_str(), "rb+", &h);
    if (!handle_) {
      throw Error(tError.code,
                  path_ + ": " + (tError.text.empty() ? "cannot be opened" : tError.text));
    }
  }
  file_ = reinterpret_cast<HookFile*>(handle_->fp);
  header_ = file_->header;
  // shapelib must see what our reader saw, and the file must not have changed its layout since
  // the statement's table was opened.
  bool agrees = handle_->nRecords == int(header_.recordCount) &&
                handle_->nRecordLength == header_.recordLength &&
                handle_->nHeaderLength == header_.headerLength &&
                handle_->nFields == int(header_.fields.size());
  if (!agrees || !sameLayout(header_, expected)) {
    DBFClose(handle_);
    handle_ = nullptr;
    throw Error(Errc::Damaged, path_ + ": the table's layout changed while it was open");
  }
  handle_->bWriteEndOfFileChar = 1;
}

Writer::~Writer() {
  if (handle_) DBFClose(handle_);
}

void Writer::check(bool ok, const char* what) {
  if (ok && !file_->failed) return;
  std::string why = file_->failed ? file_->error : (tError.text.empty() ? what : tError.text);
  throw Error(Errc::Io, path_ + ": " + what + " failed: " + why);
}

int Writer::recordCount() const {
  return handle_->nRecords;
}

void Writer::putRecord(int index, std::string_view record) {
  if (record.size() != header_.recordLength || index < 0 || index > handle_->nRecords) {
    throw Error(Errc::BadValue, path_ + ": record " + std::to_string(index) + " does not fit");
  }
  std::string copy(record);
  check(DBFWriteTuple(handle_, index, copy.data()) != 0, "writing a record");
}

void Writer::markDeleted(int index) {
  if (index < 0 || index >= handle_->nRecords) {
    throw Error(Errc::BadValue, path_ + ": no record " + std::to_string(index));
  }
  check(DBFMarkRecordDeleted(handle_, index, 1) != 0, "deleting a record");
}

void Writer::flush() {
  Date d = today();
  DBFSetLastModifiedDate(handle_, d.year - 1900, d.month, d.day);
  DBFUpdateHeader(handle_);
  check(true, "updating the header");
}

void Writer::sync() {
  check(fdatasync(file_->fd) == 0 || errno == EINVAL, "flushing");
}

void createTable(const std::string& path, const std::vector<Field>& fields,
                 const std::vector<std::vector<Value>>& rows, Date date) {
  for (const auto& f : fields) checkFieldSpec(f);
  Header layout;
  layout.fields = fields;
  buildHeader(layout);  // offsets and lengths, to lay out the records

  std::string dir = hv::fs::directoryOf(path);
  auto tmp = hv::fs::createTempFile(dir.empty() ? "." : dir, ".dbf", ".tmp");
  if (!tmp) throw Error(Errc::Io, path + ": cannot create a file beside it");
  auto fail = [&](const std::string& what) {
    hv::fs::removeFile(*tmp);
    throw Error(Errc::Io, path + ": " + what);
  };

  SAHooks h = hooks();
  DBFHandle dbf;
  {
    TargetScope scope(*tmp, false);
    dbf = DBFCreateLL(tmp->c_str(), "LDID/122", &h);
  }
  if (!dbf) fail("cannot be created: " + tError.text);
  auto* file = reinterpret_cast<HookFile*>(dbf->fp);
  bool ok = true;
  DBFSetLastModifiedDate(dbf, date.year - 1900, date.month, date.day);
  for (const auto& f : fields) {
    ok = ok && DBFAddNativeFieldType(dbf, f.name.c_str(), f.type, f.width, f.decimals) >= 0;
  }
  for (size_t r = 0; ok && r < rows.size(); ++r) {
    std::string record(1, kActive);
    for (size_t i = 0; i < fields.size(); ++i) {
      std::string bytes = encodeField(layout.fields[i], i < rows[r].size() ? rows[r][i] : Value{});
      record += bytes;
    }
    ok = DBFWriteTuple(dbf, int(r), record.data()) != 0;
  }
  if (ok) {
    DBFSetLastModifiedDate(dbf, date.year - 1900, date.month, date.day);
    DBFUpdateHeader(dbf);
  }
  ok = ok && !file->failed && fdatasync(file->fd) == 0 && fchmod(file->fd, 0644) == 0;
  std::string why = file->failed ? file->error : tError.text;
  DBFClose(dbf);
  if (!ok) fail("writing failed: " + why);

  // Our own reader must agree with what was meant to be written.
  auto bytes = hv::fs::readFile(*tmp);
  if (!bytes) fail("cannot be read back");
  Header back = parseHeader({reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()},
                            bytes->size(), path);
  if (!sameLayout(back, layout) || back.recordCount != rows.size()) fail("reads back differently");
  if (!hv::fs::rename(*tmp, path)) fail("cannot be put in place");
}

}  // namespace hv::dbf
