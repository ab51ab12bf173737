#include "modules/text/textfile.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/fs.h"
#include "platform/gbk.h"

namespace hv::textport {

namespace {
// Bytes of text up to its last whole GBK character: a lead byte at the very end lost its trail
// to a cut.
size_t wholeCharacters(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x81 && c <= 0xFE) {
      if (i + 1 == text.size()) break;
      i += 2;
    } else {
      ++i;
    }
  }
  return std::min(i, text.size());
}
}  // namespace

std::string describe(TextFileError error, std::string_view path) {
  const std::string p(path);
  switch (error) {
    case TextFileError::CannotOpen:
      return T("无法读取文件：") + p;
    case TextFileError::NotText:
      return T("文件中含有空字符，不是文本文件，不能打开：") + p;
    case TextFileError::NotGbk:
      return T("文件不是GBK编码的中文文本，不能打开：") + p;
    case TextFileError::CannotWrite:
      return T("无法保存文件：") + p;
  }
  return T("文件操作失败：") + p;
}

std::string withCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

TextFile readTextFile(std::string_view path, size_t maxBytes) {
  TextFile r;
  if (fs::isDirectory(path)) {
    r.error = TextFileError::CannotOpen;
    return r;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> f(fs::fopen(path, "rb"), &std::fclose);
  if (!f) {
    r.error = TextFileError::CannotOpen;
    return r;
  }
  std::string bytes;
  char block[255];  // read as the dialog always did, in blocks of at most 255 bytes
  while (bytes.size() < maxBytes) {
    const size_t want = std::min(sizeof block, maxBytes - bytes.size());
    const size_t n = std::fread(block, 1, want, f.get());
    bytes.append(block, n);
    if (n < want) break;
  }
  if (std::ferror(f.get())) {
    r.error = TextFileError::CannotOpen;
    return r;
  }
  if (bytes.size() >= maxBytes && std::fgetc(f.get()) != EOF) {
    r.truncated = true;
    bytes.resize(wholeCharacters(bytes));
  }
  if (bytes.find('\0') != std::string::npos) {
    r.error = TextFileError::NotText;
    return r;
  }
  if (!gbkToUtf8(bytes)) {
    r.error = TextFileError::NotGbk;
    return r;
  }
  r.text = withCrLf(bytes);
  return r;
}

std::optional<TextFileError> writeTextFile(std::string_view path, std::string_view text) {
  if (!fs::writeFileAtomic(path, text)) return TextFileError::CannotWrite;
  return std::nullopt;
}

}  // namespace hv::textport
