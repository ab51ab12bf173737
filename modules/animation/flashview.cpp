// The Qt view of the animation dialog: widgets placed as the dialog template places them, bound
// to CFlashDialog by control id. The movie plays in FlashPlayerWidget (the dialog's control); the
// phone picture shows the conversion preview and the played results; the range bar shows the
// marked range under its handle.
#include "modules/animation/flashview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTreeWidget>
#include <mutex>

#include "modules/kit/headerstart.h"
#include "platform/gbk.h"
#include "ui/UI/header.h"
#include "ui/UI/history.h"
#include "ui/UI/image.h"
#include "ui/UI/phonetree.h"
#include "ui/UI/widgets.h"
#include "ui/qt/binding.h"
#include "ui/qt/qtbackend.h"
#include "ui/qt/qtext.h"

namespace hv::flickport {

namespace {

using D = CFlashDialog;

std::mutex ticksMutex;
TickFactory& tickFactory() {
  static TickFactory f;
  return f;
}

std::unique_ptr<TickSource> makeTicks(QObject* parent) {
  std::lock_guard lock(ticksMutex);
  return tickFactory() ? tickFactory()(parent) : qtTicks(parent);
}

QString fromGbk(const std::string& gbk) {
  return ui::qt::toQ(gbk);
}

QImage toQImage(const flick::Frame& f) {
  if (f.pixels.empty() || f.width <= 0 || f.height <= 0) return {};
  return QImage(f.pixels.data(), f.width, f.height, f.width * 3, QImage::Format_BGR888).copy();
}

// The phone whose screen shows the conversion preview and the played results.
class PhoneScreen : public QWidget {
 public:
  PhoneScreen(D& dialog, std::unique_ptr<TickSource> ticks, QWidget* parent)
      : QWidget(parent), dialog_(dialog), ticks_(std::move(ticks)) {
    phone_ = LoadImage(nullptr, dialog.phonePicturePath());
  }
  ~PhoneScreen() override { ticks_->stop(); }
  void show(QImage frame) {
    ticks_->stop();
    frames_.clear();
    shown_ = std::move(frame);
    repaint();
  }
  // Plays the frames once, each for its delay; the last stays on the screen.
  void play(std::vector<std::pair<QImage, int>> frames) {
    ticks_->stop();
    frames_ = std::move(frames);
    at_ = 0;
    if (frames_.empty()) {
      shown_ = QImage();
      update();
      return;
    }
    step();
  }
  bool playingBack() const { return ticks_->active(); }
  const QImage& shown() const { return shown_; }
  QPoint pictureOrigin() const {
    return QPoint(dialog_.previewLeft(shown_.width()), D::kPreviewTop);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    if (!phone_.isNull()) {
      p.drawPixmap(0, 0, phone_);
    } else {
      p.fillRect(rect(), QColor(0x2b, 0x3a, 0x55));
    }
    if (!shown_.isNull()) p.drawImage(pictureOrigin(), shown_);
  }

 private:
  void step() {
    shown_ = frames_[at_].first;
    const int delay = std::max(frames_[at_].second, 20);
    update();
    if (++at_ >= frames_.size()) {
      ticks_->stop();
      return;
    }
    ticks_->start(delay, [this] {
      ticks_->stop();
      step();
    });
  }
  D& dialog_;
  std::unique_ptr<TickSource> ticks_;
  QPixmap phone_;
  QImage shown_;
  std::vector<std::pair<QImage, int>> frames_;
  size_t at_ = 0;
};

// The range bar: a slider over the movie's frames with the marked range drawn along its groove.
class RangeBar : public QSlider {
 public:
  RangeBar(D& dialog, QWidget* parent) : QSlider(Qt::Horizontal, parent), dialog_(dialog) {}

 protected:
  void paintEvent(QPaintEvent* e) override {
    const int first = dialog_.firstMark(), last = dialog_.lastMark();
    if (last >= first && maximum() > minimum()) {
      QStyleOptionSlider opt;
      initStyleOption(&opt);
      const QRect groove =
          style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
      const int handle =
          style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this).width();
      const int span = groove.width() - handle;
      auto at = [&](int v) {
        return groove.left() + handle / 2 +
               QStyle::sliderPositionFromValue(minimum(), maximum(), v, span);
      };
      QPainter p(this);
      p.fillRect(QRect(QPoint(at(first), height() - 5), QPoint(at(last), height() - 2)),
                 QColor(0xe8, 0x6a, 0x1f));
    }
    QSlider::paintEvent(e);
  }

 private:
  D& dialog_;
};

class FlashView : public QWidget {
 public:
  explicit FlashView(D& controller) : controller_(controller) {
    setObjectName(QStringLiteral("FlashDialog"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    resize(800, 498);
    binding_ = new ui::qt::ControllerBinding(controller, this);
    build();
    header_ = new CDialogHeader;
    header_->Init(this);
    header_->SetBackgroudBmp(controller.headerPicturePath());
    header_->SetMinButton(QRect(QPoint(754, 7), QPoint(768, 20)));
    header_->SetCloseButton(QRect(QPoint(776, 7), QPoint(792, 20)));
    header_->SetTextButton(QRect(QPoint(665, 36), QPoint(693, 64)));
    header_->SetImageButton(QRect(QPoint(706, 36), QPoint(735, 64)));
    header_->SetMusicButton(QRect(QPoint(748, 36), QPoint(778, 64)));
    header_->SetModuleHandler(modkit::startModuleOfButton);
    header_->MoveCtrls(this);
    setFixedSize(size());
    controller.setControl(player_);
    controller.setViewHook([this](D::ViewEvent e) { onView(e); });
    binding_->afterRefresh = [this](int id) { refreshed(id); };
    position_ = makeTicks(this);
    position_->start(20, [this] { controller_.onTimer(); });
  }
  ~FlashView() override {
    position_->stop();
    controller_.setViewHook({});
    controller_.setControl(nullptr);
  }

 private:
  template <class W>
  W* add(int id, W* w, QRect geometry, bool bind = true) {
    w->setObjectName(QStringLiteral("c%1").arg(id));
    w->setGeometry(geometry);
    const std::string tip = controller_.tooltip(id);
    if (!tip.empty()) w->setToolTip(fromGbk(tip));
    if (bind) binding_->bind(id, w);
    return w;
  }
  QPushButton* button(int id, const char* text, QRect g) {
    auto* b = add(id, new QPushButton(QString::fromUtf8(text), this), g);
    b->setAutoDefault(false);
    return b;
  }
  // A small button drawn from its shipped picture; the text stands in when there is none.
  CButtonST* pictureButton(int id, const char* text, QRect g) {
    auto* b = add(id, new CButtonST(this), g);
    b->setText(QString::fromUtf8(text));
    if (b->SetBitmaps(controller_.buttonPicturePath(id))) b->setText(QString());
    b->SetFlat(true);
    return b;
  }
  QLabel* label(const char* text, QRect g) {
    auto* l = new QLabel(QString::fromUtf8(text), this);
    l->setGeometry(g);
    return l;
  }

  void build() {
    label("接收人：", {8, 10, 56, 22});
    auto* recipient = add(D::kRecipient, new CACCombox(this), {64, 8, 200, 24});
    recipient->setEditable(true);
    recipient->setInsertPolicy(QComboBox::NoInsert);
    button(D::kAskModel, "询问机型", {270, 8, 76, 24});

    label("手机型号：", {8, 40, 70, 22});
    model_ = new CPhoneTypeTree(this);
    model_->setObjectName(QStringLiteral("c%1").arg(D::kModel));
    model_->setGeometry(78, 38, 186, 24);
    model_->setToolTip(fromGbk(controller_.tooltip(D::kModel)));
    model_->LoadPhoneCompany(controller_.phoneCompanyPath());
    QObject::connect(model_, &CPhoneTypeTree::modelSelected, this, [this](int item) {
      const int data = model_->GetItemData(item);
      if (data < 0 || data == controller_.selection(D::kModel)) return;
      controller_.setSelection(D::kModel, data);
      controller_.onChange(D::kModel);
    });
    label("图片类型：", {8, 70, 70, 22});
    add(D::kType, new QComboBox(this), {78, 68, 268, 24});

    player_ = new FlashPlayerWidget(makeTicks(this), this);
    add(D::kFlash, player_, {8, 98, 420, 244}, false);

    const struct {
      int id;
      const char* text;
    } transport[] = {{D::kOpen, "打开"},    {D::kPlay, "播放"},  {D::kPause, "暂停"},
                     {D::kStop, "停止"},    {D::kPrev, "<"},     {D::kNext, ">"},
                     {D::kMarkFirst, "|-"}, {D::kMarkLast, "-|"}};
    int x = 8;
    for (const auto& t : transport) {
      pictureButton(t.id, t.text, {x, 348, 30, 26});
      x += 33;
    }
    button(D::kToImage, "Lumo图...", {276, 348, 70, 26});
    button(D::kSaveFlash, "保存Flash ...", {350, 348, 78, 26});

    range_ = add(D::kRange, new RangeBar(controller_, this), {8, 378, 420, 24});

    add(D::kComicMode, new QRadioButton(QStringLiteral("漫画模式"), this), {8, 408, 84, 22});
    add(D::kAnimationMode, new QRadioButton(QStringLiteral("动画模式"), this), {96, 408, 84, 22});
    button(D::kModeButton, "动画模式", {340, 406, 88, 26});

    qualityLabels_ = {label("转换质量", {8, 438, 56, 22}), label("低", {66, 438, 16, 22}),
                      label("高", {250, 438, 16, 22})};
    add(D::kQuality, new QSlider(Qt::Horizontal, this), {84, 438, 162, 22});
    add(D::kQualityLabel, new QLabel(this), {270, 438, 40, 22});
    add(D::kFast, new QCheckBox(QStringLiteral("快速"), this), {316, 438, 60, 22});
    button(D::kPreview, "转换预览>>", {8, 466, 100, 26});
    button(D::kConvert, "开始转换>>", {112, 466, 100, 26});
    button(D::kAbort, "停止!", {216, 466, 70, 26});
    button(D::kAddComic, "加入漫画", {8, 438, 100, 26});

    listTitle_ = label("转换结果", {436, 8, 168, 22});
    results_ = add(D::kResults, new QTreeWidget(this), {436, 32, 168, 296});
    results_->setHeaderLabels(
        {QStringLiteral("索引"), QStringLiteral("帧数"), QStringLiteral("字节")});
    results_->setRootIsDecorated(false);
    results_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    results_->header()->resizeSection(0, 44);
    results_->header()->resizeSection(1, 44);
    results_->header()->setStretchLastSection(true);
    results_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QObject::connect(results_, &QTreeWidget::itemSelectionChanged, this, [this] {
      if (filling_) return;
      std::vector<int> rows;
      for (QTreeWidgetItem* item : results_->selectedItems()) {
        rows.push_back(results_->indexOfTopLevelItem(item));
      }
      controller_.selectResults(rows);
    });
    comics_ = add(D::kComics, new QTreeWidget(this), {436, 32, 138, 296});
    comics_->setHeaderLabels({QStringLiteral("索引"), QStringLiteral("帧号")});
    comics_->setRootIsDecorated(false);
    comics_->header()->resizeSection(0, 60);
    comics_->header()->setStretchLastSection(true);
    comics_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    comics_->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(comics_, &QTreeWidget::itemSelectionChanged, this, [this] {
      if (filling_) return;
      const auto sel = comics_->selectedItems();
      controller_.setSelection(D::kComics,
                               sel.isEmpty() ? -1 : comics_->indexOfTopLevelItem(sel.front()));
      controller_.onChange(D::kComics);
    });
    QObject::connect(comics_, &QWidget::customContextMenuRequested, this, [this](QPoint at) {
      QTreeWidgetItem* item = comics_->itemAt(at);
      if (!item) return;
      comics_->setCurrentItem(item);
      QMenu menu(this);
      QAction* remove = menu.addAction(QStringLiteral("删除"));
      if (menu.exec(comics_->viewport()->mapToGlobal(at)) == remove) {
        controller_.onCommand(D::kComicDelete);
      }
    });
    pictureButton(D::kComicUp, "上", {578, 32, 26, 26});
    pictureButton(D::kComicDown, "下", {578, 62, 26, 26});

    button(D::kPlayResult, "播放", {436, 334, 80, 26});
    button(D::kStopResult, "停止", {524, 334, 80, 26});
    auto* fee = add(D::kFeeText, new CTransparentStatic(this), {436, 366, 168, 64});
    fee->setWordWrap(true);
    fee->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    button(D::kFeeLink, "资费说明...", {436, 438, 80, 26});
    auto* send = button(D::kSend, "发送", {524, 438, 80, 26});
    send->setDefault(true);

    phone_ = new PhoneScreen(controller_, makeTicks(this), this);
    phone_->setObjectName(QStringLiteral("phone"));
    phone_->setGeometry(608, 6, D::kPreviewAreaWidth, D::kPreviewAreaHeight);
    // The phone's own send key, below its screen.
    pictureButton(D::kSend2, "发送", {608 + 62, 6 + 262, 63, 26});
  }

  void refreshed(int id) {
    switch (id) {
      case D::kModel:
        refreshModels();
        break;
      case D::kResults:
        fillResults();
        break;
      case D::kComics:
        fillComics();
        break;
      case D::kQuality:
        for (QLabel* l : qualityLabels_) l->setVisible(controller_.visible(D::kQuality));
        break;
      case D::kRange:
        range_->update();
        break;
      case -1:
        if (binding_->started() && !looked_) {
          looked_ = true;
          refreshModels();
          fillResults();
          fillComics();
        }
        break;
      default:
        break;
    }
    listTitle_->setText(controller_.mode() == D::Mode::Animation ? QStringLiteral("转换结果")
                                                                 : QStringLiteral("漫画图片"));
  }

  // The model picker is a tree of makers; the controller keeps the flat, sorted list.
  void refreshModels() {
    const auto names = controller_.items(D::kModel);
    if (names != shownModels_) {
      shownModels_ = names;
      model_->ResetContent();
      model_->LoadPhoneCompany(controller_.phoneCompanyPath());
      for (size_t i = 0; i < names.size(); ++i) {
        model_->SetItemData(model_->AddString(names[i]), int(i));
      }
      model_->Sort();
    }
    const int sel = controller_.selection(D::kModel);
    if (sel >= 0 && size_t(sel) < names.size()) model_->SelectString(names[size_t(sel)]);
  }

  static void fillRows(QTreeWidget* tree, const std::vector<std::string>& rows) {
    tree->clear();
    for (const auto& row : rows) {
      tree->addTopLevelItem(new QTreeWidgetItem(fromGbk(row).split(QLatin1Char('\t'))));
    }
  }
  void fillResults() {
    const auto rows = controller_.items(D::kResults);
    if (rows == shownResults_) return;
    shownResults_ = rows;
    filling_ = true;
    fillRows(results_, rows);
    for (int r : controller_.selectedResults()) {
      if (QTreeWidgetItem* item = results_->topLevelItem(r)) item->setSelected(true);
    }
    filling_ = false;
  }
  void fillComics() {
    const auto rows = controller_.items(D::kComics);
    filling_ = true;
    if (rows != shownComics_) {
      shownComics_ = rows;
      fillRows(comics_, rows);
    }
    comics_->clearSelection();
    if (QTreeWidgetItem* item = comics_->topLevelItem(controller_.selection(D::kComics))) {
      item->setSelected(true);
      comics_->setCurrentItem(item);
    }
    filling_ = false;
  }

  void onView(D::ViewEvent e) {
    switch (e) {
      case D::ViewEvent::Frame:
      case D::ViewEvent::Marks:
        range_->update();
        break;
      case D::ViewEvent::Preview:
        phone_->show(toQImage(controller_.shownFrame()));
        break;
      case D::ViewEvent::Playback: {
        std::vector<std::pair<QImage, int>> frames;
        for (const auto& f : controller_.playback()) frames.emplace_back(toQImage(f), f.delayMs);
        phone_->play(std::move(frames));
        break;
      }
      case D::ViewEvent::Tooltips:
        if (QWidget* w = binding_->widget(D::kModeButton)) {
          w->setToolTip(fromGbk(controller_.tooltip(D::kModeButton)));
        }
        break;
      case D::ViewEvent::Busy:
      case D::ViewEvent::Idle:
        break;
    }
  }

  D& controller_;
  ui::qt::ControllerBinding* binding_;
  CDialogHeader* header_ = nullptr;
  CPhoneTypeTree* model_ = nullptr;
  FlashPlayerWidget* player_ = nullptr;
  RangeBar* range_ = nullptr;
  PhoneScreen* phone_ = nullptr;
  QTreeWidget* results_ = nullptr;
  QTreeWidget* comics_ = nullptr;
  QLabel* listTitle_ = nullptr;
  std::vector<QLabel*> qualityLabels_;
  std::unique_ptr<TickSource> position_;
  std::vector<std::string> shownModels_, shownResults_, shownComics_;
  bool looked_ = false;
  bool filling_ = false;
};

}  // namespace

void setViewTicks(TickFactory factory) {
  std::lock_guard lock(ticksMutex);
  tickFactory() = std::move(factory);
}

QWidget* createFlashView(ui::DialogController& controller) {
  auto* dialog = dynamic_cast<CFlashDialog*>(&controller);
  if (!dialog) return nullptr;
  return new FlashView(*dialog);
}

void registerFlashView() {
  ui::qt::registerView(CFlashDialog::kTemplate, createFlashView);
}

}  // namespace hv::flickport
