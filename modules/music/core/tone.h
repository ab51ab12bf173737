#pragma once
// A monophonic rendering of a ringtone as the phone plays it: each note a sine tone at its pitch
// for its length, with a short silence at its end so that repeated notes are heard apart;
// pauses silent. Octaves are folded as each format carries them (a Nokia tone knows four
// scales, iMelody's octave prefixes cover RTTTL's octaves 4 to 7).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "modules/music/core/ringcore.h"
#include "ringtone/song.h"

namespace hv::ringport {

inline constexpr int kSampleRate = 22050;
// The silence at the end of each note, in samples (8 ms), at most a quarter of the note.
inline constexpr int kArticulation = kSampleRate / 125;

// The octave the phone plays a note of this RTTTL octave in (4 to 7).
int playedOctave(Format format, int octave);
// The note's frequency in Hz: A of octave 4 is 440 Hz, equal temperament; 0 for a pause or an
// unknown name.
double noteFrequency(std::string_view note, int playedOctave);
// The note's length in samples at the tempo (a whole note is four beats): "." 3/2, ";" 7/4,
// "&" 2/3.
int64_t noteSamples(const tunecast::SongNote& note, uint16_t tempo, int rate = kSampleRate);

struct ToneNote {
  int64_t start = 0;   // first sample
  int64_t length = 0;  // samples, articulation included
  double frequency = 0;
};
// Where each note lies in the rendering.
std::vector<ToneNote> layout(const Ringtone& ringtone, int rate = kSampleRate);
// The samples (16-bit signed, mono). At most kMaxToneSeconds are rendered.
inline constexpr int kMaxToneSeconds = 600;
std::vector<int16_t> render(const Ringtone& ringtone, int rate = kSampleRate);

// A RIFF WAVE file (PCM, 16 bits, mono) of the samples.
std::string wavBytes(const std::vector<int16_t>& samples, int rate = kSampleRate);
// The samples of such a file; empty when it is not one (only the layout wavBytes writes, with
// any chunks before "data").
std::vector<int16_t> wavSamples(std::string_view bytes, int* rate = nullptr);

}  // namespace hv::ringport
