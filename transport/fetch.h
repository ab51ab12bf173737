#pragma once
// Fetching one resource over plain HTTP, directly or through the user's SOCKS proxy: what the
// update client and the web hand-off use to download files. Requests are HTTP/1.0 in origin
// form, so the body arrives unchunked and ends with the connection or at Content-Length.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "include/handvane/export.h"

namespace hv::net {

struct FetchProxy {
  int type = 0;  // 0 none, 1 SOCKS4, 2 SOCKS5 (the service client's proxy type codes)
  std::string host;
  int port = 0;
  std::string user;
  std::string password;
};

enum class FetchError {
  None,
  NotHttp,   // the address is not a plain "http://" address with a host
  Connect,   // the server (or the proxy) could not be reached
  Send,      // the request could not be sent
  BadReply,  // no readable status line or header
  Status,    // the server answered, but not with 200
  TooLarge,  // more bytes than allowed were announced or sent
  Short,     // the body ended before its announced length
  Stopped,   // the receiver refused the data (a write failed, or it asked to stop)
};
HV_EXPORT const char* fetchErrorText(FetchError e);

struct FetchResult {
  FetchError error = FetchError::None;
  int status = 0;      // the HTTP status when one was read
  uint64_t bytes = 0;  // body bytes handed to the receiver
  bool ok() const { return error == FetchError::None; }
};

// Receives the body piece by piece; false stops the transfer (FetchError::Stopped).
using FetchSink = std::function<bool(const char* data, size_t size)>;

// GETs url. timeoutMs bounds the connection and every single wait for data; maxBytes bounds the
// body (a longer or longer-announced body fails with TooLarge).
HV_EXPORT FetchResult fetch(const std::string& url, const FetchProxy& proxy, uint64_t maxBytes,
                            int timeoutMs, const FetchSink& sink);

// fetch() into memory.
HV_EXPORT FetchResult fetchText(const std::string& url, const FetchProxy& proxy, uint64_t maxBytes,
                                int timeoutMs, std::string& body);

// Whether url is something fetch() takes: "http://" (any case) followed by a host.
HV_EXPORT bool isHttpAddress(std::string_view url);

}  // namespace hv::net
