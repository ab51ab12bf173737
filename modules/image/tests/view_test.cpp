// The image dialog's Qt view on the offscreen platform: the controls bound by id, the framing
// control and the preview painted from the controller, the panel's states placing their
// controls; screenshots of a photo on a 1-bit type, the text state and a colour type, each with
// every Chinese text checked to be drawn with a real font. The pictures are left in
// $HV_SCREENSHOT_DIR (default "screenshots" in the test's folder).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QFontDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTimer>
#include <set>

#include "modules/image/clipstatic.h"
#include "modules/image/dialog.h"
#include "modules/image/imageview.h"
#include "modules/image/tests/test_pictures.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/tests/test_dir.h"
#include "ui/UI/phonetree.h"
#include "ui/qt/binding.h"
#include "ui/qt/tests/qt_test_app.h"
#include "ui/qt/tests/screenshot_check.h"

namespace hv::pictport {
namespace {

using ui::qt::testing::checkAndSave;

class ImageViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The tables, pictures and header come from the built installation.
    setenv("HANDVANE_HOME", HV_SUITE_DIR, 1);
    fs::resetSuiteHomeForTesting();
    ui::qt::testing::app();
    registerImageView();
    photo_ = dir_ / "photo.jpg";
    testing::writeAs(testing::drawn(640, 480,
                                    [](int x, int y) {
                                      const int dx = x - 320, dy = y - 240;
                                      return dx * dx + dy * dy < 150 * 150
                                                 ? Rgb{200, 40, 40}
                                                 : Rgb{uint8_t(x / 3), 120, uint8_t(y / 2)};
                                    }),
                     photo_, "JPEG");
    CImageDialog::Options o;
    o.moduleDir = std::string(HV_SUITE_DIR) + "/";
    o.pictureFile = photo_;
    dialog_ = std::make_shared<CImageDialog>(std::move(o));
    ui::backend().showModeless(dialog_);
    ASSERT_TRUE(ui::qt::testing::waitFor([&] { return view() != nullptr; }));
  }
  void TearDown() override {
    if (dialog_) ui::backend().close(*dialog_);
  }
  QWidget* view() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* b = ui::qt::bindingOf(w);
      if (b && &b->controller() == dialog_.get() && w->isVisible()) return w;
    }
    return nullptr;
  }
  template <class W>
  W* child(int id) {
    return view()->findChild<W*>(QStringLiteral("c%1").arg(id));
  }
  void pick(int id, const std::string& utf8) {
    const auto items = dialog_->items(id);
    auto it = std::find(items.begin(), items.end(), T(utf8));
    ASSERT_NE(it, items.end()) << utf8;
    dialog_->setSelection(id, int(it - items.begin()));
    dialog_->onChange(id);
    QCoreApplication::processEvents();
  }
  TestDir dir_;
  std::string photo_;
  std::shared_ptr<CImageDialog> dialog_;
};

TEST_F(ImageViewTest, PhotoOnAOneBitTypeTextStateAndColourType) {
  pick(CImageDialog::kModel, "诺基亚3310");
  pick(CImageDialog::kType, "诺基亚运营商图标");
  dialog_->onCommand(CImageDialog::kWhole);
  QCoreApplication::processEvents();
  QWidget* v = view();
  ASSERT_NE(v, nullptr);
  // The template's controls by id, the slider shown for the 1-bit type.
  EXPECT_TRUE(child<QWidget>(CImageDialog::kThreshold)->isVisible());
  EXPECT_EQ(child<QAbstractButton>(CImageDialog::kSend)->text(), QStringLiteral("发 送"));
  EXPECT_EQ(child<QWidget>(CImageDialog::kClip)->toolTip(), QStringLiteral("在此选择原始图象"));
  auto* tree = child<CPhoneTypeTree>(CImageDialog::kModel);
  EXPECT_EQ(tree->GetItemText(tree->GetCurSel()), T("诺基亚3310"));
  // The preview lies on the phone's screen: its pixels in the phone widget are the controller's.
  const QImage phone = child<QWidget>(CImageDialog::kPhone)->grab().toImage();
  const Point o = dialog_->previewOrigin();
  const Picture& preview = dialog_->previewWithText();
  ASSERT_EQ(preview.width(), 144);
  const Rgb c = preview.pixel(70, 14);
  EXPECT_EQ(QColor(phone.pixel(o.x + 70, o.y + 14)), QColor(c.r, c.g, c.b));
  EXPECT_GE(checkAndSave(v, QStringLiteral("image-logo")), 30);

  dialog_->onCommand(CImageDialog::kAddText);
  QCoreApplication::processEvents();
  auto* edit = child<QPlainTextEdit>(CImageDialog::kOverlayEdit);
  ASSERT_TRUE(edit->isVisible());
  EXPECT_FALSE(child<QWidget>(CImageDialog::kFeeNotice)->isVisible());
  const auto& placed = dialog_->shownPanelControls().at(CImageDialog::kOverlayEdit);
  EXPECT_EQ(edit->geometry(),
            QRect(placed.rect.left, placed.rect.top, placed.rect.width(), placed.rect.height()));
  edit->setPlainText(QStringLiteral("新年好"));
  QCoreApplication::processEvents();
  EXPECT_EQ(dialog_->overlay().text, T("新年好"));
  EXPECT_GE(checkAndSave(v, QStringLiteral("image-text")), 30);
  dialog_->onCommand(CImageDialog::kAddText);
  QCoreApplication::processEvents();
  EXPECT_FALSE(edit->isVisible());
  EXPECT_TRUE(child<QWidget>(CImageDialog::kFeeNotice)->isVisible());

  pick(CImageDialog::kModel, "诺基亚7650");
  pick(CImageDialog::kType, "诺基亚彩色图片(176x208)");
  EXPECT_FALSE(child<QWidget>(CImageDialog::kThreshold)->isVisible());
  EXPECT_EQ(dialog_->previewWithText().width(), 158);
  EXPECT_GE(checkAndSave(v, QStringLiteral("image-colour")), 30);
}

// Calls f with the modal dialog of type W once it shows (from within its own event loop).
template <class W, class F>
void whenModal(F f) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, f] {
    if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget()); w && w->isVisible()) {
      timer->stop();
      timer->deleteLater();
      f(w);
    }
  });
  timer->start(10);
}

int countColour(const Picture& p, Rgb c) {
  int n = 0;
  for (int y = 0; y < p.height(); ++y) {
    for (int x = 0; x < p.width(); ++x) n += p.pixel(x, y) == c;
  }
  return n;
}

// "字体" (8001): the platform's font dialog on the current font, then the colour; the overlay
// is drawn in what was chosen. Cancelling the font dialog changes nothing.
TEST_F(ImageViewTest, FontAndColourDialogsSetTheOverlaysLook) {
  pick(CImageDialog::kModel, "诺基亚7650");
  pick(CImageDialog::kType, "诺基亚彩色图片(176x208)");
  dialog_->onCommand(CImageDialog::kAddText);
  QCoreApplication::processEvents();
  child<QPlainTextEdit>(CImageDialog::kOverlayEdit)->setPlainText(QStringLiteral("新年好"));
  QCoreApplication::processEvents();
  const Rgb green{0, 200, 0};
  EXPECT_EQ(countColour(dialog_->previewWithText(), green), 0);

  QString shownFamily;
  whenModal<QFontDialog>([&](QFontDialog* f) {
    shownFamily = f->currentFont().family();
    QFont chosen(QStringLiteral("WenQuanYi Micro Hei"));
    chosen.setPixelSize(24);
    f->setCurrentFont(chosen);
    whenModal<QColorDialog>([](QColorDialog* c) {
      c->setCurrentColor(QColor(0, 200, 0));
      c->accept();
    });
    f->accept();
  });
  child<QAbstractButton>(CImageDialog::kPanelFont)->click();
  EXPECT_EQ(shownFamily, QStringLiteral("WenQuanYi Micro Hei"));
  const OverlayFont font = dialog_->overlay().font;
  EXPECT_EQ(font.face, "WenQuanYi Micro Hei");
  EXPECT_LT(font.height, -12);  // larger than the 12-pixel start
  EXPECT_EQ(dialog_->overlay().colour, green);
  // The text is drawn in the chosen colour, larger than before.
  EXPECT_GT(countColour(dialog_->previewWithText(), green), 20);

  whenModal<QFontDialog>([](QFontDialog* f) { f->reject(); });
  child<QAbstractButton>(CImageDialog::kPanelFont)->click();
  EXPECT_EQ(dialog_->overlay().font.height, font.height);
  EXPECT_EQ(dialog_->overlay().colour, green);
}

}  // namespace
}  // namespace hv::pictport
