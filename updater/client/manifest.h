#pragma once
// The update manifest that the service's web site publishes (format in updater/README.md):
//
//   handvane-update 1
//   version 1.3
//   manual no
//   item <size> <sha256> <mode> <path> <url>
//
// Lines end in LF or CR LF; empty lines and lines starting with "#" are ignored. Paths are
// relative to the installation and may not leave it; a relative url is taken relative to the
// manifest's own address.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hv::update {

inline constexpr size_t kMaxManifestBytes = 64 * 1024;
inline constexpr size_t kMaxItems = 256;
inline constexpr uint64_t kMaxItemBytes = 256ull * 1024 * 1024;
inline constexpr size_t kMaxPathBytes = 255;
inline constexpr size_t kMaxUrlBytes = 1024;

enum class ManifestError {
  None,
  TooLarge,
  NoHeader,
  BadLine,
  BadVersion,
  BadSize,
  BadChecksum,
  BadMode,
  BadPath,
  BadUrl,
  DuplicatePath,
  TooManyItems,
  NoVersion,
};
const char* manifestErrorText(ManifestError e);

struct ManifestItem {
  uint64_t size = 0;
  std::array<uint8_t, 32> sha256{};
  unsigned mode = 0644;
  std::string path;  // relative, "/" separated, checked by isSafeRelativePath
  std::string url;   // absolute http:// address (resolved against the manifest's address)
};

struct Manifest {
  std::string version;  // dotted decimal numbers: "1.3", "1.2.10"
  bool manual = false;  // this version must be fetched by hand from the download page
  std::vector<ManifestItem> items;
};

// Parses text published at manifestUrl. On failure `error` says why and the result is empty.
Manifest parseManifest(std::string_view text, std::string_view manifestUrl, ManifestError& error);

// A relative path that stays inside the folder it is taken against: no leading "/", no empty,
// "." or ".." component, no backslash, no control characters, at most kMaxPathBytes.
bool isSafeRelativePath(std::string_view path);

// Whether text is a version: 1 to 8 dotted numbers of at most 9 digits each.
bool isVersion(std::string_view text);
// <0, 0, >0 as a is older than, the same as, newer than b (missing parts count 0).
int compareVersions(std::string_view a, std::string_view b);

}  // namespace hv::update
