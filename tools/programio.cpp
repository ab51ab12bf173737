#include "tools/programio.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace hv::tools {

std::optional<std::vector<uint8_t>> readBytes(const std::string& path, size_t limit) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return std::nullopt;
  std::vector<uint8_t> bytes;
  uint8_t buf[65536];
  size_t n;
  bool ok = true;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (bytes.size() + n > limit) {
      ok = false;
      break;
    }
    bytes.insert(bytes.end(), buf, buf + n);
  }
  ok = ok && !std::ferror(f);
  std::fclose(f);
  if (!ok) return std::nullopt;
  return bytes;
}

bool writeComplete(const std::string& path, const void* data, size_t size) {
  std::string part = path + ".part";
  int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  const auto* p = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t w = ::write(fd, p + done, size - done);
    if (w <= 0) break;
    done += size_t(w);
  }
  bool ok = done == size && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(part.c_str(), path.c_str()) == 0) return true;
  ::unlink(part.c_str());
  return false;
}

}  // namespace hv::tools
