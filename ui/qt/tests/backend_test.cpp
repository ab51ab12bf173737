// The Qt backend under the offscreen platform: message boxes in Chinese, file dialogs with GBK
// names, modal and modeless dialogs bound to controllers, and messages posted to the GUI thread.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTimer>
#include <atomic>
#include <thread>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/messages.h"
#include "ui/qt/binding.h"
#include "ui/qt/qtext.h"
#include "ui/qt/tests/qt_test_app.h"

namespace hv::ui::qt {
namespace {

using testing::app;
using testing::waitFor;

// Calls f with the modal widget of type W once one is shown (from within the nested loop).
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

QStringList buttonTexts(QMessageBox* box) {
  QStringList out;
  // The translations add the mnemonic in brackets: "否(&N)".
  static const QRegularExpression mnemonic(QStringLiteral("\\(&?.\\)$"));
  for (QAbstractButton* b : box->buttons()) out << b->text().remove(mnemonic);
  out.sort();
  return out;
}

TEST(QtMessageBox, YesNoQuestionReadsInChineseAndReportsThePressedButton) {
  app();
  QStringList shown;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString caption, text;
  whenModal<QMessageBox>([&](QMessageBox* box) {
    shown = buttonTexts(box);
    icon = box->icon();
    caption = box->windowTitle();
    text = box->text();
    box->button(QMessageBox::No)->click();
  });
  Answer a =
      backend().messageBox(T("是否添加为好友？"), T("发送短信"), Icon::Question, Buttons::YesNo);
  EXPECT_EQ(a, Answer::No);
  EXPECT_EQ(shown, (QStringList{QStringLiteral("否"), QStringLiteral("是")}));
  EXPECT_EQ(icon, QMessageBox::Question);
  EXPECT_EQ(caption, QStringLiteral("发送短信"));
  EXPECT_EQ(text, QStringLiteral("是否添加为好友？"));
}

TEST(QtMessageBox, OkCancelStopBoxCancelledByEscapeAnswersCancel) {
  app();
  QStringList shown;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  whenModal<QMessageBox>([&](QMessageBox* box) {
    shown = buttonTexts(box);
    icon = box->icon();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(box, &escape);
  });
  EXPECT_EQ(backend().messageBox(T("对不起"), T("用户登录"), Icon::Stop, Buttons::OkCancel),
            Answer::Cancel);
  EXPECT_EQ(shown, (QStringList{QStringLiteral("取消"), QStringLiteral("确定")}));
  EXPECT_EQ(icon, QMessageBox::Critical);
}

TEST(QtMessageBox, BoxAskedFromAWorkerThreadIsShownOnTheGuiThread) {
  app();
  bool shownOnGui = false;
  whenModal<QMessageBox>([&](QMessageBox* box) {
    shownOnGui = box->thread() == QCoreApplication::instance()->thread();
    box->button(QMessageBox::Ok)->click();
  });
  std::atomic<bool> done{false};
  Answer a = Answer::Cancel;
  std::thread worker([&] {
    a = backend().messageBox(T("完成"), T("提示"), Icon::Information, Buttons::Ok);
    done = true;
  });
  EXPECT_TRUE(waitFor([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(a, Answer::Ok);
  EXPECT_TRUE(shownOnGui);
}

TEST(QtFileDialog, FiltersBecomeQtNameFilters) {
  EXPECT_EQ(
      nameFilters(T("图片文件(*.jpg;*.bmp)|*.jpg;*.bmp|所有文件 (*.*)|*.*||")),
      (QStringList{QStringLiteral("图片文件 (*.jpg *.bmp)"), QStringLiteral("所有文件 (*)")}));
  EXPECT_EQ(nameFilters("Flash (*.swf)|*.swf||"), QStringList{QStringLiteral("Flash (*.swf)")});
  EXPECT_TRUE(nameFilters("").isEmpty());
}

TEST(QtFileDialog, OpenReturnsTheChosenChineseFileNameAsGbk) {
  app();
  auto dir = fs::createTempDirectory();
  ASSERT_TRUE(dir);
  const std::string file = *dir + T("图片.jpg");
  ASSERT_TRUE(fs::writeFileAtomic(file, "x"));
  whenModal<QFileDialog>([&](QFileDialog* d) {
    d->selectFile(toQPath(file));
    QMetaObject::invokeMethod(d, "accept");
  });
  auto chosen = backend().openFile(T("图片|*.jpg||"), T("打开"), *dir);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(*chosen, file);

  whenModal<QFileDialog>([](QFileDialog* d) { d->reject(); });
  EXPECT_FALSE(backend().saveFile(T("图片|*.jpg||"), T("保存"), file));
  fs::removeAll(*dir);
}

class NameController : public DialogController {
 public:
  NameController() : DialogController(4242, T("名字")) { setText(10, T("张三")); }
  void onChange(int id) override { changes.push_back(id); }
  std::vector<int> changes;
};

TEST(QtDialogs, GeneratedViewEditsTheControllersTextAndOkEndsWithOk) {
  app();
  NameController c;
  std::string shownTitle;
  whenModal<QDialog>([&](QDialog* d) {
    shownTitle = fromQ(d->windowTitle());
    auto* edit = d->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), QStringLiteral("张三"));
    edit->selectAll();
    edit->insert(QStringLiteral("李四"));
    for (auto* b : d->findChildren<QPushButton*>()) {
      if (b->text() == QStringLiteral("确定")) b->click();
    }
  });
  EXPECT_EQ(backend().runModal(c), kIdOk);
  EXPECT_EQ(shownTitle, T("名字"));
  EXPECT_EQ(c.text(10), T("李四"));
  EXPECT_EQ(c.changes, std::vector<int>{10});
}

TEST(QtDialogs, ClosingTheWindowAsksTheController) {
  app();
  struct Stubborn : DialogController {
    Stubborn() : DialogController(4243, "x") {}
    bool onClose() override { return ++asked >= 2 && DialogController::onClose(); }
    int asked = 0;
  } c;
  whenModal<QDialog>([&](QDialog* d) {
    d->close();  // refused
    EXPECT_TRUE(d->isVisible());
    d->close();
  });
  EXPECT_EQ(backend().runModal(c), kIdCancel);
  EXPECT_EQ(c.asked, 2);
}

TEST(QtDialogs, ModelessDialogFromAWorkerFollowsItsControllerAndCloses) {
  app();
  auto c = std::make_shared<NameController>();
  std::thread worker([c] {
    backend().showModeless(c);
    c->setText(10, T("王五"));
  });
  worker.join();
  QLineEdit* edit = nullptr;
  ASSERT_TRUE(waitFor([&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (bindingOf(w) && &bindingOf(w)->controller() == c.get() && w->isVisible()) {
        edit = w->findChild<QLineEdit*>();
      }
    }
    return edit && edit->text() == QStringLiteral("王五");
  }));
  QPointer<QWidget> view = edit->window();
  std::thread closer([c] { backend().close(*c); });
  closer.join();
  EXPECT_TRUE(waitFor([&] {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return view.isNull();
  }));
  EXPECT_TRUE(c->ended());
}

TEST(QtDialogs, RegisteredViewBindsTextListsAndSliders) {
  app();
  registerView(4300, [](DialogController& c) -> QWidget* {
    auto* d = new QDialog;
    auto* b = new ControllerBinding(c, d);
    b->bind(1, new QPlainTextEdit(d));
    b->bind(2, new QListWidget(d));
    b->bind(3, new QSlider(d));
    return d;
  });
  struct Picker : DialogController {
    Picker() : DialogController(4300, "picker") {}
    void onInit() override {
      setText(1, T("第一行\n第二行"));
      setItems(2, {T("诺基亚"), T("西门子")});
      setSelection(2, 0);
      setItems(3, {"0", "255"});
      setSelection(3, 100);
    }
    void onChange(int id) override { changes.push_back(id); }
    std::vector<int> changes;
  } c;
  whenModal<QDialog>([&](QDialog* d) {
    auto* text = d->findChild<QPlainTextEdit*>();
    auto* list = d->findChild<QListWidget*>();
    auto* slider = d->findChild<QSlider*>();
    EXPECT_EQ(text->toPlainText(), QStringLiteral("第一行\n第二行"));
    EXPECT_EQ(list->count(), 2);
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(slider->maximum(), 255);
    EXPECT_EQ(slider->value(), 100);
    list->setCurrentRow(1);
    slider->setValue(200);
    text->setPlainText(QStringLiteral("短信"));
    d->close();
  });
  backend().runModal(c);
  EXPECT_EQ(c.selection(2), 1);
  EXPECT_EQ(c.selection(3), 200);
  EXPECT_EQ(c.text(1), T("短信"));
  EXPECT_EQ(c.changes, (std::vector<int>{2, 3, 1}));
}

// A drop-down list and an editable box chosen from by the user, as the keyboard does it (the new
// entry becomes current, then "activated"): the controller must hear of the new entry, and the
// widget must keep showing it, whatever order the binding stores text and selection in.
TEST(QtDialogs, ChoosingFromADropDownListStoresTheNewEntryAndKeepsItShown) {
  app();
  registerView(4301, [](DialogController& c) -> QWidget* {
    auto* d = new QDialog;
    auto* b = new ControllerBinding(c, d);
    auto* list = new QComboBox(d);
    list->setObjectName(QStringLiteral("list"));
    b->bind(1, list);
    auto* box = new QComboBox(d);
    box->setObjectName(QStringLiteral("box"));
    box->setEditable(true);
    b->bind(2, box);
    return d;
  });
  struct Types : DialogController {
    Types() : DialogController(4301, "types") {}
    void onInit() override {
      for (int id : {1, 2}) {
        setItems(id, {T("标准待机"), T("大待机"), T("经典大图")});
        setSelection(id, 0);
        setText(id, T("标准待机"));
      }
    }
    void onChange(int id) override { seen.push_back({id, selection(id), text(id)}); }
    struct Seen {
      int id, selection;
      std::string text;
      bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen;
  } c;
  QString listShown, boxShown;
  whenModal<QDialog>([&](QDialog* d) {
    auto* list = d->findChild<QComboBox*>(QStringLiteral("list"));
    auto* box = d->findChild<QComboBox*>(QStringLiteral("box"));
    for (QComboBox* combo : {list, box}) {
      QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
      QKeyEvent down2(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
      QApplication::sendEvent(combo, &down);
      QApplication::sendEvent(combo, &down2);
    }
    listShown = list->currentText();
    boxShown = box->currentText();
    d->close();
  });
  backend().runModal(c);
  EXPECT_EQ(listShown, QStringLiteral("经典大图"));
  EXPECT_EQ(boxShown, QStringLiteral("经典大图"));
  EXPECT_EQ(c.selection(1), 2);
  EXPECT_EQ(c.text(1), T("经典大图"));
  EXPECT_EQ(c.selection(2), 2);
  EXPECT_EQ(c.text(2), T("经典大图"));
  // Each step reached the controller with its entry's index and text together.
  ASSERT_FALSE(c.seen.empty());
  EXPECT_EQ(c.seen.back(), (Types::Seen{2, 2, T("经典大图")}));
  for (const auto& s : c.seen) {
    if (s.id != 1) continue;
    ASSERT_GE(s.selection, 0);
    EXPECT_EQ(c.items(1)[size_t(s.selection)], s.text);
  }
  EXPECT_NE(std::find(c.seen.begin(), c.seen.end(), Types::Seen{1, 2, T("经典大图")}),
            c.seen.end());
}

TEST(QtMessages, PostMessageFromAWorkerRunsOnTheGuiThreadEvenDuringAModalWait) {
  app();
  std::thread::id handledOn;
  intptr_t lparam = 0;
  MessageWindow window([&](const WindowMessage& m) {
    handledOn = std::this_thread::get_id();
    lparam = m.lparam;
  });
  const auto gui = std::this_thread::get_id();
  whenModal<QMessageBox>([&](QMessageBox* box) {
    std::thread([id = window.id()] { PostMessage(id, 0x401, 0, -2); }).join();
    QTimer::singleShot(0, box, [box] { box->button(QMessageBox::Ok)->click(); });
  });
  backend().messageBox("wait", "wait", Icon::None, Buttons::Ok);
  EXPECT_TRUE(waitFor([&] { return lparam != 0; }));
  EXPECT_EQ(lparam, -2);
  EXPECT_EQ(handledOn, gui);
}

TEST(QtText, GbkCrossesToQStringAndBackThroughTheSuiteConverter) {
  EXPECT_EQ(toQ(T("登录")), QStringLiteral("登录"));
  EXPECT_EQ(fromQ(QStringLiteral("登录")), T("登录"));
  // An invalid GBK byte stays visible; a character GBK lacks becomes "?".
  EXPECT_EQ(toQ("a\x81"), QStringLiteral("a\\x81"));
  EXPECT_EQ(fromQ(QStringLiteral("a😀b")), "a?b");
  EXPECT_FALSE(fromQExact(QStringLiteral("😀")));
}

}  // namespace
}  // namespace hv::ui::qt
