#pragma once
// The web site's page texts and the one escaping rule every dynamic text goes through.
#include <cstdint>
#include <string>
#include <string_view>

namespace hv::service::web {

// &, <, >, " and ' as entities; with `lines`, a LF becomes <br> and a CR is dropped. Control
// characters other than LF and tab are shown as U+FFFD.
std::string escape(std::string_view utf8, bool lines = false);

// A whole page: title, the site's navigation, the body (already HTML). With `pollUrl`, the
// page's script asks that address every 1.5 s and reloads when the answer differs from `last`.
std::string page(const std::string& title, const std::string& body, const std::string& pollUrl = {},
                 int64_t last = 0);

std::string homePage();
std::string helpPage();
// The forms, with the number typed so far and an error text (both escaped here).
std::string registerPage(const std::string& number, const std::string& error);
std::string recoverPage(const std::string& number, const std::string& error);

extern const char kStyle[];
extern const char kPhoneScript[];

}  // namespace hv::service::web
