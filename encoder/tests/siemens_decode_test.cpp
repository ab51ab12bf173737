// The Siemens object read back the way a phone would: the packets put together by their numbers,
// and the BMP file decoded by ImageMagick and compared with the input pixel for pixel.
#include <Magick++.h>
#include <gtest/gtest.h>

#include <random>

#include "encoder/tests/library.h"

namespace logopack_test {
namespace {

struct Dimensions {
  int width;
  int height;
};

// Full intensity of this ImageMagick build (its Q16 or Q8 quantum).
constexpr unsigned kQuantumRange = (1u << MAGICKCORE_QUANTUM_DEPTH) - 1;

uint32_t le(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + size_t(i)];
  return v;
}

class SiemensObject : public testing::TestWithParam<Dimensions> {
 protected:
  static void SetUpTestSuite() { Magick::InitializeMagick(nullptr); }
};

TEST_P(SiemensObject, DecodesToTheInputPicture) {
  const auto [width, height] = GetParam();
  // Every pixel black or white at random, plus grey ones that count as black.
  std::mt19937 random(uint32_t(width * 1000 + height));
  std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 3);
  for (auto& p : pixels) p = (random() % 3 == 0) ? 0x00 : (random() % 5 == 0 ? 0x80 : 0xFF);

  TempFolder folder;
  const Outcome out = run(folder.path(), "siemens_standard_operator", width, height, pixels);
  ASSERT_EQ(out.result, 0);
  auto messages = readPacked(out.file);
  ASSERT_TRUE(messages && !messages->empty());

  const uint32_t packets = uint32_t(messages->size());
  const uint32_t objectSize = le(messages->front(), 16, 4);
  const uint32_t reference = le(messages->front(), 8, 4);
  EXPECT_LE(reference, 32767u);
  std::vector<uint8_t> object(size_t(packets) * 110);
  for (auto& m : *messages) {
    ASSERT_EQ(m.size(), 140u);
    ASSERT_EQ(std::string(m.begin(), m.begin() + 5), "//SEO");
    EXPECT_EQ(le(m, 6, 2), 110u);
    EXPECT_EQ(le(m, 8, 4), reference);
    EXPECT_EQ(le(m, 14, 2), packets);
    EXPECT_EQ(le(m, 16, 4), objectSize);
    const uint32_t number = le(m, 12, 2);
    ASSERT_TRUE(number >= 1 && number <= packets);
    std::copy(m.begin() + 30, m.end(), object.begin() + long(number - 1) * 110);
  }
  ASSERT_LE(objectSize, object.size());
  ASSERT_GT(objectSize + 110, object.size()) << "more packets than the object needs";
  for (size_t i = objectSize; i < object.size(); ++i) ASSERT_EQ(object[i], 0) << i;
  object.resize(objectSize);

  Magick::Blob blob(object.data(), object.size());
  Magick::Image image;
  image.magick("BMP");
  image.read(blob);
  ASSERT_EQ(int(image.columns()), width);
  ASSERT_EQ(int(image.rows()), height);
  // The pixel cache, not pixelColor(): the latter misreads palette images in ImageMagick 6.
  const Magick::PixelPacket* decoded = image.getConstPixels(0, 0, image.columns(), image.rows());
  ASSERT_NE(decoded, nullptr);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const size_t i = size_t(y) * size_t(width) + size_t(x);
      const unsigned expected = pixels[i * 3] == 0xFF ? kQuantumRange : 0u;
      ASSERT_EQ(unsigned(decoded[i].red), expected) << x << "," << y;
      ASSERT_EQ(unsigned(decoded[i].green), expected) << x << "," << y;
      ASSERT_EQ(unsigned(decoded[i].blue), expected) << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SiemensObject,
                         testing::Values(Dimensions{1, 1}, Dimensions{101, 64}, Dimensions{33, 7},
                                         Dimensions{32, 13}, Dimensions{95, 65},
                                         Dimensions{416, 538}),
                         [](const testing::TestParamInfo<Dimensions>& info) {
                           return std::to_string(info.param.width) + "x" +
                                  std::to_string(info.param.height);
                         });

}  // namespace
}  // namespace logopack_test
