#include "cookies/channel.h"

#include <strings.h>

namespace hv::cookies {

namespace {
int nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}
}  // namespace

std::string decodeAddress(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '%') {
      out += '%';
      ++i;
    } else if (i + 2 < text.size()) {
      out += char(nibble(text[i + 1]) << 4 | nibble(text[i + 2]));
      i += 2;
    } else {
      // A '%' without two characters after it is kept as it is.
      out += text.substr(i);
      break;
    }
  }
  if (out.rfind("//", 0) == 0) return "http:" + out;
  const bool web = out.size() >= 7 && strncasecmp(out.c_str(), "http://", 7) == 0;
  const size_t colon = out.find(':');
  if (!web && colon != 1) out.insert(0, "http://");
  return out;
}

std::string channelItem(std::string_view text, std::string_view key) {
  size_t from = 0;
  while (from <= text.size()) {
    const size_t at = text.find(key, from);
    if (at == std::string_view::npos) return {};
    if (at == 0 || text[at - 1] == ';' || text[at - 1] == ' ' || text[at - 1] == '\n' ||
        text[at - 1] == '\r' || text[at - 1] == '\t') {
      const size_t start = at + key.size();
      const size_t end = text.find(';', start);
      std::string_view v =
          text.substr(start, end == std::string_view::npos ? text.npos : end - start);
      while (!v.empty() && (v.back() == '\r' || v.back() == '\n')) v.remove_suffix(1);
      return std::string(v);
    }
    from = at + 1;
  }
  return {};
}

CookieChannel::CookieChannel(CookieStore& store, std::string channelUrl, std::string version)
    : store_(store), url_(std::move(channelUrl)), version_(std::move(version)) {}

bool CookieChannel::announce() {
  return store_.set(url_, "INSTALL", "Version" + version_ + kExpiry) &&
         store_.set(url_, "START", std::string("YES") + kExpiry);
}

bool CookieChannel::announceStopped() {
  return store_.set(url_, "START", std::string("NO") + kExpiry);
}

bool CookieChannel::poll(
    const std::function<void(const std::string& address, const std::string& id)>& handler) {
  const std::optional<std::string> all = store_.get(url_);
  if (!all) {
    announce();
    return false;
  }
  const std::string url = channelItem(*all, "URL=");
  if (url.empty()) {
    lastUnemptied_.reset();
    return false;
  }
  const std::string id = channelItem(*all, "ID=");
  const std::string request = url + '\n' + id;
  if (lastUnemptied_ == request) return false;
  handler(decodeAddress(url), id);
  if (store_.set(url_, "URL", kExpiry)) {
    lastUnemptied_.reset();
  } else {
    lastUnemptied_ = request;
  }
  return true;
}

}  // namespace hv::cookies
