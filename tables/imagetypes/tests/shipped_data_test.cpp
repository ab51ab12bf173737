// The shipped DATA folder agrees with itself and with the picture packer: every pair names a
// known model and picture type, every packed type has the size the packer requires and the
// message count it produces, every type has a fee, and the tables rebuild byte for byte.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/profile.h"
#include "tables/dbf/tests/testkit.h"
#include "tables/fees/feeconfig.h"
#include "tables/imagetypes/imgtable.h"
#include "tables/models/modelstore.h"

namespace {

using hv::T;

const std::string kData = std::string(HV_SOURCE_DIR) + "/shipped/DATA";

int ceilDiv(int a, int b) {
  return (a + b - 1) / b;
}

// The packer's formats: the size each requires (0 x 0: any size) and the number of short
// messages it makes of a w x h picture, worked out from its message layouts.
struct Format {
  int w, h;
  int (*messages)(int w, int h);
};
int one(int, int) {
  return 1;
}
int three(int, int) {
  return 3;
}
int six(int, int) {
  return 6;
}
// Siemens: a BMP object (62 + rows padded to 4 bytes) in 110-byte packets after a 30-byte header.
int siemens(int w, int h) {
  int row = (ceilDiv(w, 8) + 3) / 4 * 4, size = 62 + row * h;
  return 30 + size <= 140 ? 1 : ceilDiv(size, 110);
}
// Alcatel: a column bitmap object behind a 7-byte header, or 12 with concatenation.
int alcatel(int w, int h) {
  int size = 2 + w * ceilDiv(h, 8);
  return 7 + size <= 140 ? 1 : ceilDiv(size, 128);
}
const std::map<std::string, Format> kFormats = {
    {"nokia_op_logo", {72, 14, one}},
    {"nokia_cli_icon", {72, 14, one}},
    {"nokia_picture", {72, 28, three}},
    {"nokia_screensaver", {72, 28, three}},
    {"siemens_standard_operator", {0, 0, siemens}},
    {"siemens_3118_operator", {0, 0, siemens}},
    {"siemens_3118_screensaver", {0, 0, siemens}},
    {"siemens_screensaver", {0, 0, siemens}},
    {"siemens_cli", {0, 0, siemens}},
    {"alcatel_big_operator", {0, 0, alcatel}},
    {"alcatel_small_operator", {0, 0, alcatel}},
    {"alcatel_switch", {0, 0, alcatel}},
    {"ems_40_25_picture", {0, 0, one}},
    {"ems_72_14_picture", {0, 0, one}},
    {"ems_big_picture", {0, 0, one}},
    {"motorola_388_big", {96, 64, six}},
};

TEST(ShippedData, PictureTypesSuitThePacker) {
  ImageTable types(kData);
  std::set<std::string> keys, formatsSeen;
  for (const auto& r : types.records()) {
    std::string key = hv::fieldText(r.imagetype), module = hv::fieldText(r.modulepath);
    SCOPED_TRACE(key);
    EXPECT_TRUE(keys.insert(key).second) << "listed twice";
    EXPECT_GT(r.xscale, 0);
    EXPECT_GT(r.yscale, 0);
    // The preview must fit the phone picture's screen, 166 x 215 pixels.
    EXPECT_LE(r.picwidth * r.xscale / 100, 166);
    EXPECT_LE(r.picheight * r.yscale / 100, 215);
    if (module == "libLogopack.so") {
      auto f = kFormats.find(key);
      ASSERT_NE(f, kFormats.end()) << "not a format the packer knows";
      formatsSeen.insert(key);
      if (f->second.w) {
        EXPECT_EQ(r.picwidth, f->second.w);
        EXPECT_EQ(r.picheight, f->second.h);
      }
      if (key.rfind("ems_", 0) == 0) {
        EXPECT_EQ(r.picwidth % 8, 0);
        EXPECT_LE(r.picwidth / 8 * r.picheight, 134);
      }
      if (key.rfind("alcatel_", 0) == 0) {
        EXPECT_LT(std::max(r.picwidth, r.picheight), 256);
      }
      EXPECT_EQ(r.smscount, f->second.messages(r.picwidth, r.picheight));
      EXPECT_EQ(r.color, 1);
      EXPECT_STREQ(r.wtype, "SMS");
    } else {
      EXPECT_EQ(module, "INTERNAL_MODULE");
      std::string ft = hv::fieldText(r.filetype);
      EXPECT_TRUE(ft == "GIF" || ft == "JPG/GIF" || ft == "OEM" || ft == "JPG") << ft;
      EXPECT_GT(r.color, 1);
      EXPECT_STREQ(r.wtype, "WAP");
      EXPECT_EQ(r.smscount, 1);
    }
  }
  EXPECT_EQ(formatsSeen.size(), kFormats.size()) << "every format of the packer has a type";
  EXPECT_TRUE(keys.count("nokia_567_colorpicture"));
}

// The packer itself, loaded by the name the table gives, takes every type at its size and makes
// as many messages as the table says.
TEST(ShippedData, PackerTakesEveryPictureTypeAtItsSize) {
  const std::string library = std::string(HV_SUITE_DIR) + "/libLogopack.so";
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  using DoProcessFn = int (*)(char*, const char*, int, int, const unsigned char*);
  auto doProcess = reinterpret_cast<DoProcessFn>(dlsym(handle, "DoProcess"));
  ASSERT_NE(doProcess, nullptr);
  const std::string folder = *hv::fs::createTempDirectory({}, "packer");
  ImageTable types(kData);
  int packed = 0;
  for (const auto& r : types.records()) {
    if (hv::fieldText(r.modulepath) != "libLogopack.so") continue;
    const std::string key = hv::fieldText(r.imagetype);
    SCOPED_TRACE(key);
    // A checkerboard, so that every family has ink to pack.
    std::vector<unsigned char> pixels(size_t(r.picwidth) * size_t(r.picheight) * 3, 255);
    for (int y = 0; y < r.picheight; ++y)
      for (int x = 0; x < r.picwidth; ++x)
        if ((x + y) % 2) pixels[(size_t(y) * size_t(r.picwidth) + size_t(x)) * 3] = 0;
    char path[260] = {};
    std::strncpy(path, folder.c_str(), sizeof path - 1);
    ASSERT_EQ(doProcess(path, key.c_str(), r.picwidth, r.picheight, pixels.data()), 0);
    auto file = hv::fs::readFile(path);
    ASSERT_TRUE(file && file->size() >= 4);
    uint32_t count = 0;
    std::memcpy(&count, file->data(), 4);
    EXPECT_EQ(int(count), r.smscount);
    hv::fs::removeAll(path);
    ++packed;
  }
  EXPECT_EQ(packed, int(kFormats.size()));
  dlclose(handle);
  hv::fs::removeAll(folder);
}

TEST(ShippedData, ModelsTypesAndPairsAgree) {
  hv::tabletest::setHome(std::string(HV_SOURCE_DIR) + "/shipped/");
  ModelList* list = PLOpen();
  ASSERT_NE(list, nullptr);
  ImageTable types(kData);
  CPhone2Image pairs(kData);
  std::map<std::string, std::string> models;  // phone type -> model name
  for (int i = 0; i < PLGetCount(list); ++i) {
    hv::ModelRecord m{};
    ASSERT_EQ(PLGetInfo(list, i, &m), 0);
    EXPECT_TRUE(models.emplace(m.phonetype, m.modelname).second) << m.phonetype;
  }
  PLClose(list);
  EXPECT_GE(models.size(), 40u);
  std::set<std::string> names;
  for (const auto& [type, name] : models) {
    names.insert(name);
    EXPECT_EQ(pairs.IsPhoneTypeSupported(type), 1) << type;
  }
  EXPECT_TRUE(names.count(T("爱立信T68i")));
  EXPECT_TRUE(names.count(T("诺基亚7650")));

  for (const auto& p : pairs.rows()) {
    EXPECT_TRUE(models.count(p.phonetype)) << p.phonetype;
    hv::IMAGETYPE_INFO info{};
    ASSERT_EQ(types.GetImageTypeInfo(p.imagetype, &info), 1) << p.imagetype;
    EXPECT_TRUE(p.flashfit == "Y" || p.flashfit == "N");
    // Animations are sent as colour GIF files, so only colour picture types fit them.
    if (p.flashfit == "Y") {
      EXPECT_STREQ(info.modulepath, "INTERNAL_MODULE") << p.imagetype;
    }
  }
  // Every phone with a colour picture type can take animations.
  for (const auto& [type, name] : models) {
    std::vector<std::string> list, colour;
    pairs.GetImageType(type, list);
    if (types.GetColorMatchImageType(1, colour, list) > 0) {
      EXPECT_EQ(pairs.IsPhoneTypeSupportedForFlash(type), 1) << type;
    }
  }
  EXPECT_EQ(pairs.IsPhoneTypeSupportedForFlash("Nokia7650"), 1);
}

TEST(ShippedData, MakersListEveryModelOnce) {
  std::string ini = kData + "/phonecompany.ini";
  hv::tabletest::setHome(std::string(HV_SOURCE_DIR) + "/shipped/");
  ModelList* list = PLOpen();
  ASSERT_NE(list, nullptr);
  std::multiset<std::string> listed;
  int makers = hv::profile::getInt(ini, "COMPANY", "COUNT", 0);
  EXPECT_GE(makers, 8);
  for (int m = 1; m <= makers; ++m) {
    std::string maker = hv::profile::getString(ini, "COMPANY", "COMPANY" + std::to_string(m), "");
    ASSERT_FALSE(maker.empty());
    int count = hv::profile::getInt(ini, maker, "COUNT", 0);
    EXPECT_GT(count, 0) << maker;
    for (int i = 1; i <= count; ++i)
      listed.insert(hv::profile::getString(ini, maker, "PHONE" + std::to_string(i), ""));
  }
  EXPECT_EQ(int(listed.size()), PLGetCount(list));
  for (int i = 0; i < PLGetCount(list); ++i) {
    hv::ModelRecord r{};
    PLGetInfo(list, i, &r);
    EXPECT_EQ(listed.count(r.modelname), 1u) << r.modelname;
  }
  PLClose(list);
}

TEST(ShippedData, EveryContentKindHasAFee) {
  ImageTable types(kData);
  CFeeConfig fees;
  fees.Init(kData + "/confee.dll");
  EXPECT_FALSE(fees.ConstructFee("text", 1).empty());
  EXPECT_FALSE(fees.ConstructFee("flash", 1).empty());
  for (const auto& r : types.records())
    EXPECT_FALSE(fees.ConstructFee(r.imagetype, r.smscount).empty()) << r.imagetype;
  // One text message: the 0.1 per message charge and the free text service.
  EXPECT_EQ(fees.ConstructFee("text", 1), T("短信通信费：0.1元\n文字信息费：免费\n"));
}

TEST(ShippedData, TablesRebuildByteForByte) {
  hv::tabletest::TempDir out;
  std::string tool = std::string(HV_SUITE_DIR) + "/../tools/tablegen";
  std::string cmd = "'" + tool + "' '" + HV_SOURCE_DIR + "/tables/data' '" + out.path() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  for (const char* f :
       {"FRIENDS.DBF", "PHONE.DBF", "IMAGETYP.DBF", "PHONEIMA.DBF", "phonecompany.ini"}) {
    EXPECT_EQ(hv::tabletest::readAll(out / f), hv::tabletest::readAll(kData + "/" + f)) << f;
  }
}

}  // namespace
