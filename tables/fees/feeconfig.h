#pragma once
// Fee: the fee notice shown beside the send buttons. The configuration ("data/confee.dll",
// a profile file despite its name) lists service items, their charges and display formats, and
// which items apply to each kind of content ("text", "flash" or a picture type key).
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/export.h"

class HV_EXPORT CFeeConfig {
 public:
  CFeeConfig();
  ~CFeeConfig();
  CFeeConfig(const CFeeConfig&) = delete;
  CFeeConfig& operator=(const CFeeConfig&) = delete;

  // Remembers the file and loads its service items; returns 1.
  int Init(std::string_view path);
  // One line per applicable item: the item's format filled with its shown name and
  // (count x per-message charge + fixed charge) / 10. Empty for a kind the file does not list.
  std::string ConstructFee(std::string_view kind, int count);

  struct Item {
    std::string name;
    std::string shownName;
    int fixedCharge = 0;   // tenths of the shown unit
    float perMessage = 0;  // tenths of the shown unit
    std::string format;    // printf-style: a text, then a real; ends in "\n"
  };
  const std::vector<Item>& items() const { return items_; }

 private:
  std::string path_;
  std::vector<Item> items_;
  std::map<std::string, std::vector<const Item*>, std::less<>> cache_;
};
