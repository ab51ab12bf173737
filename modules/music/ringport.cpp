#include "modules/music/ringport.h"

#include <dlfcn.h>

#include <memory>

#include "modules/kit/convert.h"
#include "modules/music/music_dialog.h"
#include "modules/music/views/views.h"
#include "platform/fs.h"

namespace {

// The folder of this library, ending in "/": the converter programs lie beside it.
std::string moduleDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&moduleDirectory), &info) == 0 || !info.dli_fname) {
    return hv::fs::programDirectory();
  }
  std::string dir = hv::fs::directoryOf(info.dli_fname);
  dir = hv::fs::suitePath(dir).value_or(dir);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

constexpr int kNoDialog = -3;

}  // namespace

HV_EXTERN_C int DoConvert(const char* receiver, const char* midiFile, const char* tag) {
  static const bool registered = (hv::ringport::registerViews(), true);
  (void)registered;
  const std::string dir = moduleDirectory();
  return hv::modkit::convert(
      receiver, midiFile, tag,
      [dir](const hv::modkit::ConvertArgs& args) {
        return std::make_shared<hv::ringport::MusicDialog>(
            args, hv::ringport::MusicDialog::Options{dir, {}});
      },
      kNoDialog);
}

HV_EXTERN_C int GetFunctionID() {
  return 8;
}
