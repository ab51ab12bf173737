#pragma once
// The in-memory melody and its RTTTL text form (Nokia's Ring Tone Text Transfer Language:
// "name:d=<duration>,o=<octave>,b=<beats per minute>:<note>,<note>,...").
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ringtone/fault.h"

namespace hv::tunecast {

struct SongNote {
  uint16_t duration = 4;  // 1, 2, 4, 8, 16 or 32: whole to thirty-second
  std::string note;       // "P", "C", "C#", ... "A#", "H", "B"
  std::string special;    // ".", ";" (double dot), "&" (two thirds) or ""
  uint16_t octave = 5;
};

struct Song {
  std::string name;
  uint16_t defaultDuration = 4;
  uint16_t defaultOctave = 5;
  uint16_t tempo = 63;
  std::vector<SongNote> notes;
};

// The 32 tempos (beats per minute) of the Nokia Smart Messaging ringing tone, by index.
inline constexpr uint16_t kTempoTable[32] = {25,  28,  31,  35,  40,  45,  50,  56,  63,  70,  80,
                                             90,  100, 112, 125, 140, 160, 180, 200, 225, 250, 285,
                                             320, 355, 400, 450, 500, 565, 635, 715, 800, 900};

// A tempo moved `shift` places along the table (index clamped to 0-31) when it is one of the
// table's tempos; any other tempo unchanged.
uint16_t shiftTableTempo(uint16_t tempo, int shift);

// Parses RTTTL text into the song. The song's name is always "music".
Status parseRtttl(std::string_view text, Song& song);
// Reads an RTTTL file (GBK path).
Status readRtttl(std::string_view path, Song& song);

// The RTTTL text of the first `count` notes (count at least 1, at most the note count) with the
// tempo shifted along the table.
std::string formatRtttl(const Song& song, size_t count, int tempoShift);
// Writes the first min(maxNotes, note count) notes as an RTTTL file.
Status writeRtttl(std::string_view path, const Song* song, int maxNotes, int tempoShift);

}  // namespace hv::tunecast
