#include "modules/animation/flickport.h"

#include <dlfcn.h>

#include "modules/animation/dialog.h"
#include "modules/animation/flashview.h"
#include "modules/kit/convert.h"
#include "platform/fs.h"
#include "platform/gbk.h"

namespace {

// The folder of this library, ending in "/" (GBK): its tables lie beside it.
std::string moduleDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&moduleDirectory), &info) == 0 || !info.dli_fname) {
    return hv::fs::programDirectory();
  }
  const std::string dir = hv::fs::directoryOf(info.dli_fname);
  return hv::fs::suitePath(dir).value_or(dir);
}

constexpr int kNoThread = -2;

}  // namespace

int DoConvert(const char* receiver, const char* movieFile, const char* launchTag) {
  hv::flickport::registerFlashView();
  const std::string dir = moduleDirectory();
  const int r = hv::modkit::convert(
      receiver, movieFile, launchTag,
      [dir](const hv::modkit::ConvertArgs& args) {
        hv::flickport::CFlashDialog::Options o;
        o.moduleDir = dir;
        o.receiver = args.receiver;
        o.movieFile = args.file;
        return std::make_shared<hv::flickport::CFlashDialog>(std::move(o));
      },
      kNoThread);
  if (r != 0) hv::ui::messageBox(hv::T("创建线程失败"), hv::T("Lumo影"), hv::ui::Icon::Stop);
  return r;
}

int GetFunctionID() {
  return 1;
}
