// A send through Svclink to handvane-service on loopback, with the real progress dialog shown by
// the Qt backend: the dialog appears and moves, its result arrives on the GUI thread, and
// "取消发送" reaches the send thread, which then posts -2 and uploads nothing.
#include <gtest/gtest.h>

#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <atomic>
#include <regex>

#include "include/handvane/records.h"
#include "platform/gbk.h"
#include "platform/messages.h"
#include "service/svclink.h"
#include "tests/service-e2e/peers.h"
#include "ui/views/tests/view_support.h"

namespace hv::ui::qt {
namespace {

// Watches every progress dialog the backend shows; optionally presses its cancel button at once.
class ProgressWatcher : public QObject {
 public:
  explicit ProgressWatcher(bool cancel) : cancel_(cancel) { qApp->installEventFilter(this); }
  ~ProgressWatcher() override { qApp->removeEventFilter(this); }
  int shown = 0;
  int highest = 0;

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    auto* w = qobject_cast<QWidget*>(o);
    if (w && w->isWindow() && bindingOf(w) && bindingOf(w)->controller().templateId() == 5000) {
      if (e->type() == QEvent::Show) {
        ++shown;
        if (cancel_) w->findChild<QPushButton*>(QStringLiteral("c5002"))->click();
      }
      if (auto* bar = w->findChild<QProgressBar*>(QStringLiteral("c5001"))) {
        highest = std::max(highest, bar->value());
      }
    }
    return false;
  }

 private:
  bool cancel_;
};

class SendE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::viewsApp();
    ASSERT_EQ(service_.command({"add-account", kUser, "secret"}), 0);
    ASSERT_TRUE(service_.start());
    NET_UserLogout();
    ASSERT_EQ(NET_Initialize("", 0, "", "", 0), 0);
    ASSERT_EQ(NET_RegionRecognize(kUser, "127.0.0.1", service_.region), 0);
    ASSERT_EQ(NET_UserAuthentication(kUser, "secret"), 0);
  }
  void TearDown() override { NET_UserLogout(); }

  // Sends a picture-sized message with the dialog shown; the posted result.
  intptr_t send() {
    MessageHeader h(1);
    h.setServiceCode("WAP");
    h.setContentClass("IMAGE");
    h.setRecipient(0, "13900139000");
    h.setSender(kUser);
    h.setModel(T("诺基亚7650"));
    h.setContentKind("nokia_picture");
    h.setContentType("GIF");
    const std::string content(600 * 1024, 'G');
    std::atomic<bool> done{false};
    intptr_t result = 1;
    MessageWindow window([&](const WindowMessage& m) {
      EXPECT_TRUE(onGuiThread());
      result = m.lparam;
      done = true;
    });
    const SendNotice notice{window.id(), 0x401, 1, 0};
    EXPECT_EQ(NET_SendMessageContent(&notice, h.data(), content.data(), int32_t(content.size())),
              0);
    EXPECT_TRUE(testing::waitFor([&] { return done.load(); }, 30000));
    return result;
  }

  int storedMessages() {
    service_.command({"list-messages"});
    const std::string out = service_.lastOutput();
    return int(std::count(out.begin(), out.end(), '\n'));
  }

  static constexpr const char* kUser = "13800138000";
  e2e::LocalService service_;
};

TEST_F(SendE2E, ProgressDialogIsShownAndTheMessageDelivered) {
  ProgressWatcher watcher(false);
  EXPECT_EQ(send(), 0);
  EXPECT_EQ(watcher.shown, 1);
  EXPECT_EQ(storedMessages(), 1);
  EXPECT_EQ(findView(5000), nullptr);  // closed with the end of the send
}

TEST_F(SendE2E, CancelInTheProgressDialogEndsTheSendWithMinusTwo) {
  ProgressWatcher watcher(true);
  EXPECT_EQ(send(), -2);
  EXPECT_EQ(watcher.shown, 1);
  EXPECT_EQ(storedMessages(), 0);
}

}  // namespace
}  // namespace hv::ui::qt
