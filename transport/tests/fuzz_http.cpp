// Fuzz target: an HTTP response head, split into lines the way the client receives it: the
// status line, then header lines put together into fields (folds included).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "transport/wire.h"
#include "utils/header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  CHeader headers;
  netkit::HeaderFields fields;
  auto keep = [&headers](std::string_view field) { headers.ParseAndAdd(field, "\r\n"); };
  bool first = true;
  while (!text.empty()) {
    size_t end = text.find("\r\n");
    std::string_view line = text.substr(0, end == std::string_view::npos ? text.size() : end + 2);
    text.remove_prefix(line.size());
    if (first) {
      std::string version, reason;
      int status = 0;
      netkit::parseStatusLine(line, &version, &status, &reason);
      first = false;
    } else if (line == "\r\n") {
      fields.finish(keep);
    } else if (!fields.add(line, keep)) {
      fields = netkit::HeaderFields();
    }
  }
  fields.finish(keep);
  return 0;
}
