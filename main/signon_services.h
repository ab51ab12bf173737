#pragma once
// The launcher's sign-in services bound to the login library (LOGIN_Login, LOGIN_GetState,
// LOGIN_GetLastUserId).
#include "main/launcher.h"

namespace hv::launcher {

void bindSignon(LauncherServices& services);

}  // namespace hv::launcher
