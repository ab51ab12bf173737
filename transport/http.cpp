// A minimal HTTP/1.x client (RFC 9112 message syntax), the URL splitter and the CONNECT tunnel
// (RFC 9110 section 9.3.6) with Basic proxy authorization (RFC 7617).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "transport/netkit.h"
#include "transport/wire.h"
#include "utils/coder.h"
#include "utils/header.h"

namespace {

constexpr int kRequestSendTimeout = 1000;
constexpr int kLineBuffer = 512;

std::string hostAndPort(const std::string& host, int port) {
  return host + ":" + std::to_string(port);
}

bool hasBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

// A field name is a token (RFC 9110 section 5.1): letters, digits and "!#$%&'*+-.^_`|~".
bool isFieldName(std::string_view name) {
  if (name.empty()) return false;
  for (unsigned char c : name)
    if (!std::isalnum(c) &&
        std::string_view("!#$%&'*+-.^_`|~").find(char(c)) == std::string_view::npos)
      return false;
  return true;
}

// A value may hold any text but CR, LF and NUL, each of which would end the line (or the
// request) where the caller did not mean it to.
bool isFieldValue(std::string_view value) {
  return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool areFieldLines(const CHeader* headers) {
  if (!headers) return true;
  return std::all_of(headers->Lines().begin(), headers->Lines().end(), [](const auto& line) {
    return isFieldName(line.first) && isFieldValue(line.second);
  });
}

}  // namespace

int CSimpleURLParse::ParseURL(const std::string& url) {
  protocol_.clear();
  host_.clear();
  resource_.clear();
  port_ = 0;
  size_t hostStart = 0;
  size_t scheme = url.find("://");
  if (scheme != std::string::npos) {
    protocol_ = url.substr(0, scheme);
    hostStart = scheme + 3;
  }
  size_t slash = url.find('/', hostStart);
  std::string hostText =
      url.substr(hostStart, slash == std::string::npos ? std::string::npos : slash - hostStart);
  if (slash != std::string::npos) resource_ = url.substr(slash);
  size_t colon = hostText.find(':');
  if (colon != std::string::npos) {
    port_ = std::atoi(hostText.c_str() + colon + 1);
    hostText.resize(colon);
  }
  host_ = hostText;
  return host_.empty() ? 0 : 1;
}

CSimpleHTTPClient::CSimpleHTTPClient() = default;

void CSimpleHTTPClient::SetHTTPVersion(const std::string& version) {
  version_ = version == "HTTP/1.0" ? "HTTP/1.0" : "HTTP/1.1";
}

void CSimpleHTTPClient::SetHTTPProxy(const std::string& host, int port, const std::string& user,
                                     const std::string& password) {
  proxyHost_ = host;
  proxyPort_ = port;
  proxyUser_ = user;
  proxyPassword_ = password;
}

int CSimpleHTTPClient::Connect(const std::string& host, int port, int timeout) {
  serverHost_ = host;
  serverPort_ = port;
  if (createtcp() < 0) return -1;
  const bool viaProxy = !proxyHost_.empty();
  if (connect(viaProxy ? proxyHost_.c_str() : host.c_str(), viaProxy ? proxyPort_ : port,
              timeout) != 0) {
    int code = errorno();
    closesocket();
    setlasterror(code);
    return -1;
  }
  return 0;
}

int CSimpleHTTPClient::SendRequest(const std::string& method, const std::string& url,
                                   const CHeader* headers, const void* body, int bodyLength) {
  CSimpleURLParse parts;
  if (!parts.ParseURL(url)) return -1;
  // Request line and header lines must not carry line breaks of their own (request splitting):
  // such a request is refused before anything is sent.
  if (hasBreak(method) || hasBreak(url) || !areFieldLines(headers)) return -1;
  std::string hostField =
      parts.GetPort() ? hostAndPort(parts.GetHost(), parts.GetPort()) : parts.GetHost();
  std::string upper = method;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return char(std::toupper(c)); });
  std::string head = upper + " " + url + " " + version_ + "\r\nHOST:" + hostField + "\r\n";
  auto sendText = [this](const std::string& text) {
    return send(text.data(), int(text.size()), kRequestSendTimeout) == int(text.size());
  };
  if (!sendText(head)) return -1;
  if (headers && headers->GetCount() > 0) {
    std::string lines = headers->Compound("\r\n");
    if (!sendText(lines)) return -1;
  }
  if (!sendText("\r\n")) return -1;
  if (bodyLength > 0 && body && send(body, bodyLength, kRequestSendTimeout) != bodyLength)
    return -1;
  return 0;
}

int CSimpleHTTPClient::RecvReponseHeader(std::string* version, int* status, std::string* reason,
                                         CHeader* headers, int timeout) {
  char line[kLineBuffer + 1];
  int n = recv_substr(line, kLineBuffer, timeout, "\r\n");
  if (n < 14 || !netkit::parseStatusLine({line, size_t(n)}, version, status, reason)) {
    Close();
    return -1;
  }
  netkit::HeaderFields fields;
  auto keep = [headers](std::string_view field) {
    if (headers) headers->ParseAndAdd(field, "\r\n");
  };
  for (;;) {
    n = recv_substr(line, kLineBuffer, timeout, "\r\n");
    if (n == 2) {
      fields.finish(keep);
      return 0;
    }
    if (n < 2 || !fields.add({line, size_t(n)}, keep)) {
      Close();
      return -2;
    }
  }
}

int CSimpleHTTPClient::RecvReponseData(void* buffer, int size, int timeout) {
  return recv(buffer, size, timeout);
}

int CSimpleHTTPClient::Close() {
  return closesocket();
}

void CSimpleHTTPClient::AddBasicAuthorizationHeader(int code, CHeader* headers,
                                                    const std::string& user,
                                                    const std::string& password) {
  if (!headers || (code != 401 && code != 407)) return;
  std::string credentials = user + ":" + password;
  unsigned char* encoded = nullptr;
  size_t length = 0;
  CBase64Coder coder;
  if (!coder.encode(reinterpret_cast<const unsigned char*>(credentials.data()), credentials.size(),
                    &encoded, &length))
    return;
  std::string value = "Basic " + std::string(reinterpret_cast<char*>(encoded), length);
  CEMailCoder::free(encoded);
  headers->Add(code == 401 ? "Authorization" : "Proxy-Authorization", value);
}

void CSimpleHTTPClient::AddDegistAuthorizationHeader(int, CHeader*, const std::string&,
                                                     const std::string&, const std::string&) {}

CSimpleHTTPChannel::CSimpleHTTPChannel() = default;

int CSimpleHTTPChannel::Connect(const std::string& proxyHost, int proxyPort,
                                const std::string& user, const std::string& password, int timeout) {
  proxyHost_ = proxyHost;
  proxyPort_ = proxyPort;
  proxyUser_ = user;
  proxyPassword_ = password;
  lastStatus_ = 0;
  client_.CancelHTTPProxy();
  return client_.Connect(proxyHost, proxyPort, timeout) == 0 ? 0 : -1;
}

std::unique_ptr<CNetkit> CSimpleHTTPChannel::CreateHTTPChannel(const std::string& host, int port,
                                                               int timeout) {
  lastStatus_ = 0;
  CHeader headers;
  if (!proxyUser_.empty())
    CSimpleHTTPClient::AddBasicAuthorizationHeader(407, &headers, proxyUser_, proxyPassword_);
  if (client_.SendRequest("CONNECT", hostAndPort(host, port), &headers, nullptr, 0) != 0)
    return nullptr;
  int status = 0;
  if (client_.RecvReponseHeader(nullptr, &status, nullptr, nullptr, timeout) != 0) return nullptr;
  lastStatus_ = status;
  if (status != 200) return nullptr;
  return std::make_unique<CNetkit>(client_.detach());
}
