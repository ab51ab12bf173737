#include "platform/profile.h"

#include <cctype>
#include <cstring>
#include <mutex>

#include "platform/fs.h"
#include "platform/gbk.h"

namespace hv {
namespace {

constexpr size_t npos = std::string::npos;

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
    if (x < 0x80 && y < 0x80) {
      if (std::tolower(x) != std::tolower(y)) return false;
    } else if (x != y) {
      return false;
    }
  }
  return true;
}

// Read-modify-write of one file from several threads of the process is serialised here; the
// rename keeps readers in other processes from seeing a half-written file.
std::mutex writeMutex;

template <typename F>
bool modify(std::string_view file, F change) {
  std::lock_guard lock(writeMutex);
  std::string path = fs::resolveOrKeep(file);
  Profile p = Profile::load(path);
  change(p);
  return p.save(path);
}

size_t appendList(const std::vector<std::string>& names, char* buffer, uint32_t size) {
  // Windows fills the buffer with NUL-terminated names and a final NUL; names that do not fit
  // are left out whole.
  if (!buffer || size == 0) return 0;
  if (size == 1) {
    buffer[0] = 0;
    return 0;
  }
  size_t pos = 0;
  for (const auto& n : names) {
    if (pos + n.size() + 2 > size) break;
    std::memcpy(buffer + pos, n.data(), n.size());
    pos += n.size();
    buffer[pos++] = 0;
  }
  buffer[pos] = 0;
  if (pos == 0 && size >= 2) buffer[1] = 0;
  return pos;
}

}  // namespace

Profile Profile::load(std::string_view path) {
  auto text = fs::readFile(fs::resolveOrKeep(path));
  return text ? parse(*text) : Profile();
}

Profile Profile::parse(std::string_view text) {
  Profile p;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    std::string_view raw = text.substr(pos, end == npos ? npos : end - pos);
    pos = end == npos ? text.size() : end + 1;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    Line line;
    line.raw = std::string(raw);
    std::string_view t = trim(raw);
    if (!t.empty() && t.front() == '[') {
      auto close = t.find(']');
      line.isSection = true;
      line.section = std::string(trim(t.substr(1, close == npos ? npos : close - 1)));
    } else if (!t.empty() && t.front() != ';') {
      auto eq = t.find('=');
      if (eq != npos) {
        line.isKey = true;
        line.key = std::string(trim(t.substr(0, eq)));
      }
    }
    p.lines_.push_back(std::move(line));
  }
  return p;
}

size_t Profile::findSection(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i)
    if (lines_[i].isSection && sameName(lines_[i].section, section)) return i;
  return npos;
}

size_t Profile::sectionEnd(size_t sectionLine) const {
  size_t i = sectionLine + 1;
  while (i < lines_.size() && !lines_[i].isSection) ++i;
  return i;
}

size_t Profile::findKey(size_t sectionLine, std::string_view key) const {
  for (size_t i = sectionLine + 1; i < sectionEnd(sectionLine); ++i)
    if (lines_[i].isKey && sameName(lines_[i].key, key)) return i;
  return npos;
}

std::optional<std::string> Profile::get(std::string_view section, std::string_view key) const {
  size_t s = findSection(section);
  if (s == npos) return std::nullopt;
  size_t k = findKey(s, key);
  if (k == npos) return std::nullopt;
  std::string_view raw = lines_[k].raw;
  std::string_view v = trim(raw.substr(raw.find('=') + 1));
  if (v.size() >= 2 &&
      ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
    v = v.substr(1, v.size() - 2);
  return std::string(v);
}

std::vector<std::string> Profile::sections() const {
  std::vector<std::string> out;
  for (const auto& l : lines_)
    if (l.isSection) out.push_back(l.section);
  return out;
}

std::vector<std::string> Profile::keys(std::string_view section) const {
  std::vector<std::string> out;
  size_t s = findSection(section);
  if (s == npos) return out;
  for (size_t i = s + 1; i < sectionEnd(s); ++i)
    if (lines_[i].isKey) out.push_back(lines_[i].key);
  return out;
}

void Profile::set(std::string_view section, std::string_view key, std::string_view value) {
  Line kv;
  kv.isKey = true;
  kv.key = std::string(key);
  kv.raw = std::string(key) + "=" + std::string(value);
  size_t s = findSection(section);
  if (s == npos) {
    // A new section follows the last line; Windows separates it from a previous section by
    // nothing, we keep the file as it was and append.
    Line header;
    header.isSection = true;
    header.section = std::string(section);
    header.raw = "[" + std::string(section) + "]";
    lines_.push_back(std::move(header));
    lines_.push_back(std::move(kv));
    return;
  }
  size_t k = findKey(s, key);
  if (k != npos) {
    kv.key = lines_[k].key;  // keep the spelling the file had
    kv.raw = lines_[k].key + "=" + std::string(value);
    lines_[k] = std::move(kv);
    return;
  }
  // After the last key of the section, before trailing blank lines.
  size_t end = sectionEnd(s);
  size_t at = end;
  while (at > s + 1 && trim(lines_[at - 1].raw).empty()) --at;
  lines_.insert(lines_.begin() + long(at), std::move(kv));
}

void Profile::removeKey(std::string_view section, std::string_view key) {
  size_t s = findSection(section);
  if (s == npos) return;
  size_t k = findKey(s, key);
  if (k != npos) lines_.erase(lines_.begin() + long(k));
}

void Profile::removeSection(std::string_view section) {
  size_t s = findSection(section);
  if (s == npos) return;
  lines_.erase(lines_.begin() + long(s), lines_.begin() + long(sectionEnd(s)));
}

std::string Profile::text() const {
  std::string out;
  for (const auto& l : lines_) {
    out += l.raw;
    out += "\r\n";
  }
  return out;
}

bool Profile::save(std::string_view path) const {
  return fs::writeFileAtomic(path, text());
}

namespace profile {

std::string getString(std::string_view file, std::string_view section, std::string_view key,
                      std::string_view defaultValue) {
  auto v = Profile::load(file).get(section, key);
  return v ? *v : std::string(trim(defaultValue));
}

int getInt(std::string_view file, std::string_view section, std::string_view key,
           int defaultValue) {
  auto v = Profile::load(file).get(section, key);
  if (!v) return defaultValue;
  std::string_view s = *v;
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  long long n = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    n = n * 10 + (s[i++] - '0');
    if (n > 0xFFFFFFFFLL) n = 0xFFFFFFFFLL;  // Windows keeps 32 bits
  }
  return int(uint32_t(negative ? -n : n));
}

bool writeString(std::string_view file, std::string_view section, std::string_view key,
                 std::string_view value) {
  return modify(file, [&](Profile& p) { p.set(section, key, value); });
}
bool removeKey(std::string_view file, std::string_view section, std::string_view key) {
  return modify(file, [&](Profile& p) { p.removeKey(section, key); });
}
bool removeSection(std::string_view file, std::string_view section) {
  return modify(file, [&](Profile& p) { p.removeSection(section); });
}

}  // namespace profile

uint32_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                 char* buffer, uint32_t size, const char* file) {
  if (!file) return 0;
  Profile p = Profile::load(file);
  if (!section) return uint32_t(appendList(p.sections(), buffer, size));
  if (!key) return uint32_t(appendList(p.keys(section), buffer, size));
  auto v = p.get(section, key);
  std::string value = v ? *v : std::string(trim(defaultValue ? defaultValue : ""));
  return uint32_t(copyToBuffer(buffer, size, value));
}

int GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* file) {
  if (!section || !key || !file) return defaultValue;
  return profile::getInt(file, section, key, defaultValue);
}

bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* file) {
  if (!section || !file) return false;
  if (!key) return profile::removeSection(file, section);
  if (!value) return profile::removeKey(file, section, key);
  return profile::writeString(file, section, key, value);
}

}  // namespace hv
