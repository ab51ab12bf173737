#pragma once
// The packed message file of one call, created new in the caller's folder.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace hv::logopack {

// The caller's path buffer holds 260 characters, its terminator included.
inline constexpr size_t kPathBufferSize = 260;

// The folder named by a path buffer, without one trailing "/". nullopt for a null buffer or one
// with no terminator within its 260 characters.
std::optional<std::string> folderFromBuffer(const char* buffer);

// The file's name in `folder` for a counter value: "QTX" + the counter in lower-case hexadecimal +
// ".tmp". nullopt when the full path does not fit the path buffer.
std::optional<std::string> outputPath(std::string_view folder, uint32_t counter);

class OutputFile {
 public:
  // Creates the first file from `counter` on whose name is free, never opening an existing file
  // (O_EXCL, mode 0600). Each path tried is written into `buffer`; a name that does not fit the
  // buffer stops the search and leaves the buffer as it was. nullopt when no file was created.
  static std::optional<OutputFile> create(char* buffer, uint32_t counter);

  OutputFile(OutputFile&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
  }
  OutputFile& operator=(OutputFile&&) = delete;
  ~OutputFile();

  const std::string& path() const { return path_; }
  // Writes all of `bytes`. On a failure the file is cut back to empty, so that no partial batch
  // of messages is ever sent.
  bool write(std::span<const uint8_t> bytes);

 private:
  OutputFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  void truncateToEmpty();
  int fd_;
  std::string path_;
};

}  // namespace hv::logopack
