#include "transport/fetch.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>
#include <optional>
#include <vector>

#include "transport/netkit.h"
#include "utils/header.h"

namespace hv::net {

const char* fetchErrorText(FetchError e) {
  switch (e) {
    case FetchError::None:
      return "no error";
    case FetchError::NotHttp:
      return "not an http:// address";
    case FetchError::Connect:
      return "the server could not be reached";
    case FetchError::Send:
      return "the request could not be sent";
    case FetchError::BadReply:
      return "the server's reply could not be read";
    case FetchError::Status:
      return "the server did not answer 200";
    case FetchError::TooLarge:
      return "the resource is larger than allowed";
    case FetchError::Short:
      return "the transfer ended early";
    case FetchError::Stopped:
      return "the received data could not be kept";
  }
  return "unknown error";
}

namespace {

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  }
  return true;
}

bool hasControl(std::string_view s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

std::optional<uint64_t> contentLength(const CHeader& headers) {
  if (!headers.Has("Content-Length")) return std::nullopt;
  std::string value = headers.Get("Content-Length");
  const auto first = value.find_first_not_of(' ');
  const auto last = value.find_last_not_of(' ');
  if (first == std::string::npos) return std::nullopt;
  uint64_t n = 0;
  const char* end = value.data() + last + 1;
  auto [p, ec] = std::from_chars(value.data() + first, end, n);
  if (ec != std::errc() || p != end) return std::nullopt;
  return n;
}

}  // namespace

bool isHttpAddress(std::string_view url) {
  if (!startsWithNoCase(url, "http://") || url.size() == 7 || hasControl(url)) return false;
  const char c = url[7];
  return c != '/' && c != ':' && c != '?' && c != '#';
}

FetchResult fetch(const std::string& url, const FetchProxy& proxy, uint64_t maxBytes, int timeoutMs,
                  const FetchSink& sink) {
  FetchResult result;
  CSimpleURLParse parts;
  if (!isHttpAddress(url) || !parts.ParseURL(url) || parts.GetHost().empty()) {
    result.error = FetchError::NotHttp;
    return result;
  }
  const int port = parts.GetPort() ? parts.GetPort() : 80;

  CProxyClient client;
  if (proxy.type == 1 || proxy.type == 2) {
    client.SetProxy(proxy.type == 1 ? PROXY_SOCKS4 : PROXY_SOCKS5, proxy.host, proxy.port,
                    proxy.user, proxy.password);
  }
  std::unique_ptr<CNetkit> socket = client.connect(parts.GetHost(), port, timeoutMs);
  if (!socket) {
    result.error = FetchError::Connect;
    return result;
  }
  CSimpleHTTPClient http;
  http.attach(socket->detach());

  std::string resource = parts.GetResource().empty() ? "/" : parts.GetResource();
  if (resource[0] != '/') resource.insert(0, "/");
  std::string host = parts.GetHost();
  if (port != 80) host += ":" + std::to_string(port);
  const std::string request = "GET " + resource + " HTTP/1.0\r\nHost: " + host +
                              "\r\nUser-Agent: Handvane\r\nConnection: close\r\n\r\n";
  if (http.send(request.data(), int(request.size()), timeoutMs) != int(request.size())) {
    result.error = FetchError::Send;
    return result;
  }
  CHeader headers;
  if (http.RecvReponseHeader(nullptr, &result.status, nullptr, &headers, timeoutMs) != 0) {
    result.error = FetchError::BadReply;
    return result;
  }
  if (result.status != 200) {
    result.error = FetchError::Status;
    return result;
  }
  const std::optional<uint64_t> announced = contentLength(headers);
  if (announced && *announced > maxBytes) {
    result.error = FetchError::TooLarge;
    return result;
  }
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    uint64_t want = buffer.size();
    if (announced) want = std::min<uint64_t>(want, *announced - result.bytes);
    if (want == 0) break;
    const int n = http.RecvReponseData(buffer.data(), int(want), timeoutMs);
    if (n <= 0) {
      // A clean end without an announced length is the end of the body; anything else is cut.
      if (announced || http.istimeout() || (n < 0 && !http.isclosed())) {
        result.error = FetchError::Short;
        return result;
      }
      break;
    }
    if (result.bytes + uint64_t(n) > maxBytes) {
      result.error = FetchError::TooLarge;
      return result;
    }
    if (!sink(buffer.data(), size_t(n))) {
      result.error = FetchError::Stopped;
      return result;
    }
    result.bytes += uint64_t(n);
  }
  return result;
}

FetchResult fetchText(const std::string& url, const FetchProxy& proxy, uint64_t maxBytes,
                      int timeoutMs, std::string& body) {
  body.clear();
  return fetch(url, proxy, maxBytes, timeoutMs, [&](const char* d, size_t n) {
    body.append(d, n);
    return true;
  });
}

}  // namespace hv::net
