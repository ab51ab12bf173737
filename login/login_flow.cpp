#include "login/login_flow.h"

#include <mutex>

#include "platform/fs.h"
#include "service/svclink.h"
#include "utils/function.h"

namespace hv::login {

namespace {
std::mutex stateMutex;
LoginState state{};  // starts signed out with empty texts
}  // namespace

LoginState currentState() {
  std::lock_guard lock(stateMutex);
  return state;
}

void setState(const std::string& userId, const std::string& password, int32_t code) {
  std::lock_guard lock(stateMutex);
  copyField(state.userId, userId);
  copyField(state.password, password);
  state.state = code;
}

bool runLoginSequence(const std::string& userId, const std::string& password,
                      const LoginSettings& s) {
  NET_UserLogout();
  setState(userId, password, int32_t(LoginStateCode::SignedOut));
  if (NET_Initialize(s.proxyHost, s.proxyPort, s.proxyUser, s.proxyPassword,
                     proxyTypeCode(fieldText(s.proxyType))) != 0)
    return false;
  if (NET_RegionRecognize(userId.c_str(), s.regionHost, s.regionPort) != 0) return false;
  if (NET_UserAuthentication(userId.c_str(), password.c_str()) != 0) return false;
  setState(userId, password, int32_t(LoginStateCode::SignedIn));
  prepareUserFolder(userId);
  return true;
}

bool prepareUserFolder(const std::string& userId) {
  if (userId.empty() || userId == "." || userId == ".." || userId.find('/') != std::string::npos ||
      userId.find('\0') != std::string::npos)
    return false;
  std::string home = CFunction::GetExecutePath();
  std::string folder = home + userId;
  if (!fs::isDirectory(folder) && !fs::makeDirectories(folder)) return false;
  if (fs::resolveNoCase(folder + "/FRIENDS.DBF")) return true;
  auto tmpl = fs::resolveNoCase(home + "DATA/FRIENDS.DBF");
  return tmpl && fs::copyFile(*tmpl, folder + "/FRIENDS.DBF", /*overwrite=*/false);
}

}  // namespace hv::login
