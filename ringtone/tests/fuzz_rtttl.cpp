// RTTTL text through the reader, the writer and both encoders.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ringtone/imelody.h"
#include "ringtone/nokia.h"
#include "ringtone/song.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace hv::tunecast;
  Song song;
  if (!parseRtttl(std::string_view(reinterpret_cast<const char*>(data), size), song).ok()) return 0;
  Song again;
  if (!parseRtttl(formatRtttl(song, song.notes.size(), 0), again).ok()) __builtin_trap();
  if (again.notes.size() != song.notes.size()) __builtin_trap();
  Song nokia = song;
  NokiaRingtone tone = encodeNokia(nokia, int(size % 7) - 3, int(size % 2));
  for (const auto& s : splitNokia(tone, int(size % 5), song.notes.size(), 1).streams)
    if (s.size() > 140) __builtin_trap();
  IMelody melody = buildIMelody(song, int(size % 11) - 5);
  for (const auto& s : splitIMelody(melody, int(size % 4), "motorola_388", 2).streams)
    if (s.size() > 140) __builtin_trap();
  return 0;
}
