#pragma once
// The cookie channel with the service's web site: cookies of the address "/nrlm" of the site
// through which the suite says it is installed and running ("INSTALL", "START") and the site
// hands it download requests ("URL", "ID").
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "cookies/cookiestore.h"
#include "include/handvane/export.h"

namespace hv::cookies {

inline constexpr char kExpiry[] = "; expires = Sat, 01-Jan-2010 00:00:00 GMT";

// Decodes a hand-off address: "%%" is '%'; '%' and two characters are one byte of the two
// characters' hexadecimal values, where only '0'-'9' and 'A'-'F' count and anything else
// (lower-case letters too) is 0; then "//..." gets "http:" in front, and anything that does not
// start with "http://" (any case) and is not a drive path ("C:...") gets "http://".
HV_EXPORT std::string decodeAddress(std::string_view text);

// The value of "KEY=" in a cookie or hand-off text, up to the next ';' or the end; "" when the
// item is missing. The key must start the text or follow a ';' or a blank.
HV_EXPORT std::string channelItem(std::string_view text, std::string_view key);

class HV_EXPORT CookieChannel {
 public:
  // version: "1.2"; the "INSTALL" cookie reads "Version1.2".
  CookieChannel(CookieStore& store, std::string channelUrl, std::string version);

  // Sets "INSTALL" and then "START" ("YES"); false when either cannot be set.
  bool announce();
  // "START" "NO": the suite has ended normally.
  bool announceStopped();
  // One look at the channel. With no cookies at all, announce() again. A request ("URL" not
  // empty) goes to handler with the decoded address and the identifier, and the "URL" cookie is
  // emptied; a request that could not be emptied is not handed on a second time. Whether a
  // request was handed on.
  bool poll(const std::function<void(const std::string& address, const std::string& id)>& handler);

 private:
  CookieStore& store_;
  std::string url_;
  std::string version_;
  std::optional<std::string> lastUnemptied_;
};

}  // namespace hv::cookies
