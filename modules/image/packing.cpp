#include "modules/image/packing.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/kernel.h"

namespace hv::pictport {

namespace {

constexpr size_t kPathBuffer = 260;
constexpr int kMaxNameAttempts = 4096;

using DoProcessFn = int (*)(char*, const char*, int, int, const unsigned char*);

std::string folderOf(std::string_view tempDir) {
  std::string dir(tempDir);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// A packing library stays loaded once it was loaded: the handles are kept for the process.
void* loadLibrary(const std::string& gbkPath) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  auto os = fs::osPath(fs::resolveOrKeep(gbkPath));
  if (!os) return nullptr;
  return ::dlopen(os->c_str(), RTLD_NOW | RTLD_LOCAL);
}

// Whether path names a file directly inside folder (a library may answer any path; only what it
// left in our temporary folder is ours to remove).
bool inFolder(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/' && path.find('/', folder.size() + 1) == std::string::npos &&
         path.find("..") == std::string::npos;
}

PackResult failure(PackError e, std::string message, int code = 0) {
  PackResult r;
  r.error = e;
  r.code = code;
  r.message = std::move(message);
  return r;
}

std::string format(std::string_view gbkFormat, std::initializer_list<std::string_view> args) {
  // The texts carry "%s" only; each is replaced in order.
  std::string out;
  auto it = args.begin();
  for (size_t i = 0; i < gbkFormat.size(); ++i) {
    if (gbkFormat[i] == '%' && i + 1 < gbkFormat.size() && gbkFormat[i + 1] == 's' &&
        it != args.end()) {
      out += *it++;
      ++i;
    } else {
      out += gbkFormat[i];
    }
  }
  return out;
}

PackResult packInternal(const Picture& send, const PictureType& type, SourceKind source,
                        std::string_view tempDir) {
  const std::string fmt = internalFormat(type, source);
  auto fail = [&] {
    return failure(PackError::SaveFailed, format(T("打包操作失败:图片类型：%s"), {type.key()}));
  };
  // "nokia_567_colorpicture" phones take baseline JPEG only; every JPEG written here is baseline.
  auto bytes = send.encode(fmt == "GIF" ? "GIF" : "JPEG");
  if (!bytes) return fail();
  auto path = createPackedName(tempDir, fmt);
  if (!path) return fail();
  const int fd = fs::open(*path, O_WRONLY | O_TRUNC);
  const bool ok = fd >= 0 && writeAll(fd, *bytes);
  if (fd >= 0) ::close(fd);
  if (!ok) {
    fs::removeFile(*path);
    return fail();
  }
  PackResult r;
  r.path = *path;
  return r;
}

PackResult packWithLibrary(const Picture& send, const PictureType& type, std::string_view tempDir) {
  void* lib = loadLibrary(type.modulePath);
  if (!lib) {
    return failure(PackError::LibraryMissing,
                   format(T("找不到图片打包处理模块:%s"), {type.modulePath}));
  }
  auto fn = reinterpret_cast<DoProcessFn>(::dlsym(lib, "DoProcess"));
  if (!fn) {
    return failure(PackError::FunctionMissing,
                   format(T("在模块%s中找不到相应函数%s"), {type.modulePath, "DoProcess"}));
  }
  const std::string folder = folderOf(tempDir);
  std::vector<char> buffer(kPathBuffer, 0);
  if (folder.size() >= kPathBuffer - 1) {
    return failure(PackError::Refused, T("打包操作失败:") + processCodeText(-3), -3);
  }
  std::memcpy(buffer.data(), folder.c_str(), folder.size());
  const std::vector<uint8_t> rgb = send.rgb();
  const int code = fn(buffer.data(), type.key().c_str(), send.width(), send.height(), rgb.data());
  buffer.back() = 0;  // whatever the library did, the answer ends inside the buffer
  const std::string path(buffer.data());
  const bool leftFile = inFolder(path, folder) && fs::exists(path);
  auto message = [&](int c) {
    return format(T("打包操作失败:%s,图片类型：%s"), {processCodeText(c), type.key()});
  };
  if (code != 0) {
    if (leftFile) fs::removeFile(path);
    return failure(PackError::Refused, message(code), code);
  }
  if (!leftFile || fs::fileSize(path).value_or(0) == 0) {
    if (leftFile) fs::removeFile(path);
    return failure(PackError::NoFile, message(int(ProcessCode::FileFailed)), code);
  }
  PackResult r;
  r.path = path;
  return r;
}

}  // namespace

std::string processCodeText(int code) {
  switch (code) {
    case int(ProcessCode::FileFailed):
      return T("文件操作失败");
    case int(ProcessCode::WrongSize):
      return T("图片高度和宽度不符");
    case int(ProcessCode::UnknownType):
      return T("不支持的图片类型");
    default:
      return T("未知错误");
  }
}

std::optional<std::string> createPackedName(std::string_view tempDir, std::string_view extension) {
  const std::string folder = folderOf(tempDir);
  uint32_t counter = hv::GetTickCount();
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt, ++counter) {
    char name[32];
    std::snprintf(name, sizeof name, "QTX%x.", counter);
    const std::string path = folder + "/" + name + std::string(extension);
    const int fd = fs::open(path, O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

std::string packedExtension(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return "tmp";
  return std::string(name.substr(dot + 1));
}

PackResult pack(const Picture& send, const PictureType& type, SourceKind source,
                std::string_view tempDir) {
  if (send.empty()) {
    return failure(PackError::SaveFailed, format(T("打包操作失败:图片类型：%s"), {type.key()}));
  }
  if (type.internal()) return packInternal(send, type, source, tempDir);
  return packWithLibrary(send, type, tempDir);
}

hv::MessageHeader requestHeader(const PictureType& type, const RequestFields& fields) {
  hv::MessageHeader h(1, 0);
  h.setLaunchTag(gbkCut(fields.launchTag, 10));
  h.setServiceCode(type.wtype());
  h.setContentClass("IMAGE");
  h.setRecipient(0, fields.recipient);
  h.setSender(gbkCut(fields.sender, 20));
  h.setModel(fields.phoneType);
  h.setContentKind(type.key());
  h.setContentType(fields.extension);
  return h;
}

}  // namespace hv::pictport
