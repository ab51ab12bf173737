// The header and the tag stream through the exported interface: signatures, compression, frame
// counting, and files that lie about their lengths.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>

#include "flash/flash.h"
#include "flash/tests/swf_writer.h"

using namespace swftest;

namespace {

std::vector<std::uint8_t> threeFrames(int version = 5) {
  MovieWriter m(version, 176, 208, 12.5);
  m.background({0x20, 0x40, 0x60}).showFrame().showFrame().showFrame();
  return m.bytes();
}

TEST(Header, UncompressedFieldsAsWritten) {
  auto bytes = threeFrames(4);
  flash::Header h;
  ASSERT_TRUE(flash::readHeader(bytes.data(), bytes.size(), h).ok());
  EXPECT_EQ(std::string(h.signature, 3), "FWS");
  EXPECT_FALSE(h.compressed());
  EXPECT_EQ(h.version, 4);
  EXPECT_EQ(h.fileLength, bytes.size());
  EXPECT_EQ(h.frame.xMax, 176 * 20);
  EXPECT_EQ(h.frame.yMax, 208 * 20);
  EXPECT_EQ(h.stageWidth(), 176);
  EXPECT_EQ(h.stageHeight(), 208);
  EXPECT_EQ(h.frameRate, 12 * 256 + 128);  // 12.5 in 8.8
  EXPECT_EQ(h.frameCount, 3);
}

TEST(Header, CompressedFileReadsTheSame) {
  MovieWriter m(5, 550, 400, 24);
  m.showFrame().showFrame();
  auto plain = m.bytes(false), packed = m.bytes(true);
  flash::Header a, b;
  ASSERT_TRUE(flash::readHeader(plain.data(), plain.size(), a).ok());
  ASSERT_TRUE(flash::readHeader(packed.data(), packed.size(), b).ok());
  EXPECT_EQ(std::string(b.signature, 3), "CWS");
  EXPECT_TRUE(b.compressed());
  EXPECT_EQ(b.fileLength, plain.size());
  EXPECT_EQ(b.frame.xMax, a.frame.xMax);
  EXPECT_EQ(b.frameRate, 24 * 256);
  flash::Player p(100, 100);
  ASSERT_TRUE(p.load(packed.data(), packed.size()).ok());
  EXPECT_EQ(p.frameCount(), 2);
  EXPECT_TRUE(p.damage().ok());
}

TEST(Header, OtherSignaturesAndShortFilesAreRefused) {
  auto bytes = threeFrames();
  flash::Header h;
  for (const char* sig : {"ZWS", "FWX", "GIF", "fws"}) {
    auto b = bytes;
    std::copy(sig, sig + 3, b.begin());
    EXPECT_EQ(flash::readHeader(b.data(), b.size(), h).error, flash::Error::BadSignature) << sig;
    flash::Player p(10, 10);
    EXPECT_EQ(p.load(b.data(), b.size()).error, flash::Error::BadSignature) << sig;
    EXPECT_FALSE(p.loaded());
    EXPECT_EQ(p.frameCount(), 0);
    EXPECT_EQ(p.currentFrame(), 0);
  }
  EXPECT_EQ(flash::readHeader(bytes.data(), 7, h).error, flash::Error::TooShort);
  EXPECT_EQ(flash::readHeader(bytes.data(), 10, h).error, flash::Error::TooShort);
}

TEST(Header, CorruptCompressedStreamIsACompressionError) {
  auto packed = MovieWriter(5, 10, 10).showFrame().bytes(true);
  for (std::size_t i = 8; i < packed.size(); ++i) packed[i] = 0x55;
  flash::Player p(10, 10);
  EXPECT_EQ(p.load(packed.data(), packed.size()).error, flash::Error::BadCompression);
}

TEST(Header, FromAFileByPath) {
  auto bytes = threeFrames();
  std::string path = testing::TempDir() + "header_test_" + std::to_string(::getpid()) + ".swf";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  flash::Header h;
  EXPECT_TRUE(flash::readHeader(path, h).ok());
  EXPECT_EQ(h.frameCount, 3);
  flash::Player p(20, 20);
  EXPECT_TRUE(p.load(path).ok());
  EXPECT_EQ(p.frameCount(), 3);
  std::remove(path.c_str());
  EXPECT_EQ(flash::readHeader(path, h).error, flash::Error::CannotOpen);
  EXPECT_EQ(p.load(path).error, flash::Error::CannotOpen);
}

TEST(TagStream, FramesAreTheShowFramesPresentNotTheStatedCount) {
  MovieWriter m(5, 10, 10);
  m.setFrameCount(40);
  m.showFrame().showFrame();
  auto bytes = m.bytes();
  flash::Player p(10, 10);
  ASSERT_TRUE(p.load(bytes.data(), bytes.size()).ok());
  EXPECT_EQ(p.header().frameCount, 40);
  EXPECT_EQ(p.frameCount(), 2);
}

TEST(TagStream, LongFormTagHeadersAndUnknownTagsAreSkipped) {
  MovieWriter m(5, 10, 10);
  m.add(200, std::vector<std::uint8_t>(5, 0xaa), true).showFrame();
  m.add(DefineSound, std::vector<std::uint8_t>(100, 0x11)).showFrame();
  auto bytes = m.bytes();
  flash::Player p(10, 10);
  ASSERT_TRUE(p.load(bytes.data(), bytes.size()).ok());
  EXPECT_EQ(p.frameCount(), 2);
  EXPECT_TRUE(p.damage().ok());
}

TEST(TagStream, ATagLongerThanTheFileIsDamageWithItsCodeAndOffset) {
  MovieWriter m(5, 10, 10);
  m.showFrame();
  auto bytes = m.bytes();
  bytes.resize(bytes.size() - 2);  // without the End tag
  std::size_t tagAt = bytes.size();
  // A DefineShape that says it holds 1000 bytes, followed by only 4.
  std::vector<std::uint8_t> lie = {std::uint8_t(DefineShape << 6 | 0x3f),
                                   std::uint8_t(DefineShape >> 2),
                                   0xe8,
                                   0x03,
                                   0,
                                   0,
                                   1,
                                   2,
                                   3,
                                   4};
  bytes.insert(bytes.end(), lie.begin(), lie.end());
  flash::Player p(10, 10);
  ASSERT_TRUE(p.load(bytes.data(), bytes.size()).ok());
  EXPECT_EQ(p.frameCount(), 1);
  flash::Failure d = p.damage();
  EXPECT_EQ(d.error, flash::Error::BadTagLength);
  EXPECT_EQ(d.tag, DefineShape);
  EXPECT_EQ(d.offset, tagAt);
  EXPECT_EQ(flash::describe(d), "tag 2 (DefineShape) at offset " + std::to_string(tagAt) + ": " +
                                    flash::errorText(flash::Error::BadTagLength));
}

TEST(TagStream, CompressedStatedLengthBeyondTheLimitIsRefused) {
  auto packed = threeFrames();
  flash::Limits small;
  small.fileBytes = 16;
  flash::Player p(10, 10, small);
  EXPECT_EQ(p.load(packed.data(), packed.size()).error, flash::Error::TooLarge);
  auto z = MovieWriter(5, 10, 10).showFrame().bytes(true);
  z[4] = 0xff, z[5] = 0xff, z[6] = 0xff, z[7] = 0x7f;  // claims 2 GiB
  flash::Player q(10, 10);
  EXPECT_EQ(q.load(z.data(), z.size()).error, flash::Error::TooLarge);
}

TEST(TagStream, ACompressedFileWhoseStatedLengthLiesReadsWhatItCan) {
  auto plain = threeFrames();
  auto packed = MovieWriter(5, 176, 208, 12.5)
                    .background({0x20, 0x40, 0x60})
                    .showFrame()
                    .showFrame()
                    .showFrame()
                    .bytes(true);
  auto state = [](std::vector<std::uint8_t> b, std::uint32_t n) {
    for (int i = 0; i < 4; ++i) b[std::size_t(4 + i)] = std::uint8_t(n >> (8 * i));
    return b;
  };
  // Longer than the stream: the file is shorter than it says; the frames in it play.
  auto longer = state(packed, std::uint32_t(plain.size() + 5000));
  flash::Player p(10, 10);
  ASSERT_TRUE(p.load(longer.data(), longer.size()).ok());
  EXPECT_EQ(p.damage().error, flash::Error::Truncated);
  EXPECT_EQ(p.frameCount(), 3);
  // Shorter: only the stated bytes are inflated, so the last frames are cut off.
  auto shorter = state(packed, std::uint32_t(plain.size() - 6));
  flash::Player q(10, 10);
  ASSERT_TRUE(q.load(shorter.data(), shorter.size()).ok());
  EXPECT_LT(q.frameCount(), 3);
  EXPECT_GE(q.frameCount(), 1);
}

TEST(Errors, EveryValueHasItsOwnText) {
  std::set<std::string> seen;
  for (int e = int(flash::Error::None); e <= int(flash::Error::BadArgument); ++e) {
    std::string text = flash::errorText(flash::Error(e));
    EXPECT_NE(text, "unknown error") << e;
    EXPECT_TRUE(seen.insert(text).second) << text;
  }
}

}  // namespace
