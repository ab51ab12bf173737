#include "ui/UI/helper.h"

#include <QDesktopServices>
#include <QUrl>
#include <mutex>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/web.h"
#include "ui/core/ui.h"
#include "ui/qt/qtbackend.h"
#include "ui/qt/qtext.h"

namespace {

constexpr size_t kNumberLength = 11;
constexpr size_t kShownNumberBytes = 20;

std::mutex openerMutex;
std::function<bool(const std::string&)>& opener() {
  static auto* o = new std::function<bool(const std::string&)>;
  return *o;
}

// Empty when the number is one the service delivers to or from; else why not.
std::string numberProblem(std::string_view n) {
  for (char c : n) {
    if (c < '0' || c > '9') return hv::T("号码中含有非数字字符");
  }
  if (n.size() != kNumberLength) return hv::T("手机号码应为11位数字");
  if (n[0] != '1' || n[1] < '3') return hv::T("不是手机号码段（应以13至19开头）");
  return {};
}

std::string shown(std::string_view number) {
  return std::string(hv::gbkCut(number, kShownNumberBytes));
}

}  // namespace

int CHandvaneHelper::IsPhoneNumberSupport(std::string_view sender, std::string_view recipient,
                                          std::string& reason) {
  reason.clear();
  if (sender.empty()) {
    reason = hv::T("尚未登录，没有发送方手机号码");
    return 0;
  }
  if (auto p = numberProblem(sender); !p.empty()) {
    reason = hv::T("发送方号码") + shown(sender) + hv::T("无效：") + p;
    return 0;
  }
  if (recipient.empty()) {
    reason = hv::T("接收方号码为空");
    return 0;
  }
  if (auto p = numberProblem(recipient); !p.empty()) {
    reason = shown(recipient) + hv::T("：") + p;
    return 0;
  }
  return 1;
}

int CHandvaneHelper::SaveFile(std::string_view path) {
  if (!hv::fs::exists(path)) {
    hv::ui::messageBox(hv::T("要保存的文件不存在！"), hv::T("保存文件"), hv::ui::Icon::Stop);
    return 0;
  }
  const size_t slash = path.rfind('/');
  std::string name(slash == std::string_view::npos ? path : path.substr(slash + 1));
  std::string ext = hv::fs::extensionOf(path);
  std::string filter;
  if (!ext.empty()) filter = ext + hv::T("文件") + "|*." + ext + "|";
  filter += hv::T("所有文件") + "|*.*||";
  auto target = hv::ui::backend().saveFile(filter, hv::T("另存为"), name);
  if (!target) return 0;
  if (*target == path) return 1;
  if (!hv::fs::copyFile(path, *target, true)) {
    hv::ui::messageBox(hv::T("文件保存失败！"), hv::T("保存文件"), hv::ui::Icon::Stop);
    return 0;
  }
  return 1;
}

std::string CHandvaneHelper::WebBase() {
  return hv::web::base();
}

std::string CHandvaneHelper::PageUrl(std::string_view page) {
  return hv::web::pageUrl(page);
}

int CHandvaneHelper::OpenPage(std::string_view page) {
  return OpenUrl(PageUrl(page));
}

int CHandvaneHelper::OpenFeeLink() {
  return OpenPage("fee.html");
}

int CHandvaneHelper::OpenUrl(std::string_view url) {
  std::function<bool(const std::string&)> o;
  {
    std::lock_guard lock(openerMutex);
    o = opener();
  }
  const std::string u(url);
  if (o) return o(u) ? 1 : 0;
  bool ok = false;
  hv::ui::qt::runOnGui([&] { ok = QDesktopServices::openUrl(QUrl(hv::ui::qt::toQ(u))); });
  return ok ? 1 : 0;
}

void CHandvaneHelper::SetUrlOpener(std::function<bool(const std::string&)> o) {
  std::lock_guard lock(openerMutex);
  opener() = std::move(o);
}
