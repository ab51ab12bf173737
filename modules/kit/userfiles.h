#pragma once
// The signed-in user's own files: the folder named after the user id in the suite's home holds
// the friends table, the typing history "Setting.ini" and the modules' settings.
#include <optional>
#include <string>
#include <string_view>

#include "include/handvane/export.h"

namespace hv::modkit {

// home + userId + "/" + name; nullopt for an id that is not a plain folder name (empty, ".",
// "..", or holding "/" or a NUL), which never names a user's folder.
HV_EXPORT std::optional<std::string> userFile(std::string_view userId, std::string_view name);

// The typing history of the recipient boxes: the user's "Setting.ini".
inline constexpr char kHistoryFile[] = "Setting.ini";

}  // namespace hv::modkit
