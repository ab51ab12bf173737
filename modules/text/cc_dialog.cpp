#include "modules/text/cc_dialog.h"

#include "include/handvane/records.h"
#include "platform/gbk.h"
#include "tables/friends/buddystore.h"

namespace hv::textport {

namespace {
std::string entryOf(const CcDialog::Row& r) {
  return r.name + "<" + r.number + ">";
}
}  // namespace

CcDialog::CcDialog(std::string_view cc, FriendsTable* friends)
    : DialogController(kTemplate, T("抄送好友选择")) {
  const int n = FLGetCount(friends);
  for (int i = 0; i < n; ++i) {
    FriendRecord f{};
    if (FLGetInfo(friends, i, &f) != 0) continue;
    Row row{fieldText(f.name), fieldText(f.mobilenum)};
    (cc.find(entryOf(row)) != std::string_view::npos ? right_ : left_).push_back(std::move(row));
  }
  setText(kAdd, T("抄送>>"));
  setText(kRemove, T("<<删除"));
  setText(kOk, T("确定"));
  setText(kCancel, T("取消"));
  showLists();
}

void CcDialog::select(int list, const std::set<int>& rows) {
  const auto& from = list == kLeft ? left_ : right_;
  std::set<int>& selection = list == kLeft ? leftSelected_ : rightSelected_;
  selection.clear();
  for (int r : rows) {
    if (r >= 0 && size_t(r) < from.size()) selection.insert(r);
  }
}

const std::set<int>& CcDialog::selected(int list) const {
  return list == kLeft ? leftSelected_ : rightSelected_;
}

void CcDialog::move(std::vector<Row>& from, std::set<int>& selection, std::vector<Row>& to) {
  std::vector<Row> kept;
  for (size_t i = 0; i < from.size(); ++i) {
    (selection.count(int(i)) ? to : kept).push_back(std::move(from[i]));
  }
  from = std::move(kept);
  selection.clear();
  showLists();
}

void CcDialog::onCommand(int id) {
  switch (id) {
    case kAdd:
    case kLeft:  // a double click in the left list
      move(left_, leftSelected_, right_);
      break;
    case kRemove:
    case kRight:
      move(right_, rightSelected_, left_);
      break;
    case kOk:
      if (right_.empty()) {
        ui::messageBox(T("对不起，没有选择要抄送的好友！"), "Textport", ui::Icon::Stop);
        return;
      }
      ccText_.clear();
      for (const Row& r : right_) ccText_ += entryOf(r) + ";";
      endDialog(kOk);
      break;
    case kCancel:
      endDialog(kCancel);
      break;
    default:
      break;
  }
}

void CcDialog::showLists() {
  for (auto [id, rows] : {std::pair{kLeft, &left_}, std::pair{kRight, &right_}}) {
    std::vector<std::string> items;
    for (const Row& r : *rows) items.push_back(r.name + "\t" + r.number);
    setItems(id, std::move(items));
  }
}

}  // namespace hv::textport
