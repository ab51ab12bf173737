#include "updater/client/manifest.h"

#include <algorithm>
#include <charconv>
#include <set>

#include "transport/fetch.h"

namespace hv::update {

const char* manifestErrorText(ManifestError e) {
  switch (e) {
    case ManifestError::None:
      return "no error";
    case ManifestError::TooLarge:
      return "the manifest is too large";
    case ManifestError::NoHeader:
      return "the manifest does not start with \"handvane-update 1\"";
    case ManifestError::BadLine:
      return "a line of the manifest is not understood";
    case ManifestError::BadVersion:
      return "the version is not a dotted number";
    case ManifestError::BadSize:
      return "an item's size is not a number within the limit";
    case ManifestError::BadChecksum:
      return "an item's checksum is not 64 hexadecimal digits";
    case ManifestError::BadMode:
      return "an item's mode is not 0644 or 0755";
    case ManifestError::BadPath:
      return "an item's path leaves the installation";
    case ManifestError::BadUrl:
      return "an item's address is not an http address";
    case ManifestError::DuplicatePath:
      return "two items replace the same file";
    case ManifestError::TooManyItems:
      return "the manifest has too many items";
    case ManifestError::NoVersion:
      return "the manifest names no version";
  }
  return "unknown error";
}

namespace {

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
    if (j > i) out.push_back(line.substr(i, j - i));
    i = j;
  }
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parseSha(std::string_view text, std::array<uint8_t, 32>& out) {
  if (text.size() != 64) return false;
  for (size_t i = 0; i < 32; ++i) {
    const int hi = hexValue(text[2 * i]), lo = hexValue(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = uint8_t(hi << 4 | lo);
  }
  return true;
}

bool parseNumber(std::string_view text, uint64_t& out) {
  if (text.empty() || text.size() > 12) return false;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && p == text.data() + text.size();
}

// The address of a relative reference below the folder of base ("http://h/u/manifest.txt").
std::string resolveUrl(std::string_view ref, std::string_view base) {
  if (ref.find("://") != std::string_view::npos) return std::string(ref);
  if (ref.empty() || ref[0] == '/') {
    // Absolute path on the manifest's server.
    const size_t hostStart = base.find("://");
    if (hostStart == std::string_view::npos) return {};
    const size_t pathStart = base.find('/', hostStart + 3);
    return std::string(base.substr(0, pathStart)) + std::string(ref);
  }
  const size_t query = base.find_first_of("?#");
  std::string_view dir = base.substr(0, query);
  const size_t hostStart = dir.find("://");
  const size_t slash = dir.rfind('/');
  if (hostStart == std::string_view::npos || slash == std::string_view::npos ||
      slash < hostStart + 3) {
    return std::string(dir) + "/" + std::string(ref);
  }
  return std::string(dir.substr(0, slash + 1)) + std::string(ref);
}

}  // namespace

bool isSafeRelativePath(std::string_view path) {
  if (path.empty() || path.size() > kMaxPathBytes || path[0] == '/') return false;
  for (char c : path) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '\\') return false;
  }
  size_t start = 0;
  for (;;) {
    const size_t end = path.find('/', start);
    const std::string_view part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

bool isVersion(std::string_view text) {
  if (text.empty() || text.size() > 80) return false;
  int parts = 0;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('.', start);
    const std::string_view part = text.substr(start, end - start);
    if (part.empty() || part.size() > 9 ||
        !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return false;
    }
    if (++parts > 8) return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

int compareVersions(std::string_view a, std::string_view b) {
  auto next = [](std::string_view& s) -> uint64_t {
    if (s.empty()) return 0;
    const size_t dot = s.find('.');
    uint64_t n = 0;
    std::from_chars(s.data(), s.data() + (dot == std::string_view::npos ? s.size() : dot), n);
    s = dot == std::string_view::npos ? std::string_view{} : s.substr(dot + 1);
    return n;
  };
  while (!a.empty() || !b.empty()) {
    const uint64_t x = next(a), y = next(b);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

Manifest parseManifest(std::string_view text, std::string_view manifestUrl, ManifestError& error) {
  error = ManifestError::None;
  auto fail = [&](ManifestError e) {
    error = e;
    return Manifest{};
  };
  if (text.size() > kMaxManifestBytes) return fail(ManifestError::TooLarge);
  Manifest m;
  bool header = false;
  std::set<std::string> paths;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\0') != std::string_view::npos) return fail(ManifestError::BadLine);
    const auto w = words(line);
    if (w.empty() || w[0][0] == '#') continue;
    if (!header) {
      if (w.size() != 2 || w[0] != "handvane-update" || w[1] != "1") {
        return fail(ManifestError::NoHeader);
      }
      header = true;
      continue;
    }
    if (w[0] == "version") {
      if (w.size() != 2 || !isVersion(w[1]) || !m.version.empty()) {
        return fail(ManifestError::BadVersion);
      }
      m.version = std::string(w[1]);
    } else if (w[0] == "manual") {
      if (w.size() != 2 || (w[1] != "yes" && w[1] != "no")) return fail(ManifestError::BadLine);
      m.manual = w[1] == "yes";
    } else if (w[0] == "item") {
      if (w.size() != 6) return fail(ManifestError::BadLine);
      if (m.items.size() >= kMaxItems) return fail(ManifestError::TooManyItems);
      ManifestItem item;
      if (!parseNumber(w[1], item.size) || item.size > kMaxItemBytes) {
        return fail(ManifestError::BadSize);
      }
      if (!parseSha(w[2], item.sha256)) return fail(ManifestError::BadChecksum);
      if (w[3] == "0644") {
        item.mode = 0644;
      } else if (w[3] == "0755") {
        item.mode = 0755;
      } else {
        return fail(ManifestError::BadMode);
      }
      if (!isSafeRelativePath(w[4]) || w[4].substr(0, 8) == ".update/" || w[4] == ".update") {
        return fail(ManifestError::BadPath);
      }
      item.path = std::string(w[4]);
      if (!paths.insert(item.path).second) return fail(ManifestError::DuplicatePath);
      if (w[5].size() > kMaxUrlBytes) return fail(ManifestError::BadUrl);
      item.url = resolveUrl(w[5], manifestUrl);
      if (item.url.size() > kMaxUrlBytes || !net::isHttpAddress(item.url)) {
        return fail(ManifestError::BadUrl);
      }
      m.items.push_back(std::move(item));
    } else {
      return fail(ManifestError::BadLine);
    }
  }
  if (!header) return fail(ManifestError::NoHeader);
  if (m.version.empty()) return fail(ManifestError::NoVersion);
  return m;
}

}  // namespace hv::update
