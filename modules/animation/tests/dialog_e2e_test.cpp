// The animation dialog's controller driven headless against handvane-service with the shipped
// tables: a movie converted into two GIF files that are both sent, a comic of three pictures sent
// from memory, the stored packets read back; refusals; the hand-over's command lines.
#include <gtest/gtest.h>

#include "graph/gif.h"
#include "modules/animation/dialog.h"
#include "modules/animation/tests/movies.h"
#include "modules/kit/tests/module_fixture.h"
#include "platform/fs.h"
#include "platform/gbk.h"

namespace hv::flickport {
namespace {

using modkit::testing::kUser;
constexpr char kFriend[] = "13900139000";

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

class FlashDialogE2E : public modkit::testing::ModuleFixture {
 protected:
  void SetUp() override {
    ModuleFixture::SetUp();
    ASSERT_TRUE(
        fs::copyFile(modkit::testing::shipped("DATA/PHONE.DBF"), home_ + "DATA/PHONE.DBF", false));
    temp_ = home_ + "tmp/";
    ASSERT_TRUE(fs::makeDirectories(temp_));
  }
  std::unique_ptr<CFlashDialog> dialog(const std::string& receiver, const std::string& movie) {
    CFlashDialog::Options o;
    o.moduleDir = std::string(HV_SUITE_DIR) + "/";
    o.receiver = receiver;
    o.movieFile = movie;
    o.tempDir = temp_;
    o.wait = [](int) {};
    o.startProgram = [this](const std::vector<std::string>& argv) {
      started_.push_back(argv);
      return startResult_;
    };
    o.mainProgram = "/opt/hv/Handvane";
    o.hostProgram = "/opt/hv/host";
    auto d = std::make_unique<CFlashDialog>(std::move(o));
    d->onInit();
    return d;
  }
  void goTo(CFlashDialog& d, int frame) {
    if (d.playing()) d.onCommand(CFlashDialog::kPause);
    d.setSelection(CFlashDialog::kRange, frame);
    d.onChange(CFlashDialog::kRange);
  }
  std::string temp_;
  std::vector<std::vector<std::string>> started_;
  bool startResult_ = true;
};

TEST_F(FlashDialogE2E, TwoResultsSentAsFilesThenAComicOfThreeFromMemory) {
  signIn();
  const std::string movie = flicktest::writeMovie(home_ + "noise.swf", flicktest::noiseMovie());
  auto d = dialog(kFriend, movie);
  // The default model, its animation type and fee text.
  EXPECT_EQ(d->items(CFlashDialog::kModel).at(size_t(d->selection(CFlashDialog::kModel))),
            T("诺基亚7650"));
  EXPECT_EQ(d->typeKey(), "nokia_567_colorpicture");
  EXPECT_EQ(d->target().width, 176);
  EXPECT_FALSE(d->text(CFlashDialog::kFeeText).empty());
  EXPECT_EQ(d->mode(), CFlashDialog::Mode::Comic);
  EXPECT_TRUE(d->visible(CFlashDialog::kAddComic));
  EXPECT_FALSE(d->visible(CFlashDialog::kConvert));

  d->onCommand(CFlashDialog::kModeButton);
  ASSERT_EQ(d->mode(), CFlashDialog::Mode::Animation);
  EXPECT_EQ(d->text(CFlashDialog::kModeButton), T("漫画模式"));
  EXPECT_FALSE(d->enabled(CFlashDialog::kConvert));  // nothing marked yet
  goTo(*d, 0);
  d->onCommand(CFlashDialog::kMarkFirst);
  goTo(*d, 1);
  d->onCommand(CFlashDialog::kMarkLast);
  EXPECT_EQ(d->firstMark(), 0);
  EXPECT_EQ(d->lastMark(), 1);
  ASSERT_TRUE(d->enabled(CFlashDialog::kConvert));
  d->setSelection(CFlashDialog::kQuality, 100);
  d->onChange(CFlashDialog::kQuality);
  EXPECT_EQ(d->text(CFlashDialog::kQualityLabel), "100%");
  d->onCommand(CFlashDialog::kConvert);
  ASSERT_EQ(d->results().size(), 2u) << ::testing::PrintToString(backend_->boxTexts());
  for (const auto& r : d->results()) {
    EXPECT_EQ(r.frames, 1);
    EXPECT_LE(r.bytes, 45000u);
    EXPECT_TRUE(fs::exists(r.path));
  }
  EXPECT_EQ(d->results()[1].path, temp_ + "0001.GIF");

  d->selectResults({0, 1});
  backend_->clearBoxes();
  backend_->answer(ui::Answer::Yes);  // the one confirmation
  backend_->answer(ui::Answer::No);   // not added as a friend
  d->onCommand(CFlashDialog::kSend);
  const auto boxes = backend_->boxTexts();
  ASSERT_EQ(boxes.size(), 2u) << ::testing::PrintToString(boxes);
  EXPECT_EQ(boxes[0], std::string("共要发送2个动画，你确定要给\n[") + kFriend +
                          "的诺基亚7650手机]\n发送动画吗？");
  EXPECT_EQ(boxes[1], std::string("发送动画成功！是否将") + kFriend + "加入好友列表?");
  ASSERT_EQ(storedMessages().size(), 2u);
  for (int id = 1; id <= 2; ++id) {
    const std::string packet = storedPacket(service_->databasePath(), id);
    ASSERT_GT(packet.size(), 156u);
    EXPECT_EQ(packet.substr(10, 8), "WAPFLASH");
    EXPECT_EQ(packet.substr(99, 22), "nokia_567_colorpicture");
    const auto file = fs::readFile(d->results()[size_t(id - 1)].path);
    ASSERT_TRUE(file);
    EXPECT_EQ(packet.substr(156), *file);
  }

  // Comic mode: three pictures, the comic sent from memory.
  d->onCommand(CFlashDialog::kComicMode);
  for (int frame : {0, 1, 0}) {
    goTo(*d, frame);
    d->onCommand(CFlashDialog::kAddComic);
  }
  // Three noise pictures exceed 45000 bytes: the third is refused with the size text.
  ASSERT_EQ(d->comics().size(), 1u) << ::testing::PrintToString(backend_->boxTexts());
  EXPECT_EQ(backend_->boxTexts().back(),
            "对不起，生成的动画大小已经超过了可以发送到手机的最大尺寸！");
}

TEST_F(FlashDialogE2E, ComicOfThreePicturesSentFromMemory) {
  signIn();
  const std::string movie = flicktest::writeMovie(home_ + "c.swf", flicktest::colourMovie(5, 6));
  auto d = dialog(kFriend, movie);
  for (int frame : {4, 1, 2}) {
    goTo(*d, frame);
    d->onCommand(CFlashDialog::kAddComic);
  }
  ASSERT_EQ(d->comics().size(), 3u) << ::testing::PrintToString(backend_->boxTexts());
  // The second picture moves up: frames 2, 5, 3.
  d->setSelection(CFlashDialog::kComics, 1);
  d->onCommand(CFlashDialog::kComicUp);
  EXPECT_EQ(d->comics()[0].number, 2);
  EXPECT_EQ(d->items(CFlashDialog::kComics)[0], "1\t2");
  backend_->clearBoxes();
  backend_->answer(ui::Answer::Yes);
  backend_->answer(ui::Answer::Yes);  // added as a friend
  d->onCommand(CFlashDialog::kSend);
  const auto boxes = backend_->boxTexts();
  ASSERT_GE(boxes.size(), 3u) << ::testing::PrintToString(boxes);
  EXPECT_EQ(boxes[0].substr(0, 22), "共要发送1个动画");
  EXPECT_EQ(boxes[2], std::string("将手机号") + kFriend +
                          "加入到好友列表成功，你可以通过好友例表进一步修改好友信息");
  ASSERT_EQ(storedMessages().size(), 1u);
  const std::string packet = storedPacket(service_->databasePath(), 1);
  ASSERT_GT(packet.size(), 156u);
  graph::DecodedGif g;
  ASSERT_EQ(graph::readGif(reinterpret_cast<const std::uint8_t*>(packet.data() + 156),
                           packet.size() - 156, g),
            graph::GifError::None);
  EXPECT_EQ(g.width, 176);
  EXPECT_EQ(g.frames.size(), 3u);
  EXPECT_EQ(g.delaysMs, (std::vector<int>{1000, 1000, 1000}));
  EXPECT_NE(modkit::testing::friendRows(userFile("FRIENDS.DBF")).find(kFriend), std::string::npos);
}

TEST_F(FlashDialogE2E, RefusalsAndNothingSentWithoutSignIn) {
  auto bytes = flicktest::colourMovie(5, 3);
  bytes[0] = 'Z';
  const std::string bad = flicktest::writeMovie(home_ + "bad.swf", bytes);
  auto d = dialog("", bad);
  EXPECT_FALSE(d->movieLoaded());
  ASSERT_FALSE(backend_->boxTexts().empty());
  EXPECT_EQ(backend_->boxTexts().front(), "对不起，转换程序不支持这个动画文件！");
  backend_->clearBoxes();
  d->onCommand(CFlashDialog::kAddComic);
  EXPECT_EQ(backend_->boxTexts().back(), "未打开Flash动画，请先打开要转换的动画！");
  d->onCommand(CFlashDialog::kSend);
  EXPECT_EQ(backend_->boxTexts().back(), "请首先加入漫画，然后再发送");
  d->onCommand(CFlashDialog::kPlayResult);
  EXPECT_EQ(backend_->boxTexts().back(), "请先使用加入漫画功能加入图片到列表中");
  d->onCommand(CFlashDialog::kModeButton);
  d->onCommand(CFlashDialog::kSend);
  EXPECT_EQ(backend_->boxTexts().back(), "请先进行转换，然后再发送");

  // A comic, then a login dialog that is cancelled: nothing is sent.
  ASSERT_TRUE(d->openMovie(flicktest::writeMovie(home_ + "ok.swf", flicktest::colourMovie(5, 3))));
  d->onCommand(CFlashDialog::kComicMode);
  d->onCommand(CFlashDialog::kAddComic);
  ASSERT_EQ(d->comics().size(), 1u);
  d->onCommand(CFlashDialog::kSend);
  EXPECT_EQ(backend_->boxTexts().back(), "必须进行登录才能发送短消息！");
  EXPECT_TRUE(storedMessages().empty());
}

TEST_F(FlashDialogE2E, HandOverStartsTheImageModuleWithABmpOfTheFrame) {
  auto d = dialog("", "");
  d->onCommand(CFlashDialog::kToImage);
  ASSERT_EQ(started_.size(), 1u);
  EXPECT_EQ(started_[0], (std::vector<std::string>{"/opt/hv/Handvane", "-hide", "-f", "image"}));

  ASSERT_TRUE(d->openMovie(
      flicktest::writeMovie(home_ + "m.swf", flicktest::colourMovie(5, 4, 12, 33, 21))));
  goTo(*d, 2);
  d->onCommand(CFlashDialog::kToImage);
  ASSERT_EQ(started_.size(), 2u);
  ASSERT_EQ(started_[1].size(), 4u);
  EXPECT_EQ(started_[1][0], "/opt/hv/host");
  EXPECT_EQ(started_[1][2], "-D");
  EXPECT_EQ(started_[1][3], "-hide");
  const std::string bmp = started_[1][1];
  EXPECT_EQ(bmp.substr(0, temp_.size()), temp_);
  EXPECT_EQ(fs::extensionOf(bmp), "bmp");
  // The movie's own size, frame 3's colour in the middle.
  const auto r = modkit::testing::python(
      "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
      "print(im.size, im.getpixel((16, 10)))\n",
      {bmp});
  const auto c = flicktest::frameColour(3);
  EXPECT_EQ(r.output, "(33, 21) (" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " +
                          std::to_string(c.b) + ")\n");

  // A start that fails says so and removes the picture.
  startResult_ = false;
  backend_->clearBoxes();
  d->onCommand(CFlashDialog::kToImage);
  ASSERT_EQ(started_.size(), 3u);
  EXPECT_FALSE(fs::exists(started_[2][1]));
  EXPECT_EQ(backend_->boxTexts().back(), "请重新安装Lumo客户端程序！");
}

}  // namespace
}  // namespace hv::flickport
