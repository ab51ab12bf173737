#pragma once
// All suite strings hold GBK bytes. These are the only conversions between GBK and UTF-8; they go
// through glibc iconv and never pass an invalid sequence through.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "include/handvane/export.h"
#include "include/handvane/gbkcut.h"

namespace hv {

// nullopt when gbk holds a byte sequence that is not GBK (a stray lead byte, a bad trail byte,
// a lead byte at the end).
HV_EXPORT std::optional<std::string> gbkToUtf8(std::string_view gbk);
// nullopt when utf8 is not valid UTF-8 or holds a character GBK cannot represent.
HV_EXPORT std::optional<std::string> utf8ToGbk(std::string_view utf8);

// The system's own texts are written in the sources as UTF-8 literals; T() turns one into the GBK
// bytes that suite strings carry. A literal that GBK cannot hold is a programming error and
// throws std::invalid_argument (every literal is exercised by the tests of its library).
HV_EXPORT std::string T(std::string_view utf8Literal);

// For display and diagnostics: GBK to UTF-8 with each invalid byte shown as "\xNN", so that bad
// input is visible rather than silently replaced.
HV_EXPORT std::string gbkToUtf8Escaped(std::string_view gbk);

// The longest prefix of gbk of at most max bytes that ends on a character boundary.
inline std::string_view gbkCut(std::string_view gbk, size_t max) {
  return gbk.substr(0, gbkCutLength(gbk, max));
}

// Copies text into a caller's buffer of `size` bytes as the Windows profile and string functions
// do: at most size - 1 bytes, cut on a character boundary, NUL-terminated. Returns the number of
// bytes copied (without the terminator); nothing is written when size is 0.
HV_EXPORT size_t copyToBuffer(char* buffer, size_t size, std::string_view gbk);

}  // namespace hv
