#pragma once
// The friends dialog (template 14000) as a controller: the signed-in user's friends table shown in
// a list, with a form for one friend. No Qt here; the view binds widgets to these controls.
//
// Controls (id: kind, caption; texts are GBK):
//   14040 picture: the header; its text is the path of "DATA/好友.jpg" when the file is there
//   14020 list: one item per friend, "<Name>\t<Mobilenum>" (the columns "姓名" and "手机号");
//         selection is the current row
//   14001 remembering combo box "*手机号码：" (11 characters)
//   14002 drop-down list "*型号：": the phone models' names, sorted; selection -1 for none
//   14003 "真实姓名：" (19)   14004 "呢称：" (19)      14005 "年龄：" (decimal)
//   14006 "性别：" (9)        14007 "电子邮件：" (29)  14008 "QQ：" (14)
//   14009 "MSN号码：" (29)    14010 "邮编：" (6)       14011 "通讯地址：" (29)
//   buttons 14031 "增加", 14032 "删除", 14033 "修改", 14034 "保存", 14035 "取消", 14036 "退出"
// The numbers in brackets are the most bytes each box hands over (textLimit()).
//
// Protocol for the view: set an edit's text and send onChange(id); set the list's or the model
// list's selection and send onChange(id); buttons are onCommand(id). Enter is onCommand(kIdOk),
// Escape onCommand(kIdCancel): in view mode both end the dialog; while a friend is being edited
// Enter saves and Escape cancels the edit, so that typed input is never thrown away by a key.
// focusControl() names the control that should have the focus.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/export.h"
#include "include/handvane/records.h"
#include "ui/core/ui.h"

class FriendsTable;
class ModelList;

namespace hv::friends {

class HV_EXPORT FriendsDialog : public ui::DialogController {
 public:
  static constexpr int kTemplate = 14000;
  static constexpr int kPhone = 14001, kModel = 14002, kName = 14003, kNickname = 14004,
                       kAge = 14005, kSex = 14006, kEmail = 14007, kQQ = 14008, kMsn = 14009,
                       kPostcode = 14010, kAddress = 14011, kList = 14020, kAdd = 14031,
                       kDelete = 14032, kModify = 14033, kSave = 14034, kCancel = 14035,
                       kExit = 14036, kHeader = 14040;
  enum class EditKind { None, Adding, Changing };

  // The form's boxes with their captions and the most bytes each hands over (0: no limit).
  struct Field {
    int id;
    std::string caption;  // GBK
    size_t limit;
  };
  static std::vector<Field> fields();
  // Column captions and widths of the list.
  struct Column {
    std::string caption;  // GBK
    int width;
  };
  static std::vector<Column> columns();

  // Non-zero when the service delivers from sender to recipient; otherwise 0 and a reason.
  using PhoneCheck =
      std::function<int(std::string_view sender, std::string_view recipient, std::string& reason)>;

  // userId: the signed-in user, whose folder holds the friends table. phoneCheck decides which
  // numbers may be saved (CHandvaneHelper::IsPhoneNumberSupport in the program).
  FriendsDialog(std::string userId, PhoneCheck phoneCheck);
  ~FriendsDialog() override;

  void onInit() override;
  void onCommand(int id) override;
  void onChange(int id) override;
  bool onClose() override;

  // The header picture "DATA/好友.jpg" of the suite's home, when it is there.
  static std::optional<std::string> headerPicture();

  // Whether the dialog was shown (onInit ran).
  bool shown() const { return shown_; }
  bool editing() const { return kind_ != EditKind::None; }
  EditKind editKind() const { return kind_; }
  int currentRow() const { return current_; }
  int focusControl() const { return focus_; }
  // The friends table index that a row of the list shows.
  int rowIndex(int row) const;
  // The phone model index that an item of the model list stands for.
  int modelIndex(int item) const;

  static constexpr char kCaption[] = "好友列表";  // UTF-8; shown through T()

 private:
  void openTables();
  void closeTables();
  void fillModels();
  void fillFriends();
  void showRecord(const FriendRecord& r);
  void showRow(int row);
  void setMode(EditKind kind);
  FriendRecord collect() const;
  void add();
  void modify();
  void save();
  void remove();
  void cancel();
  void finish(int result);
  bool saveAdded(const FriendRecord& r);
  bool saveChanged(const FriendRecord& r);
  void box(const char* utf8Text, ui::Icon icon);
  static std::string rowText(const FriendRecord& r);

  std::string userId_;
  PhoneCheck phoneCheck_;
  FriendsTable* table_ = nullptr;
  ModelList* models_ = nullptr;
  struct ModelItem {
    std::string name;
    std::string phoneType;
    int index;
  };
  std::vector<ModelItem> modelItems_;  // in the order the list shows them
  std::vector<int> rows_;              // friends table index per row
  int current_ = -1;
  EditKind kind_ = EditKind::None;
  bool canAdd_ = false;
  int focus_ = kList;
  bool shown_ = false;
};

}  // namespace hv::friends
