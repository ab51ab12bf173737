#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "modules/animation/core/flickcore.h"
#include "modules/animation/tests/movies.h"
#include "platform/tests/test_dir.h"

using namespace hv::flick;

namespace {

std::pair<int, std::string> run(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {-1, out};
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// The centre pixel of a frame as (red, green, blue).
std::array<int, 3> centre(const Frame& f) {
  const std::uint8_t* p =
      &f.pixels[(size_t(f.height / 2) * size_t(f.width) + size_t(f.width / 2)) * 3];
  return {p[2], p[1], p[0]};
}

std::array<int, 3> colourOf(int n) {
  const auto c = flicktest::frameColour(n);
  return {c.r, c.g, c.b};
}

}  // namespace

TEST(FlickSampling, StepAndDelay) {
  EXPECT_EQ(sampleStep(30), 3);
  EXPECT_EQ(sampleStep(60), 2);  // 1.67 rounds to 2
  EXPECT_EQ(sampleStep(25), 4);
  EXPECT_EQ(sampleStep(100), 1);
  EXPECT_EQ(sampleStep(1), 100);
  EXPECT_EQ(sampleStep(0), 100);  // clamped into 1..100
  EXPECT_EQ(sampleStep(40), 3);   // 2.5 rounds up
  EXPECT_EQ(frameDelayMs(4, 12), 333);
  EXPECT_EQ(frameDelayMs(1, 24), 41);
}

TEST(FlickMovie, HeaderDecidesRendererRateAndRefusals) {
  TestDir dir;
  Movie m;
  ASSERT_EQ(openMovie(flicktest::writeMovie(dir / "v5.swf", flicktest::colourMovie(5, 3, 15.5)), m),
            MovieError::None);
  EXPECT_TRUE(m.engineRules());
  EXPECT_EQ(m.rate(), 15);  // the integer part of 15.5
  EXPECT_EQ(m.width(), 40);
  EXPECT_EQ(m.height(), 30);
  ASSERT_EQ(openMovie(flicktest::writeMovie(dir / "v6.swf", flicktest::colourMovie(6, 3, 30)), m),
            MovieError::None);
  EXPECT_FALSE(m.engineRules());
  EXPECT_EQ(m.rate(), 12);  // assumed for version 6 and later
  // A stated rate below one frame a second has no delay of its own: 12 is assumed.
  ASSERT_EQ(
      openMovie(flicktest::writeMovie(dir / "slow.swf", flicktest::colourMovie(5, 2, 0.5)), m),
      MovieError::None);
  EXPECT_EQ(m.rate(), 12);
  // A zero stage counts as 640 x 480.
  ASSERT_EQ(
      openMovie(flicktest::writeMovie(dir / "zero.swf", flicktest::colourMovie(5, 1, 12, 0, 0)), m),
      MovieError::None);
  EXPECT_EQ(m.width(), 640);
  EXPECT_EQ(m.height(), 480);

  auto bytes = flicktest::colourMovie(5, 2);
  bytes[0] = 'X';
  EXPECT_EQ(openMovie(flicktest::writeMovie(dir / "bad.swf", bytes), m), MovieError::BadSignature);
  EXPECT_EQ(openMovie(dir / "missing.swf", m), MovieError::Unreadable);
  EXPECT_EQ(openMovie(flicktest::writeMovie(dir / "short.swf", {'F', 'W', 'S', 5}), m),
            MovieError::Unreadable);
  for (int e = 0; e <= int(MovieError::BadSignature); ++e) {
    EXPECT_STRNE(errorText(MovieError(e)), "unknown movie error");
  }
  for (int e = 0; e <= int(RenderError::RenderFailed); ++e) {
    EXPECT_STRNE(errorText(RenderError(e)), "unknown render error");
  }
}

TEST(FlickRender, SamplesTheMarkedRangeWithTheEngine) {
  TestDir dir;
  Movie m;
  ASSERT_EQ(openMovie(flicktest::writeMovie(dir / "m.swf", flicktest::colourMovie(5, 10)), m),
            MovieError::None);
  std::vector<Frame> frames;
  int expected = -1, ends = 0;
  std::vector<int> numbers;
  RenderCallbacks cb;
  cb.begin = [&](int n) {
    expected = n;
    return true;
  };
  cb.frame = [&](const Frame& f, int&, int&) {
    numbers.push_back(f.number);
    return true;
  };
  cb.end = [&] { ++ends; };
  // Marks 0..9 with step 3: frames 1, 4, 7, 10 of 333 ms... at 12 fps, 250 ms.
  ASSERT_EQ(render(m, 0, 9, 3, 20, 15, cb, frames), RenderError::None);
  EXPECT_EQ(expected, 9 / 3 + 2);
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(numbers, (std::vector<int>{1, 4, 7, 10}));
  ASSERT_EQ(frames.size(), 4u);
  for (const auto& f : frames) {
    EXPECT_EQ(f.width, 20);
    EXPECT_EQ(f.height, 15);
    EXPECT_EQ(f.delayMs, 250);
    EXPECT_EQ(centre(f), colourOf(f.number)) << f.number;
  }
  // Marks 2..5, step 2: frames 3 and 5; the last mark is rendered when the step lands on it.
  ASSERT_EQ(render(m, 2, 5, 2, 20, 15, {}, frames), RenderError::None);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].number, 5);
  ASSERT_EQ(render(m, 2, 6, 2, 20, 15, {}, frames), RenderError::None);
  EXPECT_EQ(frames.back().number, 7);
  // Nothing marked (-1): to the movie's end.
  ASSERT_EQ(render(m, 8, -1, 1, 20, 15, {}, frames), RenderError::None);
  EXPECT_EQ(frames.size(), 2u);
}

TEST(FlickRender, StopsAndFailures) {
  TestDir dir;
  Movie m;
  ASSERT_EQ(openMovie(flicktest::writeMovie(dir / "m.swf", flicktest::colourMovie(5, 10)), m),
            MovieError::None);
  std::vector<Frame> frames;
  RenderCallbacks stop;
  int seen = 0;
  stop.frame = [&](const Frame&, int&, int&) { return ++seen < 2; };
  EXPECT_EQ(render(m, 0, 9, 1, 20, 15, stop, frames), RenderError::Stopped);
  EXPECT_EQ(frames.size(), 2u);  // what was rendered before the stop is kept
  RenderCallbacks refuse;
  refuse.begin = [](int) { return false; };
  EXPECT_EQ(render(m, 0, 9, 1, 20, 15, refuse, frames), RenderError::Stopped);
  EXPECT_TRUE(frames.empty());
  EXPECT_EQ(render(m, 0, 9, 0, 20, 15, {}, frames), RenderError::BadArguments);
  EXPECT_EQ(render(m, 0, 9, 1, 0, 15, {}, frames), RenderError::BadArguments);
  EXPECT_EQ(render(m, 20, 30, 1, 20, 15, {}, frames), RenderError::NoFrames);
  EXPECT_TRUE(frames.empty());
  // The callback's new size applies to the frames after it.
  RenderCallbacks grow;
  grow.frame = [](const Frame&, int& w, int& h) {
    w = 30;
    h = 10;
    return true;
  };
  ASSERT_EQ(render(m, 0, 2, 1, 20, 15, grow, frames), RenderError::None);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].width, 20);
  EXPECT_EQ(frames[1].width, 30);
  EXPECT_EQ(frames[1].height, 10);
}

TEST(FlickRender, CompressedOldMoviesAreRefusedNewOnesRenderAtTwelveFps) {
  TestDir dir;
  Movie m;
  std::vector<Frame> frames;
  ASSERT_EQ(
      openMovie(
          flicktest::writeMovie(dir / "c5.swf", flicktest::colourMovie(5, 3, 12, 40, 30, true)), m),
      MovieError::None);
  EXPECT_EQ(render(m, 0, 2, 1, 20, 15, {}, frames), RenderError::Compressed);
  ASSERT_EQ(
      openMovie(
          flicktest::writeMovie(dir / "c7.swf", flicktest::colourMovie(7, 6, 30, 40, 30, true)), m),
      MovieError::None);
  ASSERT_EQ(render(m, 0, 5, 4, 20, 15, {}, frames), RenderError::None);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].delayMs, 333);  // 4 * 1000 / 12, whatever the file states
  EXPECT_EQ(centre(frames[1]), colourOf(5));
}

TEST(FlickConvert, GifFilesHoldThePaletteReductionOfTheEngineFrames) {
  TestDir dir;
  Movie m;
  ASSERT_EQ(openMovie(flicktest::writeMovie(dir / "m.swf", flicktest::colourMovie(5, 12)), m),
            MovieError::None);
  Target t{24, 18};
  std::vector<Frame> frames;
  ASSERT_EQ(render(m, 0, 11, sampleStep(25), t.width, t.height, {}, frames), RenderError::None);
  ASSERT_EQ(frames.size(), 3u);
  std::vector<ResultFile> files;
  ASSERT_EQ(writeResults(frames, t, dir.path(), files), graph::GifError::None);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].path, dir / "0000.GIF");
  EXPECT_EQ(files[0].frames, 3);
  EXPECT_EQ(run("gifsicle --no-ignore-errors '" + files[0].path + "' -o /dev/null").first, 0);
  graph::DecodedGif g;
  ASSERT_EQ(graph::readGif(files[0].path, g), graph::GifError::None);
  ASSERT_EQ(g.frames.size(), 3u);
  EXPECT_EQ(g.delaysMs[0], 330);  // 4 * 1000 / 12 = 333 ms, written as 33
  const auto& pal = graph::fixedPalette();
  for (size_t k = 0; k < 3; ++k) {
    const auto& src = frames[k].pixels;
    for (size_t i = 0; i < src.size(); i += 3) {
      const int idx = graph::paletteIndex(src[i], src[i + 1], src[i + 2]);
      ASSERT_EQ(g.frames[k][i + 2], pal[size_t(idx) * 3]) << k << " " << i;
      ASSERT_EQ(g.frames[k][i + 1], pal[size_t(idx) * 3 + 1]);
      ASSERT_EQ(g.frames[k][i], pal[size_t(idx) * 3 + 2]);
    }
  }
  // A frame of another size than the target's is refused, not misread.
  frames[1].width = 10;
  EXPECT_EQ(writeResults(frames, t, dir.path(), files), graph::GifError::BadSize);
}

TEST(FlickConvert, ComicOfSinglyRenderedFramesAndItsLimit) {
  TestDir dir;
  Movie m;
  ASSERT_EQ(openMovie(flicktest::writeMovie(dir / "m.swf", flicktest::colourMovie(5, 9)), m),
            MovieError::None);
  Target t{30, 20};
  std::vector<Frame> pics(3);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(renderOne(m, i * 3, t.width, t.height, pics[size_t(i)]), RenderError::None);
    EXPECT_EQ(centre(pics[size_t(i)]), colourOf(i * 3 + 1));
  }
  Frame none;
  EXPECT_EQ(renderOne(m, 9, t.width, t.height, none), RenderError::NoFrames);
  std::vector<std::uint8_t> comic;
  ASSERT_EQ(buildComic({&pics[0], &pics[1], &pics[2]}, t, comic), graph::GifError::None);
  graph::DecodedGif g;
  ASSERT_EQ(graph::readGif(comic.data(), comic.size(), g), graph::GifError::None);
  EXPECT_EQ(g.delaysMs, (std::vector<int>{1000, 1000, 1000}));
  t.limit = comic.size() - 1;
  EXPECT_EQ(buildComic({&pics[0], &pics[1], &pics[2]}, t, comic), graph::GifError::TooLarge);
}

TEST(FlickRequest, HeaderFieldsByOffset) {
  const auto h = requestHeader("13900000001", "13800000000", "诺基亚7650", "nokia_color_gif");
  const auto& b = h.bytes();
  ASSERT_EQ(b.size(), 152u);
  EXPECT_EQ(std::vector<std::uint8_t>(b.begin(), b.begin() + 10), std::vector<std::uint8_t>(10, 0));
  EXPECT_EQ(std::string(b.begin() + 10, b.begin() + 13), "WAP");
  EXPECT_EQ(std::string(b.begin() + 13, b.begin() + 18), "FLASH");
  EXPECT_EQ(b[18], 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[19])), "13900000001");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[39])), "13800000000");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[59])), "诺基亚7650");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[99])), "nokia_color_gif");
  EXPECT_EQ(std::string(b.begin() + 139, b.begin() + 147), "00000000");
  EXPECT_EQ(std::vector<std::uint8_t>(b.begin() + 147, b.end()),
            (std::vector<std::uint8_t>{'G', 'I', 'F', 0, 0}));
}

TEST(FlickBmp, ReadBackByPillow) {
  TestDir dir;
  Frame f;
  f.width = 5;  // rows padded to 16 bytes
  f.height = 3;
  for (int i = 0; i < 15; ++i) f.pixels.insert(f.pixels.end(), {std::uint8_t(i), 100, 200});
  const auto bmp = bmpFile(f);
  EXPECT_EQ(bmp.size(), 54u + 16 * 3);
  hv::fs::writeFileAtomic(dir / "f.bmp",
                          std::string_view(reinterpret_cast<const char*>(bmp.data()), bmp.size()));
  // Top-left is pixel 0 (blue 0), bottom-right pixel 14.
  const auto [rc, out] =
      run("/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" + dir / "f.bmp" +
          "'); print(im.size, im.getpixel((0, 0)), im.getpixel((4, 2)))\"");
  ASSERT_EQ(rc, 0) << out;
  EXPECT_EQ(out, "(5, 3) (200, 100, 0) (200, 100, 14)\n");
}
