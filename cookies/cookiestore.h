#pragma once
// The per-user cookie store that the suite shares with the service's web hand-off: one file in
// the Netscape cookies.txt layout (what curl, wget and browsers' export tools read and write),
//
//   domain <TAB> include-subdomains <TAB> path <TAB> secure <TAB> expires <TAB> name <TAB> value
//
// Every change takes an exclusive flock on "<file>.lock", reads the file, and replaces it
// atomically (temporary file, fsync, rename); readers take the lock shared. Two processes
// writing at once therefore never tear the file or lose each other's cookies.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/export.h"

namespace hv::cookies {

inline constexpr size_t kMaxStoreBytes = 1024 * 1024;
inline constexpr size_t kMaxLineBytes = 8192;
inline constexpr size_t kMaxCookies = 2000;

struct Cookie {
  std::string domain;  // lower-case host
  bool includeSubdomains = false;
  std::string path;  // starts with "/"
  bool secure = false;
  int64_t expires = 0;  // seconds since 1970; 0 for a cookie without a date
  std::string name;
  std::string value;
};

enum class CookieError { None, BadAddress, BadName, BadValue, Unreadable, Unwritable, Full };
HV_EXPORT const char* cookieErrorText(CookieError e);

// Lines that are not cookies (damaged, over-long, empty, "#" comments) are skipped; at most
// kMaxStoreBytes of text and kMaxCookies cookies are read.
HV_EXPORT std::vector<Cookie> parseCookieFile(std::string_view text);
HV_EXPORT std::string formatCookieFile(const std::vector<Cookie>& cookies);

// "$HANDVANE_COOKIES", else "$XDG_CONFIG_HOME/handvane/cookies.txt" (~/.config/handvane/).
HV_EXPORT std::string defaultStorePath();

class HV_EXPORT CookieStore {
 public:
  explicit CookieStore(std::string path);

  // Sets cookie `name` for the address (its host and path) from data as a browser's script
  // would set it: "VALUE[; expires = DATE][; ...]". The value ends at the first ';'.
  // Expiry dates are kept in the file but not enforced: the channel's fixed dates lie in the past.
  bool set(std::string_view url, std::string_view name, std::string_view data);
  // "NAME=VALUE; NAME=VALUE" of the cookies for the address, in file order; nullopt when there
  // are none, the file cannot be read or the text would not fit in capacity bytes (with its NUL).
  std::optional<std::string> get(std::string_view url, size_t capacity = 40960);

  const std::string& path() const { return path_; }
  CookieError lastError() const { return error_; }

 private:
  std::string path_;
  CookieError error_ = CookieError::None;
};

}  // namespace hv::cookies
