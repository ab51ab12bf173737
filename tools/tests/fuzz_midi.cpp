// MIDI bytes through the strict reader, the melody line and the writer; what is written must read
// back.
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

#include "tools/melody.h"
#include "tools/midifile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace hv;
  auto parsed = midi::read(std::span<const uint8_t>(data, size));
  auto* file = std::get_if<midi::File>(&parsed);
  if (!file) return 0;
  if (!std::holds_alternative<midi::File>(midi::read(midi::write(*file)))) __builtin_trap();
  if (auto song = melody::melodyOf(*file, int(size % 17))) {
    melody::shortestRtttl(*song);
    if (!std::holds_alternative<midi::File>(midi::read(midi::write(melody::midiOf(*song)))))
      __builtin_trap();
  }
  return 0;
}
