#pragma once
// The typing history of a recipient box, kept in a profile file (the user's "Setting.ini").
//
// Layout, in the section named by the caller ("Receiver"):
//   Count=<n>            number of entries, 0 to kMaxEntries
//   Item1=<text> ... Item<n>=<text>   most recent first
// A section that does not follow this (Count missing or not a number in range, an entry missing,
// empty or not GBK) is damaged: the history is empty and the section is rewritten cleanly at once.
// Other sections and keys of the file are kept as they are.
// No Qt here: the modules' Qt-free cores keep their recipient history with it.
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/export.h"

namespace hv::ui {

class HV_EXPORT ReceiverHistory {
 public:
  static constexpr int kMaxEntries = 20;

  // Loads the history; false when the file held no usable history (missing or damaged).
  bool load(std::string_view profileFile, std::string_view section);
  // Writes the history back to the file it was loaded from; false when nothing was loaded or the
  // file could not be written.
  bool save() const;
  // Puts the text first, dropping an older equal entry and the oldest beyond kMaxEntries; blanks
  // around it are ignored, an empty text is not recorded.
  void add(std::string_view text);

  const std::vector<std::string>& entries() const { return entries_; }
  bool damaged() const { return damaged_; }
  bool loaded() const { return !file_.empty(); }

 private:
  std::string file_;
  std::string section_;
  std::vector<std::string> entries_;
  bool damaged_ = false;
};

}  // namespace hv::ui
