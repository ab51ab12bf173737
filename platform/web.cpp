#include "platform/web.h"

#include <cstdlib>

#include "platform/fs.h"
#include "platform/profile.h"

namespace hv::web {

std::string base() {
  std::string b;
  if (const char* env = std::getenv("HANDVANE_WEB_BASE"); env && *env) {
    b = env;
  } else if (auto ini = fs::resolveNoCase(fs::suiteHome() + "DATA/web.ini")) {
    b = profile::getString(*ini, "Web", "Base", "");
  }
  if (b.empty()) b = "http://127.0.0.1:8080/";
  if (b.back() != '/') b += '/';
  return b;
}

std::string pageUrl(std::string_view page) {
  return base() + std::string(page);
}

}  // namespace hv::web
