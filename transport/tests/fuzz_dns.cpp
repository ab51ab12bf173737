// Fuzz target: a DNS message as a name server could send it.
#include <cstddef>
#include <cstdint>

#include "transport/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> message(data, size);
  auto parsed = netkit::parseDnsMessage(message);
  if (!parsed) return 0;
  for (const auto& r : parsed->answers) {
    // Record data that holds names (CNAME, PTR, MX after its preference) is read as the
    // resolver reads it.
    std::string name;
    size_t next = 0;
    if (r.dataLength > 0) netkit::readDnsName(message, r.dataOffset, &name, &next);
    if (r.dataLength > 2) netkit::readDnsName(message, r.dataOffset + 2, &name, &next);
  }
  return 0;
}
