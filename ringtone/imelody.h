#pragma once
// iMelody (IrDA/ETSI "iMelody" 1.2 text) carried as a user-defined sound in EMS short messages
// (3GPP TS 23.040 9.2.3.24.10.1.3), concatenated when it needs more than one message.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ringtone/nokia.h"
#include "ringtone/song.h"

namespace hv::tunecast {

struct IMelody {
  int beat = 120;
  // The melody line's notes, each in its iMelody form ("*5#f4;").
  std::vector<std::string> notes;

  // The whole object: BEGIN, VERSION, FORMAT, BEAT, MELODY and END lines, each ending in CR LF.
  std::string text() const;
  // The object with its header lines reduced to the BEAT line.
  std::string reducedText() const;
};

// One note in iMelody form: octave prefix, note letter, duration digit, special mark.
std::string iMelodyNote(const SongNote& note);

// Builds the object; the song's tempo becomes its tempo plus the shift, held to 25-900.
IMelody buildIMelody(Song& song, int tempoShift);

// Cuts the object into EMS messages. The models "motorola_388" and "motorola_c350" always get the
// full header lines in a single message. A melody without notes gives no messages.
SplitResult splitIMelody(const IMelody& melody, int maxMessages, std::string_view phoneModel,
                         uint8_t reference);

}  // namespace hv::tunecast
