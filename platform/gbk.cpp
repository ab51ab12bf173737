#include "platform/gbk.h"

#include <errno.h>
#include <iconv.h>

#include <cstring>
#include <memory>

namespace hv {
namespace {

// iconv descriptors are not thread-safe; each thread keeps its own pair. Conversions may still be
// asked for while the thread's objects are being destroyed (a static destructor removing a
// temporary folder): then a descriptor is opened for the one call.
thread_local bool convertersGone = false;

struct Converter {
  iconv_t cd;
  Converter(const char* to, const char* from) : cd(iconv_open(to, from)) {}
  ~Converter() {
    if (cd != iconv_t(-1)) iconv_close(cd);
    convertersGone = true;
  }
};

bool isAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

std::optional<std::string> convert(Converter& c, std::string_view in) {
  if (c.cd == iconv_t(-1)) return std::nullopt;
  iconv(c.cd, nullptr, nullptr, nullptr, nullptr);  // reset shift state
  std::string out;
  out.resize(in.size() * 2 + 16);
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = out.data();
  size_t dstLeft = out.size();
  while (srcLeft > 0) {
    size_t r = iconv(c.cd, &src, &srcLeft, &dst, &dstLeft);
    if (r != size_t(-1)) break;
    if (errno == E2BIG) {
      size_t used = size_t(dst - out.data());
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dstLeft = out.size() - used;
      continue;
    }
    return std::nullopt;  // EILSEQ or EINVAL: an invalid or incomplete sequence
  }
  out.resize(size_t(dst - out.data()));
  return out;
}

enum class Way { GbkToUtf8, Utf8ToGbk };

std::optional<std::string> convertWay(Way way, std::string_view in) {
  if (isAscii(in)) return std::string(in);  // both encodings agree on ASCII
  const char* to = way == Way::Utf8ToGbk ? "GBK" : "UTF-8";
  const char* from = way == Way::Utf8ToGbk ? "UTF-8" : "GBK";
  if (convertersGone) {
    Converter once(to, from);
    return convert(once, in);
  }
  if (way == Way::Utf8ToGbk) {
    thread_local Converter c("GBK", "UTF-8");
    return convert(c, in);
  }
  thread_local Converter c("UTF-8", "GBK");
  return convert(c, in);
}

}  // namespace

std::optional<std::string> gbkToUtf8(std::string_view gbk) {
  // Check the byte structure first: glibc's decoder maps a standalone 0x80 or 0xFF to
  // characters, which code page 936 does not treat as text.
  size_t i = 0;
  while (i < gbk.size()) {
    unsigned char c = static_cast<unsigned char>(gbk[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    if (c == 0x80 || c == 0xFF || i + 1 >= gbk.size()) return std::nullopt;
    unsigned char t = static_cast<unsigned char>(gbk[i + 1]);
    if (t < 0x40 || t == 0x7F || t == 0xFF) return std::nullopt;
    i += 2;
  }
  return convertWay(Way::GbkToUtf8, gbk);
}

std::optional<std::string> utf8ToGbk(std::string_view utf8) {
  return convertWay(Way::Utf8ToGbk, utf8);
}

std::string T(std::string_view utf8Literal) {
  auto r = utf8ToGbk(utf8Literal);
  if (!r) throw std::invalid_argument("text has no GBK form: " + std::string(utf8Literal));
  return *r;
}

std::string gbkToUtf8Escaped(std::string_view gbk) {
  std::string out;
  size_t i = 0;
  while (i < gbk.size()) {
    unsigned char c = static_cast<unsigned char>(gbk[i]);
    size_t len = c < 0x80 ? 1 : 2;
    if (len == 2 && i + 1 < gbk.size()) {
      if (auto u = gbkToUtf8(gbk.substr(i, 2))) {
        out += *u;
        i += 2;
        continue;
      }
    } else if (len == 1) {
      out += char(c);
      ++i;
      continue;
    }
    static const char hex[] = "0123456789ABCDEF";
    out += "\\x";
    out += hex[c >> 4];
    out += hex[c & 15];
    ++i;
  }
  return out;
}

size_t copyToBuffer(char* buffer, size_t size, std::string_view gbk) {
  if (!buffer || size == 0) return 0;
  size_t n = gbkCutLength(gbk, size - 1);
  std::memcpy(buffer, gbk.data(), n);
  buffer[n] = 0;
  return n;
}

}  // namespace hv
