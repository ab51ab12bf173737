#include "modules/kit/receiverbox.h"

#include <algorithm>
#include <cctype>

#include "tables/friends/buddystore.h"

namespace hv::modkit {

namespace {

int compareNoCase(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

ReceiverBox::ReceiverBox(ui::DialogController& dialog, int controlId)
    : dialog_(dialog), id_(controlId) {}

void ReceiverBox::clear() {
  entries_.clear();
  friendCount_ = 0;
  history_ = ui::ReceiverHistory();
  dialog_.setSelection(id_, -1);
  dialog_.setItems(id_, {});
  dialog_.setText(id_, {});
}

void ReceiverBox::addFriend(std::string_view name, int index, bool sorted) {
  auto end = entries_.begin() + long(friendCount_);
  auto at = sorted ? std::upper_bound(entries_.begin(), end, name,
                                      [](std::string_view n, const auto& e) {
                                        return compareNoCase(n, e.first) < 0;
                                      })
                   : end;
  const int position = int(at - entries_.begin());
  entries_.insert(at, {std::string(name), index});
  ++friendCount_;
  const int sel = dialog_.selection(id_);
  relist();
  if (sel >= position) dialog_.setSelection(id_, sel + 1);
}

FriendsTable* ReceiverBox::loadFriends(std::string_view userId, bool sorted,
                                       const std::function<bool(const FriendRecord&)>& keep) {
  FriendsTable* table = FLOpen(std::string(userId).c_str());
  const int n = FLGetCount(table);
  for (int i = 0; i < n; ++i) {
    FriendRecord f{};
    if (FLGetInfo(table, i, &f) != 0) continue;  // a deleted friend's empty entry
    if (keep && !keep(f)) continue;
    addFriend(fieldText(f.name), i, sorted);
  }
  return table;
}

bool ReceiverBox::loadHistory(std::string_view profileFile) {
  const bool ok = history_.load(profileFile, kHistoryKey);
  relist();
  return ok;
}

void ReceiverBox::addCurrent() {
  const std::string shown = text();
  history_.add(shown);
  const int sel = selected();
  const bool friendSelected = sel >= 0 && size_t(sel) < friendCount_;
  relist();
  // A history entry moved: select it again where it is now.
  if (!friendSelected) dialog_.setSelection(id_, sel < 0 ? -1 : find(shown));
  dialog_.setText(id_, shown);
  if (history_.loaded()) history_.save();
}

bool ReceiverBox::saveHistory() const {
  return history_.save();
}

std::string ReceiverBox::entry(int i) const {
  return i >= 0 && i < count() ? entries_[size_t(i)].first : std::string();
}

int ReceiverBox::entryData(int i) const {
  return i >= 0 && i < count() ? entries_[size_t(i)].second : kHistoryEntry;
}

int ReceiverBox::selected() const {
  const int sel = dialog_.selection(id_);
  return sel >= 0 && sel < count() ? sel : -1;
}

int ReceiverBox::selectedData() const {
  return entryData(selected());
}

void ReceiverBox::select(int i) {
  if (i < 0 || i >= count()) {
    dialog_.setSelection(id_, -1);
    return;
  }
  dialog_.setText(id_, entries_[size_t(i)].first);
  dialog_.setSelection(id_, i);
}

int ReceiverBox::find(std::string_view text) const {
  for (int i = 0; i < count(); ++i) {
    if (compareNoCase(entries_[size_t(i)].first, text) == 0) return i;
  }
  return -1;
}

std::string ReceiverBox::text() const {
  return dialog_.text(id_);
}

void ReceiverBox::setText(std::string_view text) {
  dialog_.setText(id_, std::string(text));
}

void ReceiverBox::relist() {
  entries_.resize(friendCount_);
  for (const std::string& e : history_.entries()) entries_.emplace_back(e, kHistoryEntry);
  std::vector<std::string> items;
  items.reserve(entries_.size());
  for (const auto& e : entries_) items.push_back(e.first);
  dialog_.setItems(id_, std::move(items));
}

}  // namespace hv::modkit
