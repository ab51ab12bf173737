// The image dialog's controller driven headless against handvane-service: a photo framed and
// fitted to a Nokia operator logo and to a colour picture, sent to a friend-to-be; the stored
// message's header and content checked (the logo decoded by our own reader of the Nokia row
// bitmap, the colour picture read back by ImageMagick), the add-friend offer read back with
// dbfread; a request the service client refuses at once; the recipient box before sign-in.
#include <gtest/gtest.h>

#include "modules/image/dialog.h"
#include "modules/image/tests/test_pictures.h"
#include "modules/kit/tests/module_fixture.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "service/svclink.h"
#include "tables/friends/buddystore.h"
#include "ui/pictures/pictures.h"

namespace hv::pictport {
namespace {

using modkit::testing::kUser;

constexpr char kFriend[] = "13900139000";

// The stored packet of a message, as the service keeps it (header, then the content part).
std::string storedPacket(const std::string& db, int id) {
  auto r = modkit::testing::python(R"(
import sqlite3, sys
row = sqlite3.connect(sys.argv[1]).execute('SELECT packet FROM messages WHERE id = ?',
                                            (int(sys.argv[2]),)).fetchone()
sys.stdout.write(row[0].hex())
)",
                                   {db, std::to_string(id)});
  EXPECT_EQ(r.status, 0) << r.output;
  std::string bytes;
  for (size_t i = 0; i + 1 < r.output.size(); i += 2) {
    bytes += char(std::stoi(r.output.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

uint32_t be32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
         uint32_t(uint8_t(s[at + 2])) << 8 | uint8_t(s[at + 3]);
}

class DialogE2E : public modkit::testing::ModuleFixture {
 protected:
  void SetUp() override {
    ModuleFixture::SetUp();
    // The phone models come from the home's DATA, as PLOpen reads them.
    ASSERT_TRUE(
        fs::copyFile(modkit::testing::shipped("DATA/PHONE.DBF"), home_ + "DATA/PHONE.DBF", false));
    photo_ = home_ + "photo.jpg";
    // 640 x 480: a dark disc on a light ground, so the logo has ink and paper.
    testing::writeAs(
        testing::drawn(
            640, 480,
            [](int x, int y) {
              const int dx = x - 320, dy = y - 240;
              return dx * dx + dy * dy < 150 * 150 ? Rgb{30, 30, 90} : Rgb{230, 220, 200};
            }),
        photo_, "JPEG");
  }
  std::unique_ptr<CImageDialog> dialog(const std::string& receiver, const std::string& file) {
    CImageDialog::Options o;
    o.moduleDir = std::string(HV_SUITE_DIR) + "/";
    o.receiver = receiver;
    o.pictureFile = file;
    o.launchTag = "U-TAG";
    auto d = std::make_unique<CImageDialog>(std::move(o));
    d->onInit();
    return d;
  }
  void pick(CImageDialog& d, int id, const std::string& utf8) {
    const auto items = d.items(id);
    auto it = std::find(items.begin(), items.end(), T(utf8));
    ASSERT_NE(it, items.end()) << utf8;
    d.setSelection(id, int(it - items.begin()));
    if (id == CImageDialog::kRecipient) d.setText(id, *it);
    d.onChange(id);
  }
  // Friends of the signed-in user, written through the friends table as the dialogs read it.
  void addFriends(std::initializer_list<std::array<const char*, 3>> rows) {
    if (!fs::exists(userFile("FRIENDS.DBF"))) {
      ASSERT_TRUE(fs::makeDirectories(home_ + kUser));
      ASSERT_TRUE(fs::copyFile(modkit::testing::shipped("DATA/FRIENDS.DBF"),
                               userFile("FRIENDS.DBF"), false));
    }
    FriendsTable* t = FLOpen(kUser);
    ASSERT_NE(t, nullptr);
    for (const auto& [number, type, name] : rows) {
      hv::FriendRecord f{};
      copyField(f.mobilenum, number);
      copyField(f.mobiletype, type);
      copyField(f.name, T(name));
      EXPECT_GE(FLAddInfo(t, &f), 0) << number;
    }
    FLClose(t);
  }
  std::string selectedModel(const CImageDialog& d) {
    const int sel = d.selection(CImageDialog::kModel);
    return sel < 0 ? std::string() : d.items(CImageDialog::kModel)[size_t(sel)];
  }
  std::string photo_;
};

TEST_F(DialogE2E, NotSignedInTheRecipientBoxHoldsOnlyThePlaceholder) {
  auto d = dialog("", "");
  EXPECT_EQ(d->items(CImageDialog::kRecipient), (std::vector<std::string>{T("手机号")}));
  EXPECT_EQ(d->text(CImageDialog::kRecipient), T("手机号"));
  // Without a picture nothing is sent.
  d->onCommand(CImageDialog::kSend);
  EXPECT_EQ(backend_->boxTexts().back(), "请首先做好图片转换");
}

TEST_F(DialogE2E, OperatorLogoThenColourPictureReachTheService) {
  signIn();
  auto d = dialog(kFriend, photo_);
  d->setText(CImageDialog::kRecipient, kFriend);
  pick(*d, CImageDialog::kModel, "诺基亚3310");
  pick(*d, CImageDialog::kType, "诺基亚运营商图标");
  ASSERT_EQ(d->type().key(), "nokia_op_logo");
  EXPECT_TRUE(d->visible(CImageDialog::kThreshold));
  EXPECT_EQ(d->previewWithText().width(), 144);

  // The whole photo, fitted on white: the dark disc and the light ground both show.
  d->onCommand(CImageDialog::kWhole);
  d->onCommand(CImageDialog::kAddText);
  EXPECT_EQ(d->text(CImageDialog::kOverlayEdit), overlayHint());
  EXPECT_EQ(d->panelStates().current(), "AddText");
  d->setText(CImageDialog::kOverlayEdit, T("新年好"));
  d->onChange(CImageDialog::kOverlayEdit);
  const Picture send = d->sendPicture();
  ASSERT_EQ(send.width(), 72);

  backend_->answer(ui::Answer::Yes);  // send it
  backend_->answer(ui::Answer::Yes);  // add the recipient as a friend
  d->onCommand(CImageDialog::kSend);
  EXPECT_EQ(d->lastResult(), 0);
  EXPECT_FALSE(fs::exists(d->lastPackedPath()));
  const auto boxes = backend_->boxTexts();
  ASSERT_GE(boxes.size(), 3u);
  EXPECT_EQ(boxes[boxes.size() - 3],
            "你确定要给\n[13900139000的诺基亚3310手机]\n发送诺基亚运营商图标图片吗?");
  EXPECT_EQ(boxes[boxes.size() - 2], "发送图片成功！是否将13900139000加入好友列表?");
  EXPECT_EQ(boxes.back(),
            "将手机号13900139000加入到好友列表成功，你可以通过好友例表进一步修改好友信息");
  EXPECT_NE(modkit::testing::friendRows(userFile("FRIENDS.DBF"))
                .find("13900139000|Nokia3310|13900139000"),
            std::string::npos);

  // The stored packet: the 152-byte header, then the text section of the packed file's one
  // 140-byte message, the logo's row bitmap after its 14 header bytes.
  const std::string packet = storedPacket(service_->databasePath(), 1);
  ASSERT_EQ(packet.size(), 152u + 4 + 1 + 1 + 140);
  EXPECT_EQ(packet.substr(0, 5), "U-TAG");
  EXPECT_EQ(packet.substr(10, 3), "SMS");
  EXPECT_EQ(packet.substr(13, 5), "IMAGE");
  EXPECT_EQ(packet.substr(19, 11), kFriend);
  EXPECT_EQ(packet.substr(39, 11), kUser);
  EXPECT_EQ(packet.substr(59, 10), std::string("Nokia3310\0", 10));
  EXPECT_EQ(packet.substr(99, 14), std::string("nokia_op_logo\0", 14));
  EXPECT_EQ(packet.substr(147, 4), std::string("tmp\0", 4));
  EXPECT_EQ(be32(packet, 152), 1u + 1 + 140);  // T = 1 + (L + 1)
  EXPECT_EQ(uint8_t(packet[156]), 1);
  EXPECT_EQ(uint8_t(packet[157]), 140);
  const std::string logo = packet.substr(158, 140);
  EXPECT_EQ(logo.substr(0, 14),
            std::string("\x06\x05\x04\x15\x82\x00\x00\x64\xF0\x00\x00\x48\x0E\x01", 14));
  int ink = 0;
  for (int i = 0; i < 72 * 14; ++i) {
    const bool bit = (uint8_t(logo[14 + i / 8]) >> (7 - i % 8)) & 1;
    EXPECT_EQ(bit, send.pixel(i % 72, i / 72) == kBlack) << i % 72 << "," << i / 72;
    ink += bit;
  }
  EXPECT_GT(ink, 50);
  EXPECT_LT(ink, 72 * 14 - 50);

  // The same photo as a colour picture; the recipient is a friend now.
  pick(*d, CImageDialog::kModel, "诺基亚7650");
  pick(*d, CImageDialog::kType, "诺基亚彩色图片(176x208)");
  ASSERT_EQ(d->type().key(), "nokia_567_colorpicture");
  EXPECT_FALSE(d->visible(CImageDialog::kThreshold));
  const Picture colour = d->sendPicture();
  backend_->answer(ui::Answer::Yes);
  d->onCommand(CImageDialog::kSend);
  EXPECT_EQ(d->lastResult(), 0);
  EXPECT_EQ(backend_->boxTexts().back(), "发送图片成功！");
  const std::string wap = storedPacket(service_->databasePath(), 2);
  EXPECT_EQ(wap.substr(10, 3), "WAP");
  EXPECT_EQ(wap.substr(147, 4), std::string("JPG\0", 4));
  const uint32_t size = be32(wap, 152);
  ASSERT_EQ(wap.size(), 156u + size);
  const std::string jpeg = wap.substr(156);
  EXPECT_EQ(jpeg.find("\xFF\xC2"), std::string::npos);  // never progressive
  Magick::Image back;
  back.read(Magick::Blob(jpeg.data(), jpeg.size()));
  ASSERT_EQ(back.columns(), 176u);
  ASSERT_EQ(back.rows(), 208u);
  const Picture got(back, 24);
  for (auto [x, y] : {std::pair{88, 104}, {5, 5}, {170, 200}}) {
    const Rgb a = got.pixel(x, y), b = colour.pixel(x, y);
    EXPECT_NEAR(a.r, b.r, 10);
    EXPECT_NEAR(a.g, b.g, 10);
    EXPECT_NEAR(a.b, b.b, 10);
  }
}

TEST_F(DialogE2E, RefusedAtOnceNoWaitAndTheFailureReport) {
  signIn();
  auto d = dialog("", photo_);
  d->setText(CImageDialog::kRecipient, kFriend);
  pick(*d, CImageDialog::kModel, "诺基亚3310");
  NET_UserLogout();  // the service client now refuses every send
  backend_->answer(ui::Answer::Yes);
  backend_->answer(ui::Answer::No);
  d->onCommand(CImageDialog::kSend);
  EXPECT_EQ(d->lastResult(), -100);
  EXPECT_EQ(backend_->boxTexts().back(), "发送图片失败！是否将13900139000加入好友列表?");
  EXPECT_FALSE(fs::exists(d->lastPackedPath()));
  EXPECT_TRUE(storedMessages().empty());
}

TEST_F(DialogE2E, PhoneModelQueryAsksFirstThenReachesTheService) {
  signIn();
  auto d = dialog("", "");
  d->setText(CImageDialog::kRecipient, kFriend);
  backend_->answer(ui::Answer::No);
  d->onCommand(CImageDialog::kAskModel);
  EXPECT_EQ(backend_->boxTexts().back(), "您要给13900139000发送机型询问短消息吗？");
  EXPECT_TRUE(storedMessages().empty());

  backend_->answer(ui::Answer::Yes);
  d->onCommand(CImageDialog::kAskModel);
  EXPECT_EQ(d->lastResult(), 0);
  EXPECT_EQ(backend_->boxTexts().back(), "发送机型询问短消息成功！");
  EXPECT_EQ(backend_->boxes().back().icon, ui::Icon::Information);
  ASSERT_EQ(storedMessages().size(), 1u);
  const std::string packet = storedPacket(service_->databasePath(), 1);
  EXPECT_EQ(packet.substr(10, 3), "SMS");
  EXPECT_EQ(packet.substr(19, 11), kFriend);
  EXPECT_EQ(packet.substr(39, 11), kUser);
  EXPECT_NE(packet.find(T("Lumoi用户13800138000询问您的手机型号，请直接回复")), std::string::npos);
  EXPECT_FALSE(d->sending());

  // A number the service cannot deliver to is refused with the reason, before any send.
  d->setText(CImageDialog::kRecipient, "12345");
  backend_->answer(ui::Answer::Yes);
  backend_->clearBoxes();
  d->onCommand(CImageDialog::kAskModel);
  ASSERT_EQ(backend_->boxes().size(), 2u);
  EXPECT_EQ(backend_->boxes()[1].icon, ui::Icon::Information);
  EXPECT_NE(backend_->boxTexts()[1].find("12345"), std::string::npos);
  EXPECT_EQ(storedMessages().size(), 1u);

  // The service client refusing at once: no wait, the failure report.
  d->setText(CImageDialog::kRecipient, kFriend);
  NET_UserLogout();
  backend_->answer(ui::Answer::Yes);
  d->onCommand(CImageDialog::kAskModel);
  EXPECT_EQ(d->lastResult(), -100);
  EXPECT_EQ(backend_->boxTexts().back(), "发送机型询问短消息失败！");
  EXPECT_EQ(backend_->boxes().back().icon, ui::Icon::Stop);
  EXPECT_EQ(storedMessages().size(), 1u);
}

TEST_F(DialogE2E, PhoneModelQueryNeedsASignIn) {
  // No remembered password: LOGIN_Login(0, 0) cannot sign in.
  auto d = dialog("", "");
  d->setText(CImageDialog::kRecipient, kFriend);
  backend_->answer(ui::Answer::Yes);
  d->onCommand(CImageDialog::kAskModel);
  EXPECT_EQ(backend_->boxTexts().back(), "必须进行登录才能发送短消息！");
  EXPECT_TRUE(storedMessages().empty());
}

TEST_F(DialogE2E, SavingWritesTheSourcePictureNotTheConvertedOne) {
  signIn();
  auto d = dialog("", photo_);
  pick(*d, CImageDialog::kModel, "诺基亚3310");  // a 1-bit type: the preview is black and white
  ASSERT_TRUE(d->bilevelType());
  // An opened file is copied as it is.
  const std::string copy = home_ + "copy.jpg";
  backend_->fileAnswer(copy);
  d->onCommand(CImageDialog::kSave);
  EXPECT_EQ(fs::readFile(copy), fs::readFile(photo_));

  // A capture has no file: the save dialog's name without extension gets ".bmp", and the file
  // holds the captured pixels in colour.
  ASSERT_TRUE(
      d->takeCapture(Picture(testing::drawn(300, 200,
                                            [](int x, int) {
                                              return x < 150 ? Rgb{200, 30, 40} : Rgb{20, 160, 60};
                                            }),
                             24)));
  EXPECT_EQ(d->source()->kind, SourceKind::Colour);
  backend_->fileAnswer(home_ + "shot");
  backend_->clearBoxes();
  d->onCommand(CImageDialog::kSave);
  EXPECT_TRUE(backend_->boxes().empty());
  ASSERT_TRUE(fs::exists(home_ + "shot.bmp"));
  EXPECT_EQ(fs::readFile(home_ + "shot.bmp").value_or("").substr(0, 2), "BM");
  Magick::Image back;
  ASSERT_EQ(LoadImage(back, home_ + "shot.bmp"), 1);
  const Picture saved(back, 24);
  ASSERT_EQ(saved.width(), 300);
  ASSERT_EQ(saved.height(), 200);
  EXPECT_EQ(saved.pixel(10, 10), (Rgb{200, 30, 40}));
  EXPECT_EQ(saved.pixel(290, 190), (Rgb{20, 160, 60}));

  // Cancelled: nothing written, nothing said.
  backend_->fileAnswer(std::nullopt);
  d->onCommand(CImageDialog::kSave);
  EXPECT_TRUE(backend_->boxes().empty());
}

TEST_F(DialogE2E, CaptureReplacesThePictureAndItsFile) {
  signIn();
  auto d = dialog("", photo_);
  int asked = 0;
  d->setCaptureScreen([&]() -> std::optional<Picture> {
    ++asked;
    return Picture(testing::drawn(640, 400, [](int, int) { return Rgb{90, 90, 200}; }), 24);
  });
  d->onCommand(CImageDialog::kCapture);
  EXPECT_EQ(asked, 1);
  ASSERT_TRUE(d->source());
  EXPECT_EQ(d->source()->kind, SourceKind::Colour);
  EXPECT_EQ(d->source()->picture.width(), 640);
  EXPECT_EQ(d->checked(CImageDialog::kKeepRatio), 1);
  // The screen could not be grabbed: the previous picture stays.
  d->setCaptureScreen([] { return std::optional<Picture>(); });
  d->onCommand(CImageDialog::kCapture);
  EXPECT_EQ(d->source()->picture.width(), 640);
}

// Recipient rules: friends whose phone type no picture type serves stay out of the box; the
// typing history follows the friends; a typed number of a friend selects that friend and his
// model; signing in during a send rebuilds the box.
TEST_F(DialogE2E, RecipientBoxListsSupportedFriendsThenHistory) {
  writeLoginSettings(true);  // LOGIN_Login(0, 0) signs the test user in
  signIn();
  addFriends({{"13900000001", "Nokia3310", "老王"},
              {"13900000002", "NoSuchPhone", "小李"},
              {"13900000003", "Nokia7650", "阿张"},
              {"13900000004", "Nokia3310", "小赵"}});
  ASSERT_TRUE(fs::writeFileAtomic(
      userFile("Setting.ini"),
      "[Receiver]\r\nCount=4\r\nItem1=13700000001\r\nItem2=13700000002\r\nItem3=13700000003"
      "\r\nItem4=13700000004\r\n"));
  // The receiver given is the friend with the unsupported phone.
  auto d = dialog("13900000002", "");
  EXPECT_EQ(backend_->boxTexts().at(0), "“Lumo图”目前不支持小李的手机型号:NoSuchPhone");
  const std::vector<std::string> expected{T("老王"),     T("阿张"),     T("小赵"),    "13700000001",
                                          "13700000002", "13700000003", "13700000004"};
  EXPECT_EQ(d->items(CImageDialog::kRecipient), expected);

  // Choosing a friend picks his phone.
  pick(*d, CImageDialog::kRecipient, "阿张");
  EXPECT_EQ(selectedModel(*d), T("诺基亚7650"));
  // Typing a friend's number selects that friend.
  d->setSelection(CImageDialog::kRecipient, -1);
  d->setText(CImageDialog::kRecipient, "13900000001");
  d->onChange(CImageDialog::kRecipient);
  EXPECT_EQ(d->text(CImageDialog::kRecipient), T("老王"));
  EXPECT_EQ(selectedModel(*d), T("诺基亚3310"));

  // Signed out, a fresh dialog holds only the placeholder; signing in during a send rebuilds it
  // with exactly the friends and the history.
  NET_UserLogout();
  login::setState("", "", int32_t(LoginStateCode::SignedOut));
  auto again = dialog("", photo_);
  EXPECT_EQ(again->items(CImageDialog::kRecipient), (std::vector<std::string>{T("手机号")}));
  backend_->answer(ui::Answer::No);  // do not send after all
  again->onCommand(CImageDialog::kSend);
  EXPECT_EQ(again->items(CImageDialog::kRecipient), expected);
  EXPECT_TRUE(storedMessages().empty());
}

}  // namespace
}  // namespace hv::pictport
