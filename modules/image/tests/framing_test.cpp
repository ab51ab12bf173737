// The framing control's geometry, driven without a display; every rectangle worked out by hand
// (left, top, right, bottom with right and bottom exclusive).
#include "modules/image/framing.h"

#include <gtest/gtest.h>

namespace hv::pictport {
namespace {

// A 600 x 300 picture in a 302 x 202 control (300 x 200 inside the border) for a 72 x 14 type:
// the width limits, 300 x 150 at (1, 1 + 25).
ClipGeometry wideSetup() {
  ClipGeometry g;
  g.setup({302, 202}, {600, 300}, {72, 14});
  return g;
}

TEST(ClipGeometry, DisplayIsShrunkToFitAndCentred) {
  ClipGeometry g = wideSetup();
  EXPECT_EQ(g.display(), (Rect{1, 26, 301, 176}));
  // A picture smaller than the control is not enlarged.
  ClipGeometry small;
  small.setup({302, 202}, {100, 50}, {72, 14});
  EXPECT_EQ(small.display(), (Rect{101, 76, 201, 126}));
  // A tall one is limited by the height: 200 high, 100 * 200 / 400 = 50 wide.
  ClipGeometry tall;
  tall.setup({302, 202}, {100, 400}, {72, 14});
  EXPECT_EQ(tall.display(), (Rect{126, 1, 176, 201}));
}

TEST(ClipGeometry, InitialFrameIsTheTypesSizeCentredAndItsCrop) {
  ClipGeometry g = wideSetup();
  EXPECT_EQ(g.frame(), (Rect{115, 94, 187, 108}));
  EXPECT_FALSE(g.whole());
  // Picture pixels: (115 - 1) * 2, (94 - 26) * 2, (187 - 1) * 2, (108 - 26) * 2.
  EXPECT_EQ(g.crop(), (Rect{228, 136, 372, 164}));
}

TEST(ClipGeometry, FrameLargerThanTheDisplayIsShrunkKeepingTheAspect) {
  // 176 x 208 on a 100 x 50 display: the height 50 limits, width 176 * 50 / 208 = 42.
  ClipGeometry g;
  g.setup({302, 202}, {100, 50}, {176, 208});
  EXPECT_EQ(g.frame(), (Rect{130, 76, 172, 126}));
}

TEST(ClipGeometry, SourceOfTheTypesSizeIsFramedExactly) {
  ClipGeometry g;
  g.setup({302, 202}, {72, 14}, {72, 14});
  EXPECT_EQ(g.frame(), g.display());
  EXPECT_EQ(g.crop(), (Rect{0, 0, 72, 14}));
}

TEST(ClipGeometry, WholeAndStandardFrames) {
  ClipGeometry g = wideSetup();
  int changes = 0;
  g.onFrameChanged = [&] { ++changes; };
  g.wholeFrame();
  EXPECT_EQ(g.frame(), g.display());
  EXPECT_TRUE(g.whole());
  EXPECT_EQ(g.crop(), (Rect{0, 0, 600, 300}));
  // A move of the whole frame cannot go anywhere: nothing changes, the flag stays.
  EXPECT_FALSE(g.drag(Handle::Inside, 5, 5));
  EXPECT_TRUE(g.whole());
  g.standardFrame();
  EXPECT_EQ(g.frame(), (Rect{115, 94, 187, 108}));
  EXPECT_FALSE(g.whole());
  EXPECT_EQ(changes, 2);
}

TEST(ClipGeometry, KeepRatioOffersTheSidesOnlyAndTheOtherSideFollows) {
  ClipGeometry g = wideSetup();
  EXPECT_EQ(g.hitTest({187, 101}), Handle::Right);
  EXPECT_EQ(g.hitTest({151, 94}), Handle::Top);
  EXPECT_EQ(g.hitTest({187, 108}), Handle::None);  // the bottom-right corner does not respond
  EXPECT_EQ(g.hitTest({150, 100}), Handle::Inside);
  EXPECT_FALSE(g.drag(Handle::BottomRight, 10, 10));
  // 72 + 14 = 86 wide, 86 * 14 / 72 = 16 high about the centre line 101.
  EXPECT_TRUE(g.drag(Handle::Right, 14, 0));
  EXPECT_EQ(g.frame(), (Rect{115, 93, 201, 109}));
}

TEST(ClipGeometry, ResizePastTheDisplayBecomesTheLargestCentredFrame) {
  ClipGeometry g = wideSetup();
  // 300 wide, 300 * 14 / 72 = 58 high, centred.
  EXPECT_TRUE(g.drag(Handle::Right, 300, 0));
  EXPECT_EQ(g.frame(), (Rect{1, 72, 301, 130}));
}

TEST(ClipGeometry, FreeResizeUsesEveryHandleAndUndoesASteppingOut) {
  ClipGeometry g = wideSetup();
  g.setKeepRatio(false);
  EXPECT_EQ(g.hitTest({187, 108}), Handle::BottomRight);
  EXPECT_TRUE(g.drag(Handle::BottomRight, 10, 6));
  EXPECT_EQ(g.frame(), (Rect{115, 94, 197, 114}));
  EXPECT_FALSE(g.drag(Handle::Bottom, 0, 100));  // would cross the bottom at 176
  EXPECT_EQ(g.frame(), (Rect{115, 94, 197, 114}));
  EXPECT_FALSE(g.drag(Handle::Left, 200, 0));  // would turn the frame inside out
  EXPECT_TRUE(g.drag(Handle::TopLeft, -114, -68));
  EXPECT_EQ(g.frame(), (Rect{1, 26, 197, 114}));
}

TEST(ClipGeometry, MovesAreShiftedBackInside) {
  ClipGeometry g = wideSetup();
  EXPECT_TRUE(g.drag(Handle::Inside, -200, 0));
  EXPECT_EQ(g.frame(), (Rect{1, 94, 73, 108}));
  EXPECT_TRUE(g.drag(Handle::Inside, 500, 500));
  EXPECT_EQ(g.frame(), (Rect{229, 162, 301, 176}));
  EXPECT_EQ(g.crop(), (Rect{456, 272, 600, 300}));
}

TEST(ClipGeometry, NoPictureNoFrame) {
  ClipGeometry g;
  g.setup({302, 202}, {0, 0}, {72, 14});
  EXPECT_FALSE(g.valid());
  EXPECT_EQ(g.hitTest({10, 10}), Handle::None);
  EXPECT_TRUE(g.crop().empty());
  ClipGeometry tiny;
  tiny.setup({2, 2}, {10, 10}, {72, 14});
  EXPECT_FALSE(tiny.valid());
}

}  // namespace
}  // namespace hv::pictport
