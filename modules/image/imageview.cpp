// The Qt view of the image dialog: widgets placed as the dialog template places them, bound to
// CImageDialog by control id; the framing control, the phone picture with the preview and the
// phone panel are painted from what the controller hands over.
#include "modules/image/imageview.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QEventLoop>
#include <QFontDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QWindow>

#include "modules/image/clipstatic.h"
#include "modules/image/dialog.h"
#include "modules/kit/headerstart.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "ui/UI/header.h"
#include "ui/UI/history.h"
#include "ui/UI/image.h"
#include "ui/UI/phonetree.h"
#include "ui/UI/widgets.h"
#include "ui/pictures/pictures.h"
#include "ui/qt/binding.h"
#include "ui/qt/qtbackend.h"
#include "ui/qt/qtext.h"

namespace hv::pictport {

namespace {

using D = CImageDialog;
using ui::qt::toQ;

QImage toQImage(const Picture& p) {
  return p.empty() ? QImage() : ToQImage(p.image());
}

Picture fromQImage(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  std::vector<uint8_t> bytes(size_t(rgb.width()) * rgb.height() * 3);
  for (int y = 0; y < rgb.height(); ++y) {
    std::memcpy(&bytes[size_t(y) * rgb.width() * 3], rgb.constScanLine(y), size_t(rgb.width()) * 3);
  }
  return Picture::fromRgb(rgb.width(), rgb.height(), bytes.data());
}

// The phone picture with the preview on its screen. The overlay text is dragged with the mouse
// and moved with the arrow keys while the picture has the focus.
class PhoneScreen : public QWidget {
 public:
  PhoneScreen(D& dialog, QWidget* parent) : QWidget(parent), dialog_(dialog) {
    setFocusPolicy(Qt::ClickFocus);
    setMouseTracking(true);
    setToolTip(QStringLiteral("效果预览，单击可用鼠标移动文字"));
    phone_ = LoadImage(nullptr, dialog.phonePicturePath());
    const auto cursorPath = fs::resolveNoCase(dialog.phonePicturePath());
    const QPixmap drag =
        LoadImage(nullptr, fs::directoryOf(dialog.phonePicturePath()) + "pictport_drag.png");
    dragCursor_ = drag.isNull() ? QCursor(Qt::SizeAllCursor) : QCursor(drag, 8, 8);
    (void)cursorPath;
  }
  void setPreview(QImage preview) {
    preview_ = std::move(preview);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    if (!phone_.isNull()) p.drawPixmap(0, 0, phone_);
    if (!preview_.isNull()) {
      const Point o = dialog_.previewOrigin();
      p.drawImage(o.x, o.y, preview_);
    }
  }
  Point previewPoint(const QPoint& at) const {
    const Point o = dialog_.previewOrigin();
    return {at.x() - o.x, at.y() - o.y};
  }
  void mousePressEvent(QMouseEvent* e) override {
    const Point at = previewPoint(e->position().toPoint());
    if (e->button() != Qt::LeftButton || !dialog_.overlayHit(at)) return;
    dragging_ = true;
    last_ = at;
    grabMouse(dragCursor_);
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    const Point at = previewPoint(e->position().toPoint());
    if (!dragging_) {
      if (dialog_.overlayHit(at)) {
        setCursor(dragCursor_);
      } else {
        unsetCursor();
      }
      return;
    }
    // The cursor stays on the preview (grown by a pixel): a move beyond it is not followed.
    const Size s = dialog_.type().previewSize();
    if (at.x < -1 || at.y < -1 || at.x > s.w || at.y > s.h) return;
    const Point o = dialog_.overlay().position;
    if (dialog_.dragOverlayTo({o.x + at.x - last_.x, o.y + at.y - last_.y})) last_ = at;
  }
  void mouseReleaseEvent(QMouseEvent*) override {
    if (!dragging_) return;
    dragging_ = false;
    releaseMouse();
  }
  void keyPressEvent(QKeyEvent* e) override {
    switch (e->key()) {
      case Qt::Key_Left:
        dialog_.moveOverlay(-2, 0);
        break;
      case Qt::Key_Right:
        dialog_.moveOverlay(2, 0);
        break;
      case Qt::Key_Up:
        dialog_.moveOverlay(0, -2);
        break;
      case Qt::Key_Down:
        dialog_.moveOverlay(0, 2);
        break;
      default:
        QWidget::keyPressEvent(e);
    }
  }

 private:
  D& dialog_;
  QPixmap phone_;
  QImage preview_;
  QCursor dragCursor_;
  bool dragging_ = false;
  Point last_;
};

class ImageView : public QWidget {
 public:
  explicit ImageView(D& controller) : controller_(controller) {
    setObjectName(QStringLiteral("ImageDialog"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    resize(640, 446);
    binding_ = new ui::qt::ControllerBinding(controller, this);
    build();
    header_ = new CDialogHeader;
    header_->Init(this);
    header_->SetBackgroudBmp(controller.headerPicturePath());
    header_->SetMinButton(QRect(QPoint(594, 7), QPoint(608, 20)));
    header_->SetCloseButton(QRect(QPoint(616, 7), QPoint(632, 20)));
    header_->SetTextButton(QRect(QPoint(505, 36), QPoint(533, 64)));
    header_->SetMusicButton(QRect(QPoint(546, 36), QPoint(575, 64)));
    header_->SetFlashButton(QRect(QPoint(588, 36), QPoint(618, 64)));
    header_->SetModuleHandler(modkit::startModuleOfButton);
    header_->MoveCtrls(this);
    setFixedSize(size());
    controller.setHeaderHeight(header_->headerHeight());
    controller.setViewHook([this](D::ViewEvent e) { onView(e); });
    controller.setCaptureScreen([this] { return capture(); });
    controller.setChooseFont([this](const OverlayFont& f, Rgb c) { return chooseFont(f, c); });
    binding_->afterRefresh = [this](int id) { refreshed(id); };
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(0xee, 0xf3, 0xfa));
    const PanelPicture* bg = controller_.panel().picture(controller_.panelBackground());
    if (bg && !bg->picture.empty()) {
      const Point o = controller_.panel().origin();
      p.drawImage(o.x + bg->origin.x, o.y + bg->origin.y, toQImage(bg->picture));
    }
  }

 private:
  template <class W>
  W* add(int id, W* w, QRect geometry, const char* tip = nullptr, bool bind = true) {
    w->setObjectName(QStringLiteral("c%1").arg(id));
    w->setGeometry(geometry);
    if (tip) w->setToolTip(QString::fromUtf8(tip));
    if (bind) binding_->bind(id, w);
    return w;
  }
  QPushButton* button(int id, const char* text, QRect g, const char* tip = nullptr) {
    auto* b = add(id, new QPushButton(QString::fromUtf8(text), this), g, tip);
    b->setAutoDefault(false);
    return b;
  }

  void build() {
    new QLabel(QStringLiteral("收件人："), this);
    findChildren<QLabel*>().back()->setGeometry(8, 10, 56, 22);
    auto* recipient = add(D::kRecipient, new CACCombox(this), {64, 8, 170, 24}, "请选择收件人");
    recipient->setEditable(true);
    recipient->setInsertPolicy(QComboBox::NoInsert);
    auto* flat1 = add(D::kFlat1, new CButtonST(this), {238, 8, 24, 24}, nullptr, false);
    flat1->SetBitmaps(moduleBitmap("pictport_1007.bmp"));
    flat1->SetFlat(true);
    button(D::kAskModel, "询问机型", {266, 8, 76, 24}, "发个短信，问问朋友的手机类型");

    auto* label2 = new QLabel(QStringLiteral("手机型号："), this);
    label2->setGeometry(8, 40, 70, 22);
    model_ = new CPhoneTypeTree(this);
    model_->setObjectName(QStringLiteral("c%1").arg(D::kModel));
    model_->setGeometry(78, 38, 156, 24);
    model_->setToolTip(QStringLiteral("请选择手机类型"));
    model_->LoadPhoneCompany(controller_.phoneCompanyPath());
    QObject::connect(model_, &CPhoneTypeTree::modelSelected, this, [this](int item) {
      const int data = model_->GetItemData(item);
      if (data < 0 || data == controller_.selection(D::kModel)) return;
      controller_.setSelection(D::kModel, data);
      controller_.onChange(D::kModel);
    });
    auto* flat2 = add(D::kFlat2, new CButtonST(this), {238, 38, 24, 24}, nullptr, false);
    flat2->SetBitmaps(moduleBitmap("pictport_1006.bmp"));
    flat2->SetFlat(true);
    auto* label3 = new QLabel(QStringLiteral("图片类型："), this);
    label3->setGeometry(266, 40, 70, 22);
    auto* type = add(D::kType, new QComboBox(this), {266, 62, 166, 24}, "请选择图片类型");
    type->addItems(
        {QStringLiteral("标准待机"), QStringLiteral("大待机"), QStringLiteral("经典大图")});
    label3->move(266, 40);
    type->move(336, 38);
    type->resize(96, 24);

    const int row = 70;
    button(D::kOpenFile, "打开文件", {8, row, 66, 24}, "打开图片文件");
    button(D::kCapture, "截取屏幕", {78, row, 66, 24}, "拷贝屏幕");
    button(D::kWhole, "全部图形", {148, row, 66, 24}, "截取全部图片");
    button(D::kStandard, "标准大小", {218, row, 66, 24}, "按手机大小截取");
    button(D::kAddText, "添加文字", {288, row, 66, 24}, "在图片中添加文字");
    button(D::kSave, "保存图片...", {358, row, 74, 24});

    clip_ = new CClipStatic(this);
    clip_->setObjectName(QStringLiteral("c%1").arg(D::kClip));
    clip_->setGeometry(8, 100, 424, 290);
    clip_->setGeometryController(&controller_.framing().geometry);
    clip_->onFrameChanged = [this] { controller_.frameChanged(); };

    const int bottom = 398;
    auto* keep =
        add(D::kKeepRatio, new QCheckBox(QStringLiteral("保持比例"), this), {8, bottom, 84, 22});
    keep->hide();
    auto* contrast = add(D::kThresholdLabel, new QLabel(QStringLiteral("调整对比度"), this),
                         {96, bottom, 70, 22});
    contrast->hide();
    auto* slider =
        add(D::kThreshold, new QSlider(Qt::Horizontal, this), {166, bottom, 120, 22}, "改变对比度");
    slider->hide();
    auto* group = new QGroupBox(QStringLiteral("效果设置"), this);
    group->setObjectName(QStringLiteral("c%1").arg(D::kEffectGroup));
    group->setGeometry(8, 330, 300, 50);
    add(D::kPhotoEffect, new QRadioButton(QStringLiteral("相片效果"), group), {8, 20, 86, 22});
    add(D::kGreyEffect, new QRadioButton(QStringLiteral("灰度效果"), group), {100, 20, 86, 22});
    add(D::kCartoonEffect, new QRadioButton(QStringLiteral("卡通效果"), group), {192, 20, 86, 22});
    group->hide();
    button(D::kFee, "资费说明...", {292, bottom, 70, 24});
    auto* send = button(D::kSend, "发 送", {366, bottom, 66, 24}, "发送到手机");
    send->setDefault(true);

    phone_ = new PhoneScreen(controller_, this);
    phone_->setObjectName(QStringLiteral("c%1").arg(D::kPhone));
    phone_->setGeometry(441, 0, 197, 244);

    // The panel controls start at 1 x 1 and are placed by the panel's states.
    auto* panelSend = add(D::kPanelSend, new CButtonST(this), {0, 0, 1, 1}, "发送到手机");
    panelSend->setText(QStringLiteral("发送"));
    auto* font = add(D::kPanelFont, new CButtonST(this), {0, 0, 1, 1}, "改变文字字体");
    font->setText(QStringLiteral("字体"));
    auto* back = add(D::kPanelBack, new CButtonST(this), {0, 0, 1, 1});
    back->setText(QStringLiteral("返回"));
    edit_ = add(D::kOverlayEdit, new QPlainTextEdit(this), {0, 0, 1, 1},
                "编辑图片中的文字，单击图片可用方向键移动文字");
    feeLabel_ = add(D::kFeeNotice, new CTransparentStatic(this), {0, 0, 1, 1});
    feeLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    for (int id : {D::kPanelSend, D::kPanelFont, D::kPanelBack, D::kOverlayEdit, D::kFeeNotice}) {
      binding_->widget(id)->hide();
    }
  }

  std::string moduleBitmap(const char* name) const {
    return fs::directoryOf(controller_.phonePicturePath()) + name;
  }

  void refreshed(int id) {
    if (id == D::kModel) refreshModels();
    if (id == -1 && binding_->started() && !looked_) {
      looked_ = true;
      applyPanelLooks();
      placePanel();
      refreshModels();
      onView(D::ViewEvent::Framing);
      onView(D::ViewEvent::Preview);
    }
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

  void applyPanelLooks() {
    for (const PanelControl& c : controller_.panel().controls()) {
      QWidget* w = binding_->widget(c.id);
      if (auto* b = dynamic_cast<CButtonST*>(w)) {
        if (!c.normalBitmap.empty() && b->SetBitmaps(c.normalBitmap, c.secondBitmap)) {
          b->setText(QString());
        }
        if (!c.tooltip.empty()) b->SetTooltipText(c.tooltip);
        b->SetFlat(true);
      }
      if (c.id == D::kFeeNotice && c.textColour) {
        QPalette pal = feeLabel_->palette();
        pal.setColor(QPalette::WindowText,
                     QColor(c.textColour->r, c.textColour->g, c.textColour->b));
        feeLabel_->setPalette(pal);
      }
    }
  }

  void placePanel() {
    for (const auto& [id, c] : controller_.shownPanelControls()) {
      QWidget* w = binding_->widget(id);
      if (!w) continue;
      if (!c.keepsPlace) w->setGeometry(c.rect.left, c.rect.top, c.rect.width(), c.rect.height());
      w->show();
    }
    update();
  }

  void onView(D::ViewEvent e) {
    switch (e) {
      case D::ViewEvent::Framing:
        clip_->setPictures(
            toQImage(controller_.framing().display),
            controller_.bilevelType() ? toQImage(controller_.thresholdedDisplay()) : QImage());
        break;
      case D::ViewEvent::Preview:
        // The model picker is no bound control: a new preview follows any model change.
        refreshModels();
        phone_->setPreview(toQImage(controller_.previewWithText()));
        break;
      case D::ViewEvent::Panel:
        placePanel();
        break;
      case D::ViewEvent::FocusOverlay:
        edit_->setFocus();
        edit_->selectAll();
        break;
      case D::ViewEvent::Busy:
        setEnabled(false);
        break;
      case D::ViewEvent::Idle:
        setEnabled(true);
        break;
    }
  }

  std::optional<Picture> capture() {
    hide();
    // The 100 ms pass with the event loop running (input held back), so that the windows the
    // dialog covered, ours among them, have repainted before the screen is read.
    QEventLoop wait;
    QTimer::singleShot(100, &wait, &QEventLoop::quit);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QScreen* screen = QGuiApplication::primaryScreen();
    QPixmap shot = screen ? screen->grabWindow(0) : QPixmap();
    show();
    raise();
    if (shot.isNull()) {
      ui::messageBox(T("无法截取屏幕：桌面不允许程序读取屏幕内容"), T("Lumo图"), ui::Icon::Stop);
      return std::nullopt;
    }
    return fromQImage(shot.toImage());
  }

  std::optional<std::pair<OverlayFont, Rgb>> chooseFont(const OverlayFont& f, Rgb colour) {
    QFont current(QString::fromUtf8(f.face.c_str()));
    current.setPixelSize(std::max(std::abs(f.height), 1));
    current.setWeight(f.weight >= 700 ? QFont::Bold : QFont::Normal);
    current.setItalic(f.italic);
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, current, this, QStringLiteral("字体"));
    if (!ok) return std::nullopt;
    const QColor c = QColorDialog::getColor(QColor(colour.r, colour.g, colour.b), this,
                                            QStringLiteral("文字颜色"));
    OverlayFont out;
    out.face = chosen.family().toStdString();
    const int px = chosen.pixelSize() > 0 ? chosen.pixelSize()
                                          : int(chosen.pointSizeF() * logicalDpiY() / 72.0 + 0.5);
    out.height = -std::max(px, 1);
    out.weight = chosen.bold() ? 700 : 400;
    out.italic = chosen.italic();
    const Rgb rgb =
        c.isValid() ? Rgb{uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue())} : colour;
    return std::make_pair(out, rgb);
  }

  D& controller_;
  ui::qt::ControllerBinding* binding_;
  CDialogHeader* header_ = nullptr;
  CPhoneTypeTree* model_ = nullptr;
  CClipStatic* clip_ = nullptr;
  PhoneScreen* phone_ = nullptr;
  QPlainTextEdit* edit_ = nullptr;
  CTransparentStatic* feeLabel_ = nullptr;
  std::vector<std::string> shownModels_;
  bool looked_ = false;
};

}  // namespace

QWidget* createImageView(ui::DialogController& controller) {
  auto* dialog = dynamic_cast<CImageDialog*>(&controller);
  if (!dialog) return nullptr;
  return new ImageView(*dialog);
}

void registerImageView() {
  ui::qt::registerView(CImageDialog::kTemplate, createImageView);
}

}  // namespace hv::pictport
