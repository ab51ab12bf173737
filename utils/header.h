#pragma once
// An ordered list of header lines (HTTP or mail style).
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "include/handvane/export.h"

class HV_EXPORT CHeader {
 public:
  void Add(std::string_view name, std::string_view value);
  // Splits received header text at the separator and adds each "name: value" line; a line without
  // a colon is kept with an empty value. Returns the number of lines added.
  int ParseAndAdd(std::string_view text, std::string_view separator = "\r\n");
  // All lines as "name: value", each followed by the separator.
  std::string Compound(std::string_view separator = "\r\n") const;
  // The value of the first line with that name (ASCII case ignored), or "" when none.
  std::string Get(std::string_view name) const;
  bool Has(std::string_view name) const;
  int GetCount() const { return int(lines_.size()); }
  const std::vector<std::pair<std::string, std::string>>& Lines() const { return lines_; }
  void Clear() { lines_.clear(); }

 private:
  std::vector<std::pair<std::string, std::string>> lines_;
};
