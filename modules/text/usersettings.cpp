#include "modules/text/usersettings.h"

#include "modules/kit/userfiles.h"
#include "modules/text/core/splitting.h"
#include "platform/gbk.h"
#include "platform/profile.h"

namespace hv::textport {

std::string signatureOf(std::string_view text) {
  return std::string(gbkCut(text, kSignatureBytes));
}

std::string loadSignature(std::string_view userId) {
  auto path = modkit::userFile(userId, kUserSettingsFile);
  if (!path) return {};
  const std::string value =
      signatureOf(profile::getString(*path, kSignatureSection, kSignatureKey, ""));
  if (!gbkToUtf8(value)) return {};
  for (char c : value) {
    if (static_cast<unsigned char>(c) < 0x20) return {};
  }
  return value;
}

bool storeSignature(std::string_view userId, std::string_view signature) {
  auto path = modkit::userFile(userId, kUserSettingsFile);
  if (!path) return false;
  return profile::writeString(*path, kSignatureSection, kSignatureKey, signatureOf(signature));
}

}  // namespace hv::textport
