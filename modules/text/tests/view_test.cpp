// The text module's Qt views under the offscreen platform: screenshots of the three dialogs with
// every Chinese character checked against the font that draws it, and a send through the text
// dialog's widgets to handvane-service. Pictures go to $HV_SCREENSHOT_DIR (default
// "screenshots" in the test's working folder).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRawFont>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "modules/text/cc_dialog.h"
#include "modules/text/signature_dialog.h"
#include "modules/text/tests/text_fixture.h"
#include "modules/text/usersettings.h"
#include "modules/text/views/views.h"
#include "ui/UI/header.h"
#include "ui/UI/widgets.h"
#include "ui/qt/binding.h"
#include "ui/qt/qtext.h"
#include "ui/qt/tests/qt_test_app.h"
#include "ui/views/views.h"

namespace hv::textport {
namespace {

using testing::kUser;
using ui::qt::toQ;

QString screenshotDir() {
  const QByteArray env = qgetenv("HV_SCREENSHOT_DIR");
  const QString dir = env.isEmpty() ? QStringLiteral("screenshots") : QString::fromLocal8Bit(env);
  QDir().mkpath(dir);
  return dir;
}

// Every text a window shows, with the widget drawing it.
std::vector<std::pair<QWidget*, QString>> textsOf(QWidget* window) {
  std::vector<std::pair<QWidget*, QString>> out;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window)) continue;
    if (auto* l = qobject_cast<QLabel*>(w)) out.emplace_back(w, l->text());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) out.emplace_back(w, b->text());
    if (auto* e = qobject_cast<QPlainTextEdit*>(w)) out.emplace_back(w, e->toPlainText());
    if (auto* c = qobject_cast<QComboBox*>(w)) out.emplace_back(w, c->currentText());
    if (auto* t = qobject_cast<QTreeWidget*>(w)) {
      for (int i = 0; i < t->topLevelItemCount(); ++i)
        out.emplace_back(w, t->topLevelItem(i)->text(0));
      out.emplace_back(w, t->headerItem()->text(0) + t->headerItem()->text(1));
    }
  }
  return out;
}

// Saves the window's picture and checks that each Chinese character it shows maps to a real
// glyph with an outline in the widget's font (not the missing-glyph box); the number checked.
int shootAndCheck(QWidget* window, const QString& name) {
  const QImage shot = window->grab().toImage();
  EXPECT_TRUE(shot.save(QDir(screenshotDir()).filePath(name + QStringLiteral(".png"))));
  int checked = 0;
  for (const auto& [w, text] : textsOf(window)) {
    const QRawFont raw = QRawFont::fromFont(w->font());
    EXPECT_TRUE(raw.isValid()) << name.toStdString();
    for (char32_t c : text.toUcs4()) {
      if (c < 0x2E80) continue;  // the CJK ranges begin here
      ++checked;
      const QString one = QString::fromUcs4(&c, 1);
      const auto glyphs = raw.glyphIndexesForString(one);
      if (glyphs.size() != 1) {
        ADD_FAILURE() << name.toStdString() << ": U+" << std::hex << uint32_t(c);
        continue;
      }
      EXPECT_NE(glyphs[0], 0u) << name.toStdString() << ": U+" << std::hex << uint32_t(c)
                               << " has no glyph in " << raw.familyName().toStdString();
      EXPECT_FALSE(raw.pathForGlyph(glyphs[0]).isEmpty())
          << name.toStdString() << ": U+" << std::hex << uint32_t(c) << " draws nothing";
    }
  }
  return checked;
}

// Answers every message box as it opens: records its text and presses the button answer()
// picks for it.
class BoxAnswerer : public QObject {
 public:
  explicit BoxAnswerer(std::function<QMessageBox::StandardButton(const QString&)> answer)
      : answer_(std::move(answer)) {
    connect(&timer_, &QTimer::timeout, this, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || box == last_) return;
      last_ = box;
      texts.push_back(box->text().toStdString());
      box->button(answer_(box->text()))->click();
    });
    timer_.start(10);
  }
  std::vector<std::string> texts;

 private:
  std::function<QMessageBox::StandardButton(const QString&)> answer_;
  QTimer timer_;
  QPointer<QMessageBox> last_;
};

// Records whether the dialog was disabled at some moment, and enabled again at the end.
class EnabledWatch : public QObject {
 public:
  explicit EnabledWatch(QWidget* dialog) : dialog_(dialog) { dialog->installEventFilter(this); }
  ~EnabledWatch() override { dialog_->removeEventFilter(this); }
  int disabled = 0;

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (o == dialog_ && e->type() == QEvent::EnabledChange && !dialog_->isEnabled()) ++disabled;
    return false;
  }

 private:
  QWidget* dialog_;
};

class ViewTest : public testing::TextFixture {
 protected:
  void SetUp() override {
    ui::qt::testing::app();
    TextFixture::SetUp();
    // The Qt backend, with the suite's views and the module's, over the test's home.
    ui::qt::install();
    ui::qt::registerSuiteViews();
    registerViews();
    for (const char* f : {"DATA/Lumo字.jpg", "PHONE/手机.jpg", "PHONE/PTX/normal_send1.bmp",
                          "PHONE/PTX/normal_send2.bmp"}) {
      const std::string target = home_ + T(f);
      fs::makeDirectories(fs::directoryOf(target));
      ASSERT_TRUE(fs::copyFile(modkit::testing::shipped(T(f)), target, false)) << f;
    }
  }
  void TearDown() override {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* b = ui::qt::bindingOf(w); b && !b->controller().ended()) {
        b->controller().endDialog(ui::kIdCancel);
      }
    }
    ui::qt::testing::waitFor([] { return false; }, 50);
    TextFixture::TearDown();
  }
  // Shows a text dialog as DoConvert does; its view.
  QWidget* show(const std::string& receiver = "") {
    dialog_ = std::make_shared<TextDialog>(modkit::ConvertArgs{receiver, "", ""});
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
  std::shared_ptr<TextDialog> dialog_;
};

TEST_F(ViewTest, TextDialogWithTextRecipientsAndFee) {
  signIn();
  addFriend(T("张三"), "13700137000");
  QWidget* view = show("13900139000");
  ASSERT_NE(view, nullptr);
  control<QPlainTextEdit>(view, TextDialog::kText)
      ->setPlainText(
          QStringLiteral("今晚七点在老地方见面，记得带上相机。\n明天的会议改到下午三点。"));
  control<QPlainTextEdit>(view, TextDialog::kCc)
      ->setPlainText(QStringLiteral("张三<13700137000>;"));
  ui::qt::testing::waitFor([] { return false; }, 50);

  // What the user typed reached the controller, with CR LF line breaks.
  EXPECT_EQ(dialog_->text(TextDialog::kText),
            T("今晚七点在老地方见面，记得带上相机。\r\n明天的会议改到下午三点。"));
  EXPECT_EQ(dialog_->text(TextDialog::kCc), T("张三<13700137000>;"));
  EXPECT_EQ(control<QComboBox>(view, TextDialog::kReceiver)->currentText(),
            QStringLiteral("13900139000"));
  EXPECT_EQ(control<QLabel>(view, TextDialog::kCount)->text(),
            QStringLiteral("拆分成 1 条短消息发送"));
  EXPECT_EQ(control<QLabel>(view, TextDialog::kFee)->text(),
            QStringLiteral("短信通信费：0.1元\n文字信息费：免费"));
  EXPECT_EQ(control<QLabel>(view, TextDialog::kLength)->text(), QStringLiteral("62个字符"));
  // The pictures of the phone, its send key and the header were found.
  EXPECT_FALSE(view->findChild<QLabel*>(QStringLiteral("phone"))->pixmap().isNull());
  EXPECT_TRUE(control<CButtonST>(view, TextDialog::kPictureSend)->hasBitmap());
  // CDialogHeader has no meta-object of its own: found by name.
  auto* header = static_cast<CDialogHeader*>(view->findChild<QWidget*>(QStringLiteral("header")));
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->headerHeight(), 66);
  EXPECT_EQ(view->size(), QSize(490, 66 + 352));
  EXPECT_EQ(view->windowTitle(), QStringLiteral("Lumo字-Textport"));
  EXPECT_EQ(control<QWidget>(view, TextDialog::kNumbering)->toolTip(),
            QStringLiteral("拆分成多条短消息时在每条短消息前面加上序号\n类似于(1/10)"));
  EXPECT_GE(shootAndCheck(view, QStringLiteral("textport-dialog")), 80);
}

TEST_F(ViewTest, SignatureAndCcDialogs) {
  signIn();
  addFriend(T("张三"), "13700137000");
  addFriend(T("李四"), "13600136000");
  int checked = 0;
  QTimer::singleShot(0, [&] {
    QWidget* w = QApplication::activeModalWidget();
    ASSERT_NE(w, nullptr);
    checked = shootAndCheck(w, QStringLiteral("textport-signature"));
    auto* edit = w->findChild<QLineEdit*>();
    edit->setText(QStringLiteral("小明同学"));
    Q_EMIT edit->textEdited(edit->text());  // as typing reports it
    control<QPushButton>(w, SignatureDialog::kOk)->click();
  });
  SignatureDialog s("");
  ui::backend().runModal(s);
  EXPECT_EQ(s.signature(), T("小明同学"));
  EXPECT_GE(checked, 9);

  FriendsTable* table = FLOpen(kUser);
  CcDialog c(T("李四<13600136000>;"), table);
  QTimer::singleShot(0, [&] {
    QWidget* w = QApplication::activeModalWidget();
    ASSERT_NE(w, nullptr);
    auto* left = control<QTreeWidget>(w, CcDialog::kLeft);
    ASSERT_EQ(left->topLevelItemCount(), 1);
    checked = shootAndCheck(w, QStringLiteral("textport-cc"));
    // A double click moves the row across.
    left->topLevelItem(0)->setSelected(true);
    Q_EMIT left->itemDoubleClicked(left->topLevelItem(0), 0);
    EXPECT_EQ(control<QTreeWidget>(w, CcDialog::kRight)->topLevelItemCount(), 2);
    control<QPushButton>(w, CcDialog::kOk)->click();
  });
  ui::backend().runModal(c);
  FLClose(table);
  EXPECT_EQ(c.ccText(), T("李四<13600136000>;张三<13700137000>;"));
  EXPECT_GE(checked, 12);
}

TEST_F(ViewTest, SendThroughTheViewWaitsDisabledAndShowsTheResult) {
  signIn();
  QWidget* view = show();
  ASSERT_NE(view, nullptr);
  // The prompt starts selected: typing replaces it.
  EXPECT_EQ(control<QPlainTextEdit>(view, TextDialog::kText)->textCursor().selectedText(),
            QStringLiteral("请在这儿输入要发送的短消息的内容！"));
  control<QComboBox>(view, TextDialog::kReceiver)
      ->lineEdit()
      ->setText(QStringLiteral("13900139000"));
  control<QPlainTextEdit>(view, TextDialog::kText)->setPlainText(QStringLiteral("你好，世界"));
  // The dialog waits for the result disabled. (A send on loopback may end before the GUI
  // thread gets to show its progress dialog; that it is asked for is checked headless.)
  EnabledWatch enabled(view);
  BoxAnswerer answers([](const QString& text) {
    return text.contains(QStringLiteral("好友列表?")) ? QMessageBox::Yes : QMessageBox::Ok;
  });
  control<QPushButton>(view, TextDialog::kSend)->click();
  EXPECT_EQ(dialog_->lastResult(), 0);
  EXPECT_EQ(enabled.disabled, 1);
  EXPECT_TRUE(view->isEnabled());
  EXPECT_EQ(answers.texts,
            (std::vector<std::string>{
                "你确定要进行发送操作吗？", "发送成功！是否将13900139000加入好友列表?",
                "将手机号13900139000加入到好友列表成功，你可以通过好友例表进一步修改好友信息"}));
  ASSERT_EQ(storedMessages().size(), 1u);
  EXPECT_NE(shownMessage(1).find("text 1 (11 bytes): \n你好，世界\n"), std::string::npos)
      << shownMessage(1);
  // The new friend is in the receiver box's list.
  EXPECT_EQ(control<QComboBox>(view, TextDialog::kReceiver)->itemText(0),
            QStringLiteral("13900139000"));
}

TEST_F(ViewTest, OverLongPasteIsCutInTheEditAndKeysDoNotCloseTheDialog) {
  QWidget* view = show();
  ASSERT_NE(view, nullptr);
  BoxAnswerer answers([](const QString&) { return QMessageBox::Ok; });
  auto* edit = control<QPlainTextEdit>(view, TextDialog::kText);
  edit->setPlainText(QString(2000, QLatin1Char('a')));
  ui::qt::testing::waitFor([&] { return !answers.texts.empty(); });
  EXPECT_EQ(answers.texts,
            std::vector<std::string>{"Lumo字最大可以输入10条短消息的内容，多出的文字将被截去。"});
  EXPECT_EQ(edit->toPlainText(), QString(1529, QLatin1Char('a')));

  for (int key : {Qt::Key_Escape, Qt::Key_Return}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(view, &press);
  }
  EXPECT_FALSE(dialog_->ended());
  EXPECT_TRUE(view->isVisible());
  // The header's close button ends it.
  static_cast<CDialogHeader*>(view->findChild<QWidget*>(QStringLiteral("header")))
      ->button(CDialogHeader::Button::Close)
      ->click();
  EXPECT_TRUE(dialog_->ended());
}

}  // namespace
}  // namespace hv::textport
