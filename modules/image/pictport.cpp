#include "modules/image/pictport.h"

#include "modules/image/dialog.h"
#include "modules/image/imageview.h"
#include "modules/kit/convert.h"
#include "platform/gbk.h"

namespace {

// An object of this library's own (never interposed), to tell which file it was loaded from.
const char kInThisLibrary = 0;

constexpr int kNoThread = -2;

}  // namespace

int DoConvert(const char* receiver, const char* pictureFile, const char* launchTag) {
  hv::pictport::registerImageView();
  const std::string dir = hv::modkit::libraryDirectory(&kInThisLibrary);
  return hv::modkit::convertOrTell(
      receiver, pictureFile, launchTag,
      [dir](const hv::modkit::ConvertArgs& args) {
        hv::pictport::CImageDialog::Options o;
        o.moduleDir = dir;
        o.receiver = args.receiver;
        o.pictureFile = args.file;
        o.launchTag = args.tag;
        return std::make_shared<hv::pictport::CImageDialog>(std::move(o));
      },
      kNoThread, hv::T("Lumo图"));
}

int GetFunctionID() {
  return 4;
}
