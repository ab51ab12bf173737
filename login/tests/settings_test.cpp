// The remembered-id list and the proxy type texts of the login settings.
#include <gtest/gtest.h>

#include "login/login_settings.h"

namespace {

using namespace hv::login;

TEST(RememberedIds, EntriesAreComparedWhole) {
  EXPECT_TRUE(isRemembered("13800138000;", "13800138000"));
  EXPECT_FALSE(isRemembered("13800138000;", "138"));
  EXPECT_FALSE(isRemembered("13800138000;", "8000"));
  EXPECT_FALSE(isRemembered("", "138"));
  EXPECT_EQ(rememberId("13800138000;", "138"), "13800138000;138;");
  EXPECT_EQ(rememberId("13800138000;138;", "138"), "13800138000;138;");
  EXPECT_EQ(rememberId("", "13800138000"), "13800138000;");
  EXPECT_EQ(rememberId("a;", ""), "a;");
}

TEST(RememberedIds, AFullListDropsTheOldestWholeEntries) {
  // 21 entries of 12 bytes: 252 bytes, 3 short of the 255 that fit.
  std::string list;
  for (int i = 0; i < 21; ++i) list += "1380000" + std::to_string(1000 + i) + ";";
  ASSERT_EQ(list.size(), 252u);
  std::string next = rememberId(list, "13900000000");
  EXPECT_EQ(next.size(), 252u);
  EXPECT_EQ(next, list.substr(12) + "13900000000;");
  EXPECT_EQ(rememberedIds(next).front(), "13800001001");

  // Dropping one short entry is not enough when the new id is long: two go.
  std::string mixed = "1;2;" + list.substr(0, 240) + "12345678;";
  ASSERT_EQ(mixed.size(), 253u);
  EXPECT_EQ(rememberId(mixed, "1234"), list.substr(0, 240) + "12345678;1234;");
  EXPECT_EQ(rememberId("", std::string(255, '9')), "") << "cannot fit even alone";
}

TEST(ProxyType, SockTextsInAnyCase) {
  EXPECT_EQ(proxyTypeCode("SOCK4"), 1);
  EXPECT_EQ(proxyTypeCode("sock5"), 2);
  EXPECT_EQ(proxyTypeCode("Sock5"), 2);
  EXPECT_EQ(proxyTypeCode(""), 0);
  EXPECT_EQ(proxyTypeCode("SOCKS5"), 0);
  EXPECT_EQ(proxyTypeCode("HTTP"), 0);
}

TEST(DefaultSettings, NameTheLocalDeliveryService) {
  LoginSettings s = defaultSettings();
  EXPECT_STREQ(s.regionHost, "127.0.0.1");
  EXPECT_EQ(s.regionPort, 17001);
  EXPECT_STREQ(s.rememberedIds, "");
  EXPECT_EQ(s.autoLogin, 0);
}

}  // namespace
