#include "ringtone/song.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#include "platform/fs.h"
#include "ringtone/fileout.h"

namespace hv::tunecast {
namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::toupper(uint8_t(text[i])) != std::toupper(uint8_t(prefix[i]))) return false;
  return true;
}

std::vector<std::string_view> split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(sep, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(uint8_t(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(uint8_t(s.back()))) s.remove_suffix(1);
  return s;
}

// Decimal digits as a number, saturating at the 16-bit maximum.
uint16_t number(std::string_view digits) {
  uint32_t v = 0;
  for (char c : digits) {
    if (!isDigit(c)) continue;
    v = std::min<uint32_t>(v * 10 + uint32_t(c - '0'), 65535);
  }
  return uint16_t(v);
}

// Longer names first, so that "C#" wins over "C".
constexpr std::string_view kNoteNames[] = {"P", "C#", "C", "D#", "D", "E", "F#",
                                           "F", "G#", "G", "A#", "A", "H", "B"};

std::string noteOf(std::string_view text) {
  for (auto name : kNoteNames)
    if (startsWithNoCase(text, name)) return std::string(name);
  return "P";
}

std::string specialOf(std::string_view text) {
  if (text.ends_with('.')) return ".";
  if (text.ends_with(';')) return ";";
  if (text.ends_with('&')) return "&";
  return "";
}

// The defaults part is found by its "d=" opening; a part that carries "d=" later (the keys
// written in another order, or after blanks) is taken when no part opens with it.
const std::string_view* findDefaults(const std::vector<std::string_view>& parts) {
  for (auto& p : parts)
    if (startsWithNoCase(p, "d=")) return &p;
  for (auto& p : parts)
    for (size_t i = 0; i + 1 < p.size(); ++i)
      if (startsWithNoCase(p.substr(i), "d=")) return &p;
  return nullptr;
}

SongNote parseToken(std::string_view token, const Song& song) {
  SongNote n;
  size_t i = 0;
  while (i < token.size() && isDigit(token[i])) ++i;
  if (i == token.size()) {
    // Only digits (or nothing): the pitch of the previous note, the defaults for the rest.
    n.note = song.notes.empty() ? "C" : song.notes.back().note;
    n.duration = song.defaultDuration;
    n.octave = song.defaultOctave;
    return n;
  }
  n.duration = i > 0 ? number(token.substr(0, i)) : song.defaultDuration;
  size_t octaveAt = i;
  while (octaveAt < token.size() && !isDigit(token[octaveAt])) ++octaveAt;
  std::string_view text = token.substr(i, octaveAt - i);
  if (octaveAt < token.size()) {
    size_t end = octaveAt;
    while (end < token.size() && isDigit(token[end])) ++end;
    n.octave = number(token.substr(octaveAt, end - octaveAt));
  } else {
    n.octave = song.defaultOctave;
  }
  n.note = noteOf(text);
  n.special = specialOf(text);
  return n;
}

}  // namespace

uint16_t shiftTableTempo(uint16_t tempo, int shift) {
  for (int i = 0; i < 32; ++i)
    if (kTempoTable[i] == tempo) return kTempoTable[std::clamp(i + shift, 0, 31)];
  return tempo;
}

Status parseRtttl(std::string_view text, Song& song) {
  if (text.empty()) return Status::of<Fault::RtttlTooShort>();
  std::string whole(text);
  auto parts = split(text, ':');
  if (parts.size() < 2) return Status::of<Fault::RtttlPartsMissing>(whole);
  const std::string_view* defaults = findDefaults(parts);
  if (!defaults) return Status::of<Fault::RtttlNoDefaults>(whole);
  auto values = split(*defaults, ',');
  if (values.size() != 3) return Status::of<Fault::RtttlBadDefaults>();
  song = Song{};
  song.defaultDuration = number(values[0]);
  song.defaultOctave = number(values[1]);
  song.tempo = number(values[2]);
  song.name = "music";
  std::string_view notes = parts.back();
  if (trim(notes).empty()) return Status::of<Fault::RtttlNoNotes>();
  for (auto token : split(notes, ',')) song.notes.push_back(parseToken(trim(token), song));
  return {};
}

Status readRtttl(std::string_view path, Song& song) {
  if (path.empty()) return Status::of<Fault::RtttlNameInvalid>();
  if (!fs::exists(path)) return Status::of<Fault::RtttlMissing>(std::string(path));
  std::unique_ptr<FILE, int (*)(FILE*)> f(fs::isDirectory(path) ? nullptr : fs::fopen(path, "r"),
                                          fclose);
  if (!f) return Status::of<Fault::RtttlOpen>();
  std::string text;
  for (int c; (c = std::fgetc(f.get())) != EOF;) text.push_back(char(c));
  if (std::ferror(f.get())) return Status::of<Fault::RtttlOpen>();
  return parseRtttl(text, song);
}

std::string formatRtttl(const Song& song, size_t count, int tempoShift) {
  std::string out = song.name + ":d=" + std::to_string(song.defaultDuration) +
                    ",o=" + std::to_string(song.defaultOctave) +
                    ",b=" + std::to_string(shiftTableTempo(song.tempo, tempoShift)) + ":";
  count = std::min(count, song.notes.size());
  for (size_t i = 0; i < count; ++i) {
    const SongNote& n = song.notes[i];
    if (i > 0) out += ',';
    if (n.duration != song.defaultDuration) out += std::to_string(n.duration);
    for (char c : n.note) out += char(std::tolower(uint8_t(c)));
    out += n.special;
    if (n.octave != song.defaultOctave) out += std::to_string(n.octave);
  }
  return out;
}

Status writeRtttl(std::string_view path, const Song* song, int maxNotes, int tempoShift) {
  if (path.empty()) return Status::of<Fault::WriteNameInvalid>();
  if (!song) return Status::of<Fault::WriteNoSong>();
  if (song->notes.empty()) return Status::of<Fault::WriteNoNotes>();
  if (maxNotes < 1) return Status::of<Fault::WriteNothingToWrite>();
  std::string text = formatRtttl(*song, size_t(maxNotes), tempoShift);
  if (!writeWholeFile(path, text.data(), text.size(), "w")) return Status::of<Fault::WriteCreate>();
  return {};
}

}  // namespace hv::tunecast
