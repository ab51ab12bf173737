#include "modules/kit/convert.h"

#include <dlfcn.h>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/fs.h"
#include "platform/gbk.h"

namespace hv::modkit {

namespace {

// The dialogs started here. A dialog counts as open from the call until its controller ended or
// went away (the Qt backend lets go of a modeless controller when its window closed).
struct Registry {
  std::mutex mutex;
  int pending = 0;  // scheduled, not yet built
  int started = 0;
  std::vector<std::weak_ptr<ui::DialogController>> shown;
};

Registry& registry() {
  static auto* r = new Registry;  // outlives static destructors: dialogs may end late
  return *r;
}

std::string orEmpty(const char* s) {
  return s ? std::string(s) : std::string();
}

void show(const ConvertArgs& args, const DialogFactory& factory) {
  std::shared_ptr<ui::DialogController> dialog;
  try {
    dialog = factory(args);
  } catch (const std::exception&) {
    dialog = nullptr;  // a dialog that cannot be built is not shown, like a thread that fails
  }
  {
    std::lock_guard lock(registry().mutex);
    --registry().pending;
    if (dialog) registry().shown.push_back(dialog);
  }
  if (dialog) ui::backend().showModeless(dialog);
}

}  // namespace

int convert(const char* receiver, const char* file, const char* tag, DialogFactory factory,
            int failureCode) {
  if (!factory) return failureCode;
  std::shared_ptr<ConvertArgs> args;
  try {
    args =
        std::make_shared<ConvertArgs>(ConvertArgs{orEmpty(receiver), orEmpty(file), orEmpty(tag)});
  } catch (const std::exception&) {
    return failureCode;
  }
  {
    std::lock_guard lock(registry().mutex);
    ++registry().pending;
    ++registry().started;
  }
  try {
    ui::backend().schedule([args, factory = std::move(factory)] { show(*args, factory); });
  } catch (const std::exception&) {
    std::lock_guard lock(registry().mutex);
    --registry().pending;
    --registry().started;
    return failureCode;
  }
  return 0;
}

int convertOrTell(const char* receiver, const char* file, const char* tag, DialogFactory factory,
                  int failureCode, std::string_view caption) {
  const int r = convert(receiver, file, tag, std::move(factory), failureCode);
  if (r != 0) ui::messageBox(T("创建线程失败"), caption, ui::Icon::Stop);
  return r;
}

std::string libraryDirectory(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || !info.dli_fname) return fs::programDirectory();
  std::string dir = fs::directoryOf(info.dli_fname);
  dir = fs::suitePath(dir).value_or(dir);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

int openDialogs() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  std::erase_if(r.shown, [](const std::weak_ptr<ui::DialogController>& w) {
    auto d = w.lock();
    return !d || d->ended();
  });
  return r.pending + int(r.shown.size());
}

int startedDialogs() {
  std::lock_guard lock(registry().mutex);
  return registry().started;
}

}  // namespace hv::modkit
