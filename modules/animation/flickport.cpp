#include "modules/animation/flickport.h"

#include "modules/animation/dialog.h"
#include "modules/animation/flashview.h"
#include "modules/kit/convert.h"
#include "platform/gbk.h"

namespace {

// An object of this library's own (never interposed), to tell which file it was loaded from.
const char kInThisLibrary = 0;

constexpr int kNoThread = -2;

}  // namespace

int DoConvert(const char* receiver, const char* movieFile, const char* launchTag) {
  hv::flickport::registerFlashView();
  const std::string dir = hv::modkit::libraryDirectory(&kInThisLibrary);
  return hv::modkit::convertOrTell(
      receiver, movieFile, launchTag,
      [dir](const hv::modkit::ConvertArgs& args) {
        hv::flickport::CFlashDialog::Options o;
        o.moduleDir = dir;
        o.receiver = args.receiver;
        o.movieFile = args.file;
        return std::make_shared<hv::flickport::CFlashDialog>(std::move(o));
      },
      kNoThread, hv::T("Lumo影"));
}

int GetFunctionID() {
  return 1;
}
