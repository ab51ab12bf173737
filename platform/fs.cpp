#include "platform/fs.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

#include "platform/gbk.h"

namespace hv::fs {
namespace {

std::string randomName(size_t n) {
  static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char raw[32];
  if (n > sizeof raw) n = sizeof raw;
  if (getrandom(raw, n, 0) != ssize_t(n)) {
    // getrandom does not fail for small requests once the pool is ready; fall back to the
    // address of a local and the clock rather than giving up.
    unsigned long seed =
        (unsigned long)&raw ^ (unsigned long)time(nullptr) ^ (unsigned long)getpid();
    for (size_t i = 0; i < n; ++i) raw[i] = (unsigned char)(seed >>= 3);
  }
  std::string s;
  for (size_t i = 0; i < n; ++i) s += alphabet[raw[i] % 36];
  return s;
}

bool fsyncDirectoryOf(const std::string& osName) {
  std::string dir = osName;
  auto slash = dir.rfind('/');
  dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int r = ::fsync(fd);
  ::close(fd);
  return r == 0;
}

bool writeAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= size_t(w);
  }
  return true;
}

// Calls f with the name of every entry of a folder but "." and ".."; false when the folder
// cannot be read.
template <class F>
bool forEachEntry(const std::string& dir, F f) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return false;
  while (dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) f(std::string(e->d_name));
  }
  ::closedir(d);
  return true;
}

bool removeAllOs(const std::string& p) {
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return ::unlink(p.c_str()) == 0;
  bool ok = true;
  if (!forEachEntry(p, [&](const std::string& name) { ok = removeAllOs(p + "/" + name) && ok; }))
    return false;
  return ::rmdir(p.c_str()) == 0 && ok;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
    if (x < 0x80 && y < 0x80 && std::tolower(x) == std::tolower(y)) continue;
    if (x != y) return false;
  }
  return true;
}

bool writableDirectory(const std::string& dir) {
  return ::access(dir.c_str(), W_OK | X_OK) == 0;
}

// Copies what is missing below from into to; existing files are left alone. Each file goes to a
// temporary name first and takes its place only when whole, so an interrupted first start never
// leaves a cut-off file that later starts would take for the user's.
void fillFolder(const std::string& from, const std::string& to) {
  ::mkdir(to.c_str(), 0755);
  forEachEntry(from, [&](const std::string& name) {
    std::string src = from + "/" + name, dst = to + "/" + name;
    struct stat st;
    if (::stat(src.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
      fillFolder(src, dst);
    } else if (S_ISREG(st.st_mode) && ::access(dst.c_str(), F_OK) != 0) {
      int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
      if (in < 0) return;
      std::string part = dst + ".~fill";
      ::unlink(part.c_str());
      int out = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       st.st_mode & 0777);
      if (out >= 0) {
        char buf[65536];
        ssize_t n;
        bool ok = true;
        while ((n = ::read(in, buf, sizeof buf)) > 0) ok = ok && writeAll(out, buf, size_t(n));
        ok = ok && n == 0 && ::fsync(out) == 0;
        ::close(out);
        // link() never replaces: a file the user made meanwhile stays.
        if (ok) ok = ::link(part.c_str(), dst.c_str()) == 0;
        ::unlink(part.c_str());
      }
      ::close(in);
    }
  });
}

std::mutex homeMutex;
std::string homeCache;

}  // namespace

std::optional<std::string> osPath(std::string_view gbkPath) {
  return gbkToUtf8(gbkPath);
}
std::optional<std::string> suitePath(std::string_view osName) {
  return utf8ToGbk(osName);
}

int open(std::string_view path, int flags, mode_t mode) {
  auto p = osPath(path);
  if (!p) {
    errno = EILSEQ;
    return -1;
  }
  return ::open(p->c_str(), flags | O_CLOEXEC, mode);
}

FILE* fopen(std::string_view path, const char* mode) {
  auto p = osPath(path);
  if (!p) {
    errno = EILSEQ;
    return nullptr;
  }
  std::string m = std::string(mode) + "e";  // close on exec
  return ::fopen(p->c_str(), m.c_str());
}

bool exists(std::string_view path) {
  auto p = osPath(path);
  return p && ::access(p->c_str(), F_OK) == 0;
}

bool isDirectory(std::string_view path) {
  auto p = osPath(path);
  struct stat st;
  return p && ::stat(p->c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool removeFile(std::string_view path) {
  auto p = osPath(path);
  return p && ::unlink(p->c_str()) == 0;
}

bool removeAll(std::string_view path) {
  auto p = osPath(path);
  if (!p || p->empty()) return false;
  std::string s = *p;
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return removeAllOs(s);
}

bool makeDirectories(std::string_view path, mode_t mode) {
  auto p = osPath(path);
  if (!p || p->empty()) return false;
  std::string s = *p;
  for (size_t i = 1; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == '/') {
      std::string part = s.substr(0, i);
      if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
  }
  struct stat st;
  return ::stat(s.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool copyFile(std::string_view from, std::string_view to, bool overwrite) {
  auto data = readFile(from);
  if (!data) return false;
  if (!overwrite && exists(to)) return false;
  return writeFileAtomic(to, *data);
}

bool rename(std::string_view from, std::string_view to) {
  auto a = osPath(from), b = osPath(to);
  return a && b && ::rename(a->c_str(), b->c_str()) == 0;
}

std::optional<uint64_t> fileSize(std::string_view path) {
  auto p = osPath(path);
  struct stat st;
  if (!p || ::stat(p->c_str(), &st) != 0) return std::nullopt;
  return uint64_t(st.st_size);
}

std::vector<std::string> list(std::string_view dir) {
  std::vector<std::string> names;
  auto p = osPath(dir);
  if (!p) return names;
  forEachEntry(*p, [&](const std::string& name) {
    if (auto s = suitePath(name)) names.push_back(*s);
  });
  return names;
}

std::optional<std::string> readFile(std::string_view path) {
  int fd = open(path, O_RDONLY);
  if (fd < 0) return std::nullopt;
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buf, size_t(n));
  }
  ::close(fd);
  return out;
}

bool writeFileAtomic(std::string_view path, std::string_view contents, mode_t mode) {
  auto target = osPath(path);
  if (!target) {
    errno = EILSEQ;
    return false;
  }
  // Keep the mode of a file that exists already.
  struct stat st;
  if (::stat(target->c_str(), &st) == 0) mode = st.st_mode & 07777;
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    tmp = *target + ".~" + randomName(8);
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = writeAll(fd, contents.data(), contents.size()) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(tmp.c_str(), target->c_str()) == 0;
  if (!ok) {
    int saved = errno;
    ::unlink(tmp.c_str());
    errno = saved;
    return false;
  }
  fsyncDirectoryOf(*target);
  return true;
}

std::optional<std::string> resolveNoCase(std::string_view path) {
  auto os = osPath(path);
  if (!os) return std::nullopt;
  if (::access(os->c_str(), F_OK) == 0) return std::string(path);
  std::string result = os->front() == '/' ? "/" : "";
  size_t pos = result.size();
  while (pos <= os->size()) {
    size_t end = os->find('/', pos);
    if (end == std::string::npos) end = os->size();
    std::string comp = os->substr(pos, end - pos);
    pos = end + 1;
    if (comp.empty()) {
      if (end == os->size()) break;
      continue;
    }
    std::string exact = result + comp;
    if (::access(exact.c_str(), F_OK) != 0) {
      DIR* d = ::opendir(result.empty() ? "." : result.c_str());
      if (!d) return std::nullopt;
      bool found = false;
      while (dirent* e = ::readdir(d)) {
        if (equalsNoCase(e->d_name, comp)) {
          exact = result + e->d_name;
          found = true;
          break;
        }
      }
      ::closedir(d);
      if (!found) return std::nullopt;
    }
    result = exact;
    if (end < os->size()) result += "/";
  }
  return suitePath(result);
}

std::string resolveOrKeep(std::string_view path) {
  auto r = resolveNoCase(path);
  return r ? *r : std::string(path);
}

std::string directoryOf(std::string_view path) {
  auto slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string extensionOf(std::string_view path) {
  auto slash = path.rfind('/');
  auto name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  auto dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
}

std::string programDirectory() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  buf[n] = 0;
  std::string dir(buf);
  dir = dir.substr(0, dir.rfind('/') + 1);
  auto s = suitePath(dir);
  return s ? *s : dir;
}

const std::string& suiteHome() {
  std::lock_guard lock(homeMutex);
  if (!homeCache.empty()) return homeCache;
  std::string home;
  if (const char* h = getenv("HANDVANE_HOME"); h && *h) {
    home = h;
  } else {
    std::string prog = programDirectory();
    auto progOs = osPath(prog);
    if (progOs && writableDirectory(*progOs)) {
      home = *progOs;
    } else {
      std::string data;
      if (const char* x = getenv("XDG_DATA_HOME"); x && *x)
        data = x;
      else if (const char* u = getenv("HOME"); u && *u)
        data = std::string(u) + "/.local/share";
      else
        data = "/tmp";
      home = data + "/handvane";
      std::string parent = data;
      for (size_t i = 1; i <= parent.size(); ++i)
        if (i == parent.size() || parent[i] == '/') ::mkdir(parent.substr(0, i).c_str(), 0755);
      if (progOs) fillHome(progOs->substr(0, progOs->size() - 1), home);
    }
  }
  if (home.empty() || home.back() != '/') home += '/';
  auto s = suitePath(home);
  homeCache = s ? *s : home;
  return homeCache;
}

void fillHome(const std::string& programFolder, const std::string& home) {
  ::mkdir(home.c_str(), 0755);
  forEachEntry(programFolder, [&](const std::string& name) {
    std::string src = programFolder + "/" + name;
    struct stat st;
    // Only the shipped folders (DATA, PHONE, SKIN, ...): programs and libraries stay where they
    // are installed.
    if (::stat(src.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) fillFolder(src, home + "/" + name);
  });
}

void resetSuiteHomeForTesting() {
  std::lock_guard lock(homeMutex);
  homeCache.clear();
}

std::string tempDirectory() {
  std::string dir;
  if (const char* r = getenv("XDG_RUNTIME_DIR"); r && *r) {
    dir = std::string(r) + "/handvane";
  } else {
    const char* t = getenv("TMPDIR");
    dir = std::string(t && *t ? t : "/tmp") + "/handvane-" + std::to_string(getuid());
  }
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return "";
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
      (st.st_mode & 077) != 0)
    return "";
  auto s = suitePath(dir + "/");
  return s ? *s : "";
}

std::optional<std::string> createTempFile(std::string_view dir, std::string_view prefix,
                                          std::string_view suffix) {
  std::string d = dir.empty() ? tempDirectory() : std::string(dir);
  if (d.empty()) return std::nullopt;
  if (d.back() != '/') d += '/';
  for (int attempt = 0; attempt < 64; ++attempt) {
    std::string path = d + std::string(prefix) + randomName(10) + std::string(suffix);
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::string> createTempDirectory(std::string_view dir, std::string_view prefix) {
  std::string d = dir.empty() ? tempDirectory() : std::string(dir);
  if (d.empty()) return std::nullopt;
  if (d.back() != '/') d += '/';
  for (int attempt = 0; attempt < 64; ++attempt) {
    std::string path = d + std::string(prefix) + randomName(10);
    auto os = osPath(path);
    if (!os) return std::nullopt;
    if (::mkdir(os->c_str(), 0700) == 0) return path + "/";
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace hv::fs
