// The exported CRYPT_ functions of libVaultrec.so on real files. Expected layouts are worked out
// by hand from the file format; enciphered bytes are checked by deciphering them with the
// session cipher on its own, not with the library.
#include "records/vaultrec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "cipher/session_cipher.h"
#include "records/tests/test_file.h"

namespace {

using hv::records::testing::fileBytes;
using hv::records::testing::patterned;
using hv::records::testing::TempFolder;
using hv::records::testing::writeBytes;

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}
uint32_t be32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 |
         uint32_t(b[at + 3]);
}

struct Handle {
  explicit Handle(const std::string& path) : h(CRYPT_Open(path.c_str())) {}
  ~Handle() { CRYPT_Close(h); }
  CryptFile* h;
};

TEST(Vaultrec, LoginSizedRecordLaysOutHeaderAndOneSlotOf989Bytes) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  std::string path = dir.file("login.dat");
  ASSERT_EQ(CRYPT_Create(path.c_str(), 980), 1);

  auto header = fileBytes(path);
  ASSERT_EQ(header.size(), 256u);
  EXPECT_EQ(std::string(header.begin(), header.begin() + 4), std::string("CFF\0", 4));
  std::string keyText(header.begin() + 4, header.begin() + 24);
  EXPECT_TRUE(std::all_of(keyText.begin(), keyText.end(), [](char c) {
    return c >= '0' && c <= '9';
  })) << keyText;
  EXPECT_EQ(le32(header, 24), 980u);
  EXPECT_EQ(le32(header, 28), 988u);
  EXPECT_TRUE(std::all_of(header.begin() + 32, header.end(), [](uint8_t b) { return b == 0; }));

  Handle f(path);
  ASSERT_NE(f.h, nullptr);
  EXPECT_EQ(CRYPT_GetRecordCount(f.h), 0);
  auto plain = patterned(980, 3);
  EXPECT_EQ(CRYPT_AddRecord(f.h, plain.data()), 0);
  EXPECT_EQ(CRYPT_GetRecordCount(f.h), 1);

  auto bytes = fileBytes(path);
  ASSERT_EQ(bytes.size(), 1245u);
  EXPECT_EQ(bytes[256], 0) << "slot in use";
  EXPECT_EQ(be32(bytes, 257), 980u) << "plain length, big-endian";
  // 980 bytes fill 122 blocks and 4 bytes of a 123rd: 984 enciphered bytes, the pad zero.
  hv::SessionCipher cipher(keyText);
  auto deciphered = cipher.decrypt(std::span(bytes).subspan(261, 984));
  ASSERT_EQ(deciphered.size(), 984u);
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), deciphered.begin()));
  EXPECT_TRUE(
      std::all_of(deciphered.begin() + 980, deciphered.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_FALSE(std::equal(plain.begin(), plain.begin() + 64, bytes.begin() + 261))
      << "stored in the clear";

  std::vector<uint8_t> out(980, 0xEE);
  EXPECT_EQ(CRYPT_ReadRecord(f.h, 0, out.data()), 1);
  EXPECT_EQ(out, plain);
}

TEST(Vaultrec, EightByteRecordTakesOneBlockWithoutPadding) {
  TempFolder dir;
  std::string path = dir.file("eight.dat");
  ASSERT_EQ(CRYPT_Create(path.c_str(), 8), 1);
  EXPECT_EQ(le32(fileBytes(path), 28), 12u);
  Handle f(path);
  ASSERT_NE(f.h, nullptr);
  const uint8_t plain[8] = {'1', '3', '8', '0', '0', '1', '3', '8'};
  ASSERT_EQ(CRYPT_AddRecord(f.h, plain), 0);
  auto bytes = fileBytes(path);
  ASSERT_EQ(bytes.size(), 256u + 13u);
  EXPECT_EQ(be32(bytes, 257), 8u);
  hv::SessionCipher cipher(std::string(bytes.begin() + 4, bytes.begin() + 24));
  auto block = cipher.decrypt(std::span(bytes).subspan(261, 8));
  EXPECT_TRUE(std::equal(block.begin(), block.end(), plain));
}

TEST(Vaultrec, CreatingAnExistingFileFailsAndLeavesItAlone) {
  TempFolder dir;
  std::string path = dir.file("once.dat");
  ASSERT_EQ(CRYPT_Create(path.c_str(), 16), 1);
  {
    Handle f(path);
    auto rec = patterned(16, 9);
    ASSERT_EQ(CRYPT_AddRecord(f.h, rec.data()), 0);
  }
  auto before = fileBytes(path);
  EXPECT_EQ(CRYPT_Create(path.c_str(), 16), 0);
  EXPECT_EQ(CRYPT_Create(path.c_str(), 32), 0);
  EXPECT_EQ(fileBytes(path), before);
  EXPECT_EQ(CRYPT_Create(dir.file("no/such/folder.dat").c_str(), 16), 0);
  EXPECT_EQ(CRYPT_Create(dir.file("zero.dat").c_str(), 0), 0);
  EXPECT_FALSE(hv::fs::exists(dir.file("zero.dat")));
}

TEST(Vaultrec, DeletedSlotIsReusedByTheNextAddAndReadsAsMissing) {
  TempFolder dir;
  std::string path = dir.file("reuse.dat");
  ASSERT_EQ(CRYPT_Create(path.c_str(), 20), 1);
  Handle f(path);
  auto first = patterned(20, 1), second = patterned(20, 2), third = patterned(20, 3);
  ASSERT_EQ(CRYPT_AddRecord(f.h, first.data()), 0);
  ASSERT_EQ(CRYPT_AddRecord(f.h, second.data()), 1);

  ASSERT_EQ(CRYPT_DelRecord(f.h, 0), 1);
  auto bytes = fileBytes(path);
  EXPECT_EQ(bytes[256], 1) << "flag of slot 0";
  EXPECT_EQ(be32(bytes, 257), 20u) << "stored bytes stay in place";
  std::vector<uint8_t> out(20, 0xAB);
  EXPECT_EQ(CRYPT_ReadRecord(f.h, 0, out.data()), 0);
  EXPECT_EQ(out, std::vector<uint8_t>(20, 0xAB)) << "output untouched";

  EXPECT_EQ(CRYPT_AddRecord(f.h, third.data()), 0);
  EXPECT_EQ(CRYPT_GetRecordCount(f.h), 2);
  EXPECT_EQ(CRYPT_ReadRecord(f.h, 0, out.data()), 1);
  EXPECT_EQ(out, third);
  EXPECT_EQ(CRYPT_ReadRecord(f.h, 1, out.data()), 1);
  EXPECT_EQ(out, second);
  EXPECT_EQ(CRYPT_AddRecord(f.h, first.data()), 2) << "no deleted slot left: appended";
}

TEST(Vaultrec, ModifyRewritesAnExistingSlotOnlyAndRevivesADeletedOne) {
  TempFolder dir;
  std::string path = dir.file("modify.dat");
  ASSERT_EQ(CRYPT_Create(path.c_str(), 12), 1);
  Handle f(path);
  auto a = patterned(12, 10), b = patterned(12, 20);
  ASSERT_EQ(CRYPT_AddRecord(f.h, a.data()), 0);
  ASSERT_EQ(CRYPT_DelRecord(f.h, 0), 1);
  EXPECT_EQ(CRYPT_ModifyRecord(f.h, 0, b.data()), 1);
  std::vector<uint8_t> out(12);
  EXPECT_EQ(CRYPT_ReadRecord(f.h, 0, out.data()), 1);
  EXPECT_EQ(out, b);

  auto size = fileBytes(path).size();
  EXPECT_EQ(CRYPT_ModifyRecord(f.h, 1, a.data()), 0) << "past the end";
  EXPECT_EQ(CRYPT_ModifyRecord(f.h, 40, a.data()), 0);
  EXPECT_EQ(CRYPT_DelRecord(f.h, 5), 0);
  EXPECT_EQ(CRYPT_ModifyRecord(f.h, -1, a.data()), 0);
  EXPECT_EQ(fileBytes(path).size(), size) << "no slot written past the end";
  EXPECT_EQ(CRYPT_ReadRecord(f.h, 1, out.data()), 0);
}

TEST(Vaultrec, TwoFilesHaveTheirOwnKeyText) {
  TempFolder dir;
  std::string one = dir.file("one.dat"), two = dir.file("two.dat");
  ASSERT_EQ(CRYPT_Create(one.c_str(), 16), 1);
  ASSERT_EQ(CRYPT_Create(two.c_str(), 16), 1);
  auto rec = patterned(16, 42);
  {
    Handle a(one), b(two);
    ASSERT_EQ(CRYPT_AddRecord(a.h, rec.data()), 0);
    ASSERT_EQ(CRYPT_AddRecord(b.h, rec.data()), 0);
  }
  auto x = fileBytes(one), y = fileBytes(two);
  EXPECT_NE(std::string(x.begin() + 4, x.begin() + 24), std::string(y.begin() + 4, y.begin() + 24));
  EXPECT_FALSE(std::equal(x.begin() + 261, x.end(), y.begin() + 261));
}

TEST(Vaultrec, UnusableFilesAreRefused) {
  TempFolder dir;
  EXPECT_EQ(CRYPT_Open(dir.file("missing.dat").c_str()), nullptr);
  EXPECT_EQ(CRYPT_Open(nullptr), nullptr);

  std::string good = dir.file("good.dat");
  ASSERT_EQ(CRYPT_Create(good.c_str(), 8), 1);
  auto header = fileBytes(good);

  std::string cut = dir.file("cut.dat");
  writeBytes(cut, std::vector<uint8_t>(header.begin(), header.begin() + 255));
  EXPECT_EQ(CRYPT_Open(cut.c_str()), nullptr);

  auto badMagic = header;
  badMagic[2] = 'G';
  std::string magic = dir.file("magic.dat");
  writeBytes(magic, badMagic);
  EXPECT_EQ(CRYPT_Open(magic.c_str()), nullptr);

  auto badSizes = header;
  badSizes[28] = 16;  // S of 16 does not belong to P = 8
  std::string sizes = dir.file("sizes.dat");
  writeBytes(sizes, badSizes);
  EXPECT_EQ(CRYPT_Open(sizes.c_str()), nullptr);

  Handle ok(good);
  EXPECT_NE(ok.h, nullptr);
  EXPECT_EQ(CRYPT_GetRecordCount(nullptr), 0);
  EXPECT_EQ(CRYPT_AddRecord(nullptr, header.data()), -1);
  CRYPT_Close(nullptr);
}

TEST(Vaultrec, SlotThatDoesNotDecipherReadsAsFailureWithOutputUntouched) {
  TempFolder dir;
  std::string path = dir.file("bad.dat");
  ASSERT_EQ(CRYPT_Create(path.c_str(), 8), 1);
  {
    Handle f(path);
    auto rec = patterned(8, 5);
    ASSERT_EQ(CRYPT_AddRecord(f.h, rec.data()), 0);
    ASSERT_EQ(CRYPT_AddRecord(f.h, rec.data()), 1);
  }
  auto bytes = fileBytes(path);
  bytes[257 + 3] = 9;     // slot 0 claims 9 plain bytes in a file of 8-byte records
  bytes[270 + 1] = 0x01;  // slot 1 claims 65544
  writeBytes(path, bytes);
  Handle f(path);
  std::vector<uint8_t> out(8, 0x5A);
  EXPECT_EQ(CRYPT_ReadRecord(f.h, 0, out.data()), 0);
  EXPECT_EQ(CRYPT_ReadRecord(f.h, 1, out.data()), 0);
  EXPECT_EQ(out, std::vector<uint8_t>(8, 0x5A));
}

TEST(Vaultrec, DeleteRemovesTheFile) {
  TempFolder dir;
  std::string path = dir.file("gone.dat");
  ASSERT_EQ(CRYPT_Create(path.c_str(), 8), 1);
  EXPECT_EQ(CRYPT_Delete(path.c_str()), 1);
  EXPECT_FALSE(hv::fs::exists(path));
  EXPECT_EQ(CRYPT_Delete(path.c_str()), 0);
}

TEST(Vaultrec, GbkFileNamesWork) {
  TempFolder dir;
  std::string path = dir.file("\xB5\xC7\xC2\xBC.dat");  // "登录" in GBK
  ASSERT_EQ(CRYPT_Create(path.c_str(), 8), 1);
  Handle f(path);
  EXPECT_NE(f.h, nullptr);
}

}  // namespace
