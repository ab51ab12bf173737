#include "modules/kit/userfiles.h"

#include "platform/fs.h"

namespace hv::modkit {

std::optional<std::string> userFile(std::string_view userId, std::string_view name) {
  if (userId.empty() || userId == "." || userId == ".." ||
      userId.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) {
    return std::nullopt;
  }
  return fs::suiteHome() + std::string(userId) + "/" + std::string(name);
}

}  // namespace hv::modkit
