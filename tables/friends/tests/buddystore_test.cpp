#include "tables/friends/buddystore.h"

#include <gtest/gtest.h>

#include "platform/gbk.h"
#include "tables/dbf/tests/testkit.h"

namespace {

using hv::FriendRecord;
using hv::T;
using hv::tabletest::readAll;
using hv::tabletest::TempDir;

constexpr const char* kUser = "13900000000";

// For passing a record made on the spot.
const FriendRecord* ptr(const FriendRecord& r) {
  return &r;
}

// A fresh home holding the user's folder with a copy of the shipped empty template.
class FriendsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hv::tabletest::setHome(home_.path());
    ASSERT_TRUE(hv::fs::makeDirectories(home_ / kUser));
    ASSERT_TRUE(hv::fs::copyFile(hv::tabletest::shippedData("FRIENDS.DBF"), file(), true));
  }
  std::string file() const { return home_ / (std::string(kUser) + "/FRIENDS.DBF"); }

  static FriendRecord record(const std::string& number, const std::string& name, int id = 0) {
    FriendRecord r{};
    r.id = id;
    hv::copyField(r.mobilenum, number);
    hv::copyField(r.name, name);
    hv::copyField(r.mobiletype, "EricssonT68i");
    r.age = 30;
    return r;
  }

  TempDir home_;
};

TEST_F(FriendsTest, ChangesReachTheFileAndOutsideReaders) {
  FriendsTable* t = FLOpen(kUser);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(FLGetCount(t), 0);
  FriendRecord a = record("13911112222", "O'Brien", 1);
  hv::copyField(a.email, "ob@example.com");
  hv::copyField(a.nickname, T("老朋友"));
  EXPECT_EQ(FLAddInfo(t, &a), 0);
  EXPECT_EQ(FLAddInfo(t, ptr(record("13833334444", T("张三"), 2))), 1);
  FriendRecord changed = record("13833334444", T("张三丰"), 2);
  changed.age = 41;
  EXPECT_EQ(FLModifyInfo(t, 1, &changed), 0);
  FLClose(t);

  auto r = hv::tabletest::readWithOutsideReaders(file());
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output,
            "1|13911112222|EricssonT68i|老朋友|O'Brien|30||ob@example.com||||\n"
            "2|13833334444|EricssonT68i||张三丰|41||||||\n"
            "count=2 live=2\n");

  t = FLOpen(kUser);
  ASSERT_NE(t, nullptr);
  FriendRecord back{};
  ASSERT_EQ(FLGetInfoWithPhone(t, "13911112222", &back), 0);
  EXPECT_STREQ(back.name, "O'Brien");
  EXPECT_STREQ(back.email, "ob@example.com");
  EXPECT_EQ(hv::fieldText(back.nickname), T("老朋友"));
  EXPECT_EQ(back.id, 1);
  ASSERT_EQ(FLGetInfo(t, 1, &back), 0);
  EXPECT_EQ(hv::fieldText(back.name), T("张三丰"));
  EXPECT_EQ(back.age, 41);
  FLClose(t);
}

TEST_F(FriendsTest, DeletedFriendLeavesAnEmptyEntry) {
  FriendsTable* t = FLOpen(kUser);
  ASSERT_NE(t, nullptr);
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(FLAddInfo(t, ptr(record("1380000000" + std::to_string(i), "f" + std::to_string(i)))),
              i);
  }
  ASSERT_EQ(FLDelInfo(t, 2), 0);
  EXPECT_EQ(FLGetCount(t), 5);
  FriendRecord r{};
  EXPECT_EQ(FLGetInfo(t, 2, &r), -1);
  ASSERT_EQ(FLGetInfo(t, 3, &r), 0);
  EXPECT_STREQ(r.name, "f3");
  EXPECT_EQ(FLGetInfoWithPhone(t, "13800000002", &r), -1);
  EXPECT_EQ(FLDelInfo(t, 2), -1);
  EXPECT_EQ(FLModifyInfo(t, 2, ptr(record("13800000002", "x"))), -1);
  FLClose(t);

  // The file holds the other four; a new handle sees them packed together.
  t = FLOpen(kUser);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(FLGetCount(t), 4);
  ASSERT_EQ(FLGetInfo(t, 2, &r), 0);
  EXPECT_STREQ(r.name, "f3");
  FLClose(t);
}

TEST_F(FriendsTest, RefusedChangesIssueNoStatement) {
  FriendsTable* t = FLOpen(kUser);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(FLAddInfo(t, ptr(record("13911112222", "first"))), 0);
  std::string before = readAll(file());
  EXPECT_EQ(FLAddInfo(t, ptr(record("13911112222", "again"))), -1);
  EXPECT_EQ(FLModifyInfo(t, 0, ptr(record("13911112223", "other number"))), -1);
  EXPECT_EQ(FLModifyInfo(t, 7, ptr(record("13911112222", "no such entry"))), -1);
  EXPECT_EQ(FLAddInfo(t, ptr(record("", "no number"))), -1);
  // Not a number: the numeric column refuses it, whatever it holds.
  EXPECT_EQ(FLAddInfo(t, ptr(record("1 OR 1=1", "x"))), -2);
  EXPECT_EQ(FLAddInfo(t, ptr(record("1);DELETE", "x"))), -2);
  EXPECT_EQ(readAll(file()), before);
  EXPECT_EQ(FLGetCount(t), 1);
  FLClose(t);
}

TEST_F(FriendsTest, LongValuesAreCutOnCharacterBoundaries) {
  FriendsTable* t = FLOpen(kUser);
  ASSERT_NE(t, nullptr);
  FriendRecord r = record("13911112222", "");
  // Eleven two-byte characters fill all 22 bytes of the name with no terminator; the record
  // keeps ten of them (20 bytes and the NUL).
  std::string name = T("一二三四五六七八九十百");
  std::copy(name.begin(), name.end(), r.name);
  ASSERT_EQ(FLAddInfo(t, &r), 0);
  FriendRecord back{};
  ASSERT_EQ(FLGetInfo(t, 0, &back), 0);
  EXPECT_EQ(hv::fieldText(back.name), T("一二三四五六七八九十"));
  FLClose(t);
  t = FLOpen(kUser);
  ASSERT_EQ(FLGetInfo(t, 0, &back), 0);
  EXPECT_EQ(hv::fieldText(back.name), T("一二三四五六七八九十"));
  FLClose(t);
}

TEST_F(FriendsTest, NumberWithFractionLoadsAsItsDigitsBeforeThePoint) {
  // Another dBase program's table with a Mobilenum that has decimals.
  auto made = hv::tabletest::python(R"(
import sys, dbf
t = dbf.Table(sys.argv[1], 'Id N(11,0); Mobilenum N(14,2); Mobiletype C(29); Nickname C(19); '
              'Name C(21); Age N(11,0); Sex C(9); Email C(29); QQ C(14); MSN C(29); '
              'Address C(29); Postcode C(8)', dbf_type='db3', codepage='cp936')
t.open(dbf.READ_WRITE)
t.append((7, 13912345678.25, 'Nokia7650', 'nick', 'name', 33, 'M', 'e', '12345', 'm', 'addr', '100000'))
t.close()
)",
                                    {file()});
  ASSERT_EQ(made.status, 0) << made.output;
  FriendsTable* t = FLOpen(kUser);
  ASSERT_NE(t, nullptr);
  FriendRecord r{};
  ASSERT_EQ(FLGetInfo(t, 0, &r), 0);
  EXPECT_STREQ(r.mobilenum, "13912345678");
  EXPECT_EQ(r.id, 7);
  EXPECT_EQ(r.age, 33);
  EXPECT_STREQ(r.mobiletype, "Nokia7650");
  EXPECT_STREQ(r.postcode, "100000");
  FLClose(t);
}

TEST_F(FriendsTest, UnreadableTablesGiveNoHandleAndAreNotWritten) {
  EXPECT_EQ(FLOpen("nobody"), nullptr);
  EXPECT_EQ(FLOpen(nullptr), nullptr);
  std::string good = readAll(file());
  ASSERT_TRUE(hv::fs::writeFileAtomic(file(), good.substr(0, 40)));
  EXPECT_EQ(FLOpen(kUser), nullptr);

  // A table damaged while a handle is open: the change fails and the file stays as it was.
  ASSERT_TRUE(hv::fs::writeFileAtomic(file(), good));
  FriendsTable* t = FLOpen(kUser);
  ASSERT_NE(t, nullptr);
  std::string damaged = good;
  damaged[10] = 3;  // record length no longer that of the fields
  ASSERT_TRUE(hv::fs::writeFileAtomic(file(), damaged));
  EXPECT_EQ(FLAddInfo(t, ptr(record("13911112222", "x"))), -2);
  EXPECT_EQ(FLGetCount(t), 0);
  EXPECT_EQ(readAll(file()), damaged);
  FLClose(t);
}

TEST(FriendsNullHandle, EveryFunctionAcceptsIt) {
  FriendRecord r{};
  EXPECT_EQ(FLGetCount(nullptr), -1);
  EXPECT_EQ(FLGetInfo(nullptr, 0, &r), -1);
  EXPECT_EQ(FLGetInfoWithPhone(nullptr, "1", &r), -1);
  EXPECT_EQ(FLAddInfo(nullptr, &r), -1);
  EXPECT_EQ(FLModifyInfo(nullptr, 0, &r), -1);
  EXPECT_EQ(FLDelInfo(nullptr, 0), -1);
  FLClose(nullptr);
}

}  // namespace
