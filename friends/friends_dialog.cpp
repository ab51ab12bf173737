#include "friends/friends_dialog.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "tables/friends/buddystore.h"
#include "tables/models/modelstore.h"

namespace hv::friends {

namespace {

// The form's edits and the record fields they fill.
struct TextField {
  int id;
  const char* caption;  // UTF-8
  size_t limit;         // bytes handed over
  size_t offset;        // of the record field
  size_t width;
};

#define HV_FIELD(member) offsetof(FriendRecord, member), sizeof(FriendRecord::member)
const TextField kTextFields[] = {
    {FriendsDialog::kName, "真实姓名：", 19, HV_FIELD(name)},
    {FriendsDialog::kNickname, "呢称：", 19, HV_FIELD(nickname)},
    {FriendsDialog::kSex, "性别：", 9, HV_FIELD(sex)},
    {FriendsDialog::kEmail, "电子邮件：", 29, HV_FIELD(email)},
    {FriendsDialog::kQQ, "QQ：", 14, HV_FIELD(qq)},
    {FriendsDialog::kMsn, "MSN号码：", 29, HV_FIELD(msn)},
    {FriendsDialog::kPostcode, "邮编：", 6, HV_FIELD(postcode)},
    {FriendsDialog::kAddress, "通讯地址：", 29, HV_FIELD(address)},
};
#undef HV_FIELD

constexpr size_t kPhoneLimit = 11;

char* fieldOf(FriendRecord& r, const TextField& f) {
  return reinterpret_cast<char*>(&r) + f.offset;
}
const char* fieldOf(const FriendRecord& r, const TextField& f) {
  return reinterpret_cast<const char*>(&r) + f.offset;
}

// The age box read as C's atoi reads it: blanks, an optional sign, then digits up to the first
// other character; nothing readable gives 0. Values beyond 32 bits stop at the limit.
int32_t parseAge(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = std::min<int64_t>(v * 10 + (text[i] - '0'), int64_t(INT32_MAX) + 1);
  }
  if (negative) return int32_t(std::max<int64_t>(-v, INT32_MIN));
  return int32_t(std::min<int64_t>(v, INT32_MAX));
}

// Case-insensitive in ASCII, then by bytes: the order of a sorted list box.
bool sortsBefore(const std::string& a, const std::string& b) {
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
  const bool less = std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [&](char x, char y) { return lower(uint8_t(x)) < lower(uint8_t(y)); });
  const bool greater = std::lexicographical_compare(
      b.begin(), b.end(), a.begin(), a.end(),
      [&](char x, char y) { return lower(uint8_t(x)) < lower(uint8_t(y)); });
  return less || (!greater && a < b);
}

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    if (lower(uint8_t(a[i])) != lower(uint8_t(b[i]))) return false;
  }
  return true;
}

}  // namespace

std::vector<FriendsDialog::Field> FriendsDialog::fields() {
  std::vector<Field> out = {
      {kPhone, T("*手机号码："), kPhoneLimit}, {kModel, T("*型号："), 0}, {kAge, T("年龄："), 0}};
  for (const auto& f : kTextFields) out.push_back({f.id, T(f.caption), f.limit});
  return out;
}

std::vector<FriendsDialog::Column> FriendsDialog::columns() {
  return {{T("姓名"), 60}, {T("手机号"), 85}};
}

FriendsDialog::FriendsDialog(std::string userId, PhoneCheck phoneCheck)
    : DialogController(kTemplate, T("好友列表维护")),
      userId_(std::move(userId)),
      phoneCheck_(std::move(phoneCheck)) {}

FriendsDialog::~FriendsDialog() {
  closeTables();
}

int FriendsDialog::rowIndex(int row) const {
  return row >= 0 && size_t(row) < rows_.size() ? rows_[size_t(row)] : -1;
}

int FriendsDialog::modelIndex(int item) const {
  return item >= 0 && size_t(item) < modelItems_.size() ? modelItems_[size_t(item)].index : -1;
}

std::optional<std::string> FriendsDialog::headerPicture() {
  return fs::resolveNoCase(fs::suiteHome() + T("DATA/好友.jpg"));
}

void FriendsDialog::onInit() {
  shown_ = true;
  const auto header = headerPicture();
  setText(kHeader, header.value_or(""));
  setVisible(kHeader, header.has_value());
  openTables();
  fillModels();
  fillFriends();
  canAdd_ = !userId_.empty() && table_ != nullptr;
  if (rows_.empty()) {
    showRow(-1);
  } else {
    setSelection(kList, 0);
    showRow(0);
  }
  setMode(EditKind::None);
}

void FriendsDialog::openTables() {
  models_ = PLOpen();
  if (!userId_.empty()) table_ = FLOpen(userId_.c_str());
}

void FriendsDialog::closeTables() {
  FLClose(table_);
  table_ = nullptr;
  PLClose(models_);
  models_ = nullptr;
}

void FriendsDialog::fillModels() {
  modelItems_.clear();
  const int count = PLGetCount(models_);
  for (int i = 0; i < count; ++i) {
    ModelRecord m{};
    if (PLGetInfo(models_, i, &m) != 0) continue;
    modelItems_.push_back({fieldText(m.modelname), fieldText(m.phonetype), i});
  }
  std::stable_sort(
      modelItems_.begin(), modelItems_.end(),
      [](const ModelItem& a, const ModelItem& b) { return sortsBefore(a.name, b.name); });
  std::vector<std::string> names;
  for (const auto& m : modelItems_) names.push_back(m.name);
  setItems(kModel, std::move(names));
  setSelection(kModel, -1);
}

void FriendsDialog::fillFriends() {
  rows_.clear();
  std::vector<std::string> items;
  const int count = FLGetCount(table_);
  for (int i = 0; i < count; ++i) {
    FriendRecord r{};
    if (FLGetInfo(table_, i, &r) != 0) continue;  // a deleted friend's empty entry
    rows_.push_back(i);
    items.push_back(rowText(r));
  }
  setItems(kList, std::move(items));
  setSelection(kList, -1);
}

std::string FriendsDialog::rowText(const FriendRecord& r) {
  return fieldText(r.name) + "\t" + fieldText(r.mobilenum);
}

void FriendsDialog::showRecord(const FriendRecord& r) {
  setText(kPhone, fieldText(r.mobilenum));
  int model = -1;
  const std::string type = fieldText(r.mobiletype);
  for (size_t i = 0; i < modelItems_.size(); ++i) {
    if (equalNoCase(modelItems_[i].phoneType, type)) {
      model = int(i);
      break;
    }
  }
  setSelection(kModel, model);
  for (const auto& f : kTextFields) setText(f.id, fieldText(fieldOf(r, f), f.width));
  setText(kAge, std::to_string(r.age));
}

// Shows the record of a row (-1: an empty one) and makes the row current.
void FriendsDialog::showRow(int row) {
  current_ = row;
  FriendRecord r{};
  if (row >= 0 && FLGetInfo(table_, rowIndex(row), &r) != 0) r = FriendRecord{};
  showRecord(r);
}

void FriendsDialog::setMode(EditKind kind) {
  kind_ = kind;
  const bool edit = kind != EditKind::None;
  focus_ = edit ? kPhone : kList;
  setEnabled(kList, !edit);
  setEnabled(kAdd, !edit && canAdd_);
  setEnabled(kDelete, !edit && current_ >= 0);
  setEnabled(kModify, !edit && current_ >= 0);
  setEnabled(kExit, !edit);
  for (const auto& f : fields()) setEnabled(f.id, edit);
  setEnabled(kSave, edit);
  setEnabled(kCancel, edit);
}

void FriendsDialog::onChange(int id) {
  if (id == kList && !editing()) {
    const int row = selection(kList);
    if (row >= 0 && size_t(row) < rows_.size()) {
      showRow(row);
      setMode(EditKind::None);
    }
  }
}

void FriendsDialog::onCommand(int id) {
  switch (id) {
    case kAdd:
      if (!editing() && canAdd_) add();
      break;
    case kModify:
      if (!editing()) modify();
      break;
    case kDelete:
      if (!editing()) remove();
      break;
    case kSave:
      if (editing()) save();
      break;
    case kCancel:
      if (editing()) cancel();
      break;
    case kExit:
      if (!editing()) finish(ui::kIdOk);
      break;
    case ui::kIdOk:
      if (editing())
        save();
      else
        finish(ui::kIdOk);
      break;
    case ui::kIdCancel:
      if (editing())
        cancel();
      else
        finish(ui::kIdCancel);
      break;
    default:
      break;
  }
}

bool FriendsDialog::onClose() {
  finish(ui::kIdCancel);
  return true;
}

void FriendsDialog::finish(int result) {
  closeTables();
  if (!ended()) endDialog(result);
}

void FriendsDialog::add() {
  showRecord(FriendRecord{});
  setMode(EditKind::Adding);
}

void FriendsDialog::modify() {
  if (current_ < 0) return;
  setMode(EditKind::Changing);
}

void FriendsDialog::cancel() {
  showRow(current_);
  setMode(EditKind::None);
}

FriendRecord FriendsDialog::collect() const {
  FriendRecord r{};
  // A change keeps what the form does not show (the id).
  if (kind_ == EditKind::Changing) FLGetInfo(table_, rowIndex(current_), &r);
  copyField(r.mobilenum, gbkCut(text(kPhone), kPhoneLimit));
  const int model = selection(kModel);
  copyField(r.mobiletype, model >= 0 && size_t(model) < modelItems_.size()
                              ? modelItems_[size_t(model)].phoneType
                              : std::string());
  for (const auto& f : kTextFields) {
    copyField(fieldOf(r, f), f.width, gbkCut(text(f.id), f.limit));
  }
  r.age = parseAge(text(kAge));
  return r;
}

void FriendsDialog::save() {
  const FriendRecord r = collect();
  std::string reason;
  if (phoneCheck_ && phoneCheck_(userId_, fieldText(r.mobilenum), reason) == 0) {
    ui::messageBox(reason, T(kCaption), ui::Icon::Information);
    return;
  }
  const bool saved = kind_ == EditKind::Adding ? saveAdded(r) : saveChanged(r);
  if (saved) setMode(EditKind::None);
}

bool FriendsDialog::saveAdded(const FriendRecord& r) {
  FriendRecord existing{};
  if (FLGetInfoWithPhone(table_, r.mobilenum, &existing) == 0) {
    box("好友手机号已经存在!", ui::Icon::Information);
    return false;
  }
  const int index = FLAddInfo(table_, &r);
  if (index < 0) {
    box("保存好友记录失败！", ui::Icon::Stop);
    return false;
  }
  rows_.push_back(index);
  auto list = items(kList);
  list.push_back(rowText(r));
  setItems(kList, std::move(list));
  current_ = int(rows_.size()) - 1;
  setSelection(kList, current_);
  return true;
}

bool FriendsDialog::saveChanged(const FriendRecord& r) {
  if (FLModifyInfo(table_, rowIndex(current_), &r) != 0) {
    box("修改好友记录失败！", ui::Icon::Stop);
    return false;
  }
  auto list = items(kList);
  if (size_t(current_) < list.size()) list[size_t(current_)] = rowText(r);
  setItems(kList, std::move(list));
  setSelection(kList, current_);
  return true;
}

void FriendsDialog::remove() {
  if (current_ < 0) return;
  if (ui::messageBox(T("要从列表中删除这位好友吗？"), T(kCaption), ui::Icon::Question,
                     ui::Buttons::YesNo) != ui::Answer::Yes)
    return;
  if (FLDelInfo(table_, rowIndex(current_)) != 0) {
    box("删除好友记录出错！", ui::Icon::Stop);
    return;
  }
  rows_.erase(rows_.begin() + current_);
  auto list = items(kList);
  list.erase(list.begin() + current_);
  setItems(kList, std::move(list));
  int row = std::min(current_, int(rows_.size()) - 1);
  setSelection(kList, row);
  showRow(row);
  setMode(EditKind::None);
}

void FriendsDialog::box(const char* utf8Text, ui::Icon icon) {
  ui::messageBox(T(utf8Text), T(kCaption), icon);
}

}  // namespace hv::friends
