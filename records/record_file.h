#pragma once
// The "CFF" record file: fixed-size records enciphered with SessionCipher, addressed by a
// zero-based slot index. Layout (offsets from the start of the file, integers little-endian
// unless said otherwise):
//
//   0    4   magic "CFF\0"
//   4    20  key text: two pseudo-random numbers as "%010d%010d", no terminator
//   24   4   P, plain record size
//   28   4   S, stored record size = ((P + 7) / 8) * 8 + 4
//   32   224 zero
//   256 + i * (S + 1)   1   slot i flag: 0 in use, 1 deleted
//   257 + i * (S + 1)   S   slot i stored record: P big-endian, then the P plain bytes
//                           zero-padded to a multiple of 8 and enciphered in ECB mode
//
// Records are keyed by the first 8 bytes of MD5 over the 20 key-text characters, so every file
// has its own key. Every operation goes to the file directly; two processes sharing a file are
// kept apart by non-waiting byte-range locks (the header while it is read, one slot at a time).
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/session_cipher.h"

namespace hv::records {

enum class RecordError {
  None,
  Exists,          // the file to be created is there already
  CannotCreate,    // the file could not be created or its header not written whole
  CannotOpen,      // missing, or not readable and writable
  Locked,          // another opener holds the range locked
  ShortRead,       // fewer bytes than needed came back (also: a file cut short)
  ShortWrite,      // fewer bytes than needed went out
  BadMagic,        // not a record file
  BadSizes,        // P and S of the header do not belong together, or P is out of range
  BadSize,         // a record of the wrong length was passed
  BadIndex,        // no such slot
  Deleted,         // the slot is marked deleted
  Undecipherable,  // the stored bytes do not decipher into a record of P bytes
};
std::string_view errorText(RecordError e);

inline constexpr size_t kHeaderSize = 256;
inline constexpr size_t kKeyTextSize = 20;
// Records are small settings blocks; a header claiming more is refused rather than trusted.
inline constexpr uint32_t kMaxPlainSize = 1u << 24;
inline constexpr uint8_t kSlotInUse = 0;
inline constexpr uint8_t kSlotDeleted = 1;

constexpr uint32_t storedSize(uint32_t plainSize) {
  return (plainSize + 7) / 8 * 8 + 4;
}
constexpr off_t slotOffset(uint32_t storedSize, uint32_t index) {
  return off_t(kHeaderSize) + off_t(index) * (off_t(storedSize) + 1);
}
// Slots in a file of that size; a partial slot at the end does not count.
constexpr uint32_t slotCount(uint64_t fileSize, uint32_t storedSize) {
  return fileSize <= kHeaderSize ? 0
                                 : uint32_t((fileSize - kHeaderSize) / (uint64_t(storedSize) + 1));
}

struct Header {
  std::string keyText;  // 20 characters
  uint32_t plainSize = 0;
  uint32_t storedSize = 0;
};
// A fresh header: two numbers from the system's random source as the key text.
std::vector<uint8_t> buildHeader(std::string_view keyText, uint32_t plainSize);
std::string freshKeyText();
// BadMagic, BadSizes or ShortRead when the 256 bytes are not a usable header.
RecordError parseHeader(std::span<const uint8_t> bytes, Header& out);

// The stored form of a record: S bytes.
std::vector<uint8_t> encipherRecord(const SessionCipher& cipher, std::span<const uint8_t> plain);
// Deciphers a stored record into out (P bytes). The length word must not exceed P; bytes past a
// shorter length are zero. Undecipherable (and out untouched) when S is not 4 plus a multiple of 8,
// the length word exceeds P or the blocks cannot cover it.
RecordError decipherRecord(const SessionCipher& cipher, std::span<const uint8_t> stored,
                           std::span<uint8_t> out);

// One open record file. Not shared between threads; two objects on one file (in one process or
// two) exclude each other through the locks.
class RecordFile {
 public:
  static RecordError create(std::string_view path, uint32_t plainSize);
  static RecordError open(std::string_view path, std::unique_ptr<RecordFile>& out);
  static bool remove(std::string_view path);
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  const std::string& keyText() const { return header_.keyText; }
  uint32_t plainSize() const { return header_.plainSize; }
  uint32_t storedSize() const { return header_.storedSize; }

  uint32_t count() const;
  // Writes the record into the first deleted slot that is not locked, else into a new slot at
  // the end; index receives the slot.
  RecordError add(std::span<const uint8_t> plain, uint32_t& index);
  RecordError erase(uint32_t index);
  RecordError modify(uint32_t index, std::span<const uint8_t> plain);
  RecordError read(uint32_t index, std::span<uint8_t> out) const;

 private:
  RecordFile(int fd, Header header);
  class SlotLock;
  RecordError writeSlot(uint32_t index, std::span<const uint8_t> stored);
  int fd_;
  Header header_;
  SessionCipher cipher_;
};

}  // namespace hv::records
