#pragma once
// Test side of libLogopack.so: loading it by path, calling DoProcess in a fresh folder, and an
// independent reader for the packed message file it writes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace logopack_test {

using DoProcessFunction = int (*)(char*, const char*, int, int, const unsigned char*);

// DoProcess from HV_SUITE_DIR/libLogopack.so (the environment's HV_SUITE_DIR first); the test
// fails when it cannot be loaded.
DoProcessFunction doProcess();

// A fresh folder, removed with its contents afterwards. path() has no trailing "/".
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct Outcome {
  int result = 0;
  std::string path;           // what the path buffer held on return
  std::vector<uint8_t> file;  // the file's bytes; empty when it is empty or missing
  bool fileExists = false;
};

// Calls DoProcess with `folder` in a 260-character buffer.
Outcome run(const std::string& folder, const char* format, int width, int height,
            const std::vector<uint8_t>& pixels);

// Pixels of a picture from a character grid, one string per row: '#' black (0,0,0), '.' white
// (255,255,255), 'g' grey (128,128,128), 'r' red (255,0,0), 'c' cyan (0,255,255).
std::vector<uint8_t> pixelsFromGrid(const std::vector<std::string>& rows);
// A width x height picture of one colour's first byte (the other two bytes copy it).
std::vector<uint8_t> plainPixels(int width, int height, uint8_t value);

// The messages of a packed message file: a 32-bit little-endian count, then per message a 32-bit
// little-endian length, the data and a 0x00. nullopt when the bytes do not have that form exactly.
std::optional<std::vector<std::vector<uint8_t>>> readPacked(const std::vector<uint8_t>& file);

std::string hex(const std::vector<uint8_t>& bytes);

}  // namespace logopack_test
