#include "tables/models/modelstore.h"

#include <gtest/gtest.h>

#include "platform/gbk.h"
#include "tables/dbf/tests/testkit.h"
#include "tables/dbf/writer.h"

namespace {

using hv::ModelRecord;
using hv::T;
using hv::dbf::Field;
using hv::dbf::Value;
using hv::tabletest::TempDir;

// A home whose DATA/PHONE.DBF holds the given (type, name) rows.
class ModelsTest : public ::testing::Test {
 protected:
  void SetUp() override { hv::tabletest::setHome(home_.path()); }
  void writePhones(const std::vector<std::pair<std::string, std::string>>& phones) {
    ASSERT_TRUE(hv::fs::makeDirectories(home_ / "DATA"));
    std::vector<std::vector<Value>> rows;
    for (const auto& [type, name] : phones)
      rows.push_back({hv::dbf::textValue(type), hv::dbf::textValue(name)});
    Field t = hv::dbf::makeField("PHONETYPE", 'C', 24),
          n = hv::dbf::makeField("PHONENAME", 'C', 60);
    hv::dbf::createTable(home_ / "DATA/PHONE.DBF", {t, n}, rows, {2003, 9, 1});
  }
  TempDir home_;
};

TEST_F(ModelsTest, RecordsKeepTableOrderAndLeadingBlanks) {
  writePhones({{"Nokia7650", T("诺基亚7650")},
               {" T68  ", T("爱立信T68i")},
               {"Dup", "first"},
               {"Dup", "second"},
               {"ABCDEFGHIJKLMNOPQRSTUVW", std::string(55, 'x')}});
  ModelList* list = PLOpen();
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(PLGetCount(list), 5);
  ModelRecord r{};
  ASSERT_EQ(PLGetInfo(list, 1, &r), 0);
  EXPECT_STREQ(r.phonetype, " T68");
  EXPECT_EQ(hv::fieldText(r.modelname), T("爱立信T68i"));
  ASSERT_EQ(PLGetInfoWithPhoneType(list, "Dup", &r), 0);
  EXPECT_STREQ(r.modelname, "first");
  // Types are cut to 20 characters, names to 50.
  ASSERT_EQ(PLGetInfo(list, 4, &r), 0);
  EXPECT_STREQ(r.phonetype, "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(std::string(r.modelname), std::string(50, 'x'));
  EXPECT_EQ(PLGetInfoWithPhoneType(list, "nokia7650", &r), -1);
  EXPECT_EQ(PLGetInfoWithPhoneType(list, " T68", &r), 0);
  EXPECT_EQ(PLGetInfo(list, 5, &r), -1);
  EXPECT_EQ(PLGetInfo(list, -1, &r), -1);
  PLClose(list);
}

TEST_F(ModelsTest, EmptyTableGivesAnEmptyList) {
  writePhones({});
  ModelList* list = PLOpen();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(PLGetCount(list), 0);
  ModelRecord r{};
  EXPECT_EQ(PLGetInfo(list, 0, &r), -1);
  PLClose(list);
}

TEST_F(ModelsTest, MissingOrDamagedTableGivesNoList) {
  EXPECT_EQ(PLOpen(), nullptr);
  writePhones({{"a", "b"}});
  auto bytes = hv::tabletest::readAll(home_ / "DATA/PHONE.DBF");
  ASSERT_TRUE(
      hv::fs::writeFileAtomic(home_ / "DATA/PHONE.DBF", bytes.substr(0, bytes.size() - 30)));
  EXPECT_EQ(PLOpen(), nullptr);
  ModelRecord r{};
  EXPECT_EQ(PLGetCount(nullptr), -1);
  EXPECT_EQ(PLGetInfo(nullptr, 0, &r), -1);
  EXPECT_EQ(PLGetInfoWithPhoneType(nullptr, "a", &r), -1);
  PLClose(nullptr);
}

TEST_F(ModelsTest, FolderNameCaseDoesNotMatter) {
  ASSERT_TRUE(hv::fs::makeDirectories(home_ / "data"));
  hv::dbf::createTable(home_ / "data/phone.dbf",
                       {hv::dbf::makeField("PHONETYPE", 'C', 20), hv::dbf::makeField("N", 'C', 50)},
                       {{hv::dbf::textValue("Nokia3310"), hv::dbf::textValue(T("诺基亚3310"))}},
                       {2003, 9, 1});
  ModelList* list = PLOpen();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(PLGetCount(list), 1);
  PLClose(list);
}

}  // namespace
