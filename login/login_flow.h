#pragma once
// The login sequence through the service client and the process-wide login state.
#include <string>

#include "include/handvane/export.h"
#include "include/handvane/records.h"
#include "login/login_settings.h"

namespace hv::login {

// A copy of the state block (guarded: modules ask from their own threads).
HV_EXPORT LoginState currentState();
// Replaces the state block; texts are cut to their fields.
HV_EXPORT void setState(const std::string& userId, const std::string& password, int32_t state);

// NET_UserLogout, NET_Initialize with the settings' proxy, NET_RegionRecognize with the settings'
// region server, NET_UserAuthentication. The state block holds the id and password being tried
// with state 0 first and state 2 on success, which also prepares the user's folder. True on
// success; failures of the service are not told apart.
HV_EXPORT bool runLoginSequence(const std::string& userId, const std::string& password,
                                const LoginSettings& settings);

// The user's own folder below the suite's home, created when missing, with a copy of the template
// "DATA/FRIENDS.DBF" when it holds no friends table (an existing one is never replaced). An id
// that is not a plain folder name (empty, ".", "..", or holding "/") gets no folder. False when
// the folder or the copy could not be made; callers ignore it.
HV_EXPORT bool prepareUserFolder(const std::string& userId);

}  // namespace hv::login
