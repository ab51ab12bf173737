#include "utils/header.h"

#include <cctype>

namespace {
std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}
bool sameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower((unsigned char)a[i]) != std::tolower((unsigned char)b[i])) return false;
  return true;
}
}  // namespace

void CHeader::Add(std::string_view name, std::string_view value) {
  lines_.emplace_back(std::string(name), std::string(value));
}

int CHeader::ParseAndAdd(std::string_view text, std::string_view separator) {
  if (separator.empty()) separator = "\r\n";
  int added = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(separator, pos);
    std::string_view line =
        text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end == std::string_view::npos ? text.size() : end + separator.size();
    if (trim(line).empty()) continue;
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      Add(trim(line), "");
    } else {
      Add(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    ++added;
  }
  return added;
}

std::string CHeader::Compound(std::string_view separator) const {
  std::string out;
  for (const auto& [name, value] : lines_) {
    out += name;
    out += ": ";
    out += value;
    out += separator;
  }
  return out;
}

std::string CHeader::Get(std::string_view name) const {
  for (const auto& [n, v] : lines_)
    if (sameNoCase(n, name)) return v;
  return {};
}

bool CHeader::Has(std::string_view name) const {
  for (const auto& [n, v] : lines_)
    if (sameNoCase(n, name)) return true;
  return false;
}
