// The animation dialog's Qt view on the offscreen platform, with clocks ticked by hand: the
// preview player playing a movie at its rate (the engine's pixels on the widget), the 20 ms
// position timer moving the range bar, the controls of the template with their tool tips, and
// screenshots of both modes with a movie loaded, each Chinese text checked to be drawn with a
// real font. The pictures are left in $HV_SCREENSHOT_DIR (default "screenshots").
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QSlider>
#include <QTreeWidget>
#include <set>

#include "modules/animation/dialog.h"
#include "modules/animation/flashview.h"
#include "modules/animation/player.h"
#include "modules/animation/tests/movies.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/tests/test_dir.h"
#include "ui/UI/phonetree.h"
#include "ui/qt/binding.h"
#include "ui/qt/tests/qt_test_app.h"
#include "ui/qt/tests/screenshot_check.h"

namespace hv::flickport {
namespace {

using D = CFlashDialog;

// A clock that runs only when the test says so.
class HandTicks : public TickSource {
 public:
  void start(int intervalMs, std::function<void()> tick) override {
    interval_ = intervalMs;
    tick_ = std::move(tick);
    active_ = true;
  }
  void stop() override { active_ = false; }
  bool active() const override { return active_; }
  int interval() const override { return interval_; }
  // Fires n ticks (only while started, as a timer would).
  void fire(int n = 1) {
    for (int i = 0; i < n && active_; ++i) tick_();
  }

 private:
  std::function<void()> tick_;
  int interval_ = 0;
  bool active_ = false;
};

QColor colourOf(int frame) {
  const auto c = flicktest::frameColour(frame);
  return QColor(c.r, c.g, c.b);
}

using ui::qt::testing::checkAndSave;

TEST(FlashPlayerWidget, PlaysAtTheMovieRateAndShowsTheEnginesFrames) {
  TestDir dir;
  const std::string movie =
      flicktest::writeMovie(dir / "colours.swf", flicktest::colourMovie(5, 10, 12));
  auto ticks = std::make_unique<HandTicks>();
  HandTicks* clock = ticks.get();
  FlashPlayerWidget player(std::move(ticks));
  player.resize(80, 78);  // a picture of 80 x 60: the 40 x 30 stage twice over
  ASSERT_TRUE(player.load(movie));
  EXPECT_EQ(player.frameCount(), 10);
  EXPECT_EQ(player.currentFrame(), 0);
  EXPECT_FALSE(player.playing());
  EXPECT_EQ(player.picture().size(), QSize(80, 60));
  EXPECT_EQ(QColor(player.picture().pixel(40, 30)), colourOf(1));

  player.play();
  ASSERT_TRUE(clock->active());
  EXPECT_EQ(clock->interval(), 83);  // 12 frames a second
  clock->fire(3);
  EXPECT_EQ(player.currentFrame(), 3);
  EXPECT_EQ(QColor(player.picture().pixel(40, 30)), colourOf(4));
  EXPECT_EQ(player.counterText(), QStringLiteral("4/10"));
  // What the widget shows is that picture.
  const QImage shown = player.grab().toImage();
  EXPECT_EQ(QColor(shown.pixel(10, 10)), colourOf(4));
  clock->fire(7);  // past the last frame: the first again
  EXPECT_EQ(player.currentFrame(), 0);
  EXPECT_EQ(QColor(player.picture().pixel(5, 5)), colourOf(1));

  player.stop();
  EXPECT_FALSE(clock->active());
  clock->fire(5);
  EXPECT_EQ(player.currentFrame(), 0);
  player.gotoFrame(6);
  EXPECT_EQ(QColor(player.picture().pixel(5, 5)), colourOf(7));
  player.gotoFrame(2);  // backwards: the engine starts over
  EXPECT_EQ(QColor(player.picture().pixel(5, 5)), colourOf(3));
  player.gotoFrame(99);
  EXPECT_EQ(player.currentFrame(), 9);

  // Another rate, and a movie the engine cannot load leaves the old one in place.
  const std::string fast =
      flicktest::writeMovie(dir / "fast.swf", flicktest::colourMovie(5, 4, 25));
  ASSERT_TRUE(player.load(fast));
  player.play();
  EXPECT_EQ(clock->interval(), 40);
  fs::writeFileAtomic(dir / "junk.swf", "GIF89a, not a movie");
  EXPECT_FALSE(player.load(dir / "junk.swf"));
  EXPECT_EQ(player.frameCount(), 4);
}

// A dialog initialised before its view exists (as when it is shown from the plug-in's thread)
// hands the movie to the view's player at the frame and in the state it had.
TEST(FlashViewHandOver, AViewMadeAfterInitTakesTheMovieOver) {
  setenv("HANDVANE_HOME", HV_SUITE_DIR, 1);
  fs::resetSuiteHomeForTesting();
  ui::qt::testing::app();
  TestDir dir;
  D::Options o;
  o.moduleDir = std::string(HV_SUITE_DIR) + "/";
  o.movieFile = flicktest::writeMovie(dir / "colours.swf", flicktest::colourMovie(5, 10, 12));
  o.tempDir = dir.path();
  o.wait = [](int) {};
  D dialog(std::move(o));
  dialog.onInit();
  ASSERT_TRUE(dialog.playing());
  dialog.advance();
  dialog.advance();
  dialog.advance();
  std::vector<HandTicks*> ticks;
  setViewTicks([&](QObject*) {
    auto t = std::make_unique<HandTicks>();
    ticks.push_back(t.get());
    return t;
  });
  std::unique_ptr<QWidget> view(createFlashView(dialog));
  setViewTicks({});
  auto* player = view->findChild<FlashPlayerWidget*>(QStringLiteral("c%1").arg(D::kFlash));
  ASSERT_NE(player, nullptr);
  EXPECT_EQ(player->frameCount(), 10);
  EXPECT_EQ(player->currentFrame(), 3);
  EXPECT_TRUE(player->playing());
  const QImage& shown = player->picture();
  EXPECT_EQ(QColor(shown.pixel(shown.width() / 2, shown.height() / 2)), colourOf(4));
  // Closing the view gives the movie back to the headless control.
  view.reset();
  EXPECT_EQ(dialog.frameCount(), 10);
  EXPECT_EQ(dialog.currentFrame(), 3);
}

class FlashViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("HANDVANE_HOME", HV_SUITE_DIR, 1);
    fs::resetSuiteHomeForTesting();
    ui::qt::testing::app();
    registerFlashView();
    setViewTicks([this](QObject*) {
      auto t = std::make_unique<HandTicks>();
      ticks_.push_back(t.get());
      return t;
    });
    movie_ = flicktest::writeMovie(dir_ / "ball.swf", flicktest::ballMovie(5, 24));
    temp_ = dir_ / "tmp/";
    ASSERT_TRUE(fs::makeDirectories(temp_));
    D::Options o;
    o.moduleDir = std::string(HV_SUITE_DIR) + "/";
    o.movieFile = movie_;
    o.tempDir = temp_;
    o.wait = [](int) {};
    dialog_ = std::make_shared<D>(std::move(o));
    ui::backend().showModeless(dialog_);
    ASSERT_TRUE(ui::qt::testing::waitFor([&] { return view() != nullptr; }));
    // The view's clocks, as it makes them: the movie's, the phone screen's, the 20 ms timer.
    ASSERT_EQ(ticks_.size(), 3u);
  }
  void TearDown() override {
    if (dialog_) ui::backend().close(*dialog_);
    QCoreApplication::processEvents();
    setViewTicks({});
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
  void press(int id) {
    auto* b = child<QAbstractButton>(id);
    ASSERT_NE(b, nullptr) << id;
    ASSERT_TRUE(b->isEnabled()) << id;
    b->click();
    QCoreApplication::processEvents();
  }
  HandTicks& movieClock() { return *ticks_[0]; }
  HandTicks& positionClock() { return *ticks_[2]; }

  TestDir dir_;
  std::string movie_, temp_;
  std::vector<HandTicks*> ticks_;
  std::shared_ptr<D> dialog_;
};

TEST_F(FlashViewTest, ControlsToolTipsAndThePlayerDrivingTheRangeBar) {
  // Every control of the template by id, with its tool tip.
  const std::vector<std::pair<int, const char*>> tips = {
      {D::kOpen, "打开动画文件"},
      {D::kPlay, "播放动画"},
      {D::kPause, "暂停"},
      {D::kStop, "停止播放"},
      {D::kPrev, "前一幅图象"},
      {D::kNext, "后一幅图象"},
      {D::kMarkFirst, "设置要处理的起始位置"},
      {D::kMarkLast, "设置要处理的结束位置"},
      {D::kQuality, "调整预览和转换时生成的动画比例"},
      {D::kAddComic, "将当前的画面加入到动画中"},
      {D::kComicDown, "将选中的图片位置下移"},
      {D::kComicUp, "将选中的图片位置上移"},
      {D::kModel, "请选择手机类型"},
      {D::kType, "请选择图片类型"},
      {D::kRecipient, "请输入手机号或是选择好友"},
      {D::kToImage, "用Lumo图处理当前的画面"},
      {D::kModeButton, "转换成动画模式"},
  };
  for (const auto& [id, tip] : tips) {
    QWidget* w = child<QWidget>(id);
    ASSERT_NE(w, nullptr) << id;
    EXPECT_EQ(w->toolTip(), QString::fromUtf8(tip)) << id;
  }
  for (int id :
       {D::kFlash, D::kRange, D::kQualityLabel, D::kFast, D::kPreview, D::kConvert, D::kAbort,
        D::kResults, D::kPlayResult, D::kStopResult, D::kComics, D::kComicMode, D::kAnimationMode,
        D::kAskModel, D::kSaveFlash, D::kFeeLink, D::kSend, D::kSend2, D::kFeeText}) {
    EXPECT_NE(child<QWidget>(id), nullptr) << id;
  }
  auto* tree = child<CPhoneTypeTree>(D::kModel);
  EXPECT_EQ(tree->GetItemText(tree->GetCurSel()), T("诺基亚7650"));

  // The movie plays in the player at its rate; the 20 ms timer puts the range bar on its frame.
  auto* player = child<FlashPlayerWidget>(D::kFlash);
  ASSERT_NE(player, nullptr);
  EXPECT_EQ(&dialog_->control(), static_cast<FlashControl*>(player));
  ASSERT_TRUE(player->playing());
  EXPECT_EQ(movieClock().interval(), 83);
  EXPECT_TRUE(positionClock().active());
  EXPECT_EQ(positionClock().interval(), 20);
  EXPECT_FALSE(child<QWidget>(D::kPlay)->isEnabled());
  movieClock().fire(5);
  EXPECT_EQ(player->currentFrame(), 5);
  auto* range = child<QSlider>(D::kRange);
  EXPECT_EQ(range->maximum(), 23);
  positionClock().fire();
  QCoreApplication::processEvents();
  EXPECT_EQ(range->value(), 5);

  press(D::kPause);
  EXPECT_FALSE(player->playing());
  EXPECT_FALSE(movieClock().active());
  EXPECT_TRUE(child<QWidget>(D::kNext)->isEnabled());
  press(D::kNext);
  EXPECT_EQ(player->currentFrame(), 6);
  EXPECT_EQ(range->value(), 6);
  press(D::kPrev);
  press(D::kPrev);
  EXPECT_EQ(player->currentFrame(), 4);
  range->setValue(12);  // dragging the bar while stopped moves the movie
  QCoreApplication::processEvents();
  EXPECT_EQ(player->currentFrame(), 12);
  press(D::kPlay);
  EXPECT_TRUE(movieClock().active());
  press(D::kStop);
  EXPECT_FALSE(player->playing());
  EXPECT_EQ(player->currentFrame(), 0);
  EXPECT_EQ(range->value(), 0);
}

TEST_F(FlashViewTest, BothModesWithAMovieLoaded) {
  auto* player = child<FlashPlayerWidget>(D::kFlash);
  ASSERT_NE(player, nullptr);
  movieClock().fire(8);
  press(D::kPause);
  positionClock().fire();

  // Comic mode: two pictures of the movie, the list, and the comic playing on the phone.
  ASSERT_EQ(dialog_->mode(), D::Mode::Comic);
  EXPECT_TRUE(child<QWidget>(D::kAddComic)->isVisible());
  EXPECT_FALSE(child<QWidget>(D::kConvert)->isVisible());
  press(D::kAddComic);
  for (int i = 0; i < 10; ++i) press(D::kNext);
  press(D::kAddComic);
  auto* comics = child<QTreeWidget>(D::kComics);
  ASSERT_EQ(comics->topLevelItemCount(), 2);
  EXPECT_EQ(comics->topLevelItem(1)->text(1), QStringLiteral("19"));
  press(D::kPlayResult);
  auto* phone = view()->findChild<QWidget*>(QStringLiteral("phone"));
  ASSERT_NE(phone, nullptr);
  // The first comic picture on the phone's screen, 40 pixels down, centred.
  const flick::Frame& first = dialog_->comics().front();
  const QImage onPhone = phone->grab().toImage();
  const int x = (D::kPreviewAreaWidth - first.width) / 2;
  const size_t at = (size_t(100) * size_t(first.width) + 88) * 3;
  EXPECT_EQ(QColor(onPhone.pixel(x + 88, D::kPreviewTop + 100)),
            QColor(first.pixels[at + 2], first.pixels[at + 1], first.pixels[at]));
  EXPECT_GE(checkAndSave(view(), QStringLiteral("flash-comic")), 30);

  // Animation mode: the range marked, converted, a result selected and the preview shown.
  press(D::kModeButton);
  ASSERT_EQ(dialog_->mode(), D::Mode::Animation);
  EXPECT_EQ(child<QWidget>(D::kModeButton)->toolTip(), QStringLiteral("转换成漫画模式"));
  EXPECT_FALSE(child<QWidget>(D::kAddComic)->isVisible());
  EXPECT_TRUE(child<QWidget>(D::kConvert)->isVisible());
  auto* range = child<QSlider>(D::kRange);
  range->setValue(2);
  QCoreApplication::processEvents();
  press(D::kMarkFirst);
  range->setValue(20);
  QCoreApplication::processEvents();
  press(D::kMarkLast);
  EXPECT_EQ(dialog_->firstMark(), 2);
  EXPECT_EQ(dialog_->lastMark(), 20);
  child<QSlider>(D::kQuality)->setValue(50);
  QCoreApplication::processEvents();
  EXPECT_EQ(child<QLabel>(D::kQualityLabel)->text(), QStringLiteral("50%"));
  child<QAbstractButton>(D::kFast)->click();
  press(D::kPreview);
  EXPECT_EQ(dialog_->shownFrame().number, 21);  // frames 3, 5, ..., 21 of the movie
  press(D::kConvert);
  auto* results = child<QTreeWidget>(D::kResults);
  ASSERT_EQ(dialog_->results().size(), 1u);
  ASSERT_EQ(results->topLevelItemCount(), 1);
  EXPECT_EQ(results->topLevelItem(0)->text(1), QStringLiteral("10"));
  EXPECT_EQ(results->topLevelItem(0)->text(2),
            QString::number(qulonglong(dialog_->results()[0].bytes)));
  results->topLevelItem(0)->setSelected(true);
  QCoreApplication::processEvents();
  EXPECT_EQ(dialog_->selectedResults(), std::vector<int>{0});
  press(D::kPlayResult);
  ASSERT_EQ(dialog_->playback().size(), 10u);
  // The phone plays the result with its delays (2 frames of 83 ms: 160 ms each, GIF hundredths).
  HandTicks& phoneClock = *ticks_[1];
  EXPECT_EQ(phoneClock.interval(), 160);
  phoneClock.fire(9);
  EXPECT_FALSE(phoneClock.active());
  EXPECT_GE(checkAndSave(view(), QStringLiteral("flash-animation")), 30);
}

}  // namespace
}  // namespace hv::flickport
