#include "modules/image/dialog.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "modules/image/typechoice.h"
#include "modules/kit/models.h"
#include "modules/kit/sending.h"
#include "modules/kit/userfiles.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "service/svclink.h"
#include "tables/fees/feeconfig.h"
#include "tables/friends/buddystore.h"
#include "tables/imagetypes/imgtable.h"
#include "tables/models/modelstore.h"
#include "ui/UI/helper.h"
#include "ui/UI/receiverhistory.h"
#include "ui/pictures/pictures.h"
#include "utils/function.h"

namespace hv::pictport {

namespace {

const char* kFileFilter =
    "图形 文件 (JPEG, GIF, BMP, Png, etc.)|*.jpg;*.jpeg;*.gif;*.bmp;*.png|JPEG 文件 "
    "(*.jpg;*.jpeg)|*.jpg;*.jpeg|GIF 文件 (*.gif)|*.gif|BMP 文件 (*.bmp)|*.bmp|PNG 文件 "
    "(*.png)|*.png|";

std::string caption() {
  return T("Lumo图");
}

// "%s" and "%d" replaced in order by the texts given.
std::string fill(std::string_view gbkFormat, std::initializer_list<std::string> args) {
  std::string out;
  auto it = args.begin();
  for (size_t i = 0; i < gbkFormat.size(); ++i) {
    if (gbkFormat[i] == '%' && i + 1 < gbkFormat.size() &&
        (gbkFormat[i + 1] == 's' || gbkFormat[i + 1] == 'd') && it != args.end()) {
      out += *it++;
      ++i;
    } else {
      out += gbkFormat[i];
    }
  }
  return out;
}

bool equalNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

}  // namespace

CImageDialog::CImageDialog(Options options)
    : DialogController(kTemplate, T("Lumo图服务")),
      options_(std::move(options)),
      history_(std::make_unique<hv::ui::ReceiverHistory>()) {}

CImageDialog::~CImageDialog() {
  if (friends_) FLClose(friends_);
  if (models_) PLClose(models_);
}

void CImageDialog::message(const std::string& gbk, ui::Icon icon) {
  ui::messageBox(gbk, caption(), icon, ui::Buttons::Ok);
}

std::string CImageDialog::phonePicturePath() const {
  return fs::resolveOrKeep(options_.moduleDir + "PHONE/" + T("Lumo图手机.jpg"));
}
std::string CImageDialog::headerPicturePath() const {
  return fs::resolveOrKeep(CFunction::GetExecutePath() + "DATA/" + T("Lumo图.jpg"));
}
std::string CImageDialog::phoneCompanyPath() const {
  return fs::resolveOrKeep(options_.moduleDir + "DATA/phonecompany.ini");
}

// ---- start-up ----

void CImageDialog::onInit() {
  setText(kPhone, phonePicturePath());
  if (!options_.receiver.empty()) setText(kRecipient, options_.receiver);
  fee_ = std::make_unique<CFeeConfig>();
  fee_->Init(fs::resolveOrKeep(options_.moduleDir + "DATA/confee.dll"));
  setText(kFeeNotice, T("每条\n包月     "));

  panel_.load(fs::resolveOrKeep(options_.moduleDir + "PHONE/PTX/PTX_PhonePanel.ini"),
              [](const std::string& text) { ui::messageBox(text, "", ui::Icon::None); });
  panel_.moveOrigin(0, headerHeight_);
  showPanelState("normal");

  setItems(kType, {});
  setVisible(kEffectGroup, false);
  for (int id : {kPhotoEffect, kGreyEffect, kCartoonEffect}) setVisible(id, false);
  setChecked(kCartoonEffect, 1);
  setItems(kThreshold, {"0", "255"});
  setSelection(kThreshold, kDefaultThreshold);
  setChecked(kKeepRatio, 1);
  setVisible(kKeepRatio, false);
  setVisible(kThreshold, false);
  setVisible(kThresholdLabel, false);

  if (!loadTables()) {
    endDialog(ui::kIdCancel);
    return;
  }
  fillModels();
  fillRecipients();
  const auto entries = items(kRecipient);
  if (!entries.empty() && selection(kRecipient) < 0 && text(kRecipient).empty()) {
    setSelection(kRecipient, 0);
    setText(kRecipient, entries[0]);
  }
  selectRecipientModel();
  if (selectedModel() < 0) {
    const auto names = items(kModel);
    auto it = std::find(names.begin(), names.end(), T("爱立信T68i"));
    if (it != names.end()) setSelection(kModel, int(it - names.begin()));
  }
  fillTypes();
  if (!options_.pictureFile.empty()) openFile(options_.pictureFile);
}

bool CImageDialog::loadTables() {
  const std::string data = fs::resolveOrKeep(options_.moduleDir + "Data");
  try {
    images_ = std::make_unique<ImageTable>(data);
    phones_ = std::make_unique<CPhone2Image>(data);
  } catch (const DbfException& e) {
    std::vector<char> buffer(512);
    e.GetErrorMessage(buffer.data(), unsigned(buffer.size()));
    message(buffer.data(), ui::Icon::Stop);
    return false;
  }
  models_ = PLOpen();
  return true;
}

void CImageDialog::fillModels() {
  modkit::ModelChoice choice = modkit::sortedModels(models_, [this](const hv::ModelRecord& m) {
    return phones_->IsPhoneTypeSupported(fieldText(m.phonetype));
  });
  modelIndex_ = std::move(choice.indices);
  setItems(kModel, choice.names);
  setSelection(kModel, -1);
}

std::string CImageDialog::userNumber() const {
  return modkit::signedInUser().value_or("");
}

void CImageDialog::fillRecipients() {
  if (friends_) {
    FLClose(friends_);
    friends_ = nullptr;
  }
  recipientData_.clear();
  const auto signedIn = modkit::signedInUser();
  if (!signedIn) {
    setItems(kRecipient, {T("手机号")});
    recipientData_.push_back(kNoFriend);
    setSelection(kRecipient, 0);
    setText(kRecipient, T("手机号"));
    return;
  }
  const std::string user = *signedIn;
  if (text(kRecipient).empty() || text(kRecipient) == T("手机号")) setText(kRecipient, user);
  if (auto settings = modkit::userFile(user, modkit::kHistoryFile)) {
    history_->load(*settings, "Receiver");
  }
  friends_ = FLOpen(user.c_str());
  if (!friends_) {
    // A user without a friends table yet gets the shipped empty one; an existing file is never
    // replaced.
    const auto target = modkit::userFile(user, "FRIENDS.DBF");
    const auto empty = fs::resolveNoCase(CFunction::GetExecutePath() + "DATA/FRIENDS.DBF");
    if (target && empty && fs::makeDirectories(fs::directoryOf(*target))) {
      fs::copyFile(*empty, *target, false);
      friends_ = FLOpen(user.c_str());
    }
  }
  std::vector<std::string> names;
  int selected = -1;
  if (!options_.receiver.empty()) {
    hv::FriendRecord f{};
    if (FLGetInfoWithPhone(friends_, options_.receiver.c_str(), &f) >= 0 &&
        !phones_->IsPhoneTypeSupported(fieldText(f.mobiletype))) {
      message(fill(T("“Lumo图”目前不支持%s的手机型号:%s"),
                   {fieldText(f.name), fieldText(f.mobiletype)}),
              ui::Icon::Information);
    }
  }
  const int count = FLGetCount(friends_);
  for (int i = 0; i < count; ++i) {
    hv::FriendRecord f{};
    if (FLGetInfo(friends_, i, &f) < 0) continue;
    if (!phones_->IsPhoneTypeSupported(fieldText(f.mobiletype))) continue;
    names.push_back(fieldText(f.name));
    recipientData_.push_back(i);
    if (!options_.receiver.empty() && equalNoCase(fieldText(f.mobilenum), options_.receiver)) {
      selected = int(names.size()) - 1;
    }
  }
  // The typing history follows the friends; its entries carry no friend.
  for (const auto& h : history_->entries()) {
    if (std::find(names.begin(), names.end(), h) != names.end()) continue;
    names.push_back(h);
    recipientData_.push_back(-1);
  }
  const std::string shown = text(kRecipient);
  setItems(kRecipient, names);
  setSelection(kRecipient, selected);
  setText(kRecipient, selected >= 0 ? names[size_t(selected)] : shown);
}

int CImageDialog::selectedModel() const {
  const int sel = selection(kModel);
  return sel >= 0 && size_t(sel) < modelIndex_.size() ? modelIndex_[size_t(sel)] : -1;
}

std::string CImageDialog::selectedModelName() const {
  hv::ModelRecord m{};
  if (PLGetInfo(models_, selectedModel(), &m) < 0) return {};
  return fieldText(m.modelname);
}

std::string CImageDialog::selectedPhoneType() const {
  hv::ModelRecord m{};
  if (PLGetInfo(models_, selectedModel(), &m) < 0) return {};
  return fieldText(m.phonetype);
}

void CImageDialog::selectRecipientModel() {
  const int sel = selection(kRecipient);
  if (sel < 0 || size_t(sel) >= recipientData_.size()) return;
  const int data = recipientData_[size_t(sel)];
  if (data == kNoFriend || data < 0) return;
  hv::FriendRecord f{};
  if (FLGetInfo(friends_, data, &f) < 0) return;
  hv::ModelRecord m{};
  if (PLGetInfoWithPhoneType(models_, f.mobiletype, &m) < 0) return;
  const auto names = items(kModel);
  auto it = std::find(names.begin(), names.end(), fieldText(m.modelname));
  if (it == names.end()) return;
  setSelection(kModel, int(it - names.begin()));
  fillTypes();
}

void CImageDialog::recipientTyped() {
  const std::string typed = text(kRecipient);
  const auto names = items(kRecipient);
  if (std::find(names.begin(), names.end(), typed) != names.end()) return;
  hv::FriendRecord f{};
  if (!friends_ || FLGetInfoWithPhone(friends_, typed.c_str(), &f) < 0) return;
  auto it = std::find(names.begin(), names.end(), fieldText(f.name));
  if (it == names.end()) return;
  setSelection(kRecipient, int(it - names.begin()));
  setText(kRecipient, *it);
  selectRecipientModel();
}

std::string CImageDialog::recipientNumber() const {
  const int sel = selection(kRecipient);
  const std::string typed = text(kRecipient);
  if (sel >= 0 && size_t(sel) < recipientData_.size() && recipientData_[size_t(sel)] >= 0 &&
      recipientData_[size_t(sel)] != kNoFriend && items(kRecipient)[size_t(sel)] == typed) {
    hv::FriendRecord f{};
    if (FLGetInfo(friends_, recipientData_[size_t(sel)], &f) >= 0) return fieldText(f.mobilenum);
  }
  return typed;
}

// ---- picture types ----

void CImageDialog::fillTypes() {
  typeKeys_.clear();
  std::vector<std::string> names;
  std::vector<std::string> candidates;
  const std::string phoneType = selectedPhoneType();
  if (!phoneType.empty()) phones_->GetImageType(phoneType, candidates);
  for (const auto& key : candidates) {
    std::string name;
    if (!images_->GetImageNameByType(key, name)) {
      message(T("在图片型号表中无法找到图片型号:") + key, ui::Icon::Stop);
      continue;
    }
    typeKeys_.push_back(key);
    names.push_back(name);
  }
  setItems(kType, names);
  if (!phoneType.empty() && typeKeys_.empty()) {
    message(T("Lumo图不支持当前手机"), ui::Icon::Information);
  }
  chooseTypeForPicture();
}

void CImageDialog::chooseTypeForPicture() {
  int index = typeKeys_.empty() ? -1 : 0;
  if (source_ && !typeKeys_.empty()) index = chooseTypeIndex(*images_, typeKeys_, source_->picture);
  setSelection(kType, index);
  applyType(index);
}

void CImageDialog::applyType(int index) {
  if (index < 0 || size_t(index) >= typeKeys_.size()) {
    typeKey_.clear();
    type_ = {};
    return;
  }
  if (typeKeys_[size_t(index)] == typeKey_) return;
  const Size before = type_.size();
  typeKey_ = typeKeys_[size_t(index)];
  images_->GetImageTypeInfo(typeKey_, &type_.info);
  type_.modulePath = options_.moduleDir + fieldText(type_.info.modulepath);
  setVisible(kThreshold, type_.bilevel());
  setVisible(kThresholdLabel, type_.bilevel());
  setText(kFeeNotice, fee_->ConstructFee(typeKey_, type_.info.smscount));
  overlay_.position = {0, 0};
  if (source_ && (before.w != type_.size().w || before.h != type_.size().h)) rebuildFraming();
  rebuildPreview();
}

// ---- pictures ----

bool CImageDialog::useSource(OpenedPicture source) {
  source_ = std::move(source);
  // An exact-size type picks its phone model by itself.
  std::vector<std::string> sameSize;
  if (images_->GetImageTypeBySize({source_->picture.width(), source_->picture.height()}, sameSize) >
      0) {
    std::vector<std::string> phoneTypes;
    phones_->GetPhoneType(sameSize[0], phoneTypes);
    hv::ModelRecord m{};
    if (!phoneTypes.empty() && PLGetInfoWithPhoneType(models_, phoneTypes[0].c_str(), &m) >= 0) {
      const auto names = items(kModel);
      auto it = std::find(names.begin(), names.end(), fieldText(m.modelname));
      if (it != names.end()) setSelection(kModel, int(it - names.begin()));
    }
  }
  typeKey_.clear();  // the type is chosen again for this picture
  type_ = {};
  fillTypes();
  setChecked(kKeepRatio, 1);
  setVisible(kKeepRatio, true);
  rebuildFraming();
  return true;
}

bool CImageDialog::openFile(const std::string& path) {
  auto opened = openPicture(path);
  if (!opened) return false;  // the previous picture stays
  pictureFile_ = path;
  return useSource(std::move(*opened));
}

bool CImageDialog::takeCapture(Picture picture) {
  if (picture.empty()) return false;
  pictureFile_.clear();
  return useSource(capturedPicture(std::move(picture)));
}

void CImageDialog::rebuildFraming() {
  if (!source_) return;
  const Size t = type_.size();
  setupFraming(framing_, workingPicture(*source_, t.w, t.h), options_.clipClient, t);
  framing_.geometry.setKeepRatio(checked(kKeepRatio) != 0);
  framing_.geometry.onFrameChanged = nullptr;  // the view reports drags through frameChanged()
  view(ViewEvent::Framing);
  rebuildPreview();
}

int CImageDialog::thresholdLevel() const {
  return std::clamp(selection(kThreshold), 0, 255);
}

Picture CImageDialog::thresholdedDisplay() const {
  Picture p = framing_.display;
  p.threshold(thresholdLevel());
  return p;
}

void CImageDialog::rebuildPreview() {
  if (source_ && !typeKey_.empty()) {
    preview_ = makePicture(framing_, type_, source_->kind, type_.previewSize(), Mode::Preview,
                           thresholdLevel());
  } else {
    preview_ = {};
  }
  redrawOverlay();
}

void CImageDialog::redrawOverlay() {
  overlay_.text = visible(kOverlayEdit) || hintShown_ ? text(kOverlayEdit) : std::string();
  previewText_ = withOverlay(preview_, overlay_, type_.bilevel());
  view(ViewEvent::Preview);
}

void CImageDialog::frameChanged() {
  rebuildPreview();
}

Picture CImageDialog::sendPicture() {
  if (!source_ || typeKey_.empty()) return {};
  std::optional<int> unsupported;
  Picture send =
      composeSendPicture(framing_, type_, source_->kind, thresholdLevel(), overlay_, &unsupported);
  if (unsupported) {
    message(fill(T("图片颜色数不被支持，颜色数为%d"), {std::to_string(*unsupported)}),
            ui::Icon::Stop);
  }
  return send;
}

static Size overlaySize(const Overlay& o) {
  return measureText(overlayShownText(o.text), o.font, o.font.height);
}

bool CImageDialog::moveOverlay(int dx, int dy) {
  auto p = movedOverlay(overlay_, overlaySize(overlay_), type_.previewSize(), dx, dy);
  if (!p) return false;
  overlay_.position = *p;
  redrawOverlay();
  return true;
}

bool CImageDialog::dragOverlayTo(Point position) {
  return moveOverlay(position.x - overlay_.position.x, position.y - overlay_.position.y);
}

bool CImageDialog::overlayHit(Point p) const {
  const Size s = overlaySize(overlay_);
  return s.w > 0 && p.x >= overlay_.position.x && p.x < overlay_.position.x + s.w &&
         p.y >= overlay_.position.y && p.y < overlay_.position.y + s.h;
}

// ---- panel ----

void CImageDialog::showPanelState(const std::string& name) {
  auto change = states_.show(panel_, name);
  if (!change) return;
  for (int id : change->hide) {
    shown_.erase(id);
    setVisible(id, false);
  }
  background_ = change->background;
  for (const auto& c : change->show) {
    shown_[c.id] = c;
    setVisible(c.id, true);
  }
  view(ViewEvent::Panel);
}

void CImageDialog::toggleText() {
  if (states_.current() != "AddText") {
    showPanelState("AddText");
    if (!hintShown_) {
      hintShown_ = true;
      setText(kOverlayEdit, overlayHint());
    }
    view(ViewEvent::FocusOverlay);
  } else {
    showPanelState(states_.previous());
  }
  redrawOverlay();
}

void CImageDialog::chooseFont() {
  if (!options_.chooseFont) return;
  auto chosen = options_.chooseFont(overlay_.font, overlay_.colour);
  if (!chosen) return;
  overlay_.font = chosen->first;
  overlay_.colour = chosen->second;
  redrawOverlay();
}

// ---- commands ----

void CImageDialog::onCommand(int id) {
  if (sending_) return;
  switch (id) {
    case kOpenFile: {
      auto path = ui::backend().openFile(T(kFileFilter), "", "");
      if (path) openFile(*path);
      break;
    }
    case kCapture:
      if (options_.captureScreen) {
        if (auto shot = options_.captureScreen()) takeCapture(std::move(*shot));
      }
      break;
    case kWhole:
      framing_.geometry.wholeFrame();
      view(ViewEvent::Framing);
      rebuildPreview();
      break;
    case kStandard:
      framing_.geometry.standardFrame();
      view(ViewEvent::Framing);
      rebuildPreview();
      break;
    case kKeepRatio:
      framing_.geometry.setKeepRatio(checked(kKeepRatio) != 0);
      break;
    case kAddText:
    case kPanelBack:
      if (id == kPanelBack) {
        showPanelState("normal");
      } else {
        toggleText();
      }
      break;
    case kPanelFont:
      chooseFont();
      break;
    case kSend:
    case kPanelSend:
      send();
      break;
    case kFee:
      CHandvaneHelper::OpenFeeLink();
      break;
    case kSave:
      save();
      break;
    case kAskModel:
      askModel();
      break;
    case kPhotoEffect:
    case kGreyEffect:
    case kCartoonEffect:
      rebuildPreview();
      break;
    default:
      break;
  }
}

void CImageDialog::onChange(int id) {
  if (sending_) return;
  switch (id) {
    case kRecipient:
      if (selection(kRecipient) >= 0 &&
          items(kRecipient)[size_t(selection(kRecipient))] == text(kRecipient)) {
        selectRecipientModel();
      } else {
        recipientTyped();
      }
      break;
    case kModel:
      fillTypes();
      break;
    case kType:
      applyType(selection(kType));
      break;
    case kThreshold:
      rebuildPreview();
      view(ViewEvent::Framing);
      break;
    case kOverlayEdit:
      redrawOverlay();
      break;
    default:
      break;
  }
}

bool CImageDialog::onClose() {
  if (sending_) return false;
  return DialogController::onClose();
}

void CImageDialog::save() {
  if (!pictureFile_.empty()) {
    CHandvaneHelper::SaveFile(pictureFile_);
    return;
  }
  if (!source_) return;
  auto path = ui::backend().saveFile(T(kFileFilter), "", "Lumo.bmp");
  if (!path) return;
  std::string target = *path;
  if (fs::extensionOf(target).empty()) target += ".bmp";
  Magick::Image img = source_->picture.image();
  if (!SaveImage(img, target)) message(T("保存图片失败"), ui::Icon::Stop);
}

// ---- sending ----

bool CImageDialog::ensureSignedIn() {
  const modkit::SignIn in = modkit::signInOnDemand();
  if (!in.signedIn) {
    message(T("必须进行登录才能发送短消息！"), ui::Icon::Stop);
    return false;
  }
  if (in.signedInNow) fillRecipients();
  return true;
}

bool CImageDialog::recipientAccepted(const std::string& number) {
  const auto refused = modkit::refusedRecipients(userNumber(), {number});
  if (refused.empty()) return true;
  message(refused.front(), ui::Icon::Information);
  return false;
}

int CImageDialog::sendAndWait(const std::function<int(const hv::SendNotice&)>& start) {
  sending_ = true;
  view(ViewEvent::Busy);
  result_ = modkit::startAndWait(start);
  sending_ = false;
  view(ViewEvent::Idle);
  return result_;
}

void CImageDialog::send() {
  if (!source_ || typeKey_.empty() || framing_.working.empty() ||
      framing_.geometry.frame().empty()) {
    message(T("请首先做好图片转换"), ui::Icon::Information);
    return;
  }
  if (!ensureSignedIn()) return;
  const std::string number = recipientNumber();
  if (!recipientAccepted(number)) return;
  const std::string typeName = typeKey_.empty() ? T("图片") : type_.name();
  const std::string question = fill(T("你确定要给\n[%s的%s手机]\n发送%s图片吗?"),
                                    {text(kRecipient), selectedModelName(), typeName});
  if (ui::messageBox(question, caption(), ui::Icon::Question, ui::Buttons::YesNo) !=
      ui::Answer::Yes) {
    return;
  }
  const Picture picture = sendPicture();
  const PackResult packed = pack(picture, type_, source_->kind, CFunction::GetTempPathA());
  if (!packed.ok()) {
    message(packed.message, ui::Icon::Stop);
    message(T("Lumo图: 转换失败 "), ui::Icon::Stop);
    return;
  }
  packedPath_ = packed.path;
  RequestFields fields;
  fields.launchTag = options_.launchTag;
  fields.recipient = number;
  fields.sender = userNumber();
  fields.phoneType = selectedPhoneType();
  fields.extension = packedExtension(packed.path);
  const hv::MessageHeader header = requestHeader(type_, fields);
  history_->add(text(kRecipient));
  history_->save();
  sendAndWait([&](const hv::SendNotice& n) {
    return NET_SendMessage(&n, header.data(), packed.path.c_str());
  });
  fs::removeFile(packed.path);
  report(result_ == 0, number);
}

void CImageDialog::report(bool success, const std::string& number) {
  const modkit::ResultTexts texts{caption(), T("发送图片成功！是否将%s加入好友列表?"),
                                  T("发送图片失败！是否将%s加入好友列表?"), T("发送图片成功！"),
                                  T("发送图片失败！")};
  if (modkit::reportResult(friends_, number, success, texts, selectedPhoneType()) ==
      modkit::FriendOffer::Added) {
    fillRecipients();
  }
}

void CImageDialog::askModel() {
  const std::string number = recipientNumber();
  if (ui::messageBox(T("您要给") + number + T("发送机型询问短消息吗？"), caption(),
                     ui::Icon::Question, ui::Buttons::YesNo) != ui::Answer::Yes) {
    return;
  }
  if (!ensureSignedIn() || !recipientAccepted(number)) return;
  const int result = sendAndWait(
      [&](const hv::SendNotice& n) { return NET_SendMobileTypeQuerySMS(&n, number.c_str()); });
  if (result == 0) {
    message(T("发送机型询问短消息成功！"), ui::Icon::Information);
  } else {
    message(T("发送机型询问短消息失败！"), ui::Icon::Stop);
  }
}

}  // namespace hv::pictport
