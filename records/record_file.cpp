#include "records/record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "include/handvane/byteorder.h"
#include "platform/fs.h"
#include "platform/kernel.h"

namespace hv::records {

std::string_view errorText(RecordError e) {
  switch (e) {
    case RecordError::None:
      return "no error";
    case RecordError::Exists:
      return "the file exists already";
    case RecordError::CannotCreate:
      return "the file could not be created";
    case RecordError::CannotOpen:
      return "the file could not be opened for reading and writing";
    case RecordError::Locked:
      return "another opener holds the range locked";
    case RecordError::ShortRead:
      return "fewer bytes than needed could be read";
    case RecordError::ShortWrite:
      return "fewer bytes than needed could be written";
    case RecordError::BadMagic:
      return "the file does not start with the record file magic";
    case RecordError::BadSizes:
      return "the header's record sizes do not belong together";
    case RecordError::BadSize:
      return "the record does not have the file's record size";
    case RecordError::BadIndex:
      return "there is no slot with that index";
    case RecordError::Deleted:
      return "the slot is marked deleted";
    case RecordError::Undecipherable:
      return "the stored record does not decipher";
  }
  return "unknown error";
}

namespace {

constexpr uint8_t kMagic[4] = {'C', 'F', 'F', 0};
constexpr size_t kKeyTextOffset = 4, kPlainSizeOffset = 24, kStoredSizeOffset = 28;

bool writeAll(int fd, const uint8_t* data, size_t size, off_t offset) {
  while (size > 0) {
    ssize_t n = ::pwrite(fd, data, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
    offset += n;
  }
  return true;
}

size_t readAll(int fd, uint8_t* data, size_t size, off_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, data + done, size - done, offset + off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  return done;
}

std::string tenDigits(uint32_t v) {
  std::string s = std::to_string(v);
  return std::string(10 - std::min<size_t>(10, s.size()), '0') + s;
}

}  // namespace

std::string freshKeyText() {
  std::random_device source;
  std::uniform_int_distribution<uint32_t> number(0, 2147483647u);
  return tenDigits(number(source)) + tenDigits(number(source));
}

std::vector<uint8_t> buildHeader(std::string_view keyText, uint32_t plainSize) {
  std::vector<uint8_t> h(kHeaderSize, 0);
  std::copy(std::begin(kMagic), std::end(kMagic), h.begin());
  std::copy_n(keyText.begin(), std::min(keyText.size(), kKeyTextSize), h.begin() + kKeyTextOffset);
  storeLe32(&h[kPlainSizeOffset], plainSize);
  storeLe32(&h[kStoredSizeOffset], records::storedSize(plainSize));
  return h;
}

RecordError parseHeader(std::span<const uint8_t> bytes, Header& out) {
  if (bytes.size() < kHeaderSize) return RecordError::ShortRead;
  if (!std::equal(std::begin(kMagic), std::end(kMagic), bytes.begin()))
    return RecordError::BadMagic;
  uint32_t p = loadLe32(&bytes[kPlainSizeOffset]);
  uint32_t s = loadLe32(&bytes[kStoredSizeOffset]);
  if (p == 0 || p > kMaxPlainSize || s != storedSize(p)) return RecordError::BadSizes;
  out.keyText.assign(reinterpret_cast<const char*>(&bytes[kKeyTextOffset]), kKeyTextSize);
  out.plainSize = p;
  out.storedSize = s;
  return RecordError::None;
}

std::vector<uint8_t> encipherRecord(const SessionCipher& cipher, std::span<const uint8_t> plain) {
  std::vector<uint8_t> stored(4);
  storeBe32(stored.data(), uint32_t(plain.size()));
  auto body = cipher.encrypt(plain);
  stored.insert(stored.end(), body.begin(), body.end());
  return stored;
}

RecordError decipherRecord(const SessionCipher& cipher, std::span<const uint8_t> stored,
                           std::span<uint8_t> out) {
  if (stored.size() <= 4 || (stored.size() - 4) % 8 != 0) return RecordError::Undecipherable;
  uint32_t length = loadBe32(stored.data());
  size_t blocks = (stored.size() - 4) / 8;
  if (length > out.size() || (size_t(length) + 7) / 8 > blocks) return RecordError::Undecipherable;
  std::vector<uint8_t> plain(out.size(), 0);
  for (size_t done = 0, b = 0; done < length; ++b) {
    uint8_t block[8];
    cipher.decryptBlock(&stored[4 + 8 * b], block);
    size_t take = std::min<size_t>(8, length - done);
    std::copy_n(block, take, plain.begin() + done);
    done += take;
  }
  std::copy(plain.begin(), plain.end(), out.begin());
  return RecordError::None;
}

// Holds slot i's flag and stored bytes locked for the life of the object, when it could.
class RecordFile::SlotLock {
 public:
  SlotLock(int fd, off_t start, off_t length)
      : fd_(fd), start_(start), length_(length), held_(tryLockRange(fd, start, length)) {}
  ~SlotLock() {
    if (held_) unlockRange(fd_, start_, length_);
  }
  SlotLock(const SlotLock&) = delete;
  SlotLock& operator=(const SlotLock&) = delete;
  bool held() const { return held_; }

 private:
  int fd_;
  off_t start_, length_;
  bool held_;
};

RecordFile::RecordFile(int fd, Header header)
    : fd_(fd), header_(std::move(header)), cipher_(header_.keyText) {}

RecordFile::~RecordFile() {
  ::close(fd_);
}

RecordError RecordFile::create(std::string_view path, uint32_t plainSize) {
  if (plainSize == 0 || plainSize > kMaxPlainSize) return RecordError::BadSizes;
  // The records are enciphered, but the file is still nobody else's business.
  int fd = fs::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST ? RecordError::Exists : RecordError::CannotCreate;
  auto header = buildHeader(freshKeyText(), plainSize);
  bool written = writeAll(fd, header.data(), header.size(), 0);
  ::close(fd);
  if (!written) {
    // A file without a whole header could never be opened nor created again.
    fs::removeFile(path);
    return RecordError::CannotCreate;
  }
  return RecordError::None;
}

RecordError RecordFile::open(std::string_view path, std::unique_ptr<RecordFile>& out) {
  int fd = fs::open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return RecordError::CannotOpen;
  std::vector<uint8_t> bytes(kHeaderSize);
  size_t got = 0;
  bool locked = tryLockRange(fd, 0, kHeaderSize);
  if (locked) {
    got = readAll(fd, bytes.data(), bytes.size(), 0);
    unlockRange(fd, 0, kHeaderSize);
  }
  Header header;
  RecordError e = !locked ? RecordError::Locked : parseHeader(std::span(bytes.data(), got), header);
  if (e != RecordError::None) {
    ::close(fd);
    return e;
  }
  out.reset(new RecordFile(fd, std::move(header)));
  return RecordError::None;
}

bool RecordFile::remove(std::string_view path) {
  return fs::removeFile(path);
}

uint32_t RecordFile::count() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return 0;
  return slotCount(uint64_t(st.st_size), header_.storedSize);
}

RecordError RecordFile::writeSlot(uint32_t index, std::span<const uint8_t> stored) {
  std::vector<uint8_t> slot;
  slot.reserve(stored.size() + 1);
  slot.push_back(kSlotInUse);
  slot.insert(slot.end(), stored.begin(), stored.end());
  return writeAll(fd_, slot.data(), slot.size(), slotOffset(header_.storedSize, index))
             ? RecordError::None
             : RecordError::ShortWrite;
}

RecordError RecordFile::add(std::span<const uint8_t> plain, uint32_t& index) {
  if (plain.size() != header_.plainSize) return RecordError::BadSize;
  auto stored = encipherRecord(cipher_, plain);
  const off_t slotBytes = off_t(header_.storedSize) + 1;
  const uint32_t existing = count();
  for (uint32_t i = 0; i < existing; ++i) {
    SlotLock lock(fd_, slotOffset(header_.storedSize, i), slotBytes);
    if (!lock.held()) continue;  // another opener works on it: look further
    uint8_t flag = 0;
    if (readAll(fd_, &flag, 1, slotOffset(header_.storedSize, i)) != 1) continue;
    if (flag != kSlotDeleted) continue;
    RecordError e = writeSlot(i, stored);
    if (e == RecordError::None) index = i;
    return e;
  }
  // A new slot goes right after the last whole one (over a partial slot a crash may have left).
  // Another opener may have appended between the count and the lock; the slot is then taken and
  // the next one is tried, a bounded number of times.
  for (int attempt = 0; attempt < 64; ++attempt) {
    uint32_t n = count();
    SlotLock lock(fd_, slotOffset(header_.storedSize, n), slotBytes);
    if (!lock.held()) return RecordError::Locked;
    if (count() > n) continue;
    RecordError e = writeSlot(n, stored);
    if (e == RecordError::None) index = n;
    return e;
  }
  return RecordError::Locked;
}

RecordError RecordFile::erase(uint32_t index) {
  if (index >= count()) return RecordError::BadIndex;
  const off_t at = slotOffset(header_.storedSize, index);
  SlotLock lock(fd_, at, off_t(header_.storedSize) + 1);
  if (!lock.held()) return RecordError::Locked;
  return writeAll(fd_, &kSlotDeleted, 1, at) ? RecordError::None : RecordError::ShortWrite;
}

RecordError RecordFile::modify(uint32_t index, std::span<const uint8_t> plain) {
  if (plain.size() != header_.plainSize) return RecordError::BadSize;
  if (index >= count()) return RecordError::BadIndex;
  auto stored = encipherRecord(cipher_, plain);
  SlotLock lock(fd_, slotOffset(header_.storedSize, index), off_t(header_.storedSize) + 1);
  if (!lock.held()) return RecordError::Locked;
  return writeSlot(index, stored);
}

RecordError RecordFile::read(uint32_t index, std::span<uint8_t> out) const {
  if (out.size() != header_.plainSize) return RecordError::BadSize;
  if (index >= count()) return RecordError::BadIndex;
  std::vector<uint8_t> slot(size_t(header_.storedSize) + 1);
  {
    SlotLock lock(fd_, slotOffset(header_.storedSize, index), off_t(slot.size()));
    if (!lock.held()) return RecordError::Locked;
    if (readAll(fd_, slot.data(), slot.size(), slotOffset(header_.storedSize, index)) !=
        slot.size())
      return RecordError::ShortRead;
  }
  if (slot[0] != kSlotInUse) return RecordError::Deleted;
  return decipherRecord(cipher_, std::span(slot).subspan(1), out);
}

}  // namespace hv::records
