// The Nokia Smart Messaging pictures read back the way a phone reads them: the user-data header's
// information elements (3GPP TS 23.040 9.2.3.24), the messages of a concatenated picture put
// together by their sequence numbers, then the body of the port's application: the operator
// logo's network code before its OTA bitmap, the caller-group graphic's bare OTA bitmap, the
// picture message's version byte and items. The decoded bitmap must be the input picture.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "encoder/tests/library.h"

namespace logopack_test {
namespace {

using Bytes = std::vector<uint8_t>;

struct Received {
  int port = -1;
  int reference = -1;
  int total = 1;
  int sequence = 1;
  Bytes body;
};

// One message as a phone's transport layer sees it; fails the test on a malformed header.
Received receive(const Bytes& m) {
  Received r;
  EXPECT_FALSE(m.empty());
  if (m.empty()) return r;
  const size_t udhl = m[0];
  EXPECT_LT(udhl, m.size());
  if (udhl >= m.size()) return r;
  for (size_t at = 1; at < 1 + udhl;) {
    EXPECT_LE(at + 2, 1 + udhl) << "element header past the UDH";
    if (at + 2 > 1 + udhl) return r;
    const uint8_t id = m[at], length = m[at + 1];
    EXPECT_LE(at + 2 + length, 1 + udhl) << "element past the UDH";
    if (at + 2 + length > 1 + udhl) return r;
    const uint8_t* v = &m[at + 2];
    if (id == 0x05) {
      EXPECT_EQ(length, 4);
      r.port = v[0] << 8 | v[1];
    } else if (id == 0x00) {
      EXPECT_EQ(length, 3);
      r.reference = v[0];
      r.total = v[1];
      r.sequence = v[2];
    } else {
      ADD_FAILURE() << "unexpected element " << int(id);
    }
    at += 2 + length;
  }
  r.body.assign(m.begin() + long(1 + udhl), m.end());
  return r;
}

struct Message {
  int port = -1;
  Bytes body;
};

// All messages of the file as one application message.
Message reassemble(const std::vector<Bytes>& messages) {
  Message out;
  std::map<int, Bytes> parts;
  int reference = -2, total = 0;
  for (auto& m : messages) {
    Received r = receive(m);
    if (out.port == -1) out.port = r.port;
    EXPECT_EQ(r.port, out.port);
    if (reference == -2) reference = r.reference, total = r.total;
    EXPECT_EQ(r.reference, reference);
    EXPECT_EQ(r.total, total);
    EXPECT_TRUE(parts.emplace(r.sequence, r.body).second) << "sequence " << r.sequence << " twice";
  }
  EXPECT_EQ(int(parts.size()), total);
  int expected = 1;
  for (auto& [sequence, body] : parts) {
    EXPECT_EQ(sequence, expected++);
    out.body.insert(out.body.end(), body.begin(), body.end());
  }
  return out;
}

struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<bool> ink;  // row after row
};

// An OTA bitmap (Smart Messaging 3.4.1): info field 00, width, height, depth 01, then the pixels
// row after row, most significant bit first, the rows not padded. `at` moves past it.
Bitmap readOtaBitmap(const Bytes& b, size_t& at) {
  Bitmap bm;
  EXPECT_LE(at + 4, b.size());
  if (at + 4 > b.size()) return bm;
  EXPECT_EQ(b[at], 0x00) << "info field";
  EXPECT_EQ(b[at + 3], 0x01) << "depth";
  bm.width = b[at + 1];
  bm.height = b[at + 2];
  at += 4;
  const size_t bits = size_t(bm.width) * size_t(bm.height);
  EXPECT_LE(at + (bits + 7) / 8, b.size()) << "bitmap cut short";
  if (at + (bits + 7) / 8 > b.size()) return bm;
  for (size_t i = 0; i < bits; ++i) bm.ink.push_back(b[at + i / 8] >> (7 - i % 8) & 1);
  at += (bits + 7) / 8;
  return bm;
}

// What the phone shows for each application port.
Bitmap decode(const Message& m) {
  size_t at = 0;
  Bitmap bm;
  switch (m.port) {
    case 0x1582:  // operator logo: MCC and MNC in BCD, then the bitmap
      EXPECT_GE(m.body.size(), 3u);
      at = 3;
      bm = readOtaBitmap(m.body, at);
      break;
    case 0x1583:  // caller-group graphic: the bitmap alone
      bm = readOtaBitmap(m.body, at);
      break;
    case 0x158A: {  // picture message: version '0', then items of type, 16-bit length and data
      EXPECT_GE(m.body.size(), 4u);
      if (m.body.size() < 4) return bm;
      EXPECT_EQ(m.body[0], 0x30);
      EXPECT_TRUE(m.body[1] == 0x02 || m.body[1] == 0x06) << int(m.body[1]);
      const size_t length = size_t(m.body[2]) << 8 | m.body[3];
      at = 4;
      bm = readOtaBitmap(m.body, at);
      EXPECT_EQ(at - 4, length) << "item length";
      break;
    }
    default:
      ADD_FAILURE() << "port " << m.port;
      return bm;
  }
  EXPECT_EQ(at, m.body.size()) << "bytes after the picture";
  return bm;
}

struct NokiaCase {
  const char* format;
  int height;
  int port;
};

class NokiaPicture : public testing::TestWithParam<NokiaCase> {};

TEST_P(NokiaPicture, DecodesToTheInputPicture) {
  const NokiaCase& c = GetParam();
  std::mt19937 random(uint32_t(c.port));
  std::vector<uint8_t> pixels(72 * size_t(c.height) * 3);
  for (size_t i = 0; i < pixels.size(); i += 3)
    pixels[i] = pixels[i + 1] = pixels[i + 2] = random() % 2 ? 0x00 : 0xFF;

  TempFolder folder;
  const Outcome out = run(folder.path(), c.format, 72, c.height, pixels);
  ASSERT_EQ(out.result, 0);
  auto messages = readPacked(out.file);
  ASSERT_TRUE(messages && !messages->empty());
  for (auto& m : *messages) EXPECT_LE(m.size(), 140u);

  const Message message = reassemble(*messages);
  EXPECT_EQ(message.port, c.port);
  const Bitmap bm = decode(message);
  ASSERT_EQ(bm.width, 72);
  ASSERT_EQ(bm.height, c.height);
  ASSERT_EQ(bm.ink.size(), pixels.size() / 3);
  for (size_t i = 0; i < bm.ink.size(); ++i)
    ASSERT_EQ(bm.ink[i], pixels[i * 3] == 0x00) << "pixel " << i % 72 << "," << i / 72;
}

INSTANTIATE_TEST_SUITE_P(Formats, NokiaPicture,
                         testing::Values(NokiaCase{"nokia_op_logo", 14, 0x1582},
                                         NokiaCase{"nokia_cli_icon", 14, 0x1583},
                                         NokiaCase{"nokia_picture", 28, 0x158A},
                                         NokiaCase{"nokia_screensaver", 28, 0x158A}),
                         [](const testing::TestParamInfo<NokiaCase>& info) {
                           return std::string(info.param.format);
                         });

}  // namespace
}  // namespace logopack_test
