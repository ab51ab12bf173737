#include "handoff/webhand.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "handoff/fetchfile.h"
#include "platform/fs.h"
#include "platform/kernel.h"

namespace hv::handoff {

const char* handoffErrorText(HandoffError e) {
  switch (e) {
    case HandoffError::None:
      return "no error";
    case HandoffError::BadMode:
      return "the hand-off mode is not 2";
    case HandoffError::NotHttp:
      return "the address is not an http address";
    case HandoffError::Download:
      return "the content could not be downloaded";
    case HandoffError::NoFolder:
      return "there is no private temporary folder";
    case HandoffError::Write:
      return "the downloaded file could not be written";
    case HandoffError::NoProgram:
      return "Handvane was not found";
    case HandoffError::Start:
      return "Handvane could not be started";
  }
  return "unknown error";
}

std::string fileNameFor(std::string_view address) {
  std::string_view path = address.substr(0, address.find_first_of("?#"));
  const size_t scheme = path.find("://");
  if (scheme != std::string_view::npos) {
    path.remove_prefix(scheme + 3);
    const size_t slash = path.find('/');
    path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash);
  }
  const size_t last = path.rfind('/');
  if (last != std::string_view::npos) path.remove_prefix(last + 1);
  std::string name;
  for (char c : path) {
    // Handvane's command line reads "-f", "-F", "-hide" and " -U:" wherever they stand, so a
    // name handed to it never holds a '-': "holiday-foto.jpg" would open nothing.
    if (c == '-') c = '_';
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '_';
    if (ok && !(name.empty() && c == '.')) name += c;
  }
  if (name.size() > 64) name.erase(0, name.size() - 64);
  while (!name.empty() && name[0] == '.') name.erase(0, 1);
  return name.empty() ? "download" : name;
}

std::optional<std::string> download(const std::string& address, const net::FetchProxy& proxy,
                                    const std::string& folder, int timeoutMs, HandoffError& error) {
  error = HandoffError::None;
  if (!net::isHttpAddress(address)) {
    error = HandoffError::NotHttp;
    return std::nullopt;
  }
  if (folder.empty()) {
    error = HandoffError::NoFolder;
    return std::nullopt;
  }
  // The module knows the file by its extension, so the unique part goes before it; "_" and not
  // "-" joins it, for the command line's sake (see fileNameFor).
  const std::string name = fileNameFor(address);
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  const std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
  auto file = fs::createTempFile(folder, stem + "_", ext);
  if (!file) {
    error = HandoffError::Write;
    return std::nullopt;
  }
  const int fd = fs::open(*file, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    fs::removeFile(*file);
    error = HandoffError::Write;
    return std::nullopt;
  }
  bool writeFailed = false;
  const auto r =
      net::fetch(address, proxy, kMaxDownloadBytes, timeoutMs, [&](const char* d, size_t n) {
        while (n > 0) {
          const ssize_t w = ::write(fd, d, n);
          if (w <= 0) {
            writeFailed = true;
            return false;
          }
          d += w;
          n -= size_t(w);
        }
        return true;
      });
  const bool closed = ::close(fd) == 0;
  if (!r.ok() || writeFailed || !closed) {
    fs::removeFile(*file);
    error = r.ok() ? HandoffError::Write : HandoffError::Download;
    return std::nullopt;
  }
  return file;
}

std::string handvaneProgram() {
  if (const char* p = std::getenv("HANDVANE_PROGRAM"); p && *p) return p;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&handvaneProgram), &info) && info.dli_fname) {
    const std::string self = info.dli_fname;
    const size_t slash = self.rfind('/');
    if (slash != std::string::npos) return self.substr(0, slash + 1) + "Handvane";
  }
  return fs::programDirectory() + "Handvane";
}

namespace {
std::mutex gProxyMutex;
net::FetchProxy gProxy;
constexpr int kTimeoutMs = 5000;
}  // namespace

int open(const char* address, const char* identifier, int mode) {
  (void)identifier;  // the service's own reference; the download needs only the address
  if (mode != 2 || !address) return -int(HandoffError::BadMode);
  net::FetchProxy proxy;
  {
    std::lock_guard lock(gProxyMutex);
    proxy = gProxy;
  }
  HandoffError error;
  auto file = download(address, proxy, fs::tempDirectory(), kTimeoutMs, error);
  if (!file) return -int(error);
  const std::string program = handvaneProgram();
  if (!fs::exists(program)) return -int(HandoffError::NoProgram);
  // The new Handvane hands its command line to the running one, which opens the file in the
  // module for its type; it is reaped when it ends.
  auto started = Process::start({program, *file});
  return started ? 0 : -int(HandoffError::Start);
}

}  // namespace hv::handoff

extern "C" {

void HANDOFF_SetProxy(int type, const char* host, int port, const char* user,
                      const char* password) {
  std::lock_guard lock(hv::handoff::gProxyMutex);
  hv::handoff::gProxy =
      hv::net::FetchProxy{type, host ? host : "", port, user ? user : "", password ? password : ""};
}

int HANDOFF_Open(const char* address, const char* identifier, int mode) {
  return hv::handoff::open(address, identifier, mode);
}
}
