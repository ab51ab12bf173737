#pragma once
// The cc dialog "抄送好友选择": two lists side by side, each with the columns "姓名" and "手机号",
// the friends not chosen on the left and those chosen on the right; "抄送>>" (or a double click
// in the left list) moves the selected rows of the left list, in list order, to the end of the
// right list, "<<删除" (or a double click in the right list) moves them back; "确定" gives the new
// cc text "name<number>;" for every row of the right list, "取消" keeps the old one.
//
// The view shows left() and right() (the items of kLeft and kRight are their rows as
// "name\tnumber"), reports the user's selection with select() and then a double click as
// onCommand(kLeft) or onCommand(kRight).
#include <set>
#include <string>
#include <vector>

#include "ui/core/ui.h"

class FriendsTable;

namespace hv::textport {

class CcDialog : public ui::DialogController {
 public:
  static constexpr int kTemplate = 15102;
  static constexpr int kLeft = 1201, kRight = 1202, kAdd = 1203, kRemove = 1204, kOk = ui::kIdOk,
                       kCancel = ui::kIdCancel;
  static constexpr int kColumnWidth = 90;

  struct Row {
    std::string name;  // GBK
    std::string number;
  };

  // The friends of the table, in table order; those whose "name<number>" occurs anywhere in the
  // cc text start on the right.
  CcDialog(std::string_view cc, FriendsTable* friends);

  void onCommand(int id) override;

  const std::vector<Row>& left() const { return left_; }
  const std::vector<Row>& right() const { return right_; }
  // Replaces the selection of a list (kLeft or kRight) with these rows.
  void select(int list, const std::set<int>& rows);
  const std::set<int>& selected(int list) const;

  // The new cc text, after "确定".
  const std::string& ccText() const { return ccText_; }

 private:
  void move(std::vector<Row>& from, std::set<int>& selection, std::vector<Row>& to);
  void showLists();

  std::vector<Row> left_, right_;
  std::set<int> leftSelected_, rightSelected_;
  std::string ccText_;
};

}  // namespace hv::textport
