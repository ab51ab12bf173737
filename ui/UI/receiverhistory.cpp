#include "ui/UI/receiverhistory.h"

#include <algorithm>
#include <optional>

#include "platform/gbk.h"
#include "platform/profile.h"

namespace hv::ui {

namespace {

std::optional<int> strictCount(const std::string& s) {
  if (s.empty() || s.size() > 3) return std::nullopt;
  int n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

std::string trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return std::string(s.substr(first, last - first + 1));
}

std::string itemKey(size_t i) {
  return "Item" + std::to_string(i + 1);
}
}  // namespace

bool ReceiverHistory::load(std::string_view profileFile, std::string_view section) {
  file_ = profileFile;
  section_ = section;
  entries_.clear();
  damaged_ = false;
  const Profile p = Profile::load(profileFile);
  const auto keys = p.keys(section);
  if (keys.empty()) return false;  // no history yet: nothing to repair

  std::vector<std::string> read;
  auto count = strictCount(p.get(section, "Count").value_or(""));
  bool ok = count && *count <= kMaxEntries;
  for (int i = 0; ok && i < *count; ++i) {
    auto v = p.get(section, itemKey(i));
    ok = v && !v->empty() && gbkToUtf8(*v).has_value() &&
         std::find(read.begin(), read.end(), *v) == read.end();
    if (ok) read.push_back(*v);
  }
  if (!ok) {
    damaged_ = true;
    save();
    return false;
  }
  entries_ = std::move(read);
  return true;
}

bool ReceiverHistory::save() const {
  if (file_.empty()) return false;
  Profile p = Profile::load(file_);
  p.removeSection(section_);
  p.set(section_, "Count", std::to_string(entries_.size()));
  for (size_t i = 0; i < entries_.size(); ++i) p.set(section_, itemKey(i), entries_[i]);
  return p.save(file_);
}

void ReceiverHistory::add(std::string_view text) {
  std::string t = trimmed(text);
  if (t.empty() || t.find_first_of("\r\n") != std::string::npos) return;
  entries_.erase(std::remove(entries_.begin(), entries_.end(), t), entries_.end());
  entries_.insert(entries_.begin(), std::move(t));
  if (entries_.size() > static_cast<size_t>(kMaxEntries)) entries_.resize(kMaxEntries);
}

}  // namespace hv::ui
