// Format dispatch with a reference source under test control, the random references, and the
// error texts.
#include "encoder/formats.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace hv::logopack {
namespace {

class FixedReferences : public ReferenceSource {
 public:
  explicit FixedReferences(uint32_t value) : value_(value) {}
  uint32_t next(uint32_t maximum) override {
    maxima.push_back(maximum);
    return value_;
  }
  std::vector<uint32_t> maxima;

 private:
  uint32_t value_;
};

std::vector<Record> encoded(std::string_view format, size_t w, size_t h, ReferenceSource& refs) {
  const std::vector<uint8_t> pixels(w * h * 3, 0xFF);
  auto result = encode(format, Picture(pixels.data(), w, h), refs);
  EXPECT_TRUE(std::holds_alternative<std::vector<Record>>(result)) << format;
  auto* records = std::get_if<std::vector<Record>>(&result);
  return records ? *records : std::vector<Record>{};
}

TEST(References, AskedOncePerPictureInTheRangeOfItsField) {
  FixedReferences nokia(254);
  auto records = encoded("nokia_screensaver", 72, 28, nokia);
  ASSERT_EQ(records.size(), 3u);
  for (auto& r : records) EXPECT_EQ(r[9], 254);
  EXPECT_EQ(nokia.maxima, (std::vector<uint32_t>{254}));

  FixedReferences siemens(32767);
  records = encoded("siemens_cli", 101, 64, siemens);
  for (auto& r : records) EXPECT_EQ(r[8] | r[9] << 8 | r[10] << 16 | r[11] << 24, 32767);
  EXPECT_EQ(siemens.maxima, (std::vector<uint32_t>{32767}));

  FixedReferences motorola(7);
  records = encoded("motorola_388_big", 96, 64, motorola);
  for (auto& r : records) EXPECT_EQ(r[3], 7);
  EXPECT_EQ(motorola.maxima, (std::vector<uint32_t>{254}));

  FixedReferences single(0);
  encoded("nokia_op_logo", 72, 14, single);
  encoded("ems_big_picture", 8, 8, single);
  EXPECT_TRUE(single.maxima.empty()) << "a single message needs no reference";
}

TEST(References, RandomSourceIsSafeAcrossThreadsAndCoversItsRange) {
  RandomReferences source;
  constexpr int kThreads = 8, kDraws = 5000;
  std::vector<std::vector<uint32_t>> drawn(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kDraws; ++i) drawn[t].push_back(source.next(254));
    });
  for (auto& t : threads) t.join();
  std::set<uint32_t> seen;
  for (auto& list : drawn)
    for (uint32_t v : list) {
      ASSERT_LE(v, 254u);
      seen.insert(v);
    }
  EXPECT_EQ(seen.size(), 255u);
}

TEST(References, EachSourceIsSeededAfresh) {
  RandomReferences a, b;
  std::vector<uint32_t> fromA, fromB;
  for (int i = 0; i < 8; ++i) {
    fromA.push_back(a.next(32767));
    fromB.push_back(b.next(32767));
  }
  EXPECT_NE(fromA, fromB);
}

TEST(Errors, EveryErrorHasItsTextAndResultCode) {
  const std::pair<EncodeError, int> all[] = {{EncodeError::UnknownFormat, -1},
                                             {EncodeError::BadSize, -2},
                                             {EncodeError::CannotCreate, -3},
                                             {EncodeError::CannotWrite, -3}};
  std::set<std::string_view> texts;
  for (auto [error, code] : all) {
    EXPECT_EQ(resultCode(error), code);
    EXPECT_FALSE(errorText(error).empty());
    texts.insert(errorText(error));
  }
  EXPECT_EQ(texts.size(), std::size(all));
}

}  // namespace
}  // namespace hv::logopack
