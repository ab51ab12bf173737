#pragma once
// The block cipher of the delivery service protocol and of the encrypted record file: DES
// (FIPS 46-3) on 8-byte blocks in ECB mode, keyed by the first 8 bytes of the MD5 digest
// (RFC 1321) of a password, with a key schedule that differs from FIPS 46-3 in two bits of every
// round key:
//   - round-key bit 13 is always 0 (FIPS takes register bit 23);
//   - round-key bit 4 is register bit 24 OR register bit 19 (FIPS takes bit 24 alone).
// Bits are numbered as FIPS 46-3 does: round-key bits 1..48 in PC-2 output order, C||D register
// bits 1..56 after the round's shifts, block and key bit 1 the most significant bit of byte 0.
// The peer deciphers with the same schedule, so published DES vectors hold only for
// Schedule::Standard, which exists so that the DES core can be checked against other DES code.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace hv {

class SessionCipher {
 public:
  enum class Schedule { Session, Standard };
  using Block = std::array<uint8_t, 8>;
  using Key = std::array<uint8_t, 8>;

  // Keyed by the password's bytes (no terminator).
  explicit SessionCipher(std::string_view password, Schedule schedule = Schedule::Session);
  // Keyed by 8 key bytes directly; parity bits are ignored.
  static SessionCipher fromKey(const Key& key, Schedule schedule = Schedule::Session);

  // The first 8 bytes of MD5(password).
  static Key deriveKey(std::string_view password);

  Block encryptBlock(const Block& in) const;
  Block decryptBlock(const Block& in) const;
  void encryptBlock(const uint8_t* in, uint8_t* out) const;
  void decryptBlock(const uint8_t* in, uint8_t* out) const;

  // ECB over a byte string: the last partial block is zero-padded, so the result has
  // 8 * ceil(size / 8) bytes (nothing is added when the size is a multiple of 8).
  std::vector<uint8_t> encrypt(std::span<const uint8_t> plain) const;
  // ECB decipherment; a trailing partial block (size not a multiple of 8) is ignored.
  std::vector<uint8_t> decrypt(std::span<const uint8_t> cipher) const;

  // Round keys K1..K16, 48 bits each, round-key bit 1 in bit 47 of the value.
  const std::array<uint64_t, 16>& roundKeys() const { return roundKeys_; }

 private:
  SessionCipher(const Key& key, Schedule schedule);
  uint64_t crypt(uint64_t block, bool decrypt) const;
  std::array<uint64_t, 16> roundKeys_{};
};

}  // namespace hv
