#include "ringtone/nokia.h"

#include <algorithm>
#include <cctype>

namespace hv::tunecast {
namespace {

using userdata::BitField;
using userdata::BitWriter;

// The ringing-tone port of Nokia Smart Messaging, in a 16-bit port addressing element.
constexpr uint16_t kRingtonePort = 0x1581;
constexpr size_t kSegmentBody = 128;

// The fields of the ringing tone, each named after the rule of the Nokia Smart Messaging 3.0.0
// ringing-tone grammar (section "Ringing tone syntax") that it writes.
namespace field {
constexpr BitField kCommandLength{"<command-length>", 8};
constexpr BitField kCommandPart{"<command-part> (<ringing-tone-programming>, <sound>)", 7};
constexpr BitField kCommandEnd{"<command-end>", 8};
constexpr BitField kSongType{"<song-type>", 3};
constexpr BitField kTextLength{"<text-length> (song title)", 4};
constexpr BitField kSongSequenceLength{"<song-sequence-length>", 8};
constexpr BitField kPatternHeaderId{"<pattern-header-id>", 3};
constexpr BitField kPatternId{"<pattern-id>", 2};
constexpr BitField kLoopValue{"<loop-value>", 4};
constexpr BitField kPatternSpecifier{"<pattern-specifier> (instruction count)", 8};
constexpr BitField kInstructionId{"<tempo-|note-|scale-instruction-id>", 3};
constexpr BitField kBeatsPerMinute{"<beats-per-minute> (tempo index)", 5};
constexpr BitField kNoteValue{"<note-value>", 4};
constexpr BitField kNoteDuration{"<note-duration>", 3};
constexpr BitField kNoteDurationSpecifier{"<note-duration-specifier>", 2};
constexpr BitField kNoteScale{"<note-scale>", 2};
}  // namespace field

constexpr uint32_t kRingingToneProgramming = 0b0100101;
constexpr uint32_t kSound = 0b0011101;
constexpr uint32_t kBasicSongType = 0b001;
constexpr uint32_t kPatternHeader = 0b000;
constexpr uint32_t kTempoInstruction = 0b100;
constexpr uint32_t kNoteInstruction = 0b001;
constexpr uint32_t kScaleInstruction = 0b010;

userdata::Header portHeader() {
  return userdata::Header({userdata::ports16(kRingtonePort)});
}

std::string upper(const std::string& s) {
  std::string u = s;
  for (auto& c : u) c = char(std::toupper(uint8_t(c)));
  return u;
}

uint32_t noteValue(const std::string& note) {
  static const char* const names[] = {"P",  "C", "C#", "D", "D#", "E", "F",
                                      "F#", "G", "G#", "A", "A#", "H"};
  std::string u = upper(note);
  if (u == "B") return 12;
  for (uint32_t i = 0; i < 13; ++i)
    if (u == names[i]) return i;
  return 0;
}

uint32_t durationCode(uint16_t duration) {
  switch (duration) {
    case 1:
      return 0;
    case 2:
      return 1;
    case 4:
      return 2;
    case 8:
      return 3;
    case 16:
      return 4;
    case 32:
      return 5;
    default:
      return 2;
  }
}

uint32_t specifierCode(const std::string& special) {
  if (special == ".") return 1;
  if (special == ";") return 2;
  if (special == "&") return 3;
  return 0;
}

// Scale 0 is A = 440 Hz (RTTTL octave 4), 1 is 880 Hz, 2 is 1760 Hz, 3 is 3520 Hz.
uint32_t scaleCode(uint16_t octave) {
  switch (octave) {
    case 1:
    case 5:
      return 1;
    case 2:
    case 6:
      return 2;
    case 3:
    case 7:
      return 3;
    default:
      return 0;
  }
}

}  // namespace

int nokiaTempoIndex(uint16_t tempo) {
  if (tempo <= 25) return 0;
  if (tempo >= 900) return 31;
  int index = 0;
  for (int i = 0; i < 32; ++i)
    if (kTempoTable[i] < tempo) index = i;
  return index;
}

NokiaRingtone encodeNokia(Song& song, int tempoShift, int tempoOff) {
  NokiaRingtone tone;
  BitWriter header;
  for (uint8_t octet : portHeader().bytes()) header.put({"user-data header octet", 8}, octet);
  tone.header = header.bits();
  tone.tempoOn = tempoOff == 0;
  int tempoIndex = 0;
  if (tone.tempoOn) {
    tempoIndex = std::clamp(nokiaTempoIndex(song.tempo) + tempoShift, 0, 31);
    song.tempo = kTempoTable[tempoIndex];
  }

  // Command parts end on an octet boundary with 1 to 8 filler bits.
  BitWriter programming;
  programming.put(field::kCommandPart, kRingingToneProgramming).fillOctet();

  const size_t count = std::min(song.notes.size(), kMaxNokiaNotes);
  const size_t patterns = (count + 126) / 127;
  BitWriter sound;
  sound.put(field::kCommandPart, kSound)
      .put(field::kSongType, kBasicSongType)
      .put(field::kTextLength, 0)
      .put(field::kSongSequenceLength, uint32_t(patterns));
  for (size_t p = 0; p < patterns; ++p) {
    const size_t first = p * 127, n = std::min<size_t>(127, count - first);
    sound.put(field::kPatternHeaderId, kPatternHeader)
        .put(field::kPatternId, 0)
        .put(field::kLoopValue, 0)
        .put(field::kPatternSpecifier, uint32_t(2 * n + (tone.tempoOn ? 1 : 0)));
    if (tone.tempoOn)
      sound.put(field::kInstructionId, kTempoInstruction)
          .put(field::kBeatsPerMinute, uint32_t(tempoIndex));
    for (size_t i = first; i < first + n; ++i) {
      const SongNote& note = song.notes[i];
      sound.put(field::kInstructionId, kNoteInstruction)
          .put(field::kNoteValue, noteValue(note.note))
          .put(field::kNoteDuration, durationCode(note.duration))
          .put(field::kNoteDurationSpecifier, specifierCode(note.special))
          .put(field::kInstructionId, kScaleInstruction)
          .put(field::kNoteScale, scaleCode(note.octave));
    }
  }
  sound.fillOctet();

  BitWriter body;
  body.put(field::kCommandLength, 2).append(programming).append(sound).put(field::kCommandEnd, 0);
  tone.body = body.bits();
  return tone;
}

SplitResult splitNokia(const NokiaRingtone& tone, int maxMessages, size_t noteCount,
                       uint8_t reference) {
  SplitResult r;
  if (tone.header.empty() || tone.body.empty()) return r;
  ByteStream header = bytesOf(tone.header), body = bytesOf(tone.body);
  size_t fittable = std::min(noteCount, kMaxNokiaNotes);
  if (userdata::fits(header.size(), body.size())) {
    ByteStream one = header;
    one.insert(one.end(), body.begin(), body.end());
    r.streams.push_back(std::move(one));
    r.notesFitted = fittable;
    return r;
  }

  // Segments of 128 body octets behind the port and concatenation elements: 12 + 128 = 140.
  const size_t m = size_t(maxMessages) & 0xFF;
  const size_t full = body.size() / kSegmentBody, rest = body.size() % kSegmentBody;
  if (full > m)
    r.overflow = int(rest > 0 ? m + 1 : m);
  else if (full == m)
    r.overflow = rest > 0 ? int(m + 1) : 0;
  r.streams = userdata::concatenated(portHeader(), body, kSegmentBody, reference, m);
  // A cut body still ends with the command-end byte.
  if (!r.streams.empty()) r.streams.back().back() = 0;

  if (r.overflow == 0) {
    r.notesFitted = fittable;
  } else {
    // Body bits of m segments, less the 38 fixed bits before the first pattern; each pattern is a
    // header of h bits and up to 127 notes of 17 bits.
    long x = 1024 * long(m) - 38, h = tone.tempoOn ? 25 : 17;
    long notes = 127 * (x / (h + 2159)) + ((x % (h + 2159)) - h) / 17;
    r.notesFitted = size_t(std::clamp<long>(notes, 0, long(fittable)));
  }
  return r;
}

}  // namespace hv::tunecast
