#pragma once
// The text module's settings of the signed-in user: the signature, "QIANMING" in section
// "TEXTPORT" of the user's "usercfg.dat" (a profile file in the user's folder).
#include <string>
#include <string_view>

namespace hv::textport {

inline constexpr char kUserSettingsFile[] = "usercfg.dat";
inline constexpr char kSignatureSection[] = "TEXTPORT";
inline constexpr char kSignatureKey[] = "QIANMING";

// The stored signature, kept to what the signature box takes (20 bytes, whole characters). A value
// that is not GBK text reads as no signature. Empty when the user has no folder or no file.
std::string loadSignature(std::string_view userId);
// Stores the signature (also an empty one); false when the user has no folder or the file could
// not be written (the old file then stays as it was).
bool storeSignature(std::string_view userId, std::string_view signature);

// The text cut to the signature's 20 bytes on a character boundary.
std::string signatureOf(std::string_view text);

}  // namespace hv::textport
