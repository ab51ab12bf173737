// hvsend animation against handvane-service: the packets it stores equal the ones the animation
// dialog's controller stores for the same movie and choices (a series of GIF files, a comic);
// the dry run's files and header; movies and command lines that are refused.
#include <gtest/gtest.h>

#include <algorithm>

#include "hvsend/tests/hvsend_fixture.h"
#include "modules/animation/core/flickcore.h"
#include "modules/animation/dialog.h"
#include "modules/animation/tests/movies.h"
#include "platform/fs.h"
#include "platform/gbk.h"

namespace hv {
namespace {

using flickport::CFlashDialog;
using hvsendtest::hexOf;
using hvsendtest::kFriend;
using hvsendtest::kUser;
using hvsendtest::Ran;

class HvsendAnimation : public hvsendtest::Hvsend {
 protected:
  // The dialog as the module starts it, headless, for the friend's number.
  std::unique_ptr<CFlashDialog> dialog(const std::string& movie) {
    CFlashDialog::Options o;
    o.moduleDir = std::string(HV_SUITE_DIR) + "/";
    o.receiver = kFriend;
    o.movieFile = movie;
    o.tempDir = home_ + "dialog/";
    EXPECT_TRUE(fs::makeDirectories(o.tempDir));
    o.wait = [](int) {};
    o.startProgram = [](const std::vector<std::string>&) { return false; };
    auto d = std::make_unique<CFlashDialog>(std::move(o));
    d->onInit();
    return d;
  }
  static void goTo(CFlashDialog& d, int frame) {
    if (d.playing()) d.onCommand(CFlashDialog::kPause);
    d.setSelection(CFlashDialog::kRange, frame);
    d.onChange(CFlashDialog::kRange);
  }
  static std::vector<uint8_t> bytesOf(const std::string& path) {
    const std::string s = fs::readFile(path).value_or("");
    return {s.begin(), s.end()};
  }
};

TEST_F(HvsendAnimation, GifSeriesAndDryRunEqualTheDialogs) {
  const std::string movie = flicktest::writeMovie(home_ + "noise.swf", flicktest::noiseMovie());
  // Two noise frames cannot share a 45000-byte file: two sends.
  const Ran r = run(with({"animation", "--to", kFriend, "--quality", "100", movie}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "ok mode=animation type=nokia_567_colorpicture model=诺基亚7650 files=2 result=0 "
            "friend=the user declined to add the recipient\n");
  ASSERT_EQ(storedMessages().size(), 2u);

  // The dialog, same movie, whole range, quality 100, both results sent.
  signIn();
  auto d = dialog(movie);
  d->onCommand(CFlashDialog::kAnimationMode);
  goTo(*d, 0);
  d->onCommand(CFlashDialog::kMarkFirst);
  goTo(*d, 1);
  d->onCommand(CFlashDialog::kMarkLast);
  d->setSelection(CFlashDialog::kQuality, 100);
  d->onChange(CFlashDialog::kQuality);
  d->onCommand(CFlashDialog::kConvert);
  ASSERT_EQ(d->results().size(), 2u) << ::testing::PrintToString(backend_->boxTexts());
  d->selectResults({0, 1});
  backend_->answer(ui::Answer::Yes);
  backend_->answer(ui::Answer::No);
  d->onCommand(CFlashDialog::kSend);
  ASSERT_EQ(storedMessages().size(), 4u) << ::testing::PrintToString(backend_->boxTexts());
  for (int i = 1; i <= 2; ++i) {
    const auto ours = packet(i);
    ASSERT_GT(ours.size(), 156u);
    EXPECT_EQ(hexOf(ours), hexOf(packet(i + 2))) << "send " << i;
  }

  // The dry run writes the dialog's files and prints the header it sends.
  const std::string out = home_ + "dry";
  const Ran dry = run({"animation", "--dry-run", "--to", kFriend, "--user", kUser, "--quality",
                       "100", "--out", out, movie});
  ASSERT_EQ(dry.status, 0) << dry.err;
  const auto shown = lines(dry.out, "file ");
  ASSERT_EQ(shown.size(), 2u) << dry.out;
  for (size_t i = 0; i < 2; ++i) {
    const auto& res = d->results()[i];
    const std::string path = out + "/" + res.path.substr(res.path.rfind('/') + 1);
    EXPECT_EQ(shown[i],
              "file " + std::to_string(i + 1) + "/2 1 " + std::to_string(res.bytes) + " " + path);
    EXPECT_EQ(bytesOf(path), bytesOf(res.path));
  }
  const MessageHeader h =
      flick::requestHeader(kFriend, kUser, T("诺基亚7650"), "nokia_567_colorpicture");
  EXPECT_EQ(lines(dry.out, "header ").at(0), "header " + hexOf(h.bytes()));
  EXPECT_EQ(storedMessages().size(), 4u);  // the dry run sent nothing
}

TEST_F(HvsendAnimation, ComicAndRangeOnAnotherModelEqualTheDialogs) {
  const std::string movie =
      flicktest::writeMovie(home_ + "c.swf", flicktest::colourMovie(5, 6, 12, 40, 30));
  Ran r = run(with({"animation", "--to", kFriend, "--mode", "comic", "--frames", "4,1,2", movie}));
  ASSERT_EQ(r.status, 0) << r.err;
  signIn();
  auto d = dialog(movie);
  for (int frame : {4, 1, 2}) {
    goTo(*d, frame);
    d->onCommand(CFlashDialog::kAddComic);
  }
  ASSERT_EQ(d->comics().size(), 3u) << ::testing::PrintToString(backend_->boxTexts());
  backend_->answer(ui::Answer::Yes);
  backend_->answer(ui::Answer::No);
  d->onCommand(CFlashDialog::kSend);
  ASSERT_EQ(storedMessages().size(), 2u);
  EXPECT_EQ(hexOf(packet(1)), hexOf(packet(2)));
  const auto comic = packet(1);
  graph::DecodedGif g;
  ASSERT_EQ(graph::readGif(comic.data() + 156, comic.size() - 156, g), graph::GifError::None);
  EXPECT_EQ(g.frames.size(), 3u);

  // A marked range at quality 50 (every second frame) for another model and its type.
  const auto models = d->items(CFlashDialog::kModel);
  const auto at = std::find(models.begin(), models.end(), T("爱立信T68i"));
  ASSERT_NE(at, models.end());
  d->setSelection(CFlashDialog::kModel, int(at - models.begin()));
  d->onChange(CFlashDialog::kModel);
  EXPECT_EQ(d->typeKey(), "ericsson_t68_colorpicture");
  d->onCommand(CFlashDialog::kAnimationMode);
  goTo(*d, 1);
  d->onCommand(CFlashDialog::kMarkFirst);
  goTo(*d, 5);
  d->onCommand(CFlashDialog::kMarkLast);
  d->setSelection(CFlashDialog::kQuality, 50);
  d->onChange(CFlashDialog::kQuality);
  d->onCommand(CFlashDialog::kConvert);
  ASSERT_EQ(d->results().size(), 1u) << ::testing::PrintToString(backend_->boxTexts());
  EXPECT_EQ(d->results()[0].frames, 3);  // frames 1, 3, 5
  d->selectResults({0});
  backend_->answer(ui::Answer::Yes);
  backend_->answer(ui::Answer::No);
  d->onCommand(CFlashDialog::kSend);
  r = run(with({"animation", "--to", kFriend, "--model", "EricssonT68i", "--first", "1", "--last",
                "5", "--quality", "50", movie}));
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(storedMessages().size(), 4u);
  EXPECT_EQ(hexOf(packet(3)), hexOf(packet(4)));
}

TEST_F(HvsendAnimation, BadMoviesAndCommandLines) {
  const std::string junk = home_ + "junk.swf";
  ASSERT_TRUE(fs::writeFileAtomic(junk, "GIF89a this is no movie"));
  const std::string empty =
      flicktest::writeMovie(home_ + "empty.swf", flicktest::colourMovie(5, 0));
  const std::string six = flicktest::writeMovie(home_ + "six.swf", flicktest::colourMovie(5, 6));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
  };
  const std::string unsupported = "对不起，转换程序不支持这个动画文件！";
  for (const Case& c : std::vector<Case>{
           {{junk}, 3, unsupported + " (the file starts with neither FWS nor CWS)"},
           {{home_ + "missing.swf"}, 3, unsupported},
           {{empty}, 3, unsupported + " (the movie has no frames)"},
           {{"--first", "6", six}, 3, "the movie has frames 0 to 5, --first 6 is past its end"},
           {{"--mode", "comic", "--frames", "1,9", six}, 3, "no frame 9"},
           {{"--type", "nokia_op_logo", six}, 3, "the model has no animation type nokia_op_logo"},
           {{"--model", "NoSuchPhone", six}, 3, "unknown phone model NoSuchPhone"},
           {{"--mode", "comic", six}, 2, "--mode comic needs --frames"},
           {{"--mode", "film", six}, 2, "--mode takes animation or comic"},
           {{"--quality", "0", six}, 2, "--quality takes 1 to 100"},
           {{"--first", "3", "--last", "2", six}, 2, "--last comes before --first"},
           {{"--frames", "1", six}, 2, "--frames is for --mode comic"},
           {{}, 2, "animation takes one SWF file"}}) {
    std::vector<std::string> a = {"animation", "--dry-run", "--out", home_ + "out"};
    a.insert(a.end(), c.args.begin(), c.args.end());
    const Ran r = run(a);
    EXPECT_EQ(r.status, c.status) << ::testing::PrintToString(c.args) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  // Refused before signing in: nothing reaches the service, no GIF is left behind.
  EXPECT_EQ(run(with({"animation", "--to", kFriend, empty})).status, 3);
  EXPECT_TRUE(storedMessages().empty());
  EXPECT_EQ(run({"animation", "--to", kFriend, six}).status, 4);  // no account
  EXPECT_TRUE(storedMessages().empty());
}

}  // namespace
}  // namespace hv
