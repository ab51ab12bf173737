#include "tables/fees/feeconfig.h"

#include <cstdio>
#include <cstdlib>

#include "platform/profile.h"

namespace {

constexpr uint32_t kValueBuffer = 4096;

std::string readValue(const std::string& file, const char* section, const std::string& key) {
  std::string buffer(kValueBuffer, '\0');
  uint32_t n = hv::GetPrivateProfileString(section, key.c_str(), "", buffer.data(), kValueBuffer,
                                           file.c_str());
  buffer.resize(n);
  return buffer;
}

// Every piece before a ";" counts, empty ones too; the piece after the last ";" counts only when
// it is not empty.
std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t semi; (semi = text.find(';', start)) != std::string::npos; start = semi + 1) {
    pieces.push_back(text.substr(start, semi - start));
  }
  if (start < text.size()) pieces.push_back(text.substr(start));
  return pieces;
}

// The formats come from a data file and are handed to printf with a text and a double, so only
// formats whose conversions are at most those two, in that order, are used: "%s" first, then
// one of f, e, g, a (with flags, a width and a precision of at most three digits). "%%" is a
// literal per cent sign.
bool safeFormat(std::string_view f) {
  int conversions = 0;
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] != '%') continue;
    if (++i >= f.size()) return false;
    if (f[i] == '%') continue;
    while (i < f.size() && std::string_view("-+ #0").find(f[i]) != std::string_view::npos) ++i;
    size_t digits = 0;
    while (i < f.size() && f[i] >= '0' && f[i] <= '9') ++i, ++digits;
    if (digits > 3) return false;
    if (i < f.size() && f[i] == '.') {
      ++i;
      digits = 0;
      while (i < f.size() && f[i] >= '0' && f[i] <= '9') ++i, ++digits;
      if (digits > 3) return false;
    }
    if (i >= f.size()) return false;
    char c = f[i];
    if (conversions == 0 && c == 's') {
      conversions = 1;
    } else if (conversions == 1) {
      if (c == 'l' && i + 1 < f.size()) c = f[++i];
      if (std::string_view("feEgGaAF").find(c) == std::string_view::npos) return false;
      conversions = 2;
    } else {
      return false;
    }
  }
  return true;
}

std::string format(const std::string& fmt, const std::string& text, double value) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int n = std::snprintf(nullptr, 0, fmt.c_str(), text.c_str(), value);
  if (n < 0) return {};
  std::string out(size_t(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), fmt.c_str(), text.c_str(), value);
#pragma GCC diagnostic pop
  out.resize(size_t(n));
  return out;
}

}  // namespace

CFeeConfig::CFeeConfig() = default;
CFeeConfig::~CFeeConfig() = default;

int CFeeConfig::Init(std::string_view path) {
  path_ = path;
  items_.clear();
  cache_.clear();
  for (int n = 1;; ++n) {
    std::string value = readValue(path_, "YEWU_LIST", "ITEM" + std::to_string(n));
    if (value.empty()) break;
    auto fields = split(value);
    if (fields.size() < 5) continue;
    std::string fmt = readValue(path_, "FORMAT", fields[4]);
    if (!safeFormat(fmt)) continue;
    Item item;
    item.name = fields[0];
    item.shownName = fields[1];
    item.fixedCharge = std::atoi(fields[2].c_str());
    item.perMessage = float(std::atof(fields[3].c_str()));
    item.format = fmt + "\n";
    items_.push_back(std::move(item));
  }
  return 1;
}

std::string CFeeConfig::ConstructFee(std::string_view kind, int count) {
  auto it = cache_.find(kind);
  if (it == cache_.end()) {
    std::vector<const Item*> list;
    for (const auto& name : split(readValue(path_, "INFOTYPE2YEWU", std::string(kind)))) {
      for (const auto& item : items_) {
        if (item.name == name) {
          list.push_back(&item);
          break;
        }
      }
    }
    it = cache_.emplace(std::string(kind), std::move(list)).first;
  }
  std::string notice;
  for (const Item* item : it->second) {
    float fee = (float(count) * item->perMessage + float(item->fixedCharge)) * 0.1f;
    notice += format(item->format, item->shownName, double(fee));
  }
  return notice;
}
