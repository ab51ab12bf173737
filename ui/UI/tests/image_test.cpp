// Pictures for showing, through Qt's readers: BMP and GIF bytes written by hand, content that is
// no picture, and pictures that claim more pixels than any dialog shows.
#include "ui/UI/image.h"

#include <gtest/gtest.h>

#include <QImage>

#include "platform/fs.h"
#include "platform/tests/test_dir.h"
#include "ui/UI/tests/test_bmp.h"
#include "ui/qt/tests/qt_test_app.h"

namespace {

using hv::ui::testing::le32;
using hv::ui::testing::twoByTwoBmp;

// A 1 x 1 GIF89a whose one pixel is palette entry 0 (red); the LZW data is clear, 0, end.
const std::string kRedGif(
    "GIF89a\x01\x00\x01\x00\x80\x00\x00\xFF\x00\x00\x00\x00\x00"
    ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
    35);

TEST(LoadImage, ReadsAHandWrittenBmpWithItsPixels) {
  hv::ui::qt::testing::app();
  TestDir dir;
  const std::string path = dir / "four.bmp";
  ASSERT_TRUE(hv::fs::writeFileAtomic(path, twoByTwoBmp()));
  const QPixmap pm = LoadImage(nullptr, path);
  ASSERT_FALSE(pm.isNull());
  EXPECT_EQ(GetBmpSize(pm), QSize(2, 2));
  const QImage img = pm.toImage();
  EXPECT_EQ(img.pixelColor(0, 0), QColor(255, 0, 0));
  EXPECT_EQ(img.pixelColor(1, 0), QColor(0, 255, 0));
  EXPECT_EQ(img.pixelColor(0, 1), QColor(0, 0, 255));
  EXPECT_EQ(img.pixelColor(1, 1), QColor(255, 255, 255));
}

TEST(LoadImage, DecodesByContentWhateverTheName) {
  hv::ui::qt::testing::app();
  TestDir dir;
  const std::string path = dir / "logo.png";  // a GIF in truth
  ASSERT_TRUE(hv::fs::writeFileAtomic(path, kRedGif));
  EXPECT_STREQ(hv::ui::pictureFormat(kRedGif), "GIF");
  const QPixmap pm = LoadImage(nullptr, path);
  ASSERT_FALSE(pm.isNull());
  EXPECT_EQ(pm.size(), QSize(1, 1));
  EXPECT_EQ(pm.toImage().pixelColor(0, 0), QColor(255, 0, 0));
}

TEST(LoadImage, RefusesContentThatIsNoPictureWhateverItsName) {
  hv::ui::qt::testing::app();
  TestDir dir;
  const std::string script = dir / "evil.jpg";
  ASSERT_TRUE(hv::fs::writeFileAtomic(script, "push graphic-context\nviewbox 0 0 640 480\n"));
  EXPECT_EQ(hv::ui::pictureFormat("push graphic-context"), nullptr);
  EXPECT_TRUE(LoadImage(nullptr, script).isNull());
  const std::string cut = dir / "cut.bmp";
  ASSERT_TRUE(hv::fs::writeFileAtomic(cut, twoByTwoBmp().substr(0, 30)));
  EXPECT_TRUE(LoadImage(nullptr, cut).isNull());
  EXPECT_TRUE(LoadImage(nullptr, dir / "missing.bmp").isNull());
  // "BM" and nothing that could be a header is no BMP.
  EXPECT_EQ(hv::ui::pictureFormat("BM\x10\x00"), nullptr);
}

// The BMP header with other dimensions (width at byte 18, height at byte 22) and the pixels cut:
// only the header is there to read.
std::string bmpClaiming(uint32_t w, uint32_t h) {
  std::string b = twoByTwoBmp().substr(0, 54);
  std::string dims;
  le32(dims, w);
  le32(dims, h);
  b.replace(18, 8, dims);
  return b;
}

TEST(LoadImage, RefusesPicturesClaimingMorePixelsThanAnyDialogShows) {
  hv::ui::qt::testing::app();
  TestDir dir;
  for (auto [w, h] : {std::pair{20000u, 20000u},
                      {hv::ui::kMaxPictureSide + 1u, 1u},
                      {1u, hv::ui::kMaxPictureSide + 1u},
                      {8000u, 8000u}}) {
    const std::string path = dir / "huge.bmp";
    ASSERT_TRUE(hv::fs::writeFileAtomic(path, bmpClaiming(w, h)));
    EXPECT_TRUE(LoadImage(nullptr, path).isNull()) << w << " x " << h;
  }
}

}  // namespace
