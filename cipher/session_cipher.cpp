#include "cipher/session_cipher.h"

#include <openssl/md5.h>

// MD5() is deprecated in OpenSSL 3 in favour of EVP; the one-shot call is what is needed here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
namespace {
void md5(std::string_view data, unsigned char out[16]) {
  MD5(reinterpret_cast<const unsigned char*>(data.data()), data.size(), out);
}
}  // namespace
#pragma GCC diagnostic pop

namespace hv {
namespace {

// FIPS 46-3 tables. Every entry names an input bit, counted from 1 at the most significant end.
constexpr uint8_t kIP[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                             62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                             57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                             61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
constexpr uint8_t kFP[64] = {40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
                             38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
                             36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
                             34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};
constexpr uint8_t kE[48] = {32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
                            12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
                            22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};
constexpr uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                            2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                              10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                              63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                              14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr uint8_t kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                              26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                              51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
constexpr uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Output bit i (from the top, 1-based) is input bit table[i-1] of an inBits-wide value.
template <size_t N>
constexpr uint64_t permute(uint64_t in, int inBits, const uint8_t (&table)[N]) {
  uint64_t out = 0;
  for (size_t i = 0; i < N; ++i) out = out << 1 | ((in >> (inBits - table[i])) & 1);
  return out;
}

constexpr uint64_t bit(uint64_t v, int width, int n) {
  return (v >> (width - n)) & 1;
}

// S-box lookup followed by P, one table per S-box: the 6-bit group's row is its outer bits,
// its column the inner four.
struct SpTables {
  uint32_t sp[8][64];
  constexpr SpTables() : sp{} {
    for (int box = 0; box < 8; ++box)
      for (int v = 0; v < 64; ++v) {
        int row = (v >> 4 & 2) | (v & 1);
        int col = v >> 1 & 15;
        uint64_t s = uint64_t(kS[box][row * 16 + col]) << (28 - 4 * box);
        sp[box][v] = uint32_t(permute(s, 32, kP));
      }
  }
};
constexpr SpTables kSp;

uint32_t feistel(uint32_t r, uint64_t roundKey) {
  uint64_t x = permute(r, 32, kE) ^ roundKey;
  uint32_t out = 0;
  for (int box = 0; box < 8; ++box) out |= kSp.sp[box][(x >> (42 - 6 * box)) & 63];
  return out;
}

uint32_t rotl28(uint32_t v, int n) {
  return ((v << n) | (v >> (28 - n))) & 0xFFFFFFF;
}

uint64_t load64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
  return v;
}
void store64(uint8_t* p, uint64_t v) {
  for (int i = 7; i >= 0; --i, v >>= 8) p[i] = uint8_t(v);
}

}  // namespace

SessionCipher::SessionCipher(const Key& key, Schedule schedule) {
  uint64_t cd = permute(load64(key.data()), 64, kPC1);
  uint32_t c = uint32_t(cd >> 28), d = uint32_t(cd & 0xFFFFFFF);
  for (int round = 0; round < 16; ++round) {
    c = rotl28(c, kShifts[round]);
    d = rotl28(d, kShifts[round]);
    uint64_t reg = uint64_t(c) << 28 | d;
    uint64_t k = permute(reg, 56, kPC2);
    if (schedule == Schedule::Session) {
      constexpr uint64_t kBit4 = uint64_t(1) << (48 - 4), kBit13 = uint64_t(1) << (48 - 13);
      k &= ~(kBit4 | kBit13);
      if (bit(reg, 56, 24) | bit(reg, 56, 19)) k |= kBit4;
    }
    roundKeys_[round] = k;
  }
}

SessionCipher::SessionCipher(std::string_view password, Schedule schedule)
    : SessionCipher(deriveKey(password), schedule) {}

SessionCipher SessionCipher::fromKey(const Key& key, Schedule schedule) {
  return SessionCipher(key, schedule);
}

SessionCipher::Key SessionCipher::deriveKey(std::string_view password) {
  unsigned char digest[16];
  md5(password, digest);
  Key key;
  std::copy(digest, digest + 8, key.begin());
  return key;
}

uint64_t SessionCipher::crypt(uint64_t block, bool decrypt) const {
  uint64_t x = permute(block, 64, kIP);
  uint32_t l = uint32_t(x >> 32), r = uint32_t(x);
  for (int round = 0; round < 16; ++round) {
    uint32_t next = l ^ feistel(r, roundKeys_[decrypt ? 15 - round : round]);
    l = r;
    r = next;
  }
  // The halves are swapped after the last round (the preoutput block is R16 L16).
  return permute(uint64_t(r) << 32 | l, 64, kFP);
}

void SessionCipher::encryptBlock(const uint8_t* in, uint8_t* out) const {
  store64(out, crypt(load64(in), false));
}
void SessionCipher::decryptBlock(const uint8_t* in, uint8_t* out) const {
  store64(out, crypt(load64(in), true));
}
SessionCipher::Block SessionCipher::encryptBlock(const Block& in) const {
  Block out;
  encryptBlock(in.data(), out.data());
  return out;
}
SessionCipher::Block SessionCipher::decryptBlock(const Block& in) const {
  Block out;
  decryptBlock(in.data(), out.data());
  return out;
}

std::vector<uint8_t> SessionCipher::encrypt(std::span<const uint8_t> plain) const {
  std::vector<uint8_t> out((plain.size() + 7) / 8 * 8, 0);
  for (size_t off = 0; off < plain.size(); off += 8) {
    uint8_t block[8] = {};
    size_t n = std::min<size_t>(8, plain.size() - off);
    std::copy(plain.begin() + off, plain.begin() + off + n, block);
    encryptBlock(block, &out[off]);
  }
  return out;
}

std::vector<uint8_t> SessionCipher::decrypt(std::span<const uint8_t> cipher) const {
  std::vector<uint8_t> out(cipher.size() / 8 * 8);
  for (size_t off = 0; off < out.size(); off += 8) decryptBlock(&cipher[off], &out[off]);
  return out;
}

}  // namespace hv
