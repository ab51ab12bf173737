#pragma once
// Base64 (RFC 2045 alphabet, no line breaks: the text goes into HTTP header lines) and
// quoted-printable (RFC 2045). The coder allocates the output; the caller frees it with
// CEMailCoder::free. Non-zero means success.
#include <cstddef>

#include "include/handvane/export.h"

class HV_EXPORT CEMailCoder {
 public:
  virtual ~CEMailCoder() = default;
  virtual int encode(const unsigned char* in, size_t length, unsigned char** out,
                     size_t* outLength) = 0;
  // Fails (0, nothing allocated) on input that is not valid for the coding.
  virtual int decode(const unsigned char* in, size_t length, unsigned char** out,
                     size_t* outLength) = 0;
  static void free(unsigned char* p);
};

class HV_EXPORT CBase64Coder : public CEMailCoder {
 public:
  int encode(const unsigned char* in, size_t length, unsigned char** out,
             size_t* outLength) override;
  int decode(const unsigned char* in, size_t length, unsigned char** out,
             size_t* outLength) override;
};

class HV_EXPORT CQPCoder : public CEMailCoder {
 public:
  int encode(const unsigned char* in, size_t length, unsigned char** out,
             size_t* outLength) override;
  int decode(const unsigned char* in, size_t length, unsigned char** out,
             size_t* outLength) override;
};
