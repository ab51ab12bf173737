// The format code below the exports: header checks, the stored record's length word, and a file
// left with a partial slot.
#include "records/record_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "records/tests/test_file.h"

namespace {

using namespace hv::records;
using hv::records::testing::fileBytes;
using hv::records::testing::patterned;
using hv::records::testing::TempFolder;
using hv::records::testing::writeBytes;

TEST(RecordFormat, StoredSizesAndSlotPositions) {
  EXPECT_EQ(storedSize(980), 988u);
  EXPECT_EQ(storedSize(8), 12u);
  EXPECT_EQ(storedSize(1), 12u);
  EXPECT_EQ(storedSize(9), 20u);
  EXPECT_EQ(slotOffset(988, 1), 256 + 989);
  EXPECT_EQ(slotCount(256, 988), 0u);
  EXPECT_EQ(slotCount(100, 988), 0u);
  EXPECT_EQ(slotCount(1245, 988), 1u);
  EXPECT_EQ(slotCount(1244, 988), 0u);
  EXPECT_EQ(slotCount(256 + 2 * 989 + 500, 988), 2u);
}

TEST(RecordFormat, HeaderIsCheckedBeforeItIsTrusted) {
  Header h;
  auto good = buildHeader("01234567890123456789", 980);
  ASSERT_EQ(parseHeader(good, h), RecordError::None);
  EXPECT_EQ(h.keyText, "01234567890123456789");
  EXPECT_EQ(h.plainSize, 980u);
  EXPECT_EQ(h.storedSize, 988u);

  EXPECT_EQ(parseHeader(std::span(good).first(255), h), RecordError::ShortRead);
  auto magic = good;
  magic[3] = ' ';
  EXPECT_EQ(parseHeader(magic, h), RecordError::BadMagic);
  auto zero = buildHeader("01234567890123456789", 0);
  EXPECT_EQ(parseHeader(zero, h), RecordError::BadSizes);
  auto huge = buildHeader("01234567890123456789", 0x7FFFFFF0u);
  EXPECT_EQ(parseHeader(huge, h), RecordError::BadSizes);
}

TEST(RecordFormat, FreshKeyTextsAreTwentyDigitsAndDiffer) {
  auto a = freshKeyText(), b = freshKeyText();
  EXPECT_EQ(a.size(), 20u);
  EXPECT_EQ(a.find_first_not_of("0123456789"), std::string::npos);
  EXPECT_NE(a, b);
}

TEST(RecordFormat, LengthWordDecidesWhatDeciphers) {
  hv::SessionCipher cipher("98765432109876543210");
  auto plain = patterned(13, 4);
  auto stored = encipherRecord(cipher, plain);
  ASSERT_EQ(stored.size(), storedSize(13));

  std::vector<uint8_t> out(13, 0xCC);
  ASSERT_EQ(decipherRecord(cipher, stored, out), RecordError::None);
  EXPECT_EQ(out, plain);

  auto shorter = stored;
  shorter[3] = 5;  // a record of 5 bytes in a file of 13-byte records: the rest comes out zero
  ASSERT_EQ(decipherRecord(cipher, shorter, out), RecordError::None);
  std::vector<uint8_t> five(plain.begin(), plain.begin() + 5);
  five.resize(13, 0);
  EXPECT_EQ(out, five);

  std::vector<uint8_t> keep(13, 0xCC);
  auto longer = stored;
  longer[3] = 14;
  EXPECT_EQ(decipherRecord(cipher, longer, keep), RecordError::Undecipherable);
  EXPECT_EQ(decipherRecord(cipher, std::span(stored).first(stored.size() - 1), keep),
            RecordError::Undecipherable);
  EXPECT_EQ(decipherRecord(cipher, std::span(stored).first(4), keep), RecordError::Undecipherable);
  std::vector<uint8_t> wide(20, 0);
  auto oneBlock = stored;
  oneBlock.resize(12);  // 13 bytes cannot come out of one block
  EXPECT_EQ(decipherRecord(cipher, oneBlock, wide), RecordError::Undecipherable);
  EXPECT_EQ(keep, std::vector<uint8_t>(13, 0xCC));
}

TEST(RecordFile, AddAfterACutShortSlotWritesOverThePartialSlot) {
  TempFolder dir;
  std::string path = dir.file("partial.dat");
  ASSERT_EQ(RecordFile::create(path, 8), RecordError::None);
  auto bytes = fileBytes(path);
  bytes.resize(256 + 13 + 6, 0);  // one whole slot of zeros, then 6 bytes of a second
  writeBytes(path, bytes);

  std::unique_ptr<RecordFile> f;
  ASSERT_EQ(RecordFile::open(path, f), RecordError::None);
  EXPECT_EQ(f->count(), 1u);
  uint32_t index = 99;
  auto rec = patterned(8, 6);
  ASSERT_EQ(f->add(rec, index), RecordError::None);
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(fileBytes(path).size(), 256u + 2 * 13);
  std::vector<uint8_t> out(8);
  EXPECT_EQ(f->read(1, out), RecordError::None);
  EXPECT_EQ(out, rec);
}

TEST(RecordFile, WrongRecordSizesAndIndexesAreTypedErrors) {
  TempFolder dir;
  std::string path = dir.file("typed.dat");
  ASSERT_EQ(RecordFile::create(path, 8), RecordError::None);
  EXPECT_EQ(RecordFile::create(path, 8), RecordError::Exists);
  std::unique_ptr<RecordFile> f;
  ASSERT_EQ(RecordFile::open(path, f), RecordError::None);
  uint32_t index = 0;
  std::vector<uint8_t> seven(7);
  EXPECT_EQ(f->add(seven, index), RecordError::BadSize);
  std::vector<uint8_t> eight(8);
  EXPECT_EQ(f->read(0, eight), RecordError::BadIndex);
  ASSERT_EQ(f->add(eight, index), RecordError::None);
  ASSERT_EQ(f->erase(0), RecordError::None);
  EXPECT_EQ(f->read(0, eight), RecordError::Deleted);

  std::unique_ptr<RecordFile> none;
  EXPECT_EQ(RecordFile::open(dir.file("none.dat"), none), RecordError::CannotOpen);
  EXPECT_EQ(none, nullptr);
}

TEST(RecordFile, EveryErrorHasItsText) {
  std::set<std::string_view> texts;
  for (int e = int(RecordError::None); e <= int(RecordError::Undecipherable); ++e) {
    auto t = errorText(RecordError(e));
    EXPECT_NE(t, "unknown error");
    texts.insert(t);
  }
  EXPECT_EQ(texts.size(), size_t(RecordError::Undecipherable) + 1);
}

}  // namespace
