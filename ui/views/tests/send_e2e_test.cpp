// A send through Svclink to handvane-service on loopback, with the real progress dialog shown by
// the Qt backend: the dialog appears and moves, its result arrives on the GUI thread, and
// "取消发送" reaches the send thread, which then posts -2 and uploads nothing.
#include <gtest/gtest.h>

#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <atomic>
#include <functional>
#include <regex>

#include "include/handvane/records.h"
#include "platform/gbk.h"
#include "platform/messages.h"
#include "service/svclink.h"
#include "tests/service-e2e/peers.h"
#include "ui/views/tests/view_support.h"

namespace hv::ui::qt {
namespace {

// An HTTP CONNECT proxy of the test's own that tunnels to 127.0.0.1, but holds a tunnel to one
// port (the send server's) until the gate is opened. The send thread does not wait for its
// dialog to be shown, so without the gate a short upload could end before the dialog appears or
// before a press of its cancel button reaches the thread.
class GatedProxy {
 public:
  explicit GatedProxy(int gatedPort)
      : gatedPort_(gatedPort), server_([this](int fd) { serve(fd); }) {}
  ~GatedProxy() { open(); }
  uint16_t port() const { return server_.port(); }
  void open() { open_ = true; }

 private:
  void serve(int client) {
    const std::string head = peer::recvUntil(client, "\r\n\r\n");
    std::smatch m;
    static const std::regex connect(R"(^CONNECT 127\.0\.0\.1:(\d+) HTTP/1\.[01]\r\n)");
    if (!std::regex_search(head, m, connect)) return;
    const int target = std::stoi(m[1]);
    if (target == gatedPort_ && !peer::waitUntil([this] { return open_.load(); }, 30000)) return;
    const int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = peer::loopback(uint16_t(target));
    if (::connect(upstream, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        peer::sendAll(client, "HTTP/1.1 200 Connection established\r\n\r\n")) {
      relay(client, upstream);
    }
    ::close(upstream);
  }
  // Copies both ways until either side closes or nothing moves for 30 s.
  static void relay(int a, int b) {
    char buf[16384];
    for (;;) {
      pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
      if (::poll(p, 2, 30000) <= 0) return;
      for (int i = 0; i < 2; ++i) {
        if (!p[i].revents) continue;
        const ssize_t n = ::recv(p[i].fd, buf, sizeof buf, 0);
        if (n <= 0 || !peer::sendAll(p[1 - i].fd, buf, size_t(n))) return;
      }
    }
  }
  const int gatedPort_;
  std::atomic<bool> open_{false};
  peer::ScriptedServer server_;
};

// Watches every progress dialog the backend shows and calls onShown when one appears.
class ProgressWatcher : public QObject {
 public:
  explicit ProgressWatcher(std::function<void(QWidget*)> onShown) : onShown_(std::move(onShown)) {
    qApp->installEventFilter(this);
  }
  ~ProgressWatcher() override { qApp->removeEventFilter(this); }
  int shown = 0;

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    auto* w = qobject_cast<QWidget*>(o);
    if (w && w->isWindow() && bindingOf(w) && bindingOf(w)->controller().templateId() == 5000 &&
        e->type() == QEvent::Show) {
      ++shown;
      onShown_(w);
    }
    return false;
  }

 private:
  std::function<void(QWidget*)> onShown_;
};

class SendE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::viewsApp();
    ASSERT_EQ(service_.command({"add-account", kUser, "secret"}), 0);
    ASSERT_TRUE(service_.start());
    proxy_ = std::make_unique<GatedProxy>(service_.send);
    NET_UserLogout();
    ASSERT_EQ(NET_Initialize("127.0.0.1", proxy_->port(), "", "", 3), 0);
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
  std::unique_ptr<GatedProxy> proxy_;
};

TEST_F(SendE2E, ProgressDialogIsShownAndTheMessageDelivered) {
  ProgressWatcher watcher([this](QWidget*) { proxy_->open(); });
  EXPECT_EQ(send(), 0);
  EXPECT_EQ(watcher.shown, 1);
  EXPECT_EQ(storedMessages(), 1);
  EXPECT_EQ(findView(5000), nullptr);  // closed with the end of the send
}

TEST_F(SendE2E, CancelInTheProgressDialogEndsTheSendWithMinusTwo) {
  ProgressWatcher watcher([this](QWidget* w) {
    w->findChild<QPushButton*>(QStringLiteral("c5002"))->click();
    proxy_->open();
  });
  EXPECT_EQ(send(), -2);
  EXPECT_EQ(watcher.shown, 1);
  EXPECT_EQ(storedMessages(), 0);
}

}  // namespace
}  // namespace hv::ui::qt
