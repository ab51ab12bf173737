// Random format names, sizes and pixels through DoProcess. Whatever the input, the result is one
// of the documented codes, a failure leaves the file empty, and a success is a well-formed packed
// file whose every message fits 140 bytes.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "encoder/logopack.h"
#include "encoder/tests/format_names.h"

namespace {

// The accepted names, then names that must be refused.
const char* const kRefused[] = {"NOKIA_OP_LOGO", "", "nokia_op_logo "};
constexpr size_t kNameCount = std::size(logopack_test::kFormatNames) + std::size(kRefused);

const char* nameAt(size_t i) {
  const size_t known = std::size(logopack_test::kFormatNames);
  return i < known ? logopack_test::kFormatNames[i] : kRefused[i - known];
}
constexpr size_t kMaxPixels = 1 << 18;

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz_logopack: %s\n", what);
    abort();
  }
}

// One folder for the whole run, removed at exit (every file in it is removed after its check).
char gFolder[] = "/tmp/fuzz-logopack-XXXXXX";

const char* folder() {
  static const bool made = [] {
    check(mkdtemp(gFolder) != nullptr, "no temporary folder");
    std::atexit([] { rmdir(gFolder); });
    return true;
  }();
  (void)made;
  return gFolder;
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

void checkPacked(const std::vector<uint8_t>& file, bool siemens) {
  check(file.size() >= 4, "no message count");
  const uint32_t count = le32(file, 0);
  check(count >= 1 && count <= 255, "message count out of range");
  size_t pos = 4;
  for (uint32_t i = 0; i < count; ++i) {
    check(file.size() - pos >= 4, "record length cut off");
    const uint32_t length = le32(file, pos);
    pos += 4;
    check(length >= 1 && length <= 140, "record over 140 bytes");
    check(!siemens || length == 140, "Siemens record not 140 bytes");
    check(file.size() - pos > length, "record cut off");
    if (!siemens) check(file[pos] + 1u <= length, "UDHL beyond the record");
    pos += length;
    check(file[pos++] == 0, "missing separator");
  }
  check(pos == file.size(), "bytes after the last record");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const size_t nameIndex = data[0] % kNameCount;
  const char* name = nameAt(nameIndex);
  // Sizes near the formats' limits are the interesting ones: small values as they are, and a
  // high bit that stretches one side.
  int width = data[1] | (data[2] & 0x03) << 8;
  int height = data[3] | (data[4] & 0x03) << 8;
  if (data[2] & 0x80) width *= 64;
  if (data[4] & 0x80) height = -height;
  const size_t pixels = size_t(width > 0 ? width : 0) * size_t(height > 0 ? height : 0);
  if (pixels > kMaxPixels) return 0;
  std::vector<uint8_t> picture(pixels * 3 + 1);
  for (size_t i = 0; i < picture.size(); ++i)
    picture[i] = size > 5 ? data[5 + i % (size - 5)] : 0xFF;

  char buffer[260] = {};
  std::snprintf(buffer, sizeof buffer, "%s/", folder());
  const int result = DoProcess(buffer, name, width, height, picture.data());
  check(result == 0 || result == -1 || result == -2, "unexpected result");
  check((result == -1) == (nameIndex >= std::size(logopack_test::kFormatNames)),
        "name accepted or refused wrongly");
  std::ifstream in(buffer, std::ios::binary);
  check(bool(in), "no output file");
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (result != 0)
    check(file.empty(), "bytes written on failure");
  else
    checkPacked(file, std::strncmp(name, "siemens", 7) == 0);
  unlink(buffer);
  return 0;
}
