// The tone rendering checked from its samples: each note's frequency from the zero crossings of
// its sounding part, each note's length from where the sound starts and stops; octave folding
// of both formats; the WAVE file read back.
#include "modules/music/core/tone.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ringtone/song.h"

namespace hv::ringport {
namespace {

Ringtone toneOf(const std::string& rtttl, Format f = Format::Nokia, bool tempoOff = false) {
  Ringtone t;
  t.format = f;
  t.tempoOff = tempoOff;
  EXPECT_TRUE(tunecast::parseRtttl(rtttl, t.fitted).ok()) << rtttl;
  return t;
}

struct Heard {
  int64_t start, end;  // first and one past the last non-silent sample
  double frequency;    // from the upward zero crossings
};

// The sounding stretches of the samples (a silence of more than 2 ms ends one).
std::vector<Heard> listen(const std::vector<int16_t>& s, int rate) {
  std::vector<Heard> out;
  const int64_t gap = rate / 500;
  int64_t i = 0, n = int64_t(s.size());
  while (i < n) {
    while (i < n && s[size_t(i)] == 0) ++i;
    if (i >= n) break;
    const int64_t start = i;
    int64_t last = i, quiet = 0;
    for (; i < n; ++i) {
      if (s[size_t(i)] != 0) {
        last = i;
        quiet = 0;
      } else if (++quiet > gap) {
        break;
      }
    }
    int crossings = 0;
    int64_t first = -1, lastCross = -1;
    for (int64_t k = start + 1; k <= last; ++k) {
      if (s[size_t(k - 1)] < 0 && s[size_t(k)] >= 0) {
        if (first < 0) first = k;
        lastCross = k;
        ++crossings;
      }
    }
    const double f = crossings > 1 ? double(crossings - 1) * rate / double(lastCross - first) : 0;
    out.push_back({start, last + 1, f});
  }
  return out;
}

TEST(Tone, FrequenciesAndLengthsFromTheSamples) {
  // 120 beats a minute: a quarter is 0.5 s, an eighth 0.25 s, a dotted quarter 0.75 s.
  const Ringtone t = toneOf("x:d=4,o=5,b=120:a,8c6,p,a.4");
  const auto samples = render(t);
  // Lengths round to whole samples: 11025, 5513 (5512.5), 11025, 16538 (16537.5).
  ASSERT_EQ(samples.size(), size_t(11025 + 5513 + 11025 + 16538));
  const auto heard = listen(samples, kSampleRate);
  ASSERT_EQ(heard.size(), 3u);  // the pause is silent
  const double expected[] = {880.0, 1046.5, 440.0};
  const double seconds[] = {0.5, 0.25, 0.75};
  const int64_t starts[] = {0, 11025, 11025 + 5513 + 11025};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_NEAR(heard[i].frequency, expected[i], expected[i] * 0.01) << i;
    EXPECT_EQ(heard[i].start, starts[i]) << i;
    // Sounding for the note's length less the articulation gap (within a sample's rounding of
    // the last zero).
    EXPECT_NEAR(double(heard[i].end - heard[i].start), seconds[i] * kSampleRate - kArticulation,
                3.0)
        << i;
  }
}

TEST(Tone, LayoutFollowsTempoAndSpecials) {
  const Ringtone t = toneOf("x:d=4,o=5,b=63:c,c;,c&,2c,16p");
  const auto notes = layout(t);
  ASSERT_EQ(notes.size(), 5u);
  const double quarter = 60.0 / 63 * kSampleRate;
  EXPECT_NEAR(double(notes[0].length), quarter, 1);
  EXPECT_NEAR(double(notes[1].length), quarter * 1.75, 1);
  EXPECT_NEAR(double(notes[2].length), quarter * 2 / 3, 1);
  EXPECT_NEAR(double(notes[3].length), quarter * 2, 1);
  EXPECT_EQ(notes[4].frequency, 0);
  for (size_t i = 1; i < notes.size(); ++i)
    EXPECT_EQ(notes[i].start, notes[i - 1].start + notes[i - 1].length);
  // Without its tempo instruction a Nokia tone plays at the phone's 63 beats a minute.
  const Ringtone fast = toneOf("x:d=4,o=5,b=200:c", Format::Nokia, true);
  EXPECT_NEAR(double(layout(fast)[0].length), quarter, 1);
}

TEST(Tone, OctavesFoldAsEachFormatCarriesThem) {
  EXPECT_EQ(playedOctave(Format::Nokia, 1), 5);
  EXPECT_EQ(playedOctave(Format::Nokia, 4), 4);
  EXPECT_EQ(playedOctave(Format::Nokia, 7), 7);
  EXPECT_EQ(playedOctave(Format::Nokia, 8), 4);
  EXPECT_EQ(playedOctave(Format::IMelody, 2), 6);
  EXPECT_EQ(playedOctave(Format::IMelody, 4), 4);
  EXPECT_EQ(playedOctave(Format::IMelody, 1), 5);
  EXPECT_NEAR(noteFrequency("A", 4), 440.0, 1e-9);
  EXPECT_NEAR(noteFrequency("c", 4), 261.6256, 1e-3);
  EXPECT_NEAR(noteFrequency("H", 5), noteFrequency("B", 5), 1e-9);
  EXPECT_EQ(noteFrequency("P", 5), 0);
  EXPECT_EQ(noteFrequency("X", 5), 0);
  // RTTTL octave 1 has no iMelody prefix: it sounds in the default octave, RTTTL's 5.
  const auto n = layout(toneOf("x:d=4,o=1,b=120:a", Format::IMelody));
  EXPECT_NEAR(n.at(0).frequency, 880.0, 1e-6);
}

TEST(Tone, WaveFileReadsBack) {
  const auto samples = render(toneOf("x:d=8,o=6,b=180:e,g,p,c7"));
  int rate = 0;
  const std::string wav = wavBytes(samples);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(wav.size(), 44 + samples.size() * 2);
  EXPECT_EQ(wavSamples(wav, &rate), samples);
  EXPECT_EQ(rate, kSampleRate);
  EXPECT_TRUE(wavSamples(wav.substr(0, 30)).empty());
  EXPECT_TRUE(wavSamples("RIFF....WAVEdata\xff\xff\xff\xff").empty());
}

TEST(Tone, AnEnormousSongIsCappedAtTenMinutes) {
  Ringtone t = toneOf("x:d=1,o=5,b=25:c");
  t.fitted.notes.assign(2000, t.fitted.notes[0]);  // 2000 whole notes at 25: over 3 hours
  EXPECT_EQ(render(t).size(), size_t(kMaxToneSeconds) * kSampleRate);
}

}  // namespace
}  // namespace hv::ringport
