// A record file's bytes as they might be found on disk: the header is parsed and every whole
// slot deciphered, with records of the size the header claims.
#include <cstddef>
#include <cstdint>
#include <span>

#include "records/record_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace hv::records;
  std::span<const uint8_t> bytes(data, size);
  Header h;
  if (parseHeader(bytes, h) != RecordError::None) return 0;
  if (h.plainSize > 4096) return 0;  // large records add nothing but time
  hv::SessionCipher cipher(h.keyText);
  std::vector<uint8_t> out(h.plainSize);
  uint32_t slots = slotCount(size, h.storedSize);
  for (uint32_t i = 0; i < slots && i < 64; ++i) {
    auto slot = bytes.subspan(size_t(slotOffset(h.storedSize, i)), h.storedSize + 1);
    if (slot[0] == kSlotInUse) decipherRecord(cipher, slot.subspan(1), out);
  }
  return 0;
}
