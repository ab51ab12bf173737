#include "utils/coder.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int value64(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

int hexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int hand(const std::string& s, unsigned char** out, size_t* outLength) {
  auto* p = static_cast<unsigned char*>(std::malloc(s.size() + 1));
  if (!p) return 0;
  std::memcpy(p, s.data(), s.size());
  p[s.size()] = 0;
  *out = p;
  *outLength = s.size();
  return 1;
}

}  // namespace

void CEMailCoder::free(unsigned char* p) {
  std::free(p);
}

int CBase64Coder::encode(const unsigned char* in, size_t length, unsigned char** out,
                         size_t* outLength) {
  if (!out || !outLength || (!in && length)) return 0;
  std::string s;
  s.reserve((length + 2) / 3 * 4);
  for (size_t i = 0; i < length; i += 3) {
    unsigned v = unsigned(in[i]) << 16;
    if (i + 1 < length) v |= unsigned(in[i + 1]) << 8;
    if (i + 2 < length) v |= in[i + 2];
    s += kAlphabet[(v >> 18) & 63];
    s += kAlphabet[(v >> 12) & 63];
    s += i + 1 < length ? kAlphabet[(v >> 6) & 63] : '=';
    s += i + 2 < length ? kAlphabet[v & 63] : '=';
  }
  return hand(s, out, outLength);
}

int CBase64Coder::decode(const unsigned char* in, size_t length, unsigned char** out,
                         size_t* outLength) {
  if (!out || !outLength || (!in && length)) return 0;
  // Line breaks and blanks between groups are tolerated (RFC 2045 says decoders ignore them);
  // any other character outside the alphabet, or padding in the wrong place, is an error.
  std::string clean;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = in[i];
    if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
    clean += char(c);
  }
  if (clean.size() % 4 != 0) return 0;
  std::string s;
  for (size_t i = 0; i < clean.size(); i += 4) {
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      unsigned char c = (unsigned char)clean[i + k];
      if (c == '=') {
        if (i + 4 != clean.size() || k < 2) return 0;
        v[k] = 0;
        ++pad;
      } else {
        if (pad) return 0;  // data after padding
        v[k] = value64(c);
        if (v[k] < 0) return 0;
      }
    }
    unsigned bits =
        unsigned(v[0]) << 18 | unsigned(v[1]) << 12 | unsigned(v[2]) << 6 | unsigned(v[3]);
    s += char(bits >> 16);
    if (pad < 2) s += char(bits >> 8);
    if (pad < 1) s += char(bits);
  }
  return hand(s, out, outLength);
}

int CQPCoder::encode(const unsigned char* in, size_t length, unsigned char** out,
                     size_t* outLength) {
  if (!out || !outLength || (!in && length)) return 0;
  static const char hex[] = "0123456789ABCDEF";
  std::string s;
  size_t lineLength = 0;
  auto put = [&](const std::string& piece) {
    // Soft line break so that no encoded line passes 76 characters.
    if (lineLength + piece.size() > 75) {
      s += "=\r\n";
      lineLength = 0;
    }
    s += piece;
    lineLength += piece.size();
  };
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = in[i];
    if (c == '\r' && i + 1 < length && in[i + 1] == '\n') {
      s += "\r\n";
      lineLength = 0;
      ++i;
      continue;
    }
    bool trailingBlank =
        (c == ' ' || c == '\t') && (i + 1 == length || in[i + 1] == '\r' || in[i + 1] == '\n');
    if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !trailingBlank)) {
      put(std::string(1, char(c)));
    } else {
      put(std::string{'=', hex[c >> 4], hex[c & 15]});
    }
  }
  return hand(s, out, outLength);
}

int CQPCoder::decode(const unsigned char* in, size_t length, unsigned char** out,
                     size_t* outLength) {
  if (!out || !outLength || (!in && length)) return 0;
  std::string s;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = in[i];
    if (c != '=') {
      s += char(c);
      continue;
    }
    if (i + 1 < length && in[i + 1] == '\n') {  // soft break with a bare LF
      i += 1;
      continue;
    }
    if (i + 2 < length && in[i + 1] == '\r' && in[i + 2] == '\n') {  // soft break
      i += 2;
      continue;
    }
    if (i + 2 >= length) return 0;
    int hi = hexValue(in[i + 1]), lo = hexValue(in[i + 2]);
    if (hi < 0 || lo < 0) return 0;
    s += char(hi << 4 | lo);
    i += 2;
  }
  return hand(s, out, outLength);
}
