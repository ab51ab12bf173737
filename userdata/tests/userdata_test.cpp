// Information elements, headers and segments against the octets of 3GPP TS 23.040 9.2.3.24
// written out by hand, the 140-octet boundary, and the bit writer.
#include "userdata/userdata.h"

#include <gtest/gtest.h>

namespace hv::userdata {
namespace {

TEST(Elements, OctetsOfEachElement) {
  EXPECT_EQ(Header({ports16(0x1581)}).bytes(), (Bytes{0x06, 0x05, 0x04, 0x15, 0x81, 0x00, 0x00}));
  EXPECT_EQ(Header({ports16(0x158A, 0x1234)}).bytes(),
            (Bytes{0x06, 0x05, 0x04, 0x15, 0x8A, 0x12, 0x34}));
  EXPECT_EQ(Header({ports8(0xF5, 0x01)}).bytes(), (Bytes{0x04, 0x04, 0x02, 0xF5, 0x01}));
  EXPECT_EQ(Header({concatenation(0x42, 3, 2)}).bytes(), (Bytes{0x05, 0x00, 0x03, 0x42, 3, 2}));
  const Bytes rows = {0xAA, 0x55, 0xFF, 0x00};
  EXPECT_EQ(Header({variablePicture(0, 2, 2, rows)}).bytes(),
            (Bytes{0x09, 0x12, 0x07, 0x00, 0x02, 0x02, 0xAA, 0x55, 0xFF, 0x00}));
  EXPECT_EQ(Header({userDefinedSound(0, "AB")}).bytes(), (Bytes{0x05, 0x0C, 0x03, 0x00, 'A', 'B'}));
  EXPECT_EQ(Header({objectDistribution(4, 0), userPrompt(3)}).bytes(),
            (Bytes{0x07, 0x17, 0x02, 0x04, 0x00, 0x13, 0x01, 0x03}));
}

TEST(Elements, SizesCountIdentifierLengthAndContent) {
  EXPECT_EQ(concatenation(0, 0, 0).size(), kConcatenationSize);
  EXPECT_EQ(ports16(1).size(), 6u);
  EXPECT_EQ(ports8(1).size(), 4u);
  Header h({ports16(1), concatenation(1, 2, 1)});
  EXPECT_EQ(h.size(), 12u);
  EXPECT_EQ(h.length(), 11u);
  EXPECT_EQ(h.bytes().size(), h.size());
  EXPECT_EQ(h.bytes()[0], 0x0B);
}

TEST(Fits, KnowsThe140Octets) {
  EXPECT_TRUE(fits(7, 133));
  EXPECT_FALSE(fits(7, 134));
  EXPECT_TRUE(fits(140, 0));
  EXPECT_FALSE(fits(141, 0));
  EXPECT_FALSE(fits(12, size_t(-1)));  // no wrap-around
  EXPECT_EQ(room(12), 128u);
  EXPECT_EQ(room(140), 0u);
  EXPECT_EQ(room(200), 0u);
  EXPECT_EQ(segmentsFor(260, 12), 3u);
  EXPECT_EQ(segmentsFor(256, 12), 2u);
  EXPECT_EQ(segmentsFor(1, 140), 0u);
}

TEST(Concatenated, SlicesInOrderBehindTheSameHeader) {
  Bytes body(300);
  for (size_t i = 0; i < body.size(); ++i) body[i] = uint8_t(i);
  auto segments = concatenated(Header({ports16(0x1581)}), body, 128, 0x99);
  ASSERT_EQ(segments.size(), 3u);
  Bytes joined;
  for (size_t k = 0; k < segments.size(); ++k) {
    const Bytes& s = segments[k];
    ASSERT_GE(s.size(), 12u);
    EXPECT_LE(s.size(), kMaxUserData);
    EXPECT_EQ(Bytes(s.begin(), s.begin() + 12), (Bytes{0x0B, 0x05, 0x04, 0x15, 0x81, 0x00, 0x00,
                                                       0x00, 0x03, 0x99, 3, uint8_t(k + 1)}));
    joined.insert(joined.end(), s.begin() + 12, s.end());
  }
  EXPECT_EQ(joined, body);
  EXPECT_EQ(segments.back().size(), 12u + 44);

  auto cut = concatenated(Header(), body, 128, 1, 2);
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[1][4], 2);  // the total says what was sent
  EXPECT_EQ(cut[1].size(), 6u + 128);
  EXPECT_TRUE(concatenated(Header(), body, 128, 1, 0).empty());
  EXPECT_TRUE(concatenated(Header(), {}, 128, 1).empty());
}

TEST(BitWriter, FieldsMostSignificantBitFirstAndOctetFiller) {
  constexpr BitField three{"three", 3}, five{"five", 5};
  BitWriter w;
  w.put(three, 0b101).put(five, 0xFF);  // higher bits of the value are dropped
  EXPECT_EQ(w.bits(), "10111111");
  w.fillOctet();  // on a boundary: a whole octet of filler
  EXPECT_EQ(w.size(), 16u);
  w.put({"seven", 7}, 0b0100101).fillOctet();
  EXPECT_EQ(w.bytes(), (Bytes{0xBF, 0x00, 0x4A}));
  BitWriter tail;
  tail.put({"one", 1}, 1);
  w.append(tail);
  EXPECT_EQ(w.bytes(), (Bytes{0xBF, 0x00, 0x4A, 0x80}));
  EXPECT_EQ(bitsOf(13, 5), "01101");
  EXPECT_EQ(bitsOf(1, 40).size(), 40u);
  EXPECT_EQ(bitsOf(1, 40).back(), '1');
  EXPECT_EQ(bytesOf("101"), (Bytes{0xA0}));
}

}  // namespace
}  // namespace hv::userdata
