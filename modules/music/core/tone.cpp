#include "modules/music/core/tone.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <numbers>

#include "include/handvane/byteorder.h"

namespace hv::ringport {

namespace {

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

void put16(std::string& out, uint16_t v) {
  out += char(v & 0xFF);
  out += char(v >> 8);
}
void put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += char((v >> (8 * i)) & 0xFF);
}
uint32_t get32(std::string_view b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
         uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}
uint16_t get16(std::string_view b, size_t at) {
  return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}

}  // namespace

int playedOctave(Format format, int octave) {
  if (format == Format::Nokia) {
    // The ringing tone's four scales: octaves 1/5, 2/6, 3/7, and every other octave the lowest.
    switch (octave) {
      case 1:
      case 5:
        return 5;
      case 2:
      case 6:
        return 6;
      case 3:
      case 7:
        return 7;
      default:
        return 4;
    }
  }
  // iMelody's prefixes: 2/6 "*5", 3/7 "*6", 4 "*3", other octaves none (the default "*4"),
  // which sound as RTTTL's octaves 6, 7, 4 and 5.
  switch (octave) {
    case 2:
    case 6:
      return 6;
    case 3:
    case 7:
      return 7;
    case 4:
      return 4;
    default:
      return 5;
  }
}

double noteFrequency(std::string_view note, int octave) {
  static constexpr struct {
    const char* name;
    int semitone;
  } kNames[] = {{"C", 0}, {"C#", 1}, {"D", 2}, {"D#", 3},  {"E", 4},  {"F", 5}, {"F#", 6},
                {"G", 7}, {"G#", 8}, {"A", 9}, {"A#", 10}, {"H", 11}, {"B", 11}};
  const std::string n = upper(note);
  for (const auto& k : kNames) {
    if (n == k.name) {
      return 440.0 * std::pow(2.0, double(octave - 4) + double(k.semitone - 9) / 12.0);
    }
  }
  return 0;
}

int64_t noteSamples(const tunecast::SongNote& note, uint16_t tempo, int rate) {
  if (tempo == 0 || note.duration == 0) return 0;
  // A whole note is four beats of 60 / tempo seconds.
  double seconds = 4.0 * 60.0 / double(tempo) / double(note.duration);
  if (note.special == ".") seconds *= 1.5;
  if (note.special == ";") seconds *= 1.75;
  if (note.special == "&") seconds *= 2.0 / 3.0;
  return int64_t(std::llround(seconds * rate));
}

std::vector<ToneNote> layout(const Ringtone& ringtone, int rate) {
  std::vector<ToneNote> notes;
  const uint16_t tempo = ringtone.tempoOff ? kNokiaDefaultTempo : ringtone.fitted.tempo;
  const int64_t limit = int64_t(kMaxToneSeconds) * rate;
  int64_t at = 0;
  for (const auto& n : ringtone.fitted.notes) {
    ToneNote t;
    t.start = at;
    t.length = std::min(noteSamples(n, tempo, rate), limit - at);
    t.frequency = noteFrequency(n.note, playedOctave(ringtone.format, n.octave));
    if (t.length <= 0) break;
    notes.push_back(t);
    at += t.length;
  }
  return notes;
}

std::vector<int16_t> render(const Ringtone& ringtone, int rate) {
  const auto notes = layout(ringtone, rate);
  const int64_t total = notes.empty() ? 0 : notes.back().start + notes.back().length;
  std::vector<int16_t> samples(size_t(total), 0);
  for (const auto& n : notes) {
    if (n.frequency <= 0) continue;
    const int64_t sounding =
        n.length - std::min<int64_t>(kArticulation * rate / kSampleRate, n.length / 4);
    const double step = 2.0 * std::numbers::pi * n.frequency / rate;
    for (int64_t i = 0; i < sounding; ++i) {
      samples[size_t(n.start + i)] =
          int16_t(std::lround(12000.0 * std::sin(step * (double(i) + 0.5))));
    }
  }
  return samples;
}

std::string wavBytes(const std::vector<int16_t>& samples, int rate) {
  const uint32_t data = uint32_t(samples.size() * 2);
  std::string out;
  out.reserve(44 + data);
  out += "RIFF";
  put32(out, 36 + data);
  out += "WAVEfmt ";
  put32(out, 16);
  put16(out, 1);  // PCM
  put16(out, 1);  // mono
  put32(out, uint32_t(rate));
  put32(out, uint32_t(rate) * 2);
  put16(out, 2);
  put16(out, 16);
  out += "data";
  put32(out, data);
  for (int16_t s : samples) put16(out, uint16_t(s));
  return out;
}

std::vector<int16_t> wavSamples(std::string_view b, int* rate) {
  if (b.size() < 12 || b.substr(0, 4) != "RIFF" || b.substr(8, 4) != "WAVE") return {};
  size_t at = 12;
  bool pcm16 = false;
  while (at + 8 <= b.size()) {
    const std::string_view id = b.substr(at, 4);
    const uint32_t len = get32(b, at + 4);
    at += 8;
    if (len > b.size() - at) return {};
    if (id == "fmt " && len >= 16) {
      pcm16 = get16(b, at) == 1 && get16(b, at + 2) == 1 && get16(b, at + 14) == 16;
      if (rate) *rate = int(get32(b, at + 4));
    } else if (id == "data") {
      if (!pcm16) return {};
      std::vector<int16_t> out(len / 2);
      for (size_t i = 0; i < out.size(); ++i) out[i] = int16_t(get16(b, at + 2 * i));
      return out;
    }
    at += len + (len & 1);
  }
  return {};
}

}  // namespace hv::ringport
