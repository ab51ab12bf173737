#pragma once
// Helpers shared by the record file tests: a fresh folder per test and raw access to the bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/fs.h"

namespace hv::records::testing {

class TempFolder {
 public:
  TempFolder() {
    auto d = hv::fs::createTempDirectory({}, "vaultrec");
    if (d) path_ = *d;
  }
  ~TempFolder() {
    if (!path_.empty()) hv::fs::removeAll(path_);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  bool ok() const { return !path_.empty(); }

 private:
  std::string path_;
};

inline std::vector<uint8_t> fileBytes(const std::string& path) {
  auto s = hv::fs::readFile(path);
  return s ? std::vector<uint8_t>(s->begin(), s->end()) : std::vector<uint8_t>();
}
inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  ASSERT_TRUE(hv::fs::writeFileAtomic(path, std::string(bytes.begin(), bytes.end()), 0600));
}
inline std::vector<uint8_t> patterned(size_t size, uint8_t seed) {
  std::vector<uint8_t> v(size);
  for (size_t i = 0; i < size; ++i) v[i] = uint8_t(seed + i * 7);
  return v;
}

}  // namespace hv::records::testing
