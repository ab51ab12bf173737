// Sends against a scripted send server: the packet as uploaded, the ticket exchange, the result
// codes and the progress dialog.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/messages.h"
#include "service/protocol/packet.h"
#include "service/send_thread.h"
#include "service/tests/fake_server.h"

namespace {

using namespace hv::svc;
using namespace hv::svc::testing;

constexpr char kUser[] = "13800138000";
constexpr char kPassword[] = "s3cret";

// What the scripted send server does.
struct SendScript {
  Bytes ticket = Bytes(20, 0x5A);  // plain ticket handed out
  int32_t ticketStatus = 0;
  std::optional<Bytes> uploadReply;  // default: status 0
  bool closeAfterTicket = false;
};

SendScript replying(Bytes uploadReply) {
  SendScript s;
  s.uploadReply = std::move(uploadReply);
  return s;
}

class SendServer {
 public:
  explicit SendServer(SendScript script)
      : script_(std::move(script)), server_([this](int fd) { serve(fd); }) {}
  int port() const { return server_.port(); }
  std::vector<Bytes> uploads() {
    std::lock_guard lock(mutex_);
    return uploads_;
  }
  std::vector<Bytes> ticketQueries() {
    std::lock_guard lock(mutex_);
    return queries_;
  }

 private:
  void serve(int fd) {
    Bytes query = readRequest(fd);
    {
      std::lock_guard lock(mutex_);
      queries_.push_back(query);
    }
    writeBytes(fd, ticketReply(script_.ticketStatus, script_.ticket, hv::SessionCipher(kPassword)));
    if (script_.closeAfterTicket || script_.ticketStatus != 0) return;
    Bytes upload = readRequest(fd);
    {
      std::lock_guard lock(mutex_);
      uploads_.push_back(upload);
    }
    writeBytes(fd, script_.uploadReply.value_or(statusReply(kMessageUpload, 0)));
  }
  SendScript script_;
  std::mutex mutex_;
  std::vector<Bytes> uploads_, queries_;
  FakeServer server_;
};

// Records each dialog shown and, when asked, presses cancel once the content copy has begun.
class RecordingBackend : public hv::ui::ScriptedBackend {
 public:
  std::atomic<bool> cancelDuringCopy{false};
  std::atomic<int> shown{0};
  std::atomic<int> closed{0};
  std::shared_ptr<hv::ui::DialogController> last;
  void showModeless(std::shared_ptr<hv::ui::DialogController> dialog) override {
    ++shown;
    last = dialog;
    if (cancelDuringCopy) {
      auto* d = dialog.get();
      dialog->setObserver([d](int id) {
        if (id == SendProgressDialog::kProgress &&
            d->items(id) == std::vector<std::string>{"0", "100"} && d->selection(id) > 0)
          d->onCommand(SendProgressDialog::kCancel);
      });
    }
    ScriptedBackend::showModeless(dialog);
  }
  void close(hv::ui::DialogController& dialog) override {
    ++closed;
    ScriptedBackend::close(dialog);
  }
};

hv::MessageHeader textHeader() {
  hv::MessageHeader h(1);
  h.setServiceCode("SMS");
  h.setContentClass("TEXTG");
  h.setRecipient(0, "13900000000");
  h.setSender(kUser);
  h.setModel("standard");
  h.setContentKind("sms_text");
  h.setContentType("TXT");
  return h;
}
hv::MessageHeader imageHeader(int attachmentType = 0) {
  hv::MessageHeader h(1, attachmentType);
  h.setServiceCode("WAP");
  h.setContentClass("IMAGE");
  h.setRecipient(0, "13900000000");
  h.setSender(kUser);
  return h;
}

class SendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend_ = std::make_shared<RecordingBackend>();
    hv::ui::setBackend(backend_);
  }
  void TearDown() override {
    // A send thread still running would use the backend about to go.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (CSendMessageThread::running() > 0 && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(CSendMessageThread::running(), 0);
    hv::ui::setBackend(nullptr);
  }
  // Runs a send to the server's port and waits for its posted result.
  std::optional<intptr_t> send(SendRequest request, int port, uint32_t show = 1) {
    std::optional<intptr_t> result;
    uintptr_t wparam = 0;
    hv::MessageWindow window([&](const hv::WindowMessage& m) {
      if (m.message == hv::kSendCompleteMessage) {
        result = m.lparam;
        wparam = m.wparam;
      }
    });
    request.notice = {window.id(), hv::kSendCompleteMessage, show, 77};
    SendCredentials creds{{}, kUser, kPassword, {"127.0.0.1", port}};
    EXPECT_TRUE(
        CSendMessageThread::start(std::make_unique<CSendMessageThread>(std::move(request), creds)));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!result && std::chrono::steady_clock::now() < end)
      hv::pumpMessagesFor(std::chrono::milliseconds(50));
    EXPECT_EQ(wparam, 77u);
    return result;
  }
  static SendRequest memoryRequest(const hv::MessageHeader& h, Bytes content) {
    SendRequest r;
    r.header = h.bytes();
    r.contentInMemory = true;
    r.content = std::move(content);
    return r;
  }
  std::shared_ptr<RecordingBackend> backend_;
};

// The message packet of an upload request (after length, command and ticket).
Bytes packetOf(const Bytes& upload) {
  return Bytes(upload.begin() + 28, upload.end());
}

TEST_F(SendTest, TextBatchOfTwentyUploadsFifteenWithTheirSectionSize) {
  SendServer server({});
  std::vector<std::string> texts;
  for (int i = 0; i < 20; ++i) texts.push_back(std::string(size_t(i + 1), char('a' + i)));
  EXPECT_EQ(send(memoryRequest(textHeader(), hv::encodeTextBatch(texts)), server.port()), 0);
  auto uploads = server.uploads();
  ASSERT_EQ(uploads.size(), 1u);
  Bytes packet = packetOf(uploads[0]);
  // 152 header bytes, T, count 15, texts of 1..15 bytes each with its length byte.
  size_t t = 1 + (15 * 16) / 2 + 15;
  ASSERT_EQ(packet.size(), 152 + 4 + t);
  const Bytes header = textHeader().bytes();
  EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 152), header);
  EXPECT_EQ(be32(packet, 152), t);
  EXPECT_EQ(packet[156], 15);
  EXPECT_EQ(packet[157], 1);
  EXPECT_EQ(packet[158], 'a');
  auto decoded = decodeMessagePacket(packet);
  ASSERT_TRUE(decoded.packet);
  EXPECT_EQ(decoded.packet->texts, std::vector<std::string>(texts.begin(), texts.begin() + 15));
  // The upload head: length = packet + 28, command 4, the deciphered ticket.
  EXPECT_EQ(be32(uploads[0], 0), packet.size() + 28);
  EXPECT_EQ(be32(uploads[0], 4), 4u);
  EXPECT_EQ(Bytes(uploads[0].begin() + 8, uploads[0].begin() + 28), Bytes(20, 0x5A));
  EXPECT_EQ(server.ticketQueries()[0], ticketQuery(kUser));
}

TEST_F(SendTest, TextOf160BytesIsAcceptedAnd161GivesMinus9) {
  SendServer server({});
  EXPECT_EQ(send(memoryRequest(textHeader(), hv::encodeTextBatch({std::string(160, 'x')})),
                 server.port()),
            0);
  EXPECT_EQ(send(memoryRequest(textHeader(), hv::encodeTextBatch({"ok", std::string(161, 'x')})),
                 server.port()),
            -9);
  EXPECT_EQ(server.uploads().size(), 1u);
  EXPECT_EQ(send(memoryRequest(textHeader(), Bytes{1, 0}), server.port()), -8);
}

TEST_F(SendTest, ContentFileOfAMultipleOf256BytesIsCopiedWhole) {
  SendServer server({});
  auto dir = *hv::fs::createTempDirectory();
  std::string path = dir + "/content.bin";
  std::string content(512, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = char(i * 7);
  ASSERT_TRUE(hv::fs::writeFileAtomic(path, content));
  SendRequest r;
  r.header = imageHeader().bytes();
  r.contentPath = path;
  EXPECT_EQ(send(std::move(r), server.port()), 0);
  Bytes packet = packetOf(server.uploads().at(0));
  ASSERT_EQ(packet.size(), 152 + 4 + 512u);
  EXPECT_EQ(be32(packet, 152), 512u);
  EXPECT_EQ(std::string(packet.begin() + 156, packet.end()), content);

  SendRequest missing;
  missing.header = imageHeader().bytes();
  missing.contentPath = dir + "/none.bin";
  EXPECT_EQ(send(std::move(missing), server.port()), -6);
  hv::fs::removeAll(dir);
}

TEST_F(SendTest, AttachmentDescriptorAndFileFollowTheContent) {
  SendServer server({});
  auto dir = *hv::fs::createTempDirectory();
  std::string path = dir + "/attach.gif";
  ASSERT_TRUE(hv::fs::writeFileAtomic(path, "GIF89a"));
  auto h = imageHeader(1);
  h.setAttachmentPath(path);
  Bytes header = h.bytes();
  std::fill(header.begin() + hv::header::descriptor(1),
            header.begin() + hv::header::descriptor(1) + 44, 0x33);
  SendRequest r = memoryRequest(h, Bytes{9, 8, 7});
  r.header = header;
  EXPECT_EQ(send(std::move(r), server.port()), 0);
  Bytes packet = packetOf(server.uploads().at(0));
  Bytes expected(header.begin(), header.begin() + 152);
  appendBe32(expected, 3);
  expected.insert(expected.end(), {9, 8, 7});
  expected.insert(expected.end(), 44, 0x33);
  appendBe32(expected, 6);
  expected.insert(expected.end(), {'G', 'I', 'F', '8', '9', 'a'});
  EXPECT_EQ(packet, expected);

  auto descriptorOnly = imageHeader(2);
  EXPECT_EQ(send(memoryRequest(descriptorOnly, Bytes{1}), server.port()), 0);
  EXPECT_EQ(packetOf(server.uploads().at(1)).size(), 152 + 4 + 1 + 44u);
  hv::fs::removeAll(dir);
}

TEST_F(SendTest, ServerStatusesAndBadReplies) {
  SendServer three(replying(statusReply(kMessageUpload, 3)));
  EXPECT_EQ(send(memoryRequest(imageHeader(), Bytes{1}), three.port()), 3);
  SendScript refusing;
  refusing.ticketStatus = 9;
  SendServer refused(refusing);
  EXPECT_EQ(send(memoryRequest(imageHeader(), Bytes{1}), refused.port()), 9);
  Bytes longReply = statusReply(kMessageUpload, 0);
  longReply[3] = 16;
  longReply.insert(longReply.end(), 4, 0);
  SendServer wrongLength(replying(longReply));
  EXPECT_EQ(send(memoryRequest(imageHeader(), Bytes{1}), wrongLength.port()), -17);
  SendServer wrongCommand(replying(statusReply(kTicketQuery, 0)));
  EXPECT_EQ(send(memoryRequest(imageHeader(), Bytes{1}), wrongCommand.port()), -18);
  SendServer cut(replying(Bytes{0, 0, 0, 12, 0x80, 0, 0, 4}));
  EXPECT_EQ(send(memoryRequest(imageHeader(), Bytes{1}), cut.port()), -19);
  SendScript closeEarly;
  closeEarly.closeAfterTicket = true;
  SendServer closing(closeEarly);
  auto early = send(memoryRequest(imageHeader(), Bytes{1}), closing.port());
  ASSERT_TRUE(early);
  EXPECT_LE(*early,
            -15);  // the head, a piece or the reply fails, depending on when the close lands
  EXPECT_GE(*early, -19);
}

TEST_F(SendTest, ShortTicketIsZeroFilled) {
  SendScript shortTicket;
  shortTicket.ticket = Bytes{1, 2, 3, 4, 5};
  SendServer server(shortTicket);
  EXPECT_EQ(send(memoryRequest(imageHeader(), Bytes{1}), server.port()), 0);
  Bytes upload = server.uploads().at(0);
  Bytes expected = {1, 2, 3, 4, 5};
  expected.resize(20, 0);
  EXPECT_EQ(Bytes(upload.begin() + 8, upload.begin() + 28), expected);
}

TEST_F(SendTest, GarbageTicketReplyAndNoServer) {
  FakeServer garbage([](int fd) {
    readRequest(fd);
    writeBytes(fd, Bytes(40, 0x80));
  });
  EXPECT_EQ(send(memoryRequest(imageHeader(), Bytes{1}), garbage.port()), -1);
  ClosedPort closed;
  EXPECT_EQ(send(memoryRequest(imageHeader(), Bytes{1}), closed.port()), -3);
}

TEST_F(SendTest, CancelDuringTheCopyGivesMinus2AndUploadsNothing) {
  SendServer server({});
  backend_->cancelDuringCopy = true;
  EXPECT_EQ(send(memoryRequest(imageHeader(), Bytes(2000, 1)), server.port()), -2);
  EXPECT_EQ(server.ticketQueries().size(), 0u);
}

TEST_F(SendTest, DialogShowsTitleTextsAndProgressAndIsClosed) {
  SendServer server({});
  EXPECT_EQ(send(memoryRequest(imageHeader(), Bytes(600, 1)), server.port()), 0);
  ASSERT_EQ(backend_->shown, 1);
  EXPECT_EQ(backend_->closed, 1);
  auto& d = *backend_->last;
  EXPECT_EQ(d.templateId(), 5000);
  EXPECT_EQ(hv::gbkToUtf8(d.title()), "发送消息");
  EXPECT_EQ(hv::gbkToUtf8(d.text(SendProgressDialog::kStaticLabel)), "当前状态：");
  EXPECT_EQ(hv::gbkToUtf8(d.text(SendProgressDialog::kCancel)), "取消发送");
  EXPECT_EQ(hv::gbkToUtf8(d.text(SendProgressDialog::kStatus)), "正在发送数据...");
  EXPECT_EQ(d.items(SendProgressDialog::kProgress), (std::vector<std::string>{"0", "110"}));
  EXPECT_EQ(d.selection(SendProgressDialog::kProgress), 100);
  EXPECT_TRUE(d.ended());
}

TEST_F(SendTest, ShowFlagZeroKeepsTheDialogHiddenButTheResultArrives) {
  SendServer server({});
  EXPECT_EQ(send(memoryRequest(imageHeader(), Bytes{1}), server.port(), 0), 0);
  EXPECT_EQ(backend_->shown, 0);
  EXPECT_EQ(server.uploads().size(), 1u);
}

TEST_F(SendTest, SlowTicketReplyTimesOutAsATicketFailure) {
  FakeServer slow([](int fd) {
    readRequest(fd);
    writeBytes(fd, Bytes{0, 0, 0, 28});
    waitForClose(fd);
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(send(memoryRequest(imageHeader(), Bytes{1}), slow.port(), 0), -1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4900));
}

// A send whose dialog cannot be set up still answers, so the caller never waits for ever.
class FailingBackend : public hv::ui::ScriptedBackend {
 public:
  void showModeless(std::shared_ptr<hv::ui::DialogController>) override {
    throw std::runtime_error("no dialog");
  }
};

TEST_F(SendTest, SendThatCannotStartItsWorkPostsAFailure) {
  SendServer server({});
  hv::ui::setBackend(std::make_shared<FailingBackend>());
  EXPECT_EQ(send(memoryRequest(imageHeader(), Bytes{1}), server.port()), -1);
  EXPECT_EQ(server.ticketQueries().size(), 0u);
}

TEST(SendFailures, EveryCodeHasItsText) {
  for (int c = -1; c >= -19; --c) {
    if (c == -4) continue;
    EXPECT_STRNE(describe(SendFailure(c)), "unknown failure") << c;
  }
}

TEST(Headers, SizeFollowsRecipientsAndAttachmentType) {
  EXPECT_EQ(headerSizeOf(hv::MessageHeader(1, 0).data()), 152u);
  EXPECT_EQ(headerSizeOf(hv::MessageHeader(2, 2).data()), 216u);
  EXPECT_EQ(headerSizeOf(hv::MessageHeader(1, 1).data()), 452u);
  Bytes bad = hv::MessageHeader(1, 0).bytes();
  bad[151] = 3;
  EXPECT_EQ(headerSizeOf(bad.data()), 0u);
}

}  // namespace
