#include "ringtone/fileout.h"

#include <cstdio>

#include "platform/fs.h"

namespace hv::tunecast {

bool writeWholeFile(std::string_view path, const void* data, size_t size, const char* mode) {
  FILE* f = fs::fopen(path, mode);
  if (!f) return false;
  bool written = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && written;
}

}  // namespace hv::tunecast
