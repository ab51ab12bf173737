#include "service-server/web/html.h"

namespace hv::service::web {

std::string escape(std::string_view s, bool lines) {
  std::string out;
  out.reserve(s.size() + 16);
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '\r':
        if (!lines) out += "\xEF\xBF\xBD";
        break;
      case '\n':
        out += lines ? "<br>" : "\xEF\xBF\xBD";
        break;
      case '\t':
        out += c;
        break;
      default:
        if (uint8_t(c) < 0x20 || c == 0x7F)
          out += "\xEF\xBF\xBD";
        else
          out += c;
    }
  }
  return out;
}

std::string page(const std::string& title, const std::string& body, const std::string& pollUrl,
                 int64_t last) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width\">"
      "<link rel=\"stylesheet\" href=\"/static/site.css\"><title>" +
      escape(title) + " - Lumoi</title>";
  if (!pollUrl.empty()) out += "<script src=\"/static/phone.js\" defer></script>";
  out += "</head><body";
  if (!pollUrl.empty())
    out += " data-poll=\"" + escape(pollUrl) + "\" data-last=\"" + std::to_string(last) + "\"";
  out +=
      "><header><a class=\"brand\" href=\"/\">Lumoi 短信服务</a><nav>"
      "<a href=\"/register.asp\">新用户注册</a><a href=\"/forgetpass.asp\">找回密码</a>"
      "<a href=\"/service.asp\">帮助</a><a href=\"/inc/service/zfsm.asp\">资费说明</a>"
      "<a href=\"/download.asp\">下载</a><a "
      "href=\"/phone/\">虚拟手机</a></nav></header><main><h1>" +
      escape(title) + "</h1>" + body + "</main></body></html>\n";
  return out;
}

std::string homePage() {
  return page("欢迎使用 Lumoi",
              "<p>用 Lumoi 客户端把文字、图片、动画和铃声发送到手机。</p>"
              "<ul><li><a href=\"/register.asp\">注册新用户</a>：手机号就是您的用户名。</li>"
              "<li><a href=\"/forgetpass.asp\">忘记密码</a>：新密码会以短信发到您的手机。</li>"
              "<li><a href=\"/inc/service/zfsm.asp\">资费说明</a></li>"
              "<li><a href=\"/phone/\">虚拟手机</a>：查看每个号码收到的消息。</li></ul>");
}

std::string helpPage() {
  return page("帮助",
              "<h2>如何开始</h2><ol><li>在本网站<a href=\"/register.asp\">注册</a>，"
              "用户名是您的手机号。</li><li>在 Lumoi 客户端的登录窗口输入手机号和密码。</li>"
              "<li>打开文字、图片或动画模块，选择接收的手机和手机型号后发送。</li></ol>"
              "<h2>常见问题</h2><p>登录失败：请检查手机号和密码；忘记密码可以"
              "<a href=\"/forgetpass.asp\">找回</a>。</p><p>发送的内容可以在"
              "<a href=\"/phone/\">虚拟手机</a>上查看。</p>");
}

namespace {
std::string form(const char* action, const std::string& number, const std::string& error,
                 bool passwords, const char* button) {
  std::string out;
  if (!error.empty()) out += "<p class=\"error\" id=\"error\">" + escape(error) + "</p>";
  out += std::string("<form method=\"post\" action=\"") + action +
         "\" accept-charset=\"utf-8\"><label>手机号：<input name=\"phone\" id=\"phone\" "
         "inputmode=\"numeric\" maxlength=\"19\" value=\"" +
         escape(number) + "\"></label>";
  if (passwords)
    out +=
        "<label>密码：<input type=\"password\" name=\"password\" id=\"password\"></label>"
        "<label>确认密码：<input type=\"password\" name=\"password2\" id=\"password2\"></label>";
  out += std::string("<button type=\"submit\" id=\"submit\">") + button + "</button></form>";
  return out;
}
}  // namespace

std::string registerPage(const std::string& number, const std::string& error) {
  return page("新用户注册", "<p>手机号就是您的用户名，注册后即可登录客户端。</p>" +
                                form("/register.asp", number, error, true, "注册"));
}

std::string recoverPage(const std::string& number, const std::string& error) {
  return page("找回密码", "<p>输入注册时的手机号，新密码将以短信发送到这个手机。</p>" +
                              form("/forgetpass.asp", number, error, false, "发送新密码"));
}

const char kStyle[] =
    R"(body{font-family:"WenQuanYi Micro Hei",sans-serif;margin:0;background:#f3f4f1;color:#222}
header{background:#2d5d7b;color:#fff;padding:8px 16px}header a{color:#fff;margin-right:14px;text-decoration:none}
.brand{font-weight:bold}main{padding:8px 16px}form label{display:block;margin:8px 0}
.error{color:#b00}.ok{color:#070}table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:3px 8px}
.phone{width:360px;background:#333;border-radius:24px;padding:28px 16px}
.screen{background:#c9d7b3;min-height:300px;padding:8px;border-radius:4px}
.msg{background:#fff;border-radius:6px;margin:0 0 10px;padding:6px}.meta{font-size:12px;color:#555}
.model{color:#2d5d7b}.kind{font-size:12px;color:#2d5d7b;font-weight:bold}
.kind-1 .text{background:#ffe;border:2px dashed #d80;padding:4px}.text{white-space:normal;word-wrap:break-word}
.lcd{image-rendering:pixelated;background:#fff;border:1px solid #888;display:block}
.colour{max-width:320px;display:block}.notes span{font-family:monospace}.problem{color:#b00}
.hex{font-size:11px;background:#eee;white-space:pre-wrap;word-break:break-all}
)";

const char kPhoneScript[] = R"((function () {
  var b = document.body, url = b.dataset.poll, last = b.dataset.last;
  window.scrollTo(0, document.body.scrollHeight);
  function poll() {
    fetch(url, {cache: "no-store"}).then(function (r) { return r.text(); }).then(function (t) {
      if (t.trim() !== last) location.reload(); else setTimeout(poll, 1500);
    }).catch(function () { setTimeout(poll, 3000); });
  }
  setTimeout(poll, 1500);
})();
)";

}  // namespace hv::service::web
