#include "cookies/cookiestore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>

#include "platform/fs.h"

namespace hv::cookies {

const char* cookieErrorText(CookieError e) {
  switch (e) {
    case CookieError::None:
      return "no error";
    case CookieError::BadAddress:
      return "the address has no http host";
    case CookieError::BadName:
      return "the cookie name is empty or holds separators";
    case CookieError::BadValue:
      return "the cookie value holds a tab or a line break";
    case CookieError::Unreadable:
      return "the cookie store cannot be read";
    case CookieError::Unwritable:
      return "the cookie store cannot be written";
    case CookieError::Full:
      return "the cookie store is full";
  }
  return "unknown error";
}

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool hasBreakOrTab(std::string_view s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return c == '\t' || c == '\r' || c == '\n' || c == 0; });
}

// Host (lower case) and path of an http:// or https:// address.
bool splitUrl(std::string_view url, std::string& host, std::string& path) {
  const std::string l = lower(url.substr(0, 8));
  size_t start;
  if (l.rfind("http://", 0) == 0) {
    start = 7;
  } else if (l.rfind("https://", 0) == 0) {
    start = 8;
  } else {
    return false;
  }
  const size_t end = url.find_first_of("/?#", start);
  std::string_view authority =
      url.substr(start, end == std::string_view::npos ? url.npos : end - start);
  if (const size_t at = authority.rfind('@'); at != std::string_view::npos)
    authority.remove_prefix(at + 1);
  if (const size_t colon = authority.find(':'); colon != std::string_view::npos)
    authority = authority.substr(0, colon);
  if (authority.empty() || hasBreakOrTab(authority) ||
      authority.find(' ') != std::string_view::npos)
    return false;
  host = lower(authority);
  path = "/";
  if (end != std::string_view::npos && url[end] == '/') {
    std::string_view p = url.substr(end);
    p = p.substr(0, p.find_first_of("?#"));
    path = std::string(p);
  }
  return !hasBreakOrTab(path);
}

int64_t parseExpires(std::string_view date) {
  std::string text(trim(date));
  struct tm tm {};
  for (const char* format : {"%a, %d-%b-%Y %H:%M:%S", "%a, %d %b %Y %H:%M:%S"}) {
    tm = {};
    if (strptime(text.c_str(), format, &tm)) return int64_t(timegm(&tm));
  }
  return 0;
}

bool domainMatches(const Cookie& c, const std::string& host) {
  if (c.domain == host) return true;
  if (!c.includeSubdomains) return false;
  std::string d = c.domain;
  if (!d.empty() && d[0] == '.') d.erase(0, 1);
  return host == d ||
         (host.size() > d.size() && host.compare(host.size() - d.size(), d.size(), d) == 0 &&
          host[host.size() - d.size() - 1] == '.');
}

bool pathMatches(const Cookie& c, const std::string& path) {
  if (path.compare(0, c.path.size(), c.path) != 0) return false;
  return path.size() == c.path.size() || c.path.back() == '/' || path[c.path.size()] == '/';
}

class Lock {
 public:
  Lock(const std::string& storePath, bool exclusive) {
    fd_ = fs::open(storePath + ".lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0 && ::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~Lock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The store's text, at most kMaxStoreBytes of it; "" when there is no file yet.
std::optional<std::string> readStore(const std::string& path) {
  const int fd = fs::open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT ? std::optional<std::string>("") : std::nullopt;
  std::string text;
  char buf[16384];
  while (text.size() < kMaxStoreBytes) {
    const ssize_t n = ::read(fd, buf, std::min(sizeof buf, kMaxStoreBytes - text.size()));
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(buf, size_t(n));
  }
  ::close(fd);
  return text;
}

}  // namespace

std::vector<Cookie> parseCookieFile(std::string_view text) {
  std::vector<Cookie> out;
  text = text.substr(0, kMaxStoreBytes);
  size_t pos = 0;
  while (pos < text.size() && out.size() < kMaxCookies) {
    size_t end = text.find('\n', pos);
    const bool cut = end == std::string_view::npos;  // a last line without its end may be torn
    if (cut) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (cut && text.size() >= kMaxStoreBytes) break;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.size() > kMaxLineBytes || line[0] == '#') continue;
    std::vector<std::string_view> f;
    size_t s = 0;
    for (;;) {
      const size_t tab = line.find('\t', s);
      f.push_back(line.substr(s, tab == std::string_view::npos ? line.npos : tab - s));
      if (tab == std::string_view::npos) break;
      s = tab + 1;
    }
    if (f.size() != 7) continue;
    Cookie c;
    c.domain = lower(f[0]);
    if (c.domain.empty() || f[2].empty() || f[2][0] != '/' || f[5].empty()) continue;
    if ((f[1] != "TRUE" && f[1] != "FALSE") || (f[3] != "TRUE" && f[3] != "FALSE")) continue;
    c.includeSubdomains = f[1] == "TRUE";
    c.path = std::string(f[2]);
    c.secure = f[3] == "TRUE";
    auto [p, ec] = std::from_chars(f[4].data(), f[4].data() + f[4].size(), c.expires);
    if (ec != std::errc() || p != f[4].data() + f[4].size()) continue;
    c.name = std::string(f[5]);
    c.value = std::string(f[6]);
    if (c.name.find_first_of("=; ") != std::string::npos ||
        c.value.find(';') != std::string::npos || hasBreakOrTab(c.name) ||
        hasBreakOrTab(c.domain) || hasBreakOrTab(c.path)) {
      continue;
    }
    out.push_back(std::move(c));
  }
  return out;
}

std::string formatCookieFile(const std::vector<Cookie>& cookies) {
  std::string s = "# Netscape HTTP Cookie File\n# Handvane's cookie store; edited by programs.\n\n";
  for (const auto& c : cookies) {
    s += c.domain + "\t" + (c.includeSubdomains ? "TRUE" : "FALSE") + "\t" + c.path + "\t" +
         (c.secure ? "TRUE" : "FALSE") + "\t" + std::to_string(c.expires) + "\t" + c.name + "\t" +
         c.value + "\n";
  }
  return s;
}

std::string defaultStorePath() {
  if (const char* p = std::getenv("HANDVANE_COOKIES"); p && *p) return p;
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/') {
    base = x;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home ? home : "") + "/.config";
  }
  return base + "/handvane/cookies.txt";
}

CookieStore::CookieStore(std::string path) : path_(std::move(path)) {}

bool CookieStore::set(std::string_view url, std::string_view name, std::string_view data) {
  error_ = CookieError::None;
  std::string host, path;
  if (!splitUrl(url, host, path)) return error_ = CookieError::BadAddress, false;
  if (name.empty() || name.find_first_of("=; ") != std::string_view::npos || hasBreakOrTab(name)) {
    return error_ = CookieError::BadName, false;
  }
  const size_t semi = data.find(';');
  const std::string_view value = trim(data.substr(0, semi));
  if (hasBreakOrTab(value)) return error_ = CookieError::BadValue, false;
  int64_t expires = 0;
  if (semi != std::string_view::npos) {
    std::string_view attrs = data.substr(semi + 1);
    while (!attrs.empty()) {
      const size_t next = attrs.find(';');
      const std::string_view attr = trim(attrs.substr(0, next));
      const size_t eq = attr.find('=');
      if (eq != std::string_view::npos && lower(trim(attr.substr(0, eq))) == "expires") {
        expires = parseExpires(attr.substr(eq + 1));
      }
      if (next == std::string_view::npos) break;
      attrs.remove_prefix(next + 1);
    }
  }

  fs::makeDirectories(fs::directoryOf(path_), 0700);
  Lock lock(path_, true);
  if (!lock.held()) return error_ = CookieError::Unwritable, false;
  auto text = readStore(path_);
  if (!text) return error_ = CookieError::Unreadable, false;
  std::vector<Cookie> cookies = parseCookieFile(*text);
  auto same = std::find_if(cookies.begin(), cookies.end(), [&](const Cookie& c) {
    return c.domain == host && c.path == path && c.name == name;
  });
  if (same == cookies.end()) {
    if (cookies.size() >= kMaxCookies) return error_ = CookieError::Full, false;
    cookies.push_back(
        Cookie{host, false, path, false, expires, std::string(name), std::string(value)});
  } else {
    same->value = std::string(value);
    same->expires = expires;
  }
  const std::string out = formatCookieFile(cookies);
  if (out.size() > kMaxStoreBytes) return error_ = CookieError::Full, false;
  if (!fs::writeFileAtomic(path_, out, 0600)) return error_ = CookieError::Unwritable, false;
  return true;
}

std::optional<std::string> CookieStore::get(std::string_view url, size_t capacity) {
  error_ = CookieError::None;
  std::string host, path;
  if (!splitUrl(url, host, path)) return error_ = CookieError::BadAddress, std::nullopt;
  std::optional<std::string> text;
  {
    Lock lock(path_, false);
    if (!lock.held()) return error_ = CookieError::Unreadable, std::nullopt;
    text = readStore(path_);
  }
  if (!text) return error_ = CookieError::Unreadable, std::nullopt;
  std::string out;
  for (const auto& c : parseCookieFile(*text)) {
    if (!domainMatches(c, host) || !pathMatches(c, path)) continue;
    if (!out.empty()) out += "; ";
    out += c.name + "=" + c.value;
  }
  if (out.empty() || out.size() + 1 > capacity) return std::nullopt;
  return out;
}

}  // namespace hv::cookies
