// Bit packing and the streaming of message bodies across messages.
#include "encoder/message.h"

#include <gtest/gtest.h>

#include "encoder/picture.h"

namespace hv::logopack {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(BitWriter, PacksMostSignificantBitFirstAndPadsWithZeros) {
  BitWriter bits;
  for (bool b : {true, false, true, true, false, false, true, false, true, true}) bits.bit(b);
  EXPECT_EQ(bits.size(), 2u);
  bits.padToByte();
  bits.bit(true);
  bits.padToMultiple(4);
  EXPECT_EQ(bits.take(), (Bytes{0b10110010, 0b11000000, 0b10000000, 0}));
}

// Pixels from '#' (first byte 0x00) and '.' (0xFF) rows.
Bytes pixels(const std::vector<std::string>& rows) {
  Bytes out;
  for (auto& r : rows)
    for (char c : r) out.insert(out.end(), 3, c == '#' ? 0x00 : 0xFF);
  return out;
}

TEST(Bitmaps, RowBitmapRunsRowsOnWithoutPadding) {
  const auto p = pixels({"#.#", "..#", "##."});
  EXPECT_EQ(rowBitmap(Picture(p.data(), 3, 3)), (Bytes{0b10100111, 0b00000000}));
}

TEST(Bitmaps, ColumnBitmapPadsEachColumn) {
  const auto p = pixels({"#.", ".#", "##"});
  EXPECT_EQ(columnBitmap(Picture(p.data(), 2, 3)), (Bytes{2, 3, 0b10100000, 0b01100000}));
  EXPECT_EQ(columnBitmapSize(2, 3), 4u);
  EXPECT_EQ(columnBitmapSize(255, 255), 2u + 255 * 32);
}

TEST(Bitmaps, StripSeesItsOwnColumns) {
  const auto p = pixels({"..#.", "...#"});
  const Picture strip = Picture(p.data(), 4, 2).strip(2, 2);
  EXPECT_EQ(rowBitmap(strip), (Bytes{0b10010000}));
}

TEST(Bitmaps, BmpSizeRoundsRowsToWholeWords) {
  EXPECT_EQ(bmpFileSize(1, 1), 66u);
  EXPECT_EQ(bmpFileSize(32, 2), 70u);
  EXPECT_EQ(bmpFileSize(33, 2), 78u);
  EXPECT_EQ(bmpFileSize(101, 64), 1086u);
}

TEST(Body, ContinuesWhereThePreviousMessageStopped) {
  CMessageBody body;
  body.add(fixedBytes({1, 2, 3}));
  body.add(fixedBytes({}));
  body.add(fixedBytes({4, 5}));
  EXPECT_EQ(body.size(), 5u);
  Bytes out(2);
  EXPECT_EQ(body.write(out), 2u);
  EXPECT_EQ(out, (Bytes{1, 2}));
  EXPECT_EQ(body.write(out), 2u);
  EXPECT_EQ(out, (Bytes{3, 4}));
  Bytes rest(4, 0xEE);
  EXPECT_EQ(body.write(rest), 1u);
  EXPECT_EQ(rest[0], 5);
  EXPECT_EQ(body.write(rest), 0u);
}

TEST(Body, BmpObjectFillsEveryPacketAndZeroesItsEnd) {
  CMessageBody body;
  body.add(std::make_unique<BmpObject>(Bytes{9, 8, 7}));
  Bytes out(2, 0xEE);
  EXPECT_EQ(body.write(out), 2u);
  Bytes last(2, 0xEE);
  EXPECT_EQ(body.write(last), 2u);
  EXPECT_EQ(last, (Bytes{7, 0}));
}

TEST(Header, SequenceAndPacketNumbersCountUpPerWrite) {
  auto header = CMessageHeader::userDataHeader();
  header.add(std::make_unique<PortAddressing>(0x158A));
  header.add(std::make_unique<Concatenation>(0x2A, 3));
  ASSERT_EQ(header.size(), 12u);
  Bytes out(12);
  header.write(out.data());
  EXPECT_EQ(out, (Bytes{0x0B, 0x05, 0x04, 0x15, 0x8A, 0, 0, 0x00, 0x03, 0x2A, 3, 1}));
  header.write(out.data());
  EXPECT_EQ(out.back(), 2);

  auto seo = CMessageHeader::seo(std::make_unique<CSeoHeader>(110, 0x1234, 2, 300, "bmp", "1.bmp"));
  ASSERT_EQ(seo.size(), 30u);
  Bytes s(30);
  seo.write(s.data());
  seo.write(s.data());
  EXPECT_EQ(
      Bytes(s.begin(), s.begin() + 20),
      (Bytes{'/', '/', 'S', 'E', 'O', 1, 110, 0, 0x34, 0x12, 0, 0, 2, 0, 2, 0, 0x2C, 1, 0, 0}));
}

TEST(Records, HeaderThenAsMuchBodyAsFitsIn140Bytes) {
  auto header = CMessageHeader::userDataHeader();
  header.add(std::make_unique<ObjectSize>(0x0192));
  CMessageBody body;
  body.add(fixedBytes(Bytes(200, 0x55)));
  const Record first = nextRecord(header, &body);
  ASSERT_EQ(first.size(), 140u);
  EXPECT_EQ(Bytes(first.begin(), first.begin() + 7), (Bytes{6, 0x80, 4, 0, 4, 0x01, 0x92}));
  EXPECT_EQ(nextRecord(header, &body).size(), 7u + 67);
}

TEST(PackedFile, CountThenLengthDataAndSeparatorPerMessage) {
  EXPECT_EQ(packMessages({{0xAB}, {1, 2}}),
            (Bytes{2, 0, 0, 0, 1, 0, 0, 0, 0xAB, 0, 2, 0, 0, 0, 1, 2, 0}));
}

}  // namespace
}  // namespace hv::logopack
