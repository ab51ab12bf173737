// Decoding any bytes must not crash, and whatever decodes must encode and decode back to itself.
#include <cstdint>
#include <cstring>
#include <string>

#include "utils/coder.h"
#include "utils/header.h"

namespace {
void roundTrip(CEMailCoder& c, const uint8_t* data, size_t size) {
  unsigned char* dec = nullptr;
  size_t decLen = 0;
  if (!c.decode(data, size, &dec, &decLen)) return;
  unsigned char* enc = nullptr;
  size_t encLen = 0;
  if (!c.encode(dec, decLen, &enc, &encLen)) __builtin_trap();
  unsigned char* again = nullptr;
  size_t againLen = 0;
  if (!c.decode(enc, encLen, &again, &againLen)) __builtin_trap();
  if (againLen != decLen || std::memcmp(again, dec, decLen) != 0) __builtin_trap();
  CEMailCoder::free(dec);
  CEMailCoder::free(enc);
  CEMailCoder::free(again);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CBase64Coder b;
  CQPCoder q;
  roundTrip(b, data, size);
  roundTrip(q, data, size);
  CHeader h;
  h.ParseAndAdd(std::string(reinterpret_cast<const char*>(data), size), "\r\n");
  (void)h.Compound("\r\n");
  return 0;
}
