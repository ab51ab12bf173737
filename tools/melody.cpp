#include "tools/melody.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <tuple>
#include <vector>

namespace hv::melody {
namespace {

constexpr const char* kNames[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                    "F#", "G",  "G#", "A",  "A#", "B"};
// RTTTL octave 4 holds A = 440 Hz, MIDI key 69; octave 7 ends at key 107.
constexpr int kLowestKey = 60, kHighestKey = 107;

struct Sounding {
  uint32_t start, end;
  int key;
};

std::vector<Sounding> notesOf(const midi::File& file, int channel) {
  std::vector<Sounding> notes;
  for (const auto& track : file.tracks) {
    std::map<std::pair<int, int>, std::deque<uint32_t>> open;  // (channel, key) -> start ticks
    uint32_t last = 0;
    for (const auto& e : track.events) {
      last = e.tick;
      if (e.status >= 0xF0) continue;
      if (channel && e.channel() != channel - 1) continue;
      bool on = e.kind() == 0x90 && e.data[1] > 0;
      bool off = e.kind() == 0x80 || (e.kind() == 0x90 && e.data[1] == 0);
      auto id = std::make_pair(int(e.channel()), int(e.data.empty() ? 0 : e.data[0]));
      if (on) {
        open[id].push_back(e.tick);
      } else if (off) {
        auto& starts = open[id];
        if (starts.empty()) continue;
        if (e.tick > starts.front()) notes.push_back({starts.front(), e.tick, id.second});
        starts.pop_front();
      }
    }
    // Notes still held at the end of the track last until it ends.
    for (auto& [id, starts] : open)
      for (uint32_t s : starts)
        if (last > s) notes.push_back({s, last, id.second});
  }
  return notes;
}

uint32_t firstTempo(const midi::File& file) {
  std::optional<std::pair<uint32_t, uint32_t>> first;  // tick, tempo
  for (const auto& track : file.tracks)
    for (const auto& e : track.events)
      if (e.status == 0xFF && e.metaType == midi::kMetaTempo && (!first || e.tick < first->first)) {
        first = std::make_pair(e.tick, midi::tempoOf(e));
        break;
      }
  uint32_t us = first ? first->second : 500000;
  return us ? us : 500000;
}

// The melody line as (note index or -1 for a pause, length in ticks).
std::vector<std::pair<long, uint64_t>> lineOf(const std::vector<Sounding>& notes) {
  std::vector<std::tuple<uint32_t, int, size_t>> edges;  // tick, 0 end / 1 start, note
  for (size_t i = 0; i < notes.size(); ++i) {
    edges.emplace_back(notes[i].start, 1, i);
    edges.emplace_back(notes[i].end, 0, i);
  }
  std::sort(edges.begin(), edges.end());
  std::set<std::tuple<int, uint32_t, size_t>> active;  // key, start, note: highest, latest last
  std::vector<std::pair<long, uint64_t>> line;
  for (size_t i = 0; i < edges.size();) {
    uint32_t tick = std::get<0>(edges[i]);
    for (; i < edges.size() && std::get<0>(edges[i]) == tick; ++i) {
      size_t n = std::get<2>(edges[i]);
      auto key = std::make_tuple(notes[n].key, notes[n].start, n);
      if (std::get<1>(edges[i]))
        active.insert(key);
      else
        active.erase(key);
    }
    if (i == edges.size()) break;
    uint64_t length = std::get<0>(edges[i]) - tick;
    long top = active.empty() ? -1 : long(std::get<2>(*active.rbegin()));
    if (!line.empty() && line.back().first == top)
      line.back().second += length;
    else if (!line.empty() || top >= 0)
      line.emplace_back(top, length);
  }
  return line;
}

struct Quantised {
  uint16_t duration;
  bool dotted;
  double quarters;
};

Quantised quantise(double quarters) {
  Quantised best{1, false, 4.0};
  double bestError = HUGE_VAL;
  for (uint16_t d : {1, 2, 4, 8, 16, 32})
    for (bool dotted : {false, true}) {
      double q = (dotted ? 6.0 : 4.0) / d;
      double error = std::abs(quarters - q);
      if (error < bestError - 1e-9) best = {d, dotted, q}, bestError = error;
    }
  return best;
}

void addNote(tunecast::Song& song, const Quantised& q, const std::string& name, int octave) {
  tunecast::SongNote n;
  n.duration = q.duration;
  n.special = q.dotted ? "." : "";
  n.note = name;
  n.octave = uint16_t(octave);
  song.notes.push_back(n);
}

// The octave move that brings the most notes into the RTTTL range, the smallest move first.
int octaveShift(const std::vector<Sounding>& notes) {
  int best = 0;
  size_t bestIn = 0;
  for (int k : {0, 12, -12, 24, -24, 36, -36, 48, -48, 60, -60}) {
    size_t in = 0;
    for (const auto& n : notes) in += n.key + k >= kLowestKey && n.key + k <= kHighestKey;
    if (in > bestIn) best = k, bestIn = in;
  }
  return best;
}

}  // namespace

std::optional<tunecast::Song> melodyOf(const midi::File& file, int channel) {
  auto notes = notesOf(file, channel);
  if (notes.empty()) return std::nullopt;
  uint32_t us = firstTempo(file);
  tunecast::Song song;
  song.name = "music";
  song.tempo = uint16_t(std::clamp<long>(std::lround(60e6 / us), 1, 65535));

  // Quarter notes per tick: from the division, or for SMPTE time from frames and the tempo.
  double quartersPerTick;
  if (file.division & 0x8000) {
    double ticksPerSecond = -int8_t(file.division >> 8) * double(file.division & 0xFF);
    quartersPerTick = 1e6 / us / ticksPerSecond;
  } else {
    quartersPerTick = 1.0 / file.division;
  }

  int shift = octaveShift(notes);
  for (auto [index, ticks] : lineOf(notes)) {
    double quarters = double(ticks) * quartersPerTick;
    if (index < 0) {
      // Long pauses become whole pauses and a rest, at most four bars of silence in all; a note
      // keeps at most a dotted whole.
      quarters = std::min(quarters, 16.0);
      for (; quarters > 6.0; quarters -= 4.0) addNote(song, {1, false, 4.0}, "P", 5);
      if (quarters >= 1.0 / 16) addNote(song, quantise(quarters), "P", 5);
      continue;
    }
    if (quarters < 1.0 / 16) continue;  // shorter than half a thirty-second: a slip, not a note
    int key = notes[size_t(index)].key + shift;
    while (key < kLowestKey) key += 12;
    while (key > kHighestKey) key -= 12;
    addNote(song, quantise(quarters), kNames[key % 12], key / 12 - 1);
  }
  if (song.notes.empty()) return std::nullopt;
  return song;
}

std::string shortestRtttl(tunecast::Song song) {
  std::string best;
  for (uint16_t d : {4, 8, 16, 2, 32, 1})
    for (uint16_t o : {5, 6, 4, 7}) {
      song.defaultDuration = d;
      song.defaultOctave = o;
      // A pause has no pitch: it takes the default octave, which is never written.
      for (auto& n : song.notes)
        if (n.note == "P") n.octave = o;
      std::string text = tunecast::formatRtttl(song, song.notes.size(), 0);
      if (best.empty() || text.size() < best.size()) best = text;
    }
  return best;
}

midi::File midiOf(const tunecast::Song& song) {
  midi::File file;
  file.format = 0;
  file.division = kDivision;
  midi::Track track;
  // RTTTL's own default tempo stands in for a missing one.
  uint32_t bpm = song.tempo ? song.tempo : 63;
  track.events.push_back(midi::tempoEvent(0, std::min<uint32_t>(60000000 / bpm, 0xFFFFFF)));
  uint32_t tick = 0;
  for (const auto& n : song.notes) {
    uint32_t whole = 4 * kDivision;
    uint32_t length = kDivision;
    if (n.duration == 1 || n.duration == 2 || n.duration == 4 || n.duration == 8 ||
        n.duration == 16 || n.duration == 32)
      length = whole / n.duration;
    if (n.special == ".")
      length = length * 3 / 2;
    else if (n.special == ";")
      length = length * 7 / 4;
    else if (n.special == "&")
      length = length * 2 / 3;
    std::string name = n.note;
    for (auto& c : name) c = char(std::toupper(uint8_t(c)));
    if (name == "H") name = "B";
    int semitone = -1;
    for (int i = 0; i < 12; ++i)
      if (name == kNames[i]) semitone = i;
    if (semitone >= 0) {
      long key = std::clamp<long>((long(n.octave) + 1) * 12 + semitone, 0, 127);
      track.events.push_back(midi::noteEvent(tick, true, 0, uint8_t(key), 100));
      track.events.push_back(midi::noteEvent(tick + length, false, 0, uint8_t(key), 0));
    }
    tick += length;
  }
  // The end of the track comes after the last note or pause.
  track.events.push_back(midi::metaEvent(tick, midi::kMetaEndOfTrack, {}));
  file.tracks.push_back(std::move(track));
  return file;
}

}  // namespace hv::melody
