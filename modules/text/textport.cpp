#include "modules/text/textport.h"

#include <memory>

#include "modules/kit/convert.h"
#include "modules/text/text_dialog.h"
#include "modules/text/views/views.h"

HV_EXTERN_C int DoConvert(const char* receiver, const char* textFile, const char* tag) {
  static const bool registered = (hv::textport::registerViews(), true);
  (void)registered;
  return hv::modkit::convert(
      receiver, textFile, tag,
      [](const hv::modkit::ConvertArgs& args) {
        return std::make_shared<hv::textport::TextDialog>(args);
      },
      -1);
}

HV_EXTERN_C int GetFunctionID() {
  return 2;
}
