#include "main/signon_services.h"

#include <cstring>

#include "include/handvane/records.h"
#include "login/signon.h"

namespace hv::launcher {

void bindSignon(LauncherServices& s) {
  s.login = [](const char* user, const char* password) { return LOGIN_Login(user, password); };
  s.loginState = [] { return LOGIN_GetState(nullptr); };
  s.signedInUser = [] {
    LoginState state{};
    LOGIN_GetState(&state);
    return std::string(state.userId, strnlen(state.userId, sizeof state.userId));
  };
  s.lastUserId = [] {
    char id[40] = {};
    LOGIN_GetLastUserId(id);
    return std::string(id, strnlen(id, sizeof id));
  };
}

}  // namespace hv::launcher
