// The cookie file reader and the channel's decoding on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cookies/channel.h"
#include "cookies/cookiestore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace hv::cookies;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto cookies = parseCookieFile(text);
  // What is written reads back as the same cookies.
  if (parseCookieFile(formatCookieFile(cookies)).size() != cookies.size()) std::abort();
  const std::string url = channelItem(text, "URL=");
  const std::string decoded = decodeAddress(url);
  if (decoded.size() < 2) std::abort();
  return 0;
}
