// Random panel layout files: loading never crashes, a loaded state's controls all parsed, and
// showing the states in turn keeps the current and previous names straight.
#include <cstddef>
#include <cstdint>
#include <string>

#include "modules/image/panel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  hv::pictport::PanelLayout layout;
  int reports = 0;
  // Pictures are looked up in a folder that does not exist, so none loads.
  layout.loadText(text, "/nonexistent-panel-dir/PTX_PhonePanel.ini",
                  [&](const std::string&) { ++reports; });
  hv::pictport::PanelStates states;
  for (const char* name : {"normal", "AddText", "normal"}) {
    auto change = states.show(layout, name);
    if (change && states.current() != name) __builtin_trap();
    if (change) {
      for (const auto& c : change->show) {
        if (c.kind != "button" && c.kind != "edit" && c.kind != "transstatic") __builtin_trap();
      }
    }
  }
  for (size_t i = 0; i + 1 < size && i < 64; ++i) {
    hv::pictport::parseControl(text.substr(i), "/p/");
  }
  return 0;
}
