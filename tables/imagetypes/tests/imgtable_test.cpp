#include "tables/imagetypes/imgtable.h"

#include <gtest/gtest.h>

#include "platform/gbk.h"
#include "tables/dbf/tests/testkit.h"
#include "tables/dbf/writer.h"

namespace {

using hv::IMAGETYPE_INFO;
using hv::T;
using hv::dbf::Field;
using hv::dbf::Value;
using hv::tabletest::TempDir;
using List = std::vector<std::string>;

struct Type {
  std::string key, name;
  int w, h, color;
  std::string filetype = "BMP";
};

// A data folder with the two tables made from these rows.
class ImageTablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<Type> types = {
        {"nokia_op_logo", T("运营商图标"), 72, 14, 1},
        {"nokia_picture", T("图片短信"), 72, 28, 1},
        {"motorola_388_big", "moto", 96, 64, 1},
        {"colour_128", T("彩图"), 128, 128, 8},
        {"second_72x28", "second", 72, 28, 1},
        {"long_filetype", "long", 10, 10, 24, std::string(30, 'F')},
    };
    std::vector<std::vector<Value>> rows;
    for (const auto& t : types) {
      rows.push_back({hv::dbf::textValue("  " + t.key + " "), hv::dbf::textValue(" " + t.name),
                      hv::dbf::textValue(std::to_string(t.w)),
                      hv::dbf::textValue(std::to_string(t.h)), hv::dbf::textValue("200"),
                      hv::dbf::textValue("150"), hv::dbf::textValue("3"), hv::dbf::textValue("4"),
                      hv::dbf::textValue(std::to_string(t.color)), hv::dbf::textValue("logo.bmp"),
                      hv::dbf::textValue("libLogopack.so"), hv::dbf::textValue("SMS"),
                      hv::dbf::textValue(t.filetype), hv::dbf::textValue("2")});
    }
    hv::dbf::createTable(
        dir_ / "IMAGETYP.DBF",
        {hv::dbf::makeField("IMAGETYPE", 'C', 43), hv::dbf::makeField("IMAGENAME", 'C', 43),
         hv::dbf::makeField("PICWIDTH", 'N', 5), hv::dbf::makeField("PICHEIGHT", 'N', 5),
         hv::dbf::makeField("XSCALE", 'N', 5), hv::dbf::makeField("YSCALE", 'N', 5),
         hv::dbf::makeField("X0", 'N', 5), hv::dbf::makeField("Y0", 'N', 5),
         hv::dbf::makeField("COLOR", 'N', 3), hv::dbf::makeField("FILEPATH", 'C', 103),
         hv::dbf::makeField("MODULEPATH", 'C', 103), hv::dbf::makeField("WTYPE", 'C', 3),
         hv::dbf::makeField("FILETYPE", 'C', 40), hv::dbf::makeField("SMSCOUNT", 'N', 3)},
        rows, {2003, 9, 1});
    hv::dbf::createTable(
        dir_ / "PHONEIMA.DBF",
        {hv::dbf::makeField("PHONETYPE", 'C', 20), hv::dbf::makeField("IMAGETYPE", 'C', 43),
         hv::dbf::makeField("FLASHFIT", 'C', 1)},
        {{hv::dbf::textValue("Nokia7650"), hv::dbf::textValue("nokia_op_logo"),
          hv::dbf::textValue("N")},
         {hv::dbf::textValue("Nokia7650"), hv::dbf::textValue("colour_128"),
          hv::dbf::textValue("y")},
         {hv::dbf::textValue("Motorola388"), hv::dbf::textValue("motorola_388_big"),
          hv::dbf::textValue("N")},
         {hv::dbf::textValue("Nokia3310"), hv::dbf::textValue("nokia_op_logo"),
          hv::dbf::textValue("")},
         {hv::dbf::textValue("\x81\x41"), hv::dbf::textValue("nokia_picture"),
          hv::dbf::textValue("Y")}},
        {2003, 9, 1});
  }
  TempDir dir_;
};

TEST_F(ImageTablesTest, RecordsAreTrimmedCutAndConverted) {
  ImageTable table(dir_.path());
  ASSERT_EQ(table.records().size(), 6u);
  IMAGETYPE_INFO info{};
  ASSERT_EQ(table.GetImageTypeInfo("nokia_picture", &info), 1);
  EXPECT_STREQ(info.imagetype, "nokia_picture");
  EXPECT_EQ(hv::fieldText(info.imagename), T("图片短信"));
  EXPECT_EQ(info.picwidth, 72);
  EXPECT_EQ(info.picheight, 28);
  EXPECT_EQ(info.xscale, 200);
  EXPECT_EQ(info.yscale, 150);
  EXPECT_EQ(info.x0, 3);
  EXPECT_EQ(info.y0, 4);
  EXPECT_EQ(info.color, 1);
  EXPECT_STREQ(info.modulepath, "libLogopack.so");
  EXPECT_STREQ(info.wtype, "SMS");
  EXPECT_EQ(info.smscount, 2);
  ASSERT_EQ(table.GetImageTypeInfo("long_filetype", &info), 1);
  EXPECT_EQ(std::string(info.filetype), std::string(23, 'F'));
  std::string name;
  EXPECT_EQ(table.GetImageNameByType("motorola_388_big", name), 1);
  EXPECT_EQ(name, "moto");
  EXPECT_EQ(table.GetImageTypeInfo("NOKIA_PICTURE", &info), 0);
  EXPECT_EQ(table.GetImageNameByType("missing", name), 0);
}

TEST_F(ImageTablesTest, SizeColourAndShapeMatches) {
  ImageTable table(dir_.path());
  List out{"stale"};
  EXPECT_EQ(table.GetImageTypeBySize({72, 28}, out), 2);
  EXPECT_EQ(out, (List{"nokia_picture", "second_72x28"}));
  std::string name;
  EXPECT_EQ(
      table.GetSizeMatchImageType({72, 28}, name, {"missing", "second_72x28", "nokia_picture"}), 1);
  EXPECT_EQ(name, "second");
  EXPECT_EQ(table.GetSizeMatchImageType({1, 1}, name, {"nokia_picture"}), -1);

  EXPECT_EQ(table.GetColorMatchImageType(1, out, {"nokia_picture", "colour_128", "missing"}), 1);
  EXPECT_EQ(out, (List{"colour_128"}));
  EXPECT_EQ(table.GetColorMatchImageType(0, out, {"nokia_picture", "colour_128"}), 1);
  EXPECT_EQ(out, (List{"nokia_picture"}));

  // 100 x 50 against 72 x 14 (r = 0.39), 72 x 28 (r = 0.78) and 96 x 64 (r = 0.75).
  EXPECT_EQ(table.GetBiliMatchImageType({100, 50}, name,
                                        {"nokia_op_logo", "nokia_picture", "motorola_388_big"}),
            1);
  EXPECT_EQ(name, T("图片短信"));
  // An equal distance does not replace the earlier candidate.
  EXPECT_EQ(
      table.GetBiliMatchImageType({72, 28}, name, {"missing", "nokia_picture", "second_72x28"}), 1);

  List missing{"a", "b"};
  EXPECT_EQ(table.GetSizeMatchImageType({72, 28}, name, missing), -1);
  EXPECT_EQ(table.GetBiliMatchImageType({72, 28}, name, missing), -1);
  EXPECT_EQ(table.GetColorMatchImageType(0, out, missing), 0);
  EXPECT_TRUE(out.empty());
}

TEST_F(ImageTablesTest, PhoneLookupsIgnoreLetterCaseButNotDoubleByteCharacters) {
  CPhone2Image phones(dir_.path());
  List out{"kept"};
  EXPECT_EQ(phones.GetImageType("nokia7650", out), 1);
  EXPECT_EQ(out, (List{"kept", "nokia_op_logo", "colour_128"}));
  List flash;
  EXPECT_EQ(phones.GetImageTypeForFlash("NOKIA7650", flash), 1);
  EXPECT_EQ(flash, (List{"colour_128"}));
  EXPECT_EQ(phones.IsPhoneTypeSupportedForFlash("Nokia7650"), 1);
  EXPECT_EQ(phones.IsPhoneTypeSupportedForFlash("Nokia3310"), 0);
  EXPECT_EQ(phones.IsPhoneTypeSupported("nokia3310"), 1);
  EXPECT_EQ(phones.IsPhoneTypeSupported("Nokia6610"), 0);
  List none;
  EXPECT_EQ(phones.GetImageType("Nokia6610", none), 0);
  List owners;
  EXPECT_EQ(phones.GetPhoneType("NOKIA_OP_LOGO", owners), 1);
  EXPECT_EQ(owners, (List{"Nokia7650", "Nokia3310"}));
  // 0x81 0x41 is one GBK character; its trail byte is not the letter "A".
  EXPECT_EQ(phones.IsPhoneTypeSupported("\x81\x41"), 1);
  EXPECT_EQ(phones.IsPhoneTypeSupported("\x81\x61"), 0);
}

TEST_F(ImageTablesTest, UnreadableTablesThrowTheLayersReason) {
  std::string bytes = hv::tabletest::readAll(dir_ / "IMAGETYP.DBF");
  ASSERT_TRUE(hv::fs::writeFileAtomic(dir_ / "IMAGETYP.DBF", bytes.substr(0, bytes.size() / 2)));
  try {
    ImageTable table(dir_.path());
    FAIL() << "no exception";
  } catch (const DbfException& e) {
    EXPECT_EQ(e.message(), "table IMAGETYP: the file is shorter than its records");
    char buffer[200];
    EXPECT_TRUE(e.GetErrorMessage(buffer, sizeof buffer));
    EXPECT_EQ(std::string(buffer), T("手机图片型号模块:") + e.message());
    // Cut to the buffer: 9 bytes hold four characters of the prefix and the NUL.
    char small[10];
    EXPECT_TRUE(e.GetErrorMessage(small, sizeof small));
    EXPECT_EQ(std::string(small), T("手机图片"));
  }
  hv::fs::removeFile(dir_ / "PHONEIMA.DBF");
  EXPECT_THROW(CPhone2Image phones(dir_.path()), DbfException);
  try {
    CPhone2Image phones(dir_ / "no-such-folder");
    FAIL() << "no exception";
  } catch (const DbfException& e) {
    EXPECT_LE(e.message().size(), 99u);
    EXPECT_NE(e.message().find("does not exist"), std::string::npos) << e.message();
  }
}

}  // namespace
