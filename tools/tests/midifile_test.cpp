// The strict MIDI reader and the writer, on bytes written out from the Standard MIDI File layout.
#include "tools/midifile.h"

#include <gtest/gtest.h>

#include <vector>

namespace hv::midi {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes header(uint16_t format, uint16_t tracks, uint16_t division) {
  return {'M',
          'T',
          'h',
          'd',
          0,
          0,
          0,
          6,
          uint8_t(format >> 8),
          uint8_t(format),
          uint8_t(tracks >> 8),
          uint8_t(tracks),
          uint8_t(division >> 8),
          uint8_t(division)};
}

Bytes track(const Bytes& events) {
  Bytes t;
  t.reserve(8 + events.size());
  t.assign({'M', 'T', 'r', 'k', 0, 0, uint8_t(events.size() >> 8), uint8_t(events.size())});
  t.insert(t.end(), events.begin(), events.end());
  return t;
}

Bytes fileOf(const Bytes& events, uint16_t division = 96) {
  Bytes f = header(0, 1, division);
  Bytes t = track(events);
  f.reserve(f.size() + t.size());
  f.insert(f.end(), t.begin(), t.end());
  return f;
}

Error errorOf(const Bytes& bytes) {
  auto r = read(bytes);
  EXPECT_TRUE(std::holds_alternative<ReadFailure>(r));
  return std::holds_alternative<ReadFailure>(r) ? std::get<ReadFailure>(r).error : Error::TooLong;
}

TEST(MidiRead, RunningStatusMetaAndSysex) {
  Bytes events = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,  // tempo 500000
                  0x00, 0x90, 0x3C, 0x64,                    // note on C4
                  0x60, 0x3C, 0x00,                          // running status: velocity 0
                  0x81, 0x00, 0xF0, 0x02, 0x7E, 0xF7,        // delta 128, sysex of 2 bytes
                  0x00, 0xC1, 0x05,                          // program change: one data byte
                  0x00, 0xFF, 0x2F, 0x00};
  auto r = read(fileOf(events));
  ASSERT_TRUE(std::holds_alternative<File>(r));
  const File& f = std::get<File>(r);
  EXPECT_EQ(f.division, 96);
  ASSERT_EQ(f.tracks.size(), 1u);
  const auto& e = f.tracks[0].events;
  ASSERT_EQ(e.size(), 6u);
  EXPECT_EQ(tempoOf(e[0]), 500000u);
  EXPECT_EQ(e[2].status, 0x90);
  EXPECT_EQ(e[2].tick, 96u);
  EXPECT_EQ(e[2].data, (Bytes{0x3C, 0x00}));
  EXPECT_EQ(e[3].tick, 224u);
  EXPECT_EQ(e[3].data, (Bytes{0x7E, 0xF7}));
  EXPECT_EQ(e[4].data, (Bytes{0x05}));
  EXPECT_EQ(e[5].metaType, kMetaEndOfTrack);
}

TEST(MidiRead, FormatOneSkipsUnknownChunks) {
  Bytes f = header(1, 2, 480);
  Bytes junk = {'X', 'Y', 'Z', 'W', 0, 0, 0, 2, 1, 2};
  Bytes t1 = track({0x00, 0xFF, 0x2F, 0x00});
  Bytes t2 = track({0x10, 0x80, 0x40, 0x00, 0x00, 0xFF, 0x2F, 0x00});
  f.insert(f.end(), t1.begin(), t1.end());
  f.insert(f.end(), junk.begin(), junk.end());
  f.insert(f.end(), t2.begin(), t2.end());
  auto r = read(f);
  ASSERT_TRUE(std::holds_alternative<File>(r));
  EXPECT_EQ(std::get<File>(r).tracks.size(), 2u);
  EXPECT_EQ(std::get<File>(r).tracks[1].events[0].tick, 16u);
}

TEST(MidiRead, MalformedFilesAreRefused) {
  EXPECT_EQ(errorOf({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0}), Error::NoHeader);
  EXPECT_EQ(errorOf(header(2, 1, 96)), Error::BadFormat);
  EXPECT_EQ(errorOf(header(0, 2, 96)), Error::BadFormat);
  EXPECT_EQ(errorOf(header(0, 1, 0)), Error::BadDivision);
  EXPECT_EQ(errorOf(header(0, 1, 0xE728 - 0x100)), Error::BadDivision);  // -26 frames a second
  EXPECT_EQ(errorOf(header(0, 1, 96)), Error::TrackCount);
  Bytes shortTrack = fileOf({0x00, 0xFF, 0x2F, 0x00});
  shortTrack.pop_back();
  EXPECT_EQ(errorOf(shortTrack), Error::Truncated);
  EXPECT_EQ(errorOf(fileOf({0xFF, 0xFF, 0xFF, 0xFF, 0x00})), Error::BadQuantity);
  EXPECT_EQ(errorOf(fileOf({0x00, 0x3C, 0x64})), Error::NoRunningStatus);
  EXPECT_EQ(errorOf(fileOf({0x00, 0xF8, 0x00, 0xFF, 0x2F, 0x00})), Error::BadStatus);
  EXPECT_EQ(errorOf(fileOf({0x00, 0x90, 0x3C, 0x80})), Error::BadData);
  EXPECT_EQ(errorOf(fileOf({0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1})), Error::BadMeta);
  EXPECT_EQ(errorOf(fileOf({0x00, 0x90, 0x3C, 0x64})), Error::NoEndOfTrack);
  EXPECT_EQ(errorOf(fileOf({0x00, 0xFF, 0x2F, 0x00, 0x00, 0x90, 0x3C, 0x64})),
            Error::EventsAfterEnd);
  EXPECT_EQ(errorOf(fileOf({0x00, 0xF0, 0x05, 0x01})), Error::Truncated);
  // A sysex cancels running status.
  EXPECT_EQ(errorOf(fileOf({0x00, 0x90, 0x3C, 0x64, 0x00, 0xF0, 0x01, 0xF7, 0x00, 0x3C, 0x00})),
            Error::NoRunningStatus);
  Bytes lying = fileOf({0x00, 0xFF, 0x2F, 0x00});
  lying[21] = 0x40;  // track length past the end of the file
  EXPECT_EQ(errorOf(lying), Error::Truncated);
  for (int e = int(Error::NoHeader); e <= int(Error::TooLong); ++e)
    EXPECT_FALSE(errorText(Error(e)).empty());
}

TEST(MidiWrite, BytesOfAOneNoteFile) {
  File f;
  f.format = 0;
  f.division = 96;
  Track t;
  t.events.push_back(tempoEvent(0, 600000));
  t.events.push_back(noteEvent(0, true, 0, 72, 100));
  t.events.push_back(noteEvent(200, false, 0, 72, 0));
  f.tracks.push_back(t);
  Bytes expected = {
      'M',  'T',  'h',  'd',  0,    0,  0,   6,    0,    0,    0,    1,    0,
      96,   'M',  'T',  'r',  'k',  0,  0,   0,    20,   0x00, 0xFF, 0x51, 0x03,
      0x09, 0x27, 0xC0, 0x00, 0x90, 72, 100, 0x81, 0x48, 0x80, 72,   0,  // delta 200 as a
                                                                         // variable-length number
      0x00, 0xFF, 0x2F, 0x00};
  EXPECT_EQ(write(f), expected);
  auto back = read(expected);
  ASSERT_TRUE(std::holds_alternative<File>(back));
  EXPECT_EQ(std::get<File>(back).tracks[0].events[2].tick, 200u);
}

}  // namespace
}  // namespace hv::midi
