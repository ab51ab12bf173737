#include "graph/gif.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "platform/fs.h"
#include "platform/tests/test_dir.h"

namespace {

using graph::GifError;
using graph::GifWriter;

// Runs a shell command; its exit status and standard output.
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

// Pixels that LZW hardly squeezes: 16 colours drawn from a seeded generator (a 176 x 208 frame
// encodes to about 30 KB, so two never share a file).
std::vector<std::uint8_t> noise(int w, int h, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<std::uint8_t> p(size_t(w) * size_t(h) * 3);
  for (auto& b : p) b = std::uint8_t(gen() & 0xC0);
  return p;
}

// A frame of horizontal colour bands (compresses well).
std::vector<std::uint8_t> bands(int w, int h, int shift) {
  std::vector<std::uint8_t> p(size_t(w) * size_t(h) * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::uint8_t* q = &p[(size_t(y) * size_t(w) + size_t(x)) * 3];
      q[0] = std::uint8_t((y + shift) * 7);
      q[1] = std::uint8_t(x * 3);
      q[2] = std::uint8_t(255 - (y + shift) * 5);
    }
  }
  return p;
}

// The pixels a decoder should show for a frame: each pixel replaced by its palette colour, in
// RGB order.
std::vector<std::uint8_t> expectedRgb(const std::vector<std::uint8_t>& frame) {
  const auto& pal = graph::fixedPalette();
  std::vector<std::uint8_t> out;
  for (size_t i = 0; i + 2 < frame.size(); i += 3) {
    const int k = graph::paletteIndex(frame[i], frame[i + 1], frame[i + 2]);
    out.insert(out.end(), {pal[size_t(k) * 3], pal[size_t(k) * 3 + 1], pal[size_t(k) * 3 + 2]});
  }
  return out;
}

std::vector<std::uint8_t> readBytes(const std::string& path) {
  auto s = hv::fs::readFile(path);
  return s ? std::vector<std::uint8_t>(s->begin(), s->end()) : std::vector<std::uint8_t>{};
}

// Pillow decodes every frame fully; the RGB bytes of all frames go to out, the durations (ms)
// to stdout, one a line.
std::pair<int, std::string> pillowDecode(const std::string& gif, const std::string& out) {
  return run(
      "/usr/bin/python3 -c \"import sys; from PIL import Image\n"
      "im = Image.open(sys.argv[1]); im.load()\n"
      "f = open(sys.argv[2], 'wb')\n"
      "for i in range(im.n_frames):\n"
      "  im.seek(i); im.load(); f.write(im.convert('RGB').tobytes());"
      " print(im.info.get('duration'))\n\" '" +
      gif + "' '" + out + "'");
}

bool gifsicleAccepts(const std::string& gif) {
  return run("gifsicle --no-ignore-errors '" + gif + "' -o /dev/null 2>&1").first == 0;
}

}  // namespace

TEST(GifPalette, EntriesAndReductionFollowTheBitMasks) {
  const auto& pal = graph::fixedPalette();
  // (r << 5) | (g << 2) | b for r = 3, g = 5, b = 2.
  const int k = (3 << 5) | (5 << 2) | 2;
  EXPECT_EQ(pal[size_t(k) * 3], 109);
  EXPECT_EQ(pal[size_t(k) * 3 + 1], 182);
  EXPECT_EQ(pal[size_t(k) * 3 + 2], 170);
  EXPECT_EQ(pal[255 * 3], 255);
  EXPECT_EQ(pal[255 * 3 + 2], 255);
  // c2 red, c1 green, c0 blue: red 0xFF, green 0x40, blue 0x80 -> 0xE0 | 0x08 | 0x02; the second
  // pixel: red 0x20, green 0xE0, blue 0xC0 -> 0x20 | 0x1C | 0x03.
  EXPECT_EQ(graph::paletteIndex(0x80, 0x40, 0xFF), 0xEA);
  EXPECT_EQ(graph::paletteIndex(0x3F, 0x1F, 0x1F), 0x00);
  EXPECT_EQ(graph::paletteIndex(0xC0, 0x00, 0x00), 0x03);
  const std::vector<std::uint8_t> two = {0x80, 0x40, 0xFF, 0xC0, 0xE0, 0x20};
  EXPECT_EQ(graph::reduceToPalette(two.data(), 2, 1), (std::vector<std::uint8_t>{0xEA, 0x3F}));
}

TEST(GifEncoding, FileLayoutByteByByte) {
  const int w = 7, h = 5;  // odd sizes
  const auto frame = bands(w, h, 0);
  graph::EncodedFrame f;
  // 12 frames a second, every 4th: 4 * 1000 / 12 = 333 ms, written as 33 hundredths.
  ASSERT_EQ(graph::encodeFrame(frame.data(), w, h, 333, f), GifError::None);
  EXPECT_EQ(f.control, (std::array<std::uint8_t, 8>{0x21, 0xF9, 0x04, 0x00, 33, 0, 0, 0x00}));
  // Image descriptor: at (0, 0), 7 x 5, no local table, not interlaced.
  ASSERT_GE(f.image.size(), 10u);
  EXPECT_EQ(std::vector<std::uint8_t>(f.image.begin(), f.image.begin() + 10),
            (std::vector<std::uint8_t>{0x2C, 0, 0, 0, 0, 7, 0, 5, 0, 0x00}));
  std::vector<std::uint8_t> header;
  ASSERT_EQ(graph::encodeHeader(w, h, header), GifError::None);
  ASSERT_EQ(header.size(), graph::kHeaderBytes);
  EXPECT_EQ(std::string(header.begin(), header.begin() + 6), "GIF89a");
  // Screen 7 x 5; global table of 256 entries, colour resolution 8 bits, unsorted.
  EXPECT_EQ(std::vector<std::uint8_t>(header.begin() + 6, header.begin() + 13),
            (std::vector<std::uint8_t>{7, 0, 5, 0, 0xF7, 0, 0}));
  EXPECT_TRUE(std::equal(header.begin() + 13, header.end(), graph::fixedPalette().begin()));
  const auto file = graph::assemble(header, {&f, &f});
  EXPECT_EQ(file.size(), 781 + 2 * (8 + f.image.size()) + 1);
  EXPECT_EQ(file.back(), 0x3B);
}

TEST(GifPlan, FramesOf9000BytesGoFourToAFile) {
  const std::vector<std::size_t> sizes(10, 9000);
  const auto plan = graph::planFiles(sizes, 45000);
  ASSERT_EQ(plan.error, GifError::None);
  ASSERT_EQ(plan.files.size(), 3u);
  EXPECT_EQ(plan.files[0].count, 4u);  // a fifth: 781 + 5 * 9008 = 45821
  EXPECT_EQ(plan.files[0].bytes, 781u + 4 * 9008 + 1);
  // The second file starts at 789 + 9000 and takes three more.
  EXPECT_EQ(plan.files[1].first, 4u);
  EXPECT_EQ(plan.files[1].count, 4u);
  EXPECT_EQ(plan.files[1].bytes, 789u + 9000 + 3 * 9008 + 1);
  EXPECT_EQ(plan.files[2].first, 8u);
  EXPECT_EQ(plan.files[2].count, 2u);
}

TEST(GifPlan, TheTrailerKeepsEveryFileWithinTheLimit) {
  // Two frames that fill the file to the limit exactly, trailer included, stay together...
  const std::size_t exact = (45000 - 781 - 1) / 2 - 8;  // 22101: 781 + 2 * 22109 + 1 = 45000
  auto plan = graph::planFiles({exact, exact}, 45000);
  ASSERT_EQ(plan.files.size(), 1u);
  EXPECT_EQ(plan.files[0].bytes, 45000u);
  // ...one byte more and the second frame starts a file of its own.
  plan = graph::planFiles({exact, exact + 1}, 45000);
  ASSERT_EQ(plan.files.size(), 2u);
  EXPECT_EQ(plan.files[0].bytes, 781u + exact + 8 + 1);
  EXPECT_EQ(plan.files[1].bytes, 789u + exact + 1 + 1);
}

TEST(GifPlan, AFrameTooLargeAloneIsRefusedAndNoEmptyFileIsPlanned) {
  const std::size_t largest = 45000 - 789 - 1;  // 44210: a file of exactly 45000 bytes
  auto plan = graph::planFiles({largest}, 45000);
  ASSERT_EQ(plan.error, GifError::None);
  EXPECT_EQ(plan.files.at(0).bytes, 45000u);
  plan = graph::planFiles({100, largest + 1, 100}, 45000);
  EXPECT_EQ(plan.error, GifError::FrameTooLarge);
  EXPECT_EQ(plan.tooLarge, 1u);
  EXPECT_TRUE(plan.files.empty());
  EXPECT_TRUE(graph::planFiles({}, 45000).files.empty());
}

TEST(GifWriter, SplitsRealFramesIntoFilesThatOutsideDecodersRead) {
  TestDir dir;
  const int w = 176, h = 208;  // incompressible: about 37 KB a frame, so one frame a file
  std::vector<std::vector<std::uint8_t>> pixels;
  for (unsigned i = 0; i < 3; ++i) pixels.push_back(noise(w, h, i + 1));
  for (int i = 0; i < 4; ++i) pixels.push_back(bands(w, h, i));
  std::vector<GifWriter::Frame> frames;
  for (auto& p : pixels) frames.push_back({p.data(), 333});

  struct Written {
    std::string path;
    int frames;
    std::size_t bytes;
    int delay;
  };
  std::vector<Written> written;
  GifWriter::Callbacks cb;
  cb.written = [&](const std::string& p, int n, std::size_t b, int d) {
    written.push_back({p, n, b, d});
  };
  ASSERT_EQ(GifWriter(w, h).write(dir.path(), frames, cb), GifError::None);
  ASSERT_GE(written.size(), 3u);
  int total = 0;
  size_t frameIndex = 0;
  for (size_t i = 0; i < written.size(); ++i) {
    const auto& f = written[i];
    EXPECT_EQ(f.path, dir / GifWriter::fileName(int(i)));
    EXPECT_EQ(hv::fs::fileSize(f.path).value_or(0), f.bytes);
    EXPECT_LE(f.bytes, 45000u);
    EXPECT_EQ(f.delay, 333);
    EXPECT_TRUE(gifsicleAccepts(f.path)) << f.path;
    const auto [rc, durations] = pillowDecode(f.path, dir / "decoded.rgb");
    ASSERT_EQ(rc, 0) << durations;
    EXPECT_EQ(std::count(durations.begin(), durations.end(), '\n'), f.frames);
    EXPECT_EQ(durations.substr(0, 4), "330\n");
    // Every decoded frame equals the fixed-palette reduction of its source.
    const auto decoded = readBytes(dir / "decoded.rgb");
    ASSERT_EQ(decoded.size(), size_t(f.frames) * w * h * 3);
    for (int k = 0; k < f.frames; ++k, ++frameIndex) {
      const auto want = expectedRgb(pixels[frameIndex]);
      EXPECT_TRUE(std::equal(want.begin(), want.end(), decoded.begin() + long(k) * w * h * 3))
          << "frame " << frameIndex;
    }
    total += f.frames;
  }
  EXPECT_EQ(total, 7);
  EXPECT_EQ(GifWriter::fileName(12), "0012.GIF");
}

TEST(GifWriter, OurReaderGivesBackTheReducedFramesAndDelays) {
  const int w = 13, h = 11;
  const auto a = bands(w, h, 0), b = noise(w, h, 9);
  std::vector<std::vector<std::uint8_t>> files;
  ASSERT_EQ(GifWriter(w, h).build({{a.data(), 500}, {b.data(), 90}}, files), GifError::None);
  ASSERT_EQ(files.size(), 1u);
  graph::DecodedGif g;
  ASSERT_EQ(graph::readGif(files[0].data(), files[0].size(), g), GifError::None);
  ASSERT_EQ(g.frames.size(), 2u);
  EXPECT_EQ(g.delaysMs, (std::vector<int>{500, 90}));
  // Our reader returns the buffers' byte order (c0 blue, c1 green, c2 red).
  const auto& pal = graph::fixedPalette();
  for (size_t i = 0; i < size_t(w * h); ++i) {
    const int k = graph::paletteIndex(b[i * 3], b[i * 3 + 1], b[i * 3 + 2]);
    ASSERT_EQ(g.frames[1][i * 3 + 2], pal[size_t(k) * 3]) << i;
    ASSERT_EQ(g.frames[1][i * 3], pal[size_t(k) * 3 + 2]) << i;
  }
  // Cut files are refused, never read past their end.
  for (size_t cut : {size_t(3), size_t(100), files[0].size() / 2}) {
    EXPECT_EQ(graph::readGif(files[0].data(), cut, g), GifError::ReadFailed) << cut;
  }
}

TEST(GifWriter, ATooLargeFrameOrARefusalLeavesNoFile) {
  TestDir dir;
  const int w = 176, h = 208;
  const auto big = noise(w, h, 3), small = bands(w, h, 1);
  GifWriter tight(w, h, 20000);
  EXPECT_EQ(tight.write(dir.path(), {{small.data(), 100}, {big.data(), 100}}, {}),
            GifError::FrameTooLarge);
  EXPECT_TRUE(hv::fs::list(dir.path()).empty());

  GifWriter::Callbacks refuse;
  int asked = 0;
  refuse.beforeWrite = [&](const std::string&) { return ++asked > 1; };
  EXPECT_EQ(GifWriter(w, h).write(dir.path(), {{small.data(), 100}}, refuse), GifError::Refused);
  EXPECT_TRUE(hv::fs::list(dir.path()).empty());

  GifWriter::Callbacks none;
  none.includeFrame = [](std::size_t) { return false; };
  EXPECT_EQ(GifWriter(w, h).write(dir.path(), {{small.data(), 100}}, none), GifError::NoFrames);
  EXPECT_EQ(GifWriter(w, h).write(dir / "missing/deeper", {{small.data(), 100}}, {}),
            GifError::WriteFailed);
  EXPECT_EQ(GifWriter(0, h).write(dir.path(), {{small.data(), 100}}, {}), GifError::BadSize);
}

TEST(GifComic, OneImageOfOneSecondPerPictureAndTheSizeCheck) {
  TestDir dir;
  const int w = 101, h = 80;
  const auto p1 = bands(w, h, 0), p2 = noise(w, h, 5), p3 = bands(w, h, 9);
  std::vector<std::uint8_t> comic;
  ASSERT_EQ(GifWriter(w, h).comic({p1.data(), p2.data(), p3.data()}, comic), GifError::None);
  const std::string path = dir / "comic.gif";
  ASSERT_TRUE(hv::fs::writeFileAtomic(
      path, std::string_view(reinterpret_cast<const char*>(comic.data()), comic.size())));
  EXPECT_TRUE(gifsicleAccepts(path));
  const auto [rc, durations] = pillowDecode(path, dir / "comic.rgb");
  ASSERT_EQ(rc, 0) << durations;
  EXPECT_EQ(durations, "1000\n1000\n1000\n");
  const auto decoded = readBytes(dir / "comic.rgb");
  const auto want = expectedRgb(p2);
  ASSERT_EQ(decoded.size(), size_t(3 * w * h * 3));
  EXPECT_TRUE(std::equal(want.begin(), want.end(), decoded.begin() + w * h * 3));

  // Exactly at the limit it is built; one byte over, refused with nothing produced.
  std::vector<std::uint8_t> again;
  EXPECT_EQ(GifWriter(w, h, comic.size()).comic({p1.data(), p2.data(), p3.data()}, again),
            GifError::None);
  EXPECT_EQ(again, comic);
  EXPECT_EQ(GifWriter(w, h, comic.size() - 1).comic({p1.data(), p2.data(), p3.data()}, again),
            GifError::TooLarge);
  EXPECT_TRUE(again.empty());
  EXPECT_EQ(GifWriter(w, h).comic({}, again), GifError::NoFrames);
}

TEST(GifErrors, EveryValueHasItsText) {
  for (int e = int(GifError::None); e <= int(GifError::ReadFailed); ++e) {
    EXPECT_STRNE(graph::errorText(GifError(e)), "unknown GIF error") << e;
  }
}
