#include "modules/animation/dialog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "modules/kit/sending.h"
#include "modules/kit/starter.h"
#include "modules/kit/userfiles.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/kernel.h"
#include "service/svclink.h"
#include "tables/fees/feeconfig.h"
#include "tables/friends/buddystore.h"
#include "tables/imagetypes/imgtable.h"
#include "tables/models/modelstore.h"
#include "ui/UI/helper.h"
#include "utils/function.h"

namespace hv::flickport {

namespace {

std::string caption() {
  return T("Lumo影");
}

std::string unsupportedText() {
  return T("对不起，本转换程序不支持该动画文件！");
}

std::string number(int n) {
  return std::to_string(n);
}

bool sameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

}  // namespace

CFlashDialog::CFlashDialog(Options options)
    : DialogController(kTemplate, ""), options_(std::move(options)), receiver_(*this, kRecipient) {}

CFlashDialog::~CFlashDialog() {
  clearResults();
  if (friends_) FLClose(friends_);
  if (models_) PLClose(models_);
}

void CFlashDialog::message(const std::string& gbk, ui::Icon icon, const std::string& title) {
  ui::messageBox(gbk, title.empty() ? caption() : title, icon, ui::Buttons::Ok);
}

void CFlashDialog::wait(int ms) {
  if (options_.wait) {
    options_.wait(ms);
    return;
  }
  for (int left = ms; left > 0; left -= 20) {
    CFunction::DoMessageLoop();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string CFlashDialog::phoneCompanyPath() const {
  return fs::resolveOrKeep(options_.moduleDir + "DATA/phonecompany.ini");
}

std::string CFlashDialog::headerPicturePath() const {
  return fs::resolveOrKeep(options_.moduleDir + "DATA/" + T("Lumo影.jpg"));
}

std::string CFlashDialog::phonePicturePath() const {
  return fs::resolveOrKeep(options_.moduleDir + "PHONE/" + T("Lumo影手机.jpg"));
}

std::string CFlashDialog::buttonPicturePath(int id) const {
  return fs::resolveOrKeep(options_.moduleDir + "PHONE/flickport_" + number(id) + ".bmp");
}

std::string CFlashDialog::tooltip(int id) const {
  switch (id) {
    case kOpen:
      return T("打开动画文件");
    case kPlay:
      return T("播放动画");
    case kPause:
      return T("暂停");
    case kStop:
      return T("停止播放");
    case kPrev:
      return T("前一幅图象");
    case kNext:
      return T("后一幅图象");
    case kMarkFirst:
      return T("设置要处理的起始位置");
    case kMarkLast:
      return T("设置要处理的结束位置");
    case kQuality:
      return T("调整预览和转换时生成的动画比例");
    case kAddComic:
      return T("将当前的画面加入到动画中");
    case kComicDown:
      return T("将选中的图片位置下移");
    case kComicUp:
      return T("将选中的图片位置上移");
    case kModel:
      return T("请选择手机类型");
    case kType:
      return T("请选择图片类型");
    case kRecipient:
      return T("请输入手机号或是选择好友");
    case kToImage:
      return T("用Lumo图处理当前的画面");
    case kModeButton:
      return mode_ == Mode::Comic ? T("转换成动画模式") : T("转换成漫画模式");
    default:
      return {};
  }
}

// ---- start-up ----

void CFlashDialog::onInit() {
  temp_ = options_.tempDir.empty() ? CFunction::GetTempPathA() : options_.tempDir;
  if (!temp_.empty() && temp_.back() != '/') temp_ += '/';
  fee_ = std::make_unique<CFeeConfig>();
  fee_->Init(fs::resolveOrKeep(options_.moduleDir + "DATA/confee.dll"));
  setText(kOpen, T("打开"));
  setText(kMarkFirst, "|-");
  setText(kMarkLast, "-|");
  setText(kPreview, T("转换预览>>"));
  setText(kConvert, T("开始转换>>"));
  setText(kAbort, T("停止!"));
  setText(kPlayResult, T("播放"));
  setText(kStopResult, T("停止"));
  setText(kAddComic, T("加入漫画"));
  setText(kComicMode, T("漫画模式"));
  setText(kAnimationMode, T("动画模式"));
  setText(kAskModel, T("询问机型"));
  setText(kToImage, T("Lumo图..."));
  setText(kSaveFlash, T("保存Flash ..."));
  setText(kFeeLink, T("资费说明..."));
  setText(kSend, T("发送"));
  setText(kFast, T("快速"));
  setItems(kQuality, {"1", "100"});
  setSelection(kQuality, 25);
  setText(kQualityLabel, "25%");
  setItems(kRange, {"0", "0"});
  setSelection(kRange, 0);
  setMode(Mode::Comic);

  const std::string data = fs::resolveOrKeep(options_.moduleDir + "DATA");
  try {
    images_ = std::make_unique<ImageTable>(data);
    phones_ = std::make_unique<CPhone2Image>(data);
  } catch (const DbfException& e) {
    std::vector<char> buffer(512);
    e.GetErrorMessage(buffer.data(), unsigned(buffer.size()));
    message(buffer.data());
    endDialog(ui::kIdCancel);
    return;
  }
  models_ = PLOpen();
  if (!options_.movieFile.empty()) openMovie(options_.movieFile);
  fillRecipients();
  fillModels();
  // The initial recipient: a friend's entry selects its model; a number is typed in; else the
  // signed-in user's own number.
  std::string friendModel;
  const std::string given = options_.receiver;
  if (!given.empty()) {
    FriendRecord f{};
    if (friends_ && FLGetInfoWithPhone(friends_, given.c_str(), &f) >= 0) {
      const int at = receiver_.find(fieldText(f.name));
      receiver_.select(at);
      friendModel = fieldText(f.mobiletype);
    }
    if (receiver_.selected() < 0) receiver_.setText(given);
  } else if (!user_.empty()) {
    receiver_.setText(user_);
  }
  if (selection(kModel) < 0) selectModelByName(T("诺基亚7650"));
  if (!friendModel.empty()) {
    ModelRecord m{};
    if (PLGetInfoWithPhoneType(models_, friendModel.c_str(), &m) >= 0) {
      selectModelByName(fieldText(m.modelname));
    }
  }
  fillTypes();
  updateButtons();
  view(ViewEvent::Tooltips);
}

void CFlashDialog::fillModels() {
  struct Entry {
    std::string name;
    int index;
  };
  std::vector<Entry> entries;
  const int n = PLGetCount(models_);
  for (int i = 0; i < n; ++i) {
    ModelRecord m{};
    if (PLGetInfo(models_, i, &m) < 0) continue;
    if (!phones_->IsPhoneTypeSupportedForFlash(fieldText(m.phonetype))) continue;
    entries.push_back({fieldText(m.modelname), i});
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.name < b.name; });
  std::vector<std::string> names;
  modelIndex_.clear();
  for (auto& e : entries) {
    names.push_back(e.name);
    modelIndex_.push_back(e.index);
  }
  setItems(kModel, names);
  setSelection(kModel, -1);
}

void CFlashDialog::selectModelByName(const std::string& name) {
  const auto names = items(kModel);
  auto it = std::find(names.begin(), names.end(), name);
  if (it != names.end()) setSelection(kModel, int(it - names.begin()));
}

void CFlashDialog::fillRecipients() {
  if (friends_) FLClose(friends_);
  friends_ = nullptr;
  receiver_.clear();
  receiver_.setText(T("手机号"));
  user_ = modkit::signedInUser().value_or("");
  if (user_.empty()) return;
  if (auto history = modkit::userFile(user_, modkit::kHistoryFile)) {
    receiver_.loadHistory(*history);
  }
  friends_ = receiver_.loadFriends(user_, true);
}

void CFlashDialog::recipientChosen() {
  const int data = receiver_.selectedData();
  if (data < 0 || !friends_) return;
  FriendRecord f{};
  if (FLGetInfo(friends_, data, &f) < 0) return;
  ModelRecord m{};
  if (PLGetInfoWithPhoneType(models_, f.mobiletype, &m) < 0) return;
  selectModelByName(fieldText(m.modelname));
  fillTypes();
}

std::string CFlashDialog::recipientNumber() const {
  const std::string typed = receiver_.text();
  const int sel = receiver_.selected();
  FriendRecord f{};
  if (sel >= 0 && receiver_.entryData(sel) >= 0 && sameNoCase(receiver_.entry(sel), typed) &&
      friends_ && FLGetInfo(friends_, receiver_.entryData(sel), &f) >= 0) {
    return fieldText(f.mobilenum);
  }
  return typed == T("手机号") ? std::string() : typed;
}

int CFlashDialog::selectedModel() const {
  const int sel = selection(kModel);
  return sel >= 0 && size_t(sel) < modelIndex_.size() ? modelIndex_[size_t(sel)] : -1;
}

std::string CFlashDialog::selectedModelName() const {
  ModelRecord m{};
  if (selectedModel() < 0 || PLGetInfo(models_, selectedModel(), &m) < 0) return {};
  return fieldText(m.modelname);
}

std::string CFlashDialog::selectedPhoneType() const {
  ModelRecord m{};
  if (selectedModel() < 0 || PLGetInfo(models_, selectedModel(), &m) < 0) return {};
  return fieldText(m.phonetype);
}

void CFlashDialog::fillTypes() {
  typeKeys_.clear();
  std::vector<std::string> names, keys;
  const std::string phoneType = selectedPhoneType();
  if (!phoneType.empty()) phones_->GetImageTypeForFlash(phoneType, keys);
  for (const auto& key : keys) {
    std::string name;
    if (!images_->GetImageNameByType(key, name)) continue;
    typeKeys_.push_back(key);
    names.push_back(name);
  }
  setItems(kType, names);
  setSelection(kType, typeKeys_.empty() ? -1 : 0);
  applyType(typeKeys_.empty() ? -1 : 0);
}

void CFlashDialog::applyType(int index) {
  clearResults();
  comics_.clear();
  relistComics();
  if (index < 0 || size_t(index) >= typeKeys_.size()) {
    typeKey_.clear();
    target_ = {};
    setText(kFeeText, "");
    updateButtons();
    return;
  }
  typeKey_ = typeKeys_[size_t(index)];
  IMAGETYPE_INFO info{};
  images_->GetImageTypeInfo(typeKey_, &info);
  target_ = flick::targetOf(info);
  setText(kFeeText, fee_->ConstructFee("flash", info.smscount));
  updateButtons();
}

void CFlashDialog::clearResults() {
  // Only the files this dialog wrote go.
  for (const auto& r : results_) fs::removeFile(r.path);
  results_.clear();
  selectedResults_.clear();
  setItems(kResults, {});
}

// ---- the movie ----

bool HeadlessControl::load(const std::string& path) {
  flash::Player probe(1, 1);
  if (!probe.load(path).ok()) return false;
  count_ = probe.frameCount();
  current_ = 0;
  playing_ = false;
  return true;
}

void HeadlessControl::gotoFrame(int frame) {
  current_ = std::clamp(frame, 0, std::max(0, count_ - 1));
}

void HeadlessControl::tick() {
  if (!playing_ || count_ <= 0) return;
  current_ = current_ + 1 >= count_ ? 0 : current_ + 1;
}

void CFlashDialog::setControl(FlashControl* control) {
  FlashControl* next = control ? control : &headless_;
  if (next == control_) return;
  // A dialog initialised before its view (shown from a worker thread) hands its movie over, at
  // the frame and in the playing state it had.
  const int frame = control_->currentFrame();
  const bool wasPlaying = control_->playing();
  control_->stop();
  if (movieLoaded() && next->load(movie_.path)) {
    next->gotoFrame(frame);
    if (wasPlaying) next->play();
  }
  control_ = next;
}

bool CFlashDialog::openMovie(const std::string& path) {
  flick::Movie m;
  if (flick::openMovie(path, m) != flick::MovieError::None) {
    message(T("对不起，转换程序不支持这个动画文件！"));
    return false;
  }
  if (!control_->load(path)) {
    message(T("对不起，转换程序不支持这个动画文件！"));
    return false;
  }
  movie_ = m;
  first_ = 0;
  last_ = -1;
  setItems(kRange, {"0", number(std::max(0, frameCount() - 1))});
  setCurrent(0);
  control_->play();
  onTimer();
  updateButtons();
  return true;
}

void CFlashDialog::setCurrent(int frame) {
  control_->gotoFrame(std::clamp(frame, 0, std::max(0, frameCount() - 1)));
  onTimer();
}

void CFlashDialog::advance() {
  control_->tick();
  onTimer();
}

void CFlashDialog::onTimer() {
  const int now = currentFrame();
  const bool running = playing();
  if (now == shownFrame_ && running == shownPlaying_) return;
  shownFrame_ = now;
  shownPlaying_ = running;
  setSelection(kRange, now);
  view(ViewEvent::Frame);
  if (!busy_) updateButtons();
}

std::optional<flick::Frame> CFlashDialog::currentPicture(int width, int height) const {
  if (!movieLoaded()) return std::nullopt;
  flick::Frame f;
  if (flick::renderOne(movie_, currentFrame(), width, height, f) != flick::RenderError::None) {
    return std::nullopt;
  }
  return f;
}

void CFlashDialog::updateButtons() {
  const bool loaded = movieLoaded();
  const bool idle = !busy_;
  const bool run = playing();
  const int now = currentFrame();
  const int count = frameCount();
  setEnabled(kOpen, idle);
  setEnabled(kPlay, idle && loaded && !run);
  setEnabled(kPause, idle && loaded && run);
  setEnabled(kStop, idle && loaded && run);
  setEnabled(kPrev, idle && loaded && !run && now > 1);
  setEnabled(kNext, idle && loaded && !run && now < count - 1);
  setEnabled(kMarkFirst, idle && loaded);
  setEnabled(kMarkLast, idle && loaded);
  setEnabled(kPreview, idle && loaded && last_ >= first_);
  setEnabled(kConvert, idle && loaded && last_ >= first_);
  setEnabled(kAbort, busy_);
  setEnabled(kStopResult, true);
  for (int id : {kSend, kSend2, kAddComic, kToImage, kSaveFlash, kAskModel, kModel, kType,
                 kRecipient, kPlayResult, kModeButton, kComicMode, kAnimationMode, kResults,
                 kComics, kComicUp, kComicDown, kQuality, kFast}) {
    setEnabled(id, idle);
  }
}

void CFlashDialog::setMode(Mode m) {
  mode_ = m;
  const bool anim = m == Mode::Animation;
  for (int id : {kRange, kMarkFirst, kMarkLast, kQuality, kQualityLabel, kFast, kPreview, kConvert,
                 kAbort, kResults}) {
    setVisible(id, anim);
  }
  for (int id : {kAddComic, kComics, kComicDown, kComicUp}) setVisible(id, !anim);
  setText(kModeButton, anim ? T("漫画模式") : T("动画模式"));
  setChecked(kComicMode, anim ? 0 : 1);
  setChecked(kAnimationMode, anim ? 1 : 0);
  view(ViewEvent::Tooltips);
}

void CFlashDialog::markFirst() {
  const int now = currentFrame();
  first_ = now;
  if (last_ < first_) last_ = first_;
}

void CFlashDialog::markLast() {
  const int now = currentFrame();
  if (now > first_) {
    last_ = now;
  } else {
    last_ = first_;
    first_ = now;
  }
}

bool CFlashDialog::readyToRender() {
  if (typeKey_.empty()) {
    message(T("未选择手机类型，请先选择正确的手机类型！"));
    return false;
  }
  if (!movieLoaded()) {
    message(T("未打开Flash动画，请先打开要转换的动画！"));
    return false;
  }
  return true;
}

void CFlashDialog::preview() {
  if (!readyToRender()) return;
  abort_ = false;
  busy_ = true;
  updateButtons();
  view(ViewEvent::Busy);
  const bool fast = checked(kFast) != 0;
  flick::RenderCallbacks cb;
  cb.frame = [&](const flick::Frame& f, int&, int&) {
    shown_ = f;
    view(ViewEvent::Preview);
    if (!fast) wait(f.delayMs);
    CFunction::DoMessageLoop();
    return !abort_;
  };
  std::vector<flick::Frame> frames;
  const auto r = flick::render(movie_, first_, last_, flick::sampleStep(selection(kQuality)),
                               target_.previewWidth(), target_.previewHeight(), cb, frames);
  busy_ = false;
  updateButtons();
  view(ViewEvent::Idle);
  if (r != flick::RenderError::None && !(r == flick::RenderError::Stopped && abort_)) {
    message(unsupportedText());
  }
}

void CFlashDialog::convert() {
  if (!readyToRender()) return;
  clearResults();
  comics_.clear();
  relistComics();
  abort_ = false;
  busy_ = true;
  updateButtons();
  view(ViewEvent::Busy);
  flick::RenderCallbacks cb;
  cb.frame = [&](const flick::Frame&, int&, int&) {
    CFunction::DoMessageLoop();
    return !abort_;
  };
  std::vector<flick::Frame> frames;
  const auto r = flick::render(movie_, first_, last_, flick::sampleStep(selection(kQuality)),
                               target_.width, target_.height, cb, frames);
  graph::GifError written = graph::GifError::NoFrames;
  if (r == flick::RenderError::None) {
    written = flick::writeResults(frames, target_, temp_, results_);
  }
  busy_ = false;
  if (abort_) {
    message(T("转换被中止了！"), ui::Icon::Information, T("转换"));
  } else if (written == graph::GifError::FrameTooLarge) {
    message(T("对不起，生成的动画大小已经超过了可以发送到手机的最大尺寸！"));
  } else if (r != flick::RenderError::None || written != graph::GifError::None) {
    message(unsupportedText());
  }
  std::vector<std::string> rows;
  for (const auto& f : results_) {
    rows.push_back(number(f.number + 1) + "\t" + number(f.frames) + "\t" + number(int(f.bytes)));
  }
  setItems(kResults, rows);
  updateButtons();
  view(ViewEvent::Idle);
}

// ---- the comic ----

void CFlashDialog::relistComics() {
  std::vector<std::string> rows;
  for (size_t i = 0; i < comics_.size(); ++i) {
    rows.push_back(number(int(i) + 1) + "\t" + number(comics_[i].number));
  }
  const int sel = selection(kComics);
  setItems(kComics, rows);
  setSelection(kComics, sel < int(rows.size()) ? sel : -1);
}

void CFlashDialog::addComic() {
  if (!readyToRender()) return;
  const int now = currentFrame();
  if (now < 0 || now >= frameCount()) {
    message(T("对不起，请首先选择要加入到漫画中的图片！"));
    return;
  }
  flick::Frame pic;
  if (flick::renderOne(movie_, now, target_.width, target_.height, pic) !=
      flick::RenderError::None) {
    message(T("转换失败！"));
    return;
  }
  std::vector<const flick::Frame*> all;
  for (const auto& c : comics_) all.push_back(&c);
  all.push_back(&pic);
  std::vector<std::uint8_t> bytes;
  const auto e = flick::buildComic(all, target_, bytes);
  if (e == graph::GifError::TooLarge) {
    message(T("对不起，生成的动画大小已经超过了可以发送到手机的最大尺寸！"));
    return;
  }
  if (e != graph::GifError::None) {
    message(T("生成动画时出现错误！"));
    return;
  }
  comics_.push_back(std::move(pic));
  relistComics();
}

void CFlashDialog::moveComic(int delta) {
  const int sel = selection(kComics);
  const int to = sel + delta;
  if (sel < 0 || to < 0 || to >= int(comics_.size())) return;
  std::swap(comics_[size_t(sel)], comics_[size_t(to)]);
  setSelection(kComics, to);
  relistComics();
}

void CFlashDialog::deleteComic() {
  const int sel = selection(kComics);
  if (sel < 0 || sel >= int(comics_.size())) return;
  comics_.erase(comics_.begin() + sel);
  setSelection(kComics, -1);
  relistComics();
}

void CFlashDialog::selectResults(std::vector<int> rows) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  rows.erase(std::remove_if(rows.begin(), rows.end(),
                            [&](int r) { return r < 0 || r >= int(results_.size()); }),
             rows.end());
  selectedResults_ = std::move(rows);
  setSelection(kResults, selectedResults_.empty() ? -1 : selectedResults_.front());
}

void CFlashDialog::play() {
  playback_.clear();
  if (mode_ == Mode::Comic) {
    if (comics_.empty()) {
      message(T("请先使用加入漫画功能加入图片到列表中"), ui::Icon::Information, T("动画播放"));
      return;
    }
    for (const auto& c : comics_) {
      playback_.push_back(c);
      playback_.back().delayMs = 1000;
    }
  } else {
    if (results_.empty()) {
      message(T("请先进行转换，然后再选择要播放的动画。"), ui::Icon::Information);
      return;
    }
    if (selectedResults_.empty()) {
      message(T("请先在列表中选择要播放的动画！"), ui::Icon::Information);
      return;
    }
    graph::DecodedGif g;
    const auto& r = results_[size_t(selectedResults_.front())];
    if (graph::readGif(r.path, g) != graph::GifError::None) {
      message(unsupportedText());
      return;
    }
    for (size_t i = 0; i < g.frames.size(); ++i) {
      flick::Frame f;
      f.pixels = std::move(g.frames[i]);
      f.width = g.width;
      f.height = g.height;
      f.number = int(i) + 1;
      f.delayMs = g.delaysMs[i];
      playback_.push_back(std::move(f));
    }
  }
  view(ViewEvent::Playback);
}

// ---- sending ----

bool CFlashDialog::ensureSignedIn() {
  const modkit::SignIn in = modkit::signInOnDemand();
  if (!in.signedIn) {
    message(T("必须进行登录才能发送短消息！"), ui::Icon::Stop, T("文字短消息"));
    return false;
  }
  if (in.signedInNow) {
    const std::string typed = receiver_.text();
    fillRecipients();
    receiver_.setText(typed);
  }
  user_ = in.userId;
  return true;
}

void CFlashDialog::send() {
  const std::string word = T("发送");
  if (mode_ == Mode::Animation) {
    if (results_.empty()) {
      message(T("请先进行转换，然后再") + word, ui::Icon::Information);
      return;
    }
    if (selectedResults_.empty()) {
      message(T("没有选择要") + word + T("的动画！请在高亮选中要发送的动画。"),
              ui::Icon::Information);
      return;
    }
  } else if (comics_.empty()) {
    message(T("请首先加入漫画，然后再") + word, ui::Icon::Information);
    return;
  }
  if (!ensureSignedIn()) return;
  const std::string to = recipientNumber();
  if (to.empty()) {
    message(T("未选择接收动画的好友或手机号"), ui::Icon::Information);
    return;
  }
  const auto refused = modkit::refusedRecipients(user_, {to});
  if (!refused.empty()) {
    message(refused.front(), ui::Icon::Information);
    return;
  }
  const int count = mode_ == Mode::Animation ? int(selectedResults_.size()) : 1;
  char question[512];
  std::snprintf(question, sizeof question,
                T("共要发送%d个动画，你确定要给\n[%s的%s手机]\n%s动画吗？").c_str(), count,
                receiver_.text().c_str(), selectedModelName().c_str(), word.c_str());
  if (ui::messageBox(question, caption(), ui::Icon::Question, ui::Buttons::YesNo) !=
      ui::Answer::Yes) {
    return;
  }
  const MessageHeader header = flick::requestHeader(to, user_, selectedModelName(), typeKey_);
  busy_ = true;
  updateButtons();
  view(ViewEvent::Busy);
  bool ok = true;
  if (mode_ == Mode::Animation) {
    for (int row : selectedResults_) {
      const std::string path = temp_ + graph::GifWriter::fileName(results_[size_t(row)].number);
      if (modkit::sendFileAndWait(header, path) != 0) {
        ok = false;
        break;
      }
    }
  } else {
    std::vector<const flick::Frame*> all;
    for (const auto& c : comics_) all.push_back(&c);
    std::vector<std::uint8_t> bytes;
    ok = flick::buildComic(all, target_, bytes) == graph::GifError::None &&
         modkit::sendContentAndWait(header, bytes) == 0;
  }
  busy_ = false;
  receiver_.addCurrent();
  updateButtons();
  view(ViewEvent::Idle);
  const modkit::ResultTexts texts{caption(), T("发送动画成功！是否将%s加入好友列表?"),
                                  T("发送动画失败！是否将%s加入好友列表?"), T("发送动画成功！"),
                                  T("发送动画失败！")};
  if (modkit::reportResult(friends_, to, ok, texts, selectedPhoneType()) ==
      modkit::FriendOffer::Added) {
    const std::string typed = receiver_.text();
    fillRecipients();
    receiver_.setText(typed);
  }
}

void CFlashDialog::askModel() {
  const std::string to = recipientNumber();
  if (to.empty()) {
    message(T("请首先输入或选择要询问的手机号码，只支持移动手机"), ui::Icon::Information);
    return;
  }
  if (!ensureSignedIn()) return;
  const auto refused = modkit::refusedRecipients(user_, {to});
  if (!refused.empty()) {
    message(refused.front(), ui::Icon::Information);
    return;
  }
  if (ui::messageBox(T("您要给") + to + T("发送机型询问短消息吗？"), caption(), ui::Icon::Question,
                     ui::Buttons::YesNo) != ui::Answer::Yes) {
    return;
  }
  const int r = modkit::startAndWait(
      [&](const SendNotice& n) { return NET_SendMobileTypeQuerySMS(&n, to.c_str()); });
  if (r == 0) {
    message(T("发送机型询问短消息成功！"), ui::Icon::Information);
  } else {
    message(T("发送机型询问短消息失败！"));
  }
}

// ---- hand-over to the image module ----

void CFlashDialog::handOver() {
  auto start =
      options_.startProgram ? options_.startProgram : [](const std::vector<std::string>& argv) {
        return Process::start(argv).has_value();
      };
  if (!movieLoaded() || frameCount() <= 0) {
    const std::string program =
        options_.mainProgram.empty() ? modkit::mainProgramPath() : options_.mainProgram;
    if (program.empty() || !start({program, "-hide", "-f", "image"})) {
      message(T("请重新安装Lumo客户端程序！"), ui::Icon::Stop, T("Lumo"));
    }
    return;
  }
  flick::Frame f;
  const auto r = flick::renderOne(movie_, currentFrame(), movie_.width(), movie_.height(), f);
  if (r == flick::RenderError::LoadFailed) {
    message(T("对不起，转换程序不支持这个动画文件"));
    return;
  }
  if (r != flick::RenderError::None) {
    message(T("转换失败！"));
    return;
  }
  const auto path = fs::createTempFile(temp_, "frame", ".bmp");
  const auto bmp = flick::bmpFile(f);
  if (!path ||
      !fs::writeFileAtomic(
          *path, std::string_view(reinterpret_cast<const char*>(bmp.data()), bmp.size()), 0600)) {
    if (path) fs::removeFile(*path);
    message(T("建立临时文件失败！"));
    return;
  }
  const std::string host =
      options_.hostProgram.empty() ? fs::programDirectory() + "Handvane" : options_.hostProgram;
  if (!start({host, *path, "-D", "-hide"})) {
    fs::removeFile(*path);
    message(T("请重新安装Lumo客户端程序！"), ui::Icon::Stop, T("Lumo"));
  }
}

// ---- events ----

void CFlashDialog::onCommand(int id) {
  if (busy_ && id != kAbort && id != kStopResult) return;
  switch (id) {
    case kOpen:
      if (auto p = ui::backend().openFile(T("Flash动画 (*.swf)|*.swf||"), "", "")) openMovie(*p);
      break;
    case kPlay:
      control_->play();
      onTimer();
      break;
    case kPause:
      control_->stop();
      onTimer();
      break;
    case kStop:
      control_->stop();
      setCurrent(0);
      break;
    case kPrev:
      setCurrent(currentFrame() - 1);
      break;
    case kNext:
      setCurrent(currentFrame() + 1);
      break;
    case kMarkFirst:
      markFirst();
      view(ViewEvent::Marks);
      break;
    case kMarkLast:
      markLast();
      view(ViewEvent::Marks);
      break;
    case kPreview:
      preview();
      break;
    case kConvert:
      convert();
      break;
    case kAbort:
    case kStopResult:
      abort_ = true;
      playback_.clear();
      view(ViewEvent::Playback);
      break;
    case kPlayResult:
      play();
      break;
    case kAddComic:
      addComic();
      break;
    case kComicDown:
      moveComic(1);
      break;
    case kComicUp:
      moveComic(-1);
      break;
    case kComicDelete:
      deleteComic();
      break;
    case kModeButton:
      setMode(mode_ == Mode::Comic ? Mode::Animation : Mode::Comic);
      break;
    case kComicMode:
      setMode(Mode::Comic);
      break;
    case kAnimationMode:
      setMode(Mode::Animation);
      break;
    case kSend:
    case kSend2:
      send();
      break;
    case kAskModel:
      askModel();
      break;
    case kToImage:
      handOver();
      break;
    case kSaveFlash:
      if (movieLoaded()) CHandvaneHelper::SaveFile(movie_.path);
      break;
    case kFeeLink:
      CHandvaneHelper::OpenFeeLink();
      break;
    default:
      break;
  }
  updateButtons();
}

void CFlashDialog::onChange(int id) {
  if (busy_) return;
  switch (id) {
    case kQuality: {
      const int q = std::clamp(selection(kQuality), 1, 100);
      setSelection(kQuality, q);
      setText(kQualityLabel, number(q) + "%");
      break;
    }
    case kModel:
      fillTypes();
      break;
    case kType:
      applyType(selection(kType));
      break;
    case kRecipient:
      recipientChosen();
      break;
    case kRange:
      if (!playing()) setCurrent(selection(kRange));
      break;
    default:
      break;
  }
  updateButtons();
}

bool CFlashDialog::onClose() {
  if (busy_) return false;
  receiver_.saveHistory();
  clearResults();
  endDialog(ui::kIdCancel);
  return true;
}

}  // namespace hv::flickport
