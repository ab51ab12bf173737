#include "main/skin.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "main/text.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/profile.h"

namespace hv::launcher {

namespace {

constexpr int kCoordinateLimit = 32767;

// Reads an optionally signed decimal number at s[i]; false when there are no digits.
bool readInt(std::string_view s, size_t& i, long long& out) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  const size_t digitsFrom = i;
  long long n = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    n = std::min<long long>(n * 10 + (s[i++] - '0'), 1LL << 40);
  }
  if (i == digitsFrom) return false;
  out = negative ? -n : n;
  return true;
}

// Single-byte backslashes become "/" (a GBK trail byte may be 0x5C and is kept).
std::string slashes(std::string_view gbk) {
  std::string out(gbk);
  for (size_t i = 0; i < out.size(); ++i) {
    const auto c = static_cast<unsigned char>(out[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < out.size()) {
      ++i;
    } else if (c == '\\') {
      out[i] = '/';
    }
  }
  return out;
}

// The path with ".", ".." and repeated "/" taken out; nullopt when ".." climbs past the top.
std::optional<std::string> lexicallyNormal(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string_view::npos) j = path.size();
    std::string_view part = path.substr(i, j - i);
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out = !path.empty() && path[0] == '/' ? "/" : "";
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k) out += '/';
    out += parts[k];
  }
  return out;
}

std::string absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return path;
  auto here = fs::suitePath(cwd);
  return (here ? *here : std::string(cwd)) + "/" + path;
}

bool inside(std::string_view path, std::string_view base) {
  return path.size() > base.size() && path.substr(0, base.size()) == base;
}

// The real location of a suite path (links followed), as a suite path ending without "/".
std::optional<std::string> realLocation(const std::string& path) {
  auto os = fs::osPath(path);
  if (!os) return std::nullopt;
  char* real = ::realpath(os->c_str(), nullptr);
  if (!real) return std::nullopt;
  std::string r(real);
  std::free(real);
  return fs::suitePath(r);
}

std::vector<std::string> installationRoots() {
  std::vector<std::string> roots;
  for (const std::string& dir : {fs::suiteHome(), fs::programDirectory()}) {
    auto normal = lexicallyNormal(absolute(dir));
    if (normal && std::find(roots.begin(), roots.end(), *normal + "/") == roots.end())
      roots.push_back(*normal + "/");
  }
  return roots;
}

bool realInside(const std::string& file, const std::vector<std::string>& roots) {
  auto real = realLocation(file);
  if (!real) return false;
  for (const auto& root : roots) {
    auto realRoot = realLocation(root);
    if (realRoot && inside(*real, *realRoot + "/")) return true;
  }
  return false;
}

std::string value(const Profile& p, std::string_view section, std::string_view key) {
  auto v = p.get(section, key);
  return v ? std::string(gbkCut(*v, kSkinValueBytes)) : std::string();
}

std::string resolved(std::string_view folder, std::string_view relative) {
  return resolveInInstallation(folder, relative).value_or("");
}

bool valid(const SkinEntry& e) {
  if (e.type.empty() || e.name.empty() || e.rect0.allZero()) return false;
  return e.type != T("文字型") || !e.rect1.allZero();
}

// Entry sections beyond the highest numbered section present cannot be valid: the count to
// read is bounded by the file, whatever focuscount claims.
int sectionsToRead(const Profile& p, int focusCount) {
  long long highest = -1;
  for (const auto& s : p.sections()) {
    if (s.empty() || s.size() > 10 || s.find_first_not_of("0123456789") != std::string::npos)
      continue;
    highest = std::max(highest, std::stoll(s));
  }
  return static_cast<int>(std::min<long long>(focusCount, highest + 1));
}

}  // namespace

bool SkinEntry::hotArea() const {
  return type == T("提示型");
}

EntryCommand SkinEntry::command() const {
  if (!dll.empty()) return EntryCommand::Plugin;
  if (name == T("好友列表")) return EntryCommand::Friends;
  if (name == T("最小化")) return EntryCommand::Minimize;
  if (name == T("退出")) return EntryCommand::Exit;
  return EntryCommand::Link;
}

Rect parseRect(std::string_view v) {
  int n[4] = {0, 0, 0, 0};
  size_t i = 0;
  for (int k = 0; k < 4; ++k) {
    long long x = 0;
    if (!readInt(v, i, x)) break;
    n[k] = static_cast<int>(std::clamp<long long>(x, -kCoordinateLimit, kCoordinateLimit));
    if (i < v.size() && v[i] == ',') {
      ++i;
    } else if (i < v.size()) {
      break;  // a number must be followed by a comma or the end
    }
  }
  return {n[0], n[1], n[2], n[3]};
}

Rgb parseRgb(std::string_view v) {
  long long c[3] = {0, 0, 0};
  size_t i = 0;
  for (int k = 0; k < 3; ++k) {
    if (!readInt(v, i, c[k])) break;
    if (k < 2) {
      if (i >= v.size() || v[i] != ',') break;
      ++i;
    }
  }
  auto low = [](long long x) { return static_cast<uint8_t>(static_cast<uint64_t>(x) & 0xFF); };
  return {low(c[0]), low(c[1]), low(c[2])};
}

int parseProfileInt(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  long long n = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    n = std::min(n * 10 + (s[i++] - '0'), 0xFFFFFFFFLL);
  }
  return static_cast<int>(static_cast<uint32_t>(negative ? -n : n));
}

std::optional<std::string> resolveInInstallation(std::string_view folder,
                                                 std::string_view relative) {
  const std::string rel = slashes(relative);
  if (rel.empty() || rel[0] == '/') return std::nullopt;
  auto joined = lexicallyNormal(absolute(std::string(folder) + "/" + rel));
  if (!joined) return std::nullopt;
  const auto roots = installationRoots();
  std::vector<std::string> candidates;
  for (const auto& root : roots) {
    if (!inside(*joined, root)) continue;
    candidates.push_back(*joined);
    // The same place below the other roots (the home's SKIN folder names the program's
    // libraries as "../libX.so").
    for (const auto& other : roots) {
      if (other != root) candidates.push_back(other + joined->substr(root.size()));
    }
    break;
  }
  for (const auto& c : candidates) {
    auto found = fs::resolveNoCase(c);
    if (found && !fs::isDirectory(*found) && realInside(*found, roots)) return found;
  }
  return std::nullopt;
}

SkinFile parseSkin(std::string_view text, const std::string& path) {
  const Profile p = Profile::parse(text);
  SkinFile s;
  s.path = path;
  s.folder = fs::directoryOf(path);
  s.name = value(p, "ALL", "name");
  s.background = resolved(s.folder, value(p, "ALL", "background"));
  s.appIcon = resolved(s.folder, value(p, "ALL", "appicons"));
  s.focusCount = std::max(0, parseProfileInt(value(p, "ALL", "focuscount")));
  const int count = sectionsToRead(p, s.focusCount);
  for (int i = 0; i < count; ++i) {
    const std::string section = std::to_string(i);
    SkinEntry e;
    e.type = value(p, section, "type");
    e.name = value(p, section, "name");
    e.rect0 = parseRect(p.get(section, "rect0") ? value(p, section, "rect0") : "0,0,0,0");
    e.rect1 = parseRect(p.get(section, "rect1") ? value(p, section, "rect1") : "0,0,0,0");
    if (!valid(e)) continue;
    e.icon = value(p, section, "icon");
    e.dll = value(p, section, "dll");
    e.pic0 = value(p, section, "pic0");
    e.pic1 = value(p, section, "pic1");
    e.rgb0 = parseRgb(value(p, section, "rgb0"));
    e.rgb1 = parseRgb(value(p, section, "rgb1"));
    e.iconPath = resolved(s.folder, e.icon);
    e.pic0Path = resolved(s.folder, e.pic0);
    e.pic1Path = resolved(s.folder, e.pic1);
    e.dllPath = resolved(s.folder, e.dll);
    s.entries.push_back(std::move(e));
  }
  return s;
}

SkinFile readSkin(const std::string& path) {
  return parseSkin(fs::readFile(path).value_or(""), path);
}

// ---- SkinCatalog

SkinCatalog::SkinCatalog(std::string skinFolder) : folder_(std::move(skinFolder)) {
  if (folder_.empty() || folder_.back() != '/') folder_ += '/';
}

std::vector<std::string> SkinCatalog::list() const {
  std::vector<std::string> out;
  for (const auto& name : fs::list(folder_)) {
    if (name.size() > 5 && upperAscii(name.substr(name.size() - 5)) == ".SKIN" &&
        !fs::isDirectory(folder_ + name)) {
      out.push_back(folder_ + name);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string SkinCatalog::current() {
  const std::string v = profile::getString(configFile(), "ALL", "skin", "");
  if (!v.empty()) return v[0] == '/' ? v : folder_ + v;
  const auto skins = list();
  if (skins.empty()) return {};
  profile::writeString(configFile(), "ALL", "skin", skins.front());
  return skins.front();
}

std::optional<std::string> SkinCatalog::next() {
  const auto skins = list();
  if (skins.empty()) return std::nullopt;
  if (!position_) {
    const std::string now = current();
    position_ = -1;
    for (size_t i = 0; i < skins.size(); ++i) {
      if (equalsNoCase(skins[i], now)) {
        position_ = static_cast<int>(i);
        break;
      }
    }
  }
  int at = *position_ + 1;
  if (at >= static_cast<int>(skins.size()) || at < 0) at = 0;
  position_ = at;
  const std::string& chosen = skins[static_cast<size_t>(at)];
  profile::writeString(configFile(), "ALL", "skin", chosen.substr(chosen.rfind('/') + 1));
  return chosen;
}

}  // namespace hv::launcher
