#pragma once
// The recipient box of a module dialog: an editable combo box whose list holds the user's friends
// (each entry carrying the friend's index in the friends table) followed by the typing history
// kept in the user's "Setting.ini" under "Receiver" (entries carrying kHistoryEntry). The box
// lives in one control of the dialog's controller: items are the entries, selection the selected
// entry, text the edit part; the view shows that control in a CACCombox.
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "include/handvane/export.h"
#include "include/handvane/records.h"
#include "ui/UI/receiverhistory.h"
#include "ui/core/ui.h"

class FriendsTable;

namespace hv::modkit {

class HV_EXPORT ReceiverBox {
 public:
  static constexpr int kHistoryEntry = -1;
  static constexpr char kHistoryKey[] = "Receiver";

  ReceiverBox(ui::DialogController& dialog, int controlId);

  // Empties the list and the text; the history is forgotten until loaded again.
  void clear();
  // Adds a friend's entry: among the friend entries in order without regard to ASCII case when
  // sorted (as a sorted combo box does), else after them.
  void addFriend(std::string_view name, int index, bool sorted = true);
  // Opens the user's friends table and adds every friend that keep accepts (all when keep is
  // empty), in table order. Returns the table, owned by the caller (null when it cannot be
  // opened: the list then holds no friends).
  FriendsTable* loadFriends(std::string_view userId, bool sorted,
                            const std::function<bool(const FriendRecord&)>& keep = {});
  // Loads the typing history of the profile file; its entries follow the friends. A damaged
  // history is emptied and rewritten cleanly (see ui/UI/history.h).
  bool loadHistory(std::string_view profileFile);
  // Records the text shown at the top of the history and saves the file (when one was loaded).
  void addCurrent();
  bool saveHistory() const;

  int count() const { return int(entries_.size()); }
  std::string entry(int i) const;
  // The friend index of entry i, or kHistoryEntry.
  int entryData(int i) const;
  // The selected entry (-1 for none) and its data (kHistoryEntry for none).
  int selected() const;
  int selectedData() const;
  // Selects entry i and shows its text; -1 selects nothing and keeps the text.
  void select(int i);
  // The first entry equal to text without regard to ASCII case, or -1.
  int find(std::string_view text) const;

  std::string text() const;
  void setText(std::string_view text);
  const ui::ReceiverHistory& history() const { return history_; }

 private:
  void relist();

  ui::DialogController& dialog_;
  const int id_;
  // Friend entries first, then the history's; each with its data.
  std::vector<std::pair<std::string, int>> entries_;
  size_t friendCount_ = 0;
  ui::ReceiverHistory history_;
};

}  // namespace hv::modkit
