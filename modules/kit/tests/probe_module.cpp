// A module for testing hosts: its dialog writes the three DoConvert strings to the file named by
// $HV_PROBE_OUTPUT (one per line) and ends at once. $HV_PROBE_DIALOGS asks for that many
// dialogs per call (default 1).
#include <cstdlib>
#include <string>

#include "include/handvane/export.h"
#include "modules/kit/convert.h"
#include "platform/fs.h"

namespace {

class ProbeDialog : public hv::ui::DialogController {
 public:
  ProbeDialog(hv::modkit::ConvertArgs args, int number)
      : DialogController(777, "probe"), args_(std::move(args)), number_(number) {}
  void onInit() override {
    if (const char* out = std::getenv("HV_PROBE_OUTPUT")) {
      hv::fs::writeFileAtomic(std::string(out) + "." + std::to_string(number_),
                              args_.receiver + "\n" + args_.file + "\n" + args_.tag + "\n");
    }
    endDialog(hv::ui::kIdOk);
  }

 private:
  hv::modkit::ConvertArgs args_;
  int number_;
};

}  // namespace

HV_EXTERN_C int DoConvert(const char* receiver, const char* file, const char* tag) {
  const char* n = std::getenv("HV_PROBE_DIALOGS");
  const int dialogs = n ? std::atoi(n) : 1;
  for (int i = 1; i <= dialogs; ++i) {
    const int r = hv::modkit::convert(
        receiver, file, tag,
        [i](const hv::modkit::ConvertArgs& a) { return std::make_shared<ProbeDialog>(a, i); }, -7);
    if (r != 0) return r;
  }
  return 0;
}
