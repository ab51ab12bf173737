#include "ringtone/nokia.h"

#include <algorithm>
#include <cctype>

namespace hv::tunecast {
namespace {

// Port addressing (IE 5, 16-bit ports): destination 0x1581, the ringing-tone port; originator 0.
constexpr uint8_t kPortElement[] = {0x05, 0x04, 0x15, 0x81, 0x00, 0x00};
constexpr size_t kMessageBytes = 140;
constexpr size_t kSegmentBody = 128;

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

// Command parts end on a byte boundary with 1 to 8 filler bits.
void fill(std::string& part) {
  part.append(8 - part.size() % 8, '0');
}

}  // namespace

std::string bitsOf(uint32_t value, unsigned width) {
  std::string s(width, '0');
  for (unsigned i = 0; i < width; ++i)
    if (value >> i & 1) s[width - 1 - i] = '1';
  return s;
}

ByteStream bytesOf(const std::string& bits) {
  ByteStream out((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') out[i / 8] |= uint8_t(0x80 >> (i % 8));
  return out;
}

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
  tone.header =
      "00000110"
      "00000101"
      "00000100"
      "00010101"
      "10000001"
      "00000000"
      "00000000";
  tone.tempoOn = tempoOff == 0;
  int tempoIndex = 0;
  if (tone.tempoOn) {
    tempoIndex = std::clamp(nokiaTempoIndex(song.tempo) + tempoShift, 0, 31);
    song.tempo = kTempoTable[tempoIndex];
  }

  std::string programming = "0100101";
  fill(programming);

  size_t count = std::min(song.notes.size(), kMaxNokiaNotes);
  size_t patterns = (count + 126) / 127;
  std::string sound =
      "0011101"
      "001"
      "0000" +
      bitsOf(uint32_t(patterns), 8);
  for (size_t p = 0; p < patterns; ++p) {
    size_t first = p * 127, n = std::min<size_t>(127, count - first);
    sound +=
        "000"
        "00"
        "0000" +
        bitsOf(uint32_t(2 * n + (tone.tempoOn ? 1 : 0)), 8);
    if (tone.tempoOn) sound += "100" + bitsOf(uint32_t(tempoIndex), 5);
    for (size_t i = first; i < first + n; ++i) {
      const SongNote& note = song.notes[i];
      sound += "001" + bitsOf(noteValue(note.note), 4) + bitsOf(durationCode(note.duration), 3) +
               bitsOf(specifierCode(note.special), 2);
      sound += "010" + bitsOf(scaleCode(note.octave), 2);
    }
  }
  fill(sound);

  tone.body = "00000010" + programming + sound + "00000000";
  return tone;
}

SplitResult splitNokia(const NokiaRingtone& tone, int maxMessages, size_t noteCount,
                       uint8_t reference) {
  SplitResult r;
  if (tone.header.empty() || tone.body.empty()) return r;
  ByteStream header = bytesOf(tone.header), body = bytesOf(tone.body);
  size_t fittable = std::min(noteCount, kMaxNokiaNotes);
  if (header.size() + body.size() <= kMessageBytes) {
    ByteStream one = header;
    one.insert(one.end(), body.begin(), body.end());
    r.streams.push_back(std::move(one));
    r.notesFitted = fittable;
    return r;
  }

  size_t m = size_t(maxMessages) & 0xFF;
  size_t full = body.size() / kSegmentBody, rest = body.size() % kSegmentBody;
  std::vector<std::pair<size_t, size_t>> cuts;  // offset, length
  if (full >= m) {
    for (size_t i = 0; i < m; ++i) cuts.emplace_back(i * kSegmentBody, kSegmentBody);
    if (full > m)
      r.overflow = int(rest > 0 ? m + 1 : m);
    else
      r.overflow = rest > 0 ? int(m + 1) : 0;
  } else {
    for (size_t i = 0; i < full; ++i) cuts.emplace_back(i * kSegmentBody, kSegmentBody);
    if (rest > 0) cuts.emplace_back(full * kSegmentBody, rest);
  }
  for (size_t i = 0; i < cuts.size(); ++i) {
    ByteStream seg = {0x0B};
    seg.insert(seg.end(), std::begin(kPortElement), std::end(kPortElement));
    // Concatenation, 8-bit reference (IE 0, 3GPP TS 23.040 9.2.3.24.1).
    seg.insert(seg.end(), {0x00, 0x03, reference, uint8_t(cuts.size()), uint8_t(i + 1)});
    seg.insert(seg.end(), body.begin() + long(cuts[i].first),
               body.begin() + long(cuts[i].first + cuts[i].second));
    r.streams.push_back(std::move(seg));
  }
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
