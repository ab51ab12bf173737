#include "modules/image/pictport.h"

#include <dlfcn.h>

#include "modules/image/dialog.h"
#include "modules/image/imageview.h"
#include "modules/kit/convert.h"
#include "platform/fs.h"
#include "platform/gbk.h"

namespace {

// The folder of this library, ending in "/" (GBK): its tables, panel and packing libraries lie
// beside it.
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

int DoConvert(const char* receiver, const char* pictureFile, const char* launchTag) {
  hv::pictport::registerImageView();
  const std::string dir = moduleDirectory();
  const int r = hv::modkit::convert(
      receiver, pictureFile, launchTag,
      [dir](const hv::modkit::ConvertArgs& args) {
        hv::pictport::CImageDialog::Options o;
        o.moduleDir = dir;
        o.receiver = args.receiver;
        o.pictureFile = args.file;
        o.launchTag = args.tag;
        return std::make_shared<hv::pictport::CImageDialog>(std::move(o));
      },
      kNoThread);
  if (r != 0) hv::ui::messageBox(hv::T("创建线程失败"), hv::T("Lumo图"), hv::ui::Icon::Stop);
  return r;
}

int GetFunctionID() {
  return 4;
}
