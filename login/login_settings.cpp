#include "login/login_settings.h"

#include <strings.h>

#include <cstring>

#include "include/handvane/records.h"
#include "platform/fs.h"
#include "records/vaultrec.h"
#include "utils/function.h"

namespace hv::login {

namespace {
struct OpenFile {
  explicit OpenFile(const std::string& path) : h(CRYPT_Open(path.c_str())) {}
  ~OpenFile() { CRYPT_Close(h); }
  CryptFile* h;
};
bool equalNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}
}  // namespace

LoginSettings defaultSettings() {
  LoginSettings s;
  std::memset(&s, 0, sizeof s);
  copyField(s.regionHost, kDefaultRegionHost);
  s.regionPort = kDefaultRegionPort;
  return s;
}

std::string settingsPath() {
  std::string data = fs::resolveOrKeep(CFunction::GetExecutePath() + "DATA");
  return fs::resolveOrKeep(data + "/logincfg.dat");
}

bool createDefaultSettingsFile(const std::string& path) {
  fs::makeDirectories(fs::directoryOf(path));
  if (CRYPT_Create(path.c_str(), int(sizeof(LoginSettings))) != 1) return false;
  LoginSettings s = defaultSettings();
  OpenFile f(path);
  if (f.h && CRYPT_AddRecord(f.h, &s) == 0) return true;
  CRYPT_Delete(path.c_str());
  return false;
}

std::optional<LoginSettings> loadSettings(const std::string& path, bool createIfMissing) {
  if (createIfMissing && !fs::exists(path)) createDefaultSettingsFile(path);
  OpenFile f(path);
  if (!f.h) return std::nullopt;
  LoginSettings s;
  if (CRYPT_ReadRecord(f.h, 0, &s) != 1) return std::nullopt;
  // Every text field ends inside its width, whatever the file held.
  for (auto* field : {s.rememberedIds, s.proxyHost, s.regionHost}) field[255] = 0;
  for (auto* field : {s.lastUserId, s.lastPassword, s.proxyType, s.proxyUser, s.proxyPassword})
    field[39] = 0;
  return s;
}

bool saveSettings(const std::string& path, const LoginSettings& settings) {
  OpenFile f(path);
  if (!f.h) return false;
  if (CRYPT_GetRecordCount(f.h) == 0) return CRYPT_AddRecord(f.h, &settings) == 0;
  return CRYPT_ModifyRecord(f.h, 0, &settings) == 1;
}

std::vector<std::string> rememberedIds(std::string_view list) {
  std::vector<std::string> ids;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    if (end > start) ids.emplace_back(list.substr(start, end - start));
    start = end + 1;
  }
  return ids;
}

bool isRemembered(std::string_view list, std::string_view id) {
  for (const auto& e : rememberedIds(list))
    if (e == id) return true;
  return false;
}

std::string rememberId(std::string_view list, std::string_view id, size_t capacity) {
  if (id.empty() || isRemembered(list, id) || id.size() + 1 > capacity) return std::string(list);
  auto ids = rememberedIds(list);
  ids.emplace_back(id);
  size_t total = 0;
  for (const auto& e : ids) total += e.size() + 1;
  size_t first = 0;
  while (total > capacity) total -= ids[first++].size() + 1;
  std::string out;
  for (size_t i = first; i < ids.size(); ++i) out += ids[i] + ";";
  return out;
}

int32_t proxyTypeCode(std::string_view type) {
  if (equalNoCase(type, "SOCK4")) return 1;
  if (equalNoCase(type, "SOCK5")) return 2;
  return 0;
}

}  // namespace hv::login
