#pragma once
// The Nokia Smart Messaging ringing tone: a bit string of command parts (ringing-tone
// programming, sound, patterns of note and scale instructions) sent to port 0x1581 in binary
// short messages, concatenated with the 3GPP TS 23.040 concatenation element when it is longer
// than one message.
#include <cstdint>
#include <string>
#include <vector>

#include "ringtone/song.h"
#include "userdata/userdata.h"

namespace hv::tunecast {

using ByteStream = std::vector<uint8_t>;

// Bit strings are texts of '0' and '1', most significant bit first (userdata::BitWriter).
using userdata::bitsOf;
using userdata::bytesOf;

// The largest number of notes one ringing tone carries: 4 patterns of 127.
inline constexpr size_t kMaxNokiaNotes = 4 * 127;

struct NokiaRingtone {
  std::string header;  // user-data header, 56 bits
  std::string body;    // command parts, a whole number of bytes
  bool tempoOn = false;
};

// The tempo index for a tempo: 0 up to 25, 31 from 900, else the largest table tempo strictly
// below it.
int nokiaTempoIndex(uint16_t tempo);

// Encodes the song. With tempoOff 0 a tempo instruction is written and the song's tempo becomes
// the table tempo it names (after the shift); otherwise the song keeps its tempo.
NokiaRingtone encodeNokia(Song& song, int tempoShift, int tempoOff);

struct SplitResult {
  std::vector<ByteStream> streams;
  size_t notesFitted = 0;
  int overflow = 0;  // 0 when everything fitted
};

// Cuts the ringtone into at most maxMessages messages (only the low 8 bits count). `noteCount` is
// the song's note count. `reference` is the concatenation reference of a segmented ringtone.
SplitResult splitNokia(const NokiaRingtone& tone, int maxMessages, size_t noteCount,
                       uint8_t reference);

}  // namespace hv::tunecast
