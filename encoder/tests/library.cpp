#include "encoder/tests/library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace logopack_test {

DoProcessFunction doProcess() {
  static DoProcessFunction function = [] {
    const char* env = std::getenv("HV_SUITE_DIR");
    const std::string path = std::string(env && *env ? env : HV_SUITE_DIR) + "/libLogopack.so";
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) return DoProcessFunction(nullptr);
    return reinterpret_cast<DoProcessFunction>(dlsym(library, "DoProcess"));
  }();
  EXPECT_NE(function, nullptr) << "DoProcess not loaded: " << dlerror();
  return function;
}

TempFolder::TempFolder() {
  char pattern[] = "/tmp/logopack-XXXXXX";
  if (mkdtemp(pattern)) path_ = pattern;
  EXPECT_FALSE(path_.empty());
}

TempFolder::~TempFolder() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

Outcome run(const std::string& folder, const char* format, int width, int height,
            const std::vector<uint8_t>& pixels) {
  Outcome outcome;
  auto function = doProcess();
  if (!function) return outcome;
  std::vector<char> buffer(260, 0);
  std::snprintf(buffer.data(), buffer.size(), "%s", folder.c_str());
  outcome.result =
      function(buffer.data(), format, width, height, pixels.empty() ? nullptr : pixels.data());
  outcome.path.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
  std::ifstream in(outcome.path, std::ios::binary);
  outcome.fileExists = bool(in);
  if (in) outcome.file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return outcome;
}

std::vector<uint8_t> pixelsFromGrid(const std::vector<std::string>& rows) {
  std::vector<uint8_t> pixels;
  for (auto& row : rows) {
    for (char c : row) {
      uint8_t rgb[3];
      switch (c) {
        case '#':
          rgb[0] = 0x00, rgb[1] = 0x00, rgb[2] = 0x00;
          break;
        case '.':
          rgb[0] = 0xFF, rgb[1] = 0xFF, rgb[2] = 0xFF;
          break;
        case 'g':
          rgb[0] = 0x80, rgb[1] = 0x80, rgb[2] = 0x80;
          break;
        case 'r':
          rgb[0] = 0xFF, rgb[1] = 0x00, rgb[2] = 0x00;
          break;
        case 'c':
          rgb[0] = 0x00, rgb[1] = 0xFF, rgb[2] = 0xFF;
          break;
        default:
          ADD_FAILURE() << "grid character '" << c << "'";
          return {};
      }
      pixels.insert(pixels.end(), rgb, rgb + 3);
    }
  }
  return pixels;
}

std::vector<uint8_t> plainPixels(int width, int height, uint8_t value) {
  return std::vector<uint8_t>(size_t(width) * size_t(height) * 3, value);
}

namespace {
std::optional<uint32_t> le32(const std::vector<uint8_t>& b, size_t& pos) {
  if (b.size() - pos < 4) return std::nullopt;
  uint32_t v = b[pos] | b[pos + 1] << 8 | b[pos + 2] << 16 | uint32_t(b[pos + 3]) << 24;
  pos += 4;
  return v;
}
}  // namespace

std::optional<std::vector<std::vector<uint8_t>>> readPacked(const std::vector<uint8_t>& file) {
  size_t pos = 0;
  auto count = le32(file, pos);
  if (!count) return std::nullopt;
  std::vector<std::vector<uint8_t>> messages;
  for (uint32_t i = 0; i < *count; ++i) {
    auto length = le32(file, pos);
    if (!length || file.size() - pos < size_t(*length) + 1) return std::nullopt;
    messages.emplace_back(file.begin() + long(pos), file.begin() + long(pos + *length));
    pos += *length;
    if (file[pos++] != 0x00) return std::nullopt;
  }
  if (pos != file.size()) return std::nullopt;
  return messages;
}

std::string hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
    out += b;
  }
  return out;
}

}  // namespace logopack_test
