#include "modules/music/ringport.h"

#include <memory>

#include "modules/kit/convert.h"
#include "modules/music/music_dialog.h"
#include "modules/music/views/views.h"

namespace {

// An object of this library's own (never interposed), to tell which file it was loaded from.
const char kInThisLibrary = 0;

constexpr int kNoDialog = -3;

}  // namespace

HV_EXTERN_C int DoConvert(const char* receiver, const char* midiFile, const char* tag) {
  static const bool registered = (hv::ringport::registerViews(), true);
  (void)registered;
  const std::string dir = hv::modkit::libraryDirectory(&kInThisLibrary);
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
