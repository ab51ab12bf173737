#pragma once
// The remembered login settings: record 0 of the enciphered record file "DATA/logincfg.dat".
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/export.h"

namespace hv::login {

// 980 bytes, copied whole; texts NUL-terminated and zero-filled, integers little-endian.
struct LoginSettings {
  char rememberedIds[256];  // every id that signed in here, each followed by ";", oldest first
  char lastUserId[40];
  char lastPassword[40];
  uint8_t autoLogin;   // 0 or 1
  char proxyType[40];  // "SOCK4", "SOCK5" or empty: no proxy
  char proxyHost[256];
  char reserved[3];
  int32_t proxyPort;
  char proxyUser[40];
  char proxyPassword[40];
  char regionHost[256];  // never shown: comes from the shipped file
  int32_t regionPort;
};
static_assert(sizeof(LoginSettings) == 980);
static_assert(offsetof(LoginSettings, autoLogin) == 336 &&
              offsetof(LoginSettings, proxyType) == 337 &&
              offsetof(LoginSettings, proxyHost) == 377 &&
              offsetof(LoginSettings, proxyPort) == 636 &&
              offsetof(LoginSettings, proxyUser) == 640 &&
              offsetof(LoginSettings, regionHost) == 720 &&
              offsetof(LoginSettings, regionPort) == 976);

// The local delivery service that the run command starts (handvane-service's shipped region port).
inline constexpr char kDefaultRegionHost[] = "127.0.0.1";
inline constexpr int32_t kDefaultRegionPort = 17001;

// Empty settings naming the default region server.
HV_EXPORT LoginSettings defaultSettings();

// "DATA/logincfg.dat" below the suite's home (the DATA folder found whatever its case).
HV_EXPORT std::string settingsPath();

// Record 0 of the file. When the file is missing and createIfMissing is set, it is first created
// holding defaultSettings(). nullopt when the file cannot be opened or read.
HV_EXPORT std::optional<LoginSettings> loadSettings(const std::string& path, bool createIfMissing);
// Writes record 0 (appending it to a file without records); false when the file cannot be opened
// or the record not written.
HV_EXPORT bool saveSettings(const std::string& path, const LoginSettings& settings);
// Creates the file with the default record; false when it exists or cannot be written.
HV_EXPORT bool createDefaultSettingsFile(const std::string& path);

// The remembered-id list. Entries are compared whole: "138" is not in "13800138000;".
HV_EXPORT std::vector<std::string> rememberedIds(std::string_view list);
HV_EXPORT bool isRemembered(std::string_view list, std::string_view id);
// The list with id and ";" appended; when that would not fit in `capacity` bytes the oldest
// entries are dropped whole. Unchanged when the id is remembered already or cannot fit alone.
HV_EXPORT std::string rememberId(std::string_view list, std::string_view id, size_t capacity = 255);

// The service client's proxy type for a settings text: "SOCK4" 1, "SOCK5" 2 (any case), else 0.
HV_EXPORT int32_t proxyTypeCode(std::string_view type);

}  // namespace hv::login
