#include "encoder/outputfile.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/fs.h"

namespace hv::logopack {

namespace {
// Names taken by earlier files are skipped; this many in a row means the folder is not usable.
constexpr int kMaxNameAttempts = 4096;
}  // namespace

std::optional<std::string> folderFromBuffer(const char* buffer) {
  if (!buffer) return std::nullopt;
  const size_t length = strnlen(buffer, kPathBufferSize);
  if (length == kPathBufferSize) return std::nullopt;
  std::string folder(buffer, length);
  if (!folder.empty() && folder.back() == '/') folder.pop_back();
  return folder;
}

std::optional<std::string> outputPath(std::string_view folder, uint32_t counter) {
  char name[32];
  std::snprintf(name, sizeof name, "QTX%x.tmp", counter);
  std::string path;
  path.reserve(folder.size() + 1 + std::strlen(name));
  path.append(folder).append("/").append(name);
  if (path.size() >= kPathBufferSize) return std::nullopt;
  return path;
}

std::optional<OutputFile> OutputFile::create(char* buffer, uint32_t counter) {
  auto folder = folderFromBuffer(buffer);
  if (!folder) return std::nullopt;
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt, ++counter) {
    auto path = outputPath(*folder, counter);
    if (!path) return std::nullopt;
    std::memcpy(buffer, path->c_str(), path->size() + 1);
    const int fd = hv::fs::open(*path, O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) return OutputFile(fd, std::move(*path));
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
}

void OutputFile::truncateToEmpty() {
  while (::ftruncate(fd_, 0) != 0 && errno == EINTR) {
  }
}

bool OutputFile::write(std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      truncateToEmpty();
      return false;
    }
    done += size_t(n);
  }
  return true;
}

}  // namespace hv::logopack
