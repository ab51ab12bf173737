#pragma once
// Between MIDI and RTTTL: the melody line of a MIDI file as a song, and a song as a MIDI file.
#include <optional>
#include <string>

#include "ringtone/song.h"
#include "tools/midifile.h"

namespace hv::melody {

// Ticks per quarter note of the files made from songs: a thirty-second note, its dotted and
// double-dotted lengths and two thirds of it are all whole numbers of ticks.
inline constexpr uint16_t kDivision = 96;

// The melody line of `channel` (1-16; 0 for every channel): at each moment the highest sounding
// note, or a pause. The tempo is that of the first tempo event (120 when there is none). Lengths
// are quantised to 1, 2, 4, 8, 16 or 32, dotted where that is closer; pitches outside the RTTTL
// octaves 4-7 are moved by whole octaves. nullopt when the channel plays no note.
std::optional<tunecast::Song> melodyOf(const midi::File& file, int channel);

// The RTTTL text of the song with the defaults part (d and o) that makes it shortest.
std::string shortestRtttl(tunecast::Song song);

// One track at kDivision: the tempo, then every note for its length (pauses as silence).
midi::File midiOf(const tunecast::Song& song);

}  // namespace hv::melody
