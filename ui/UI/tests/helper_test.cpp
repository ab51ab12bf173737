// Recipient checks, saving a copy of a file and the service's web addresses.
#include "ui/UI/helper.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/tests/test_dir.h"
#include "ui/core/ui.h"

namespace {

std::string reasonFor(std::string_view sender, std::string_view recipient) {
  std::string reason = "stale";
  EXPECT_EQ(CHandvaneHelper::IsPhoneNumberSupport(sender, recipient, reason), 0) << recipient;
  EXPECT_EQ(reason.find_first_of("\r\n"), std::string::npos);
  return hv::gbkToUtf8Escaped(reason);
}

TEST(IsPhoneNumberSupport, AcceptsElevenDigitMobileNumbersFrom13To19) {
  for (const char* to : {"13000000000", "13800138000", "15912345678", "18600001111", "19999999999",
                         "13800138000" /* one's own number */}) {
    std::string reason = "stale";
    EXPECT_EQ(CHandvaneHelper::IsPhoneNumberSupport("13800138000", to, reason), 1) << to;
    EXPECT_EQ(reason, "");
  }
}

TEST(IsPhoneNumberSupport, RefusesWhatTheServiceCannotDeliverWithOneLineNamingTheNumber) {
  const char* from = "13800138000";
  EXPECT_EQ(reasonFor(from, "1380013800"), "1380013800：手机号码应为11位数字");
  EXPECT_EQ(reasonFor(from, "138001380001"), "138001380001：手机号码应为11位数字");
  EXPECT_EQ(reasonFor(from, "+8613800138000"), "+8613800138000：号码中含有非数字字符");
  EXPECT_EQ(reasonFor(from, "138 0013 800"), "138 0013 800：号码中含有非数字字符");
  EXPECT_EQ(reasonFor(from, "10086000000"), "10086000000：不是手机号码段（应以13至19开头）");
  EXPECT_EQ(reasonFor(from, "12345678901"), "12345678901：不是手机号码段（应以13至19开头）");
  EXPECT_EQ(reasonFor(from, "23800138000"), "23800138000：不是手机号码段（应以13至19开头）");
  EXPECT_EQ(reasonFor(from, ""), "接收方号码为空");
  // A full-width digit is not a digit to the service.
  EXPECT_EQ(reasonFor(from, hv::T("１3800138000")), "１3800138000：号码中含有非数字字符");
  // A very long entry is shown cut, so the line stays short.
  EXPECT_EQ(reasonFor(from, std::string(40, '1')), "11111111111111111111：手机号码应为11位数字");
}

TEST(IsPhoneNumberSupport, RefusesEveryRecipientWithoutAValidSender) {
  EXPECT_EQ(reasonFor("", "13800138000"), "尚未登录，没有发送方手机号码");
  EXPECT_EQ(reasonFor("1380013", "13800138000"), "发送方号码1380013无效：手机号码应为11位数字");
}

class SaveFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted_ = std::make_shared<hv::ui::ScriptedBackend>();
    hv::ui::setBackend(scripted_);
    source_ = dir_ / "logo.bmp";
    ASSERT_TRUE(hv::fs::writeFileAtomic(source_, "BM picture bytes"));
  }
  void TearDown() override { hv::ui::setBackend(nullptr); }
  TestDir dir_;
  std::string source_;
  std::shared_ptr<hv::ui::ScriptedBackend> scripted_;
};

TEST_F(SaveFileTest, CopiesToTheChosenNameAndKeepsTheOriginal) {
  const std::string target = dir_ / hv::T("我的图片.bmp");
  scripted_->fileAnswer(target);
  EXPECT_EQ(CHandvaneHelper::SaveFile(source_), 1);
  EXPECT_EQ(hv::fs::readFile(target).value_or(""), "BM picture bytes");
  EXPECT_EQ(hv::fs::readFile(source_).value_or(""), "BM picture bytes");
  EXPECT_TRUE(scripted_->boxes().empty());
}

TEST_F(SaveFileTest, CancelSavesNothingSilentlyAndAFailedCopyIsReported) {
  scripted_->fileAnswer(std::nullopt);
  EXPECT_EQ(CHandvaneHelper::SaveFile(source_), 0);
  EXPECT_TRUE(scripted_->boxes().empty());

  scripted_->fileAnswer(dir_ / "missing-folder/copy.bmp");
  EXPECT_EQ(CHandvaneHelper::SaveFile(source_), 0);
  ASSERT_EQ(scripted_->boxTexts(), std::vector<std::string>{"文件保存失败！"});
  EXPECT_EQ(scripted_->boxes()[0].icon, hv::ui::Icon::Stop);
}

TEST(WebPages, AllPagesHangBelowTheConfiguredBase) {
  setenv("HANDVANE_WEB_BASE", "http://127.0.0.1:18080/web", 1);
  EXPECT_EQ(CHandvaneHelper::WebBase(), "http://127.0.0.1:18080/web/");
  EXPECT_EQ(CHandvaneHelper::PageUrl("register.html"), "http://127.0.0.1:18080/web/register.html");
  std::vector<std::string> opened;
  CHandvaneHelper::SetUrlOpener([&](const std::string& u) {
    opened.push_back(u);
    return true;
  });
  EXPECT_EQ(CHandvaneHelper::OpenFeeLink(), 1);
  CHandvaneHelper::SetUrlOpener([](const std::string&) { return false; });
  EXPECT_EQ(CHandvaneHelper::OpenPage("password.html"), 0);
  CHandvaneHelper::SetUrlOpener({});
  unsetenv("HANDVANE_WEB_BASE");
  EXPECT_EQ(opened, std::vector<std::string>{"http://127.0.0.1:18080/web/fee.html"});
}

}  // namespace
