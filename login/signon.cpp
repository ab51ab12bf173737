#include "login/signon.h"

#include <string>

#include "login/login_dialog.h"
#include "login/login_flow.h"
#include "login/login_settings.h"
#include "platform/gbk.h"
#include "ui/core/ui.h"

using hv::login::LoginDialog;
using hv::login::LoginSettings;

namespace {

std::string orEmpty(const char* s) {
  return s ? std::string(s) : std::string();
}

void keepCredentials(LoginSettings& s, const std::string& userId, const std::string& password) {
  hv::copyField(s.lastUserId, userId);
  hv::copyField(s.lastPassword, password);
}

}  // namespace

HV_EXTERN_C int LOGIN_Login(const char* userIdArg, const char* passwordArg) {
  const std::string path = hv::login::settingsPath();
  auto loaded = hv::login::loadSettings(path, /*createIfMissing=*/true);
  // Unreadable settings behave as empty ones, and nothing is saved over them.
  LoginSettings settings = loaded ? *loaded : LoginSettings{};
  std::string userId = orEmpty(userIdArg), password = orEmpty(passwordArg);
  std::string lastId = hv::fieldText(settings.lastUserId);
  std::string lastPassword = hv::fieldText(settings.lastPassword);

  bool silent = false;
  if (userId.empty() && settings.autoLogin && !lastId.empty() && !lastPassword.empty()) {
    userId = lastId;
    password = lastPassword;
    silent = true;
  } else if (!userId.empty() && !password.empty()) {
    silent = true;
  }

  if (silent) {
    if (hv::login::runLoginSequence(userId, password, settings) && loaded) {
      keepCredentials(settings, userId, password);
      hv::login::saveSettings(path, settings);
    }
    return hv::login::currentState().state;
  }

  LoginDialog dialog(settings, userId.empty() ? lastId : userId);
  hv::ui::backend().runModal(dialog);
  if (dialog.outcome() == LoginDialog::kSignedIn) {
    LoginSettings saved = dialog.settings();
    hv::copyField(saved.rememberedIds,
                  hv::login::rememberId(hv::fieldText(saved.rememberedIds), dialog.typedId()));
    keepCredentials(saved, dialog.typedId(), dialog.typedPassword());
    if (loaded) hv::login::saveSettings(path, saved);
  } else if (dialog.outcome() == LoginDialog::kWorkOffline) {
    hv::login::setState(dialog.typedId(), "", int32_t(hv::LoginStateCode::Offline));
  }
  return hv::login::currentState().state;
}

HV_EXTERN_C int LOGIN_GetState(hv::LoginState* out) {
  hv::LoginState s = hv::login::currentState();
  if (out) *out = s;
  return s.state;
}

HV_EXTERN_C int LOGIN_GetLastUserId(char* out) {
  if (!out) return 0;
  auto s = hv::login::loadSettings(hv::login::settingsPath(), /*createIfMissing=*/false);
  hv::copyField(out, 40, s ? hv::fieldText(s->lastUserId) : std::string());
  return 0;
}
