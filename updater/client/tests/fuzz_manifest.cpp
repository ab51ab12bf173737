// The manifest parser on arbitrary bytes; an accepted manifest must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "updater/client/manifest.h"
#include "updater/client/updater.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace hv::update;
  ManifestError e;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Manifest m = parseManifest(text, "http://127.0.0.1/update/manifest.txt", e);
  if (e == ManifestError::None) {
    for (const auto& item : m.items) {
      if (!isSafeRelativePath(item.path)) std::abort();
    }
    ManifestError again;
    Manifest copy = parseManifest(serializeManifest(m), "", again);
    if (again != ManifestError::None || serializeManifest(copy) != serializeManifest(m)) {
      std::abort();
    }
  }
  return 0;
}
