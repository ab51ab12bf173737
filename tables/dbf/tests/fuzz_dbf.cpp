// The table file reader on arbitrary bytes: the header checks, then every field of every record
// the header admits, decoded and encoded again.
#include <cstddef>
#include <cstdint>
#include <span>

#include "tables/dbf/format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  try {
    hv::dbf::Header h = hv::dbf::parseHeader(bytes, size, "FUZZ");
    for (uint32_t i = 0; i < h.recordCount; ++i) {
      auto record = bytes.subspan(h.headerLength + size_t(i) * h.recordLength, h.recordLength);
      for (const auto& f : h.fields) {
        hv::dbf::Value v = hv::dbf::decodeField(f, record);
        try {
          std::string again = hv::dbf::encodeField(f, v);
          if (again.size() != size_t(f.width)) __builtin_trap();
        } catch (const hv::dbf::Error&) {
        }
      }
    }
  } catch (const hv::dbf::Error&) {
  }
  return 0;
}
