#include "ringtone/imelody.h"

#include <strings.h>

#include <algorithm>
#include <cctype>

namespace hv::tunecast {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kEnd = "END:IMELODY\r\n";
constexpr std::string_view kMelody = "MELODY:";
// The user data of one message can hold this much of the sound element (position byte and text).
constexpr size_t kElementLimit = 128;
// The first message of several: UDHL, concatenation, object distribution (4), user prompt (3)
// and the head of the sound element (identifier, length, position).
constexpr size_t kFirstHeaderSize = 1 + userdata::kConcatenationSize + 4 + 3 + 3;

std::string beatLine(int beat) {
  return "BEAT:" + std::to_string(beat) + "\r\n";
}

std::string fullHeader(int beat) {
  return "BEGIN:IMELODY\r\nVERSION:1.2\r\nFORMAT:CLASS1.0\r\n" + beatLine(beat);
}

std::string melodyText(const std::string& header, const std::vector<std::string>& notes,
                       size_t from, size_t to) {
  std::string t = header;
  t += kMelody;
  for (size_t i = from; i < to; ++i) t += notes[i];
  t += kCrLf;
  t += kEnd;
  return t;
}

// A message carrying one whole iMelody text: concatenation 1 of 1, then the sound element.
ByteStream singleMessage(const std::string& text, uint8_t reference) {
  return userdata::Header(
             {userdata::concatenation(reference, 1, 1), userdata::userDefinedSound(0, text)})
      .bytes();
}

// How many of the notes from `from` fit in `room` characters.
size_t notesThatFit(const std::vector<std::string>& notes, size_t from, size_t room) {
  size_t i = from, used = 0;
  while (i < notes.size() && used + notes[i].size() <= room) used += notes[i++].size();
  return i - from;
}

}  // namespace

std::string IMelody::text() const {
  return melodyText(fullHeader(beat), notes, 0, notes.size());
}
std::string IMelody::reducedText() const {
  return melodyText(beatLine(beat), notes, 0, notes.size());
}

std::string iMelodyNote(const SongNote& n) {
  std::string out;
  switch (n.octave) {
    case 2:
    case 6:
      out = "*5";
      break;
    case 3:
    case 7:
      out = "*6";
      break;
    case 4:
      out = "*3";
      break;
    default:
      break;
  }
  std::string name = n.note;
  for (auto& c : name) c = char(std::toupper(uint8_t(c)));
  static const std::pair<const char*, const char*> letters[] = {
      {"C", "c"}, {"C#", "#c"}, {"D", "d"}, {"D#", "#d"}, {"E", "e"}, {"F", "f"}, {"F#", "#f"},
      {"G", "g"}, {"G#", "#g"}, {"A", "a"}, {"A#", "#a"}, {"B", "b"}, {"H", "b"}};
  std::string letter = "r";
  for (auto& [from, to] : letters)
    if (name == from) letter = to;
  out += letter;
  switch (n.duration) {
    case 1:
      out += '0';
      break;
    case 2:
      out += '1';
      break;
    case 8:
      out += '3';
      break;
    case 16:
      out += '4';
      break;
    case 32:
      out += '5';
      break;
    default:
      out += '2';
      break;
  }
  if (n.special == ".")
    out += '.';
  else if (n.special == ";")
    out += ':';
  else if (n.special == "&")
    out += ';';
  return out;
}

IMelody buildIMelody(Song& song, int tempoShift) {
  IMelody m;
  long beat = long(song.tempo) + tempoShift;
  m.beat = int(std::clamp<long>(beat, 25, 900));
  song.tempo = uint16_t(m.beat);
  for (const auto& n : song.notes) m.notes.push_back(iMelodyNote(n));
  return m;
}

SplitResult splitIMelody(const IMelody& melody, int maxMessages, std::string_view phoneModel,
                         uint8_t reference) {
  SplitResult r;
  const auto& notes = melody.notes;
  // A melody without notes is no ringtone: nothing to send.
  if (notes.empty()) return r;
  std::string whole = melody.text(), reduced = melody.reducedText();
  // Room for notes in a message of the multi-message form: BEAT line, "MELODY:", the notes, CR LF
  // and the end line. The first message's 16 header bytes (with the object distribution and user
  // prompt elements) leave 124 bytes of text in 140; the later ones hold their sound element to
  // 128 bytes, 127 of text.
  size_t fixed = beatLine(melody.beat).size() + kMelody.size() + kCrLf.size() + kEnd.size();
  size_t firstRoom = userdata::room(kFirstHeaderSize) - fixed,
         laterRoom = kElementLimit - 1 - fixed;
  auto messagesNeeded = [&] {
    size_t count = 0;
    for (size_t i = 0; i < notes.size(); ++count) {
      size_t n = notesThatFit(notes, i, count == 0 ? firstRoom : laterRoom);
      if (n == 0) return count + 1;  // a note longer than a message cannot occur; stay bounded
      i += n;
    }
    return std::max<size_t>(count, 1);
  };

  if (whole.size() < kElementLimit || reduced.size() < kElementLimit || maxMessages <= 1) {
    bool keepsHeader = strcasecmp(std::string(phoneModel).c_str(), "motorola_388") == 0 ||
                       strcasecmp(std::string(phoneModel).c_str(), "motorola_c350") == 0;
    if (whole.size() < kElementLimit) {
      r.streams.push_back(singleMessage(whole, reference));
      r.notesFitted = notes.size();
    } else if (!keepsHeader && reduced.size() < kElementLimit) {
      r.streams.push_back(singleMessage(reduced, reference));
      r.notesFitted = notes.size();
    } else {
      // Cut at a note boundary, so that the phone never sees half a note.
      std::string header = keepsHeader ? fullHeader(melody.beat) : beatLine(melody.beat);
      size_t room = kElementLimit - 1 - header.size() - kMelody.size() - kCrLf.size() - kEnd.size();
      size_t kept = notesThatFit(notes, 0, room);
      r.streams.push_back(singleMessage(melodyText(header, notes, 0, kept), reference));
      r.notesFitted = kept;
      r.overflow = int(messagesNeeded());
    }
    return r;
  }

  std::vector<std::pair<size_t, size_t>> slices;  // first note, note count
  size_t max = size_t(std::min(maxMessages, 255));
  for (size_t i = 0; i < notes.size() && slices.size() < max;) {
    size_t n = notesThatFit(notes, i, slices.empty() ? firstRoom : laterRoom);
    if (n == 0) break;
    slices.emplace_back(i, n);
    i += n;
  }
  size_t sent = slices.empty() ? 0 : slices.back().first + slices.back().second;
  uint8_t total = uint8_t(slices.size());
  for (size_t k = 0; k < slices.size(); ++k) {
    std::string text = melodyText(beatLine(melody.beat), notes, slices[k].first,
                                  slices[k].first + slices[k].second);
    userdata::Header header({userdata::concatenation(reference, total, uint8_t(k + 1))});
    if (k == 0) {
      // The first message says how many objects follow and that they make one prompt.
      header.add(userdata::objectDistribution(uint8_t(total + 1), 0x00));
      header.add(userdata::userPrompt(total));
    }
    header.add(userdata::userDefinedSound(0, text));
    r.streams.push_back(header.bytes());
  }
  r.notesFitted = sent;
  r.overflow = sent < notes.size() ? int(messagesNeeded()) : 0;
  return r;
}

}  // namespace hv::tunecast
