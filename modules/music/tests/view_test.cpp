// The music dialog's Qt view under the offscreen platform: a screenshot with every Chinese
// character checked for a real glyph ($HV_SCREENSHOT_DIR, default "screenshots"), and a tune
// opened, converted and sent through the widgets to handvane-service.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRawFont>
#include <QSlider>
#include <QTimer>

#include "modules/music/tests/music_fixture.h"
#include "modules/music/views/views.h"
#include "ui/qt/binding.h"
#include "ui/qt/qtext.h"
#include "ui/qt/tests/qt_test_app.h"
#include "ui/views/views.h"

namespace hv::ringport {
namespace {

QString screenshotDir() {
  const QByteArray env = qgetenv("HV_SCREENSHOT_DIR");
  const QString dir = env.isEmpty() ? QStringLiteral("screenshots") : QString::fromLocal8Bit(env);
  QDir().mkpath(dir);
  return dir;
}

int shootAndCheck(QWidget* window, const QString& name) {
  const QImage shot = window->grab().toImage();
  EXPECT_TRUE(shot.save(QDir(screenshotDir()).filePath(name + QStringLiteral(".png"))));
  int checked = 0;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window)) continue;
    QString text;
    if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
    if (auto* c = qobject_cast<QComboBox*>(w)) text = c->currentText();
    const QRawFont raw = QRawFont::fromFont(w->font());
    for (char32_t c : text.toUcs4()) {
      if (c < 0x2E80) continue;
      ++checked;
      const auto glyphs = raw.glyphIndexesForString(QString::fromUcs4(&c, 1));
      EXPECT_TRUE(glyphs.size() == 1 && glyphs[0] != 0) << std::hex << uint32_t(c);
    }
  }
  return checked;
}

class ViewTest : public testing::MusicFixture {
 protected:
  void SetUp() override {
    ui::qt::testing::app();
    MusicFixture::SetUp();
    ui::qt::install();
    ui::qt::registerSuiteViews();
    registerViews();
    ASSERT_TRUE(fs::copyFile(modkit::testing::shipped(T(kHeaderPicture)), home_ + T(kHeaderPicture),
                             false));
  }
  void TearDown() override {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* b = ui::qt::bindingOf(w); b && !b->controller().ended())
        b->controller().endDialog(ui::kIdCancel);
    }
    ui::qt::testing::waitFor([] { return false; }, 50);
    MusicFixture::TearDown();
  }
  QWidget* show(const std::string& receiver, const std::string& file) {
    dialog_ = std::make_shared<MusicDialog>(modkit::ConvertArgs{receiver, file, ""}, options());
    ui::backend().showModeless(dialog_);
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* b = ui::qt::bindingOf(w); b && &b->controller() == dialog_.get()) return w;
    }
    ADD_FAILURE() << "no view";
    return nullptr;
  }
  template <class W>
  static W* control(QWidget* view, int id) {
    auto* w = view->findChild<W*>(QStringLiteral("c%1").arg(id));
    EXPECT_NE(w, nullptr) << id;
    return w;
  }
  std::shared_ptr<MusicDialog> dialog_;
};

TEST_F(ViewTest, ScreenshotAndASendThroughTheWidgets) {
  signIn();
  QWidget* view = show(testing::kFriend, tune_);
  ASSERT_NE(view, nullptr);
  ui::qt::testing::waitFor([] { return false; }, 100);
  ASSERT_TRUE(dialog_->ringtone());
  EXPECT_EQ(control<QLabel>(view, MusicDialog::kNotes)->text(), QStringLiteral("可发送 4 个音符"));
  EXPECT_EQ(control<QLabel>(view, MusicDialog::kCount)->text(),
            QStringLiteral("需要 1 条短消息发送"));
  EXPECT_EQ(control<QComboBox>(view, MusicDialog::kFormat)->currentText(),
            QStringLiteral("诺基亚铃声"));
  EXPECT_EQ(control<QSlider>(view, MusicDialog::kTempo)->value(), 5);
  EXPECT_GT(shootAndCheck(view, QStringLiteral("ringport-dialog")), 40);

  // The user picks an iMelody phone in the list: the format follows.
  auto* model = control<QComboBox>(view, MusicDialog::kModel);
  const int t68 = model->findText(QStringLiteral("爱立信T68i"));
  ASSERT_GE(t68, 0);
  model->setCurrentIndex(t68);
  Q_EMIT model->activated(t68);  // as a pick from the list does
  ui::qt::testing::waitFor([] { return false; }, 50);
  EXPECT_EQ(dialog_->selectedModelName(), T("爱立信T68i"));
  EXPECT_EQ(control<QComboBox>(view, MusicDialog::kFormat)->currentText(),
            QStringLiteral("iMelody铃声"));
  control<QPushButton>(view, MusicDialog::kConvert)->click();
  ASSERT_TRUE(ui::qt::testing::waitFor([&] { return dialog_->ringtone().has_value(); }));

  // Send: yes to the question, no to the friend offer.
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    const bool friendOffer = box->text().contains(QStringLiteral("好友"));
    QAbstractButton* button = box->button(friendOffer ? QMessageBox::No : QMessageBox::Yes);
    if (!button) button = box->button(QMessageBox::Ok);
    if (button) button->click();
  });
  answer.start(20);
  control<QPushButton>(view, MusicDialog::kSend)->click();
  ASSERT_TRUE(ui::qt::testing::waitFor([&] { return dialog_->lastResult() == 0; }, 60000));
  answer.stop();
  const auto p = stored(1);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->contentKind, "imelody_ringtone");
  ASSERT_EQ(p->texts.size(), dialog_->ringtone()->messages.size());
  EXPECT_EQ(p->texts[0], std::string(dialog_->ringtone()->messages[0].begin(),
                                     dialog_->ringtone()->messages[0].end()));
}

}  // namespace
}  // namespace hv::ringport
