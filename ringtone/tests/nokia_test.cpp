// The Nokia ringing tone: bit fields written out from the Smart Messaging tables, and the split
// into port-addressed, concatenated messages.
#include "ringtone/nokia.h"

#include <gtest/gtest.h>

#include <string>

namespace hv::tunecast {
namespace {

Song songOf(uint16_t tempo, std::vector<SongNote> notes) {
  Song s;
  s.name = "music";
  s.tempo = tempo;
  s.notes = std::move(notes);
  return s;
}

TEST(NokiaBits, FixedWidthFieldsAndBytes) {
  EXPECT_EQ(bitsOf(13, 5), "01101");
  EXPECT_EQ(bitsOf(0, 3), "000");
  EXPECT_EQ(bitsOf(255, 8), "11111111");
  EXPECT_EQ(bitsOf(0x1F5, 8), "11110101");
  EXPECT_EQ(bytesOf("0100101000000010"), (ByteStream{0x4A, 0x02}));
  EXPECT_EQ(bytesOf("101"), (ByteStream{0xA0}));
}

TEST(NokiaTempo, IndexFromTheTable) {
  EXPECT_EQ(nokiaTempoIndex(125), 13);  // equal to an entry: the one below
  EXPECT_EQ(nokiaTempoIndex(126), 14);
  EXPECT_EQ(nokiaTempoIndex(20), 0);
  EXPECT_EQ(nokiaTempoIndex(25), 0);
  EXPECT_EQ(nokiaTempoIndex(26), 0);
  EXPECT_EQ(nokiaTempoIndex(899), 30);
  EXPECT_EQ(nokiaTempoIndex(1000), 31);
}

TEST(NokiaEncode, TempoInstructionReplacesTheSongTempo) {
  Song s = songOf(125, {{4, "C", "", 5}});
  encodeNokia(s, 0, 0);
  EXPECT_EQ(s.tempo, 112);
  s.tempo = 1000;
  encodeNokia(s, 0, 0);
  EXPECT_EQ(s.tempo, 900);
  s.tempo = 125;
  encodeNokia(s, -40, 0);
  EXPECT_EQ(s.tempo, 25);
  s.tempo = 125;
  encodeNokia(s, 2, 0);
  EXPECT_EQ(s.tempo, 140);
  s.tempo = 125;
  encodeNokia(s, 5, 1);
  EXPECT_EQ(s.tempo, 125);
}

// clang-format off
TEST(NokiaEncode, ThreeNotesWithTempoBitByBit) {
  Song s = songOf(125, {{8, "C#", ".", 6}, {4, "e", "", 5}, {4, "P", "", 5}});
  NokiaRingtone tone = encodeNokia(s, 0, 0);
  EXPECT_EQ(tone.header, "00000110" "00000101" "00000100" "00010101" "10000001" "00000000"
                         "00000000");
  std::string expected =
      "00000010"                         // two command parts
      "0100101" "0"                      // ringing-tone programming, 1 filler bit: 0x4A
      "0011101" "001" "0000" "00000001"  // sound, basic song, no title, one pattern
      "000" "00" "0000" "00000111"       // pattern header, 7 instructions
      "100" "01101"                      // tempo index 13
      "001" "0010" "011" "01" "010" "10" // C#, 1/8, dotted; scale 2 (octave 6)
      "001" "0101" "010" "00" "010" "01" // E, 1/4; scale 1 (octave 5)
      "001" "0000" "010" "00" "010" "01" // pause, 1/4
      "000000"                           // filler to 104 bits
      "00000000";                        // command end
  EXPECT_EQ(tone.body, expected);
  EXPECT_EQ(bytesOf(tone.body)[1], 0x4A);
}

TEST(NokiaEncode, PartOfWholeBytesGetsEightFillerBits) {
  // Without tempo, one note makes a sound part of 22 + 17 + 17 = 56 bits.
  Song s = songOf(100, {{32, "H", "&", 7}});
  NokiaRingtone tone = encodeNokia(s, 0, 1);
  std::string expected =
      "00000010" "01001010"
      "0011101" "001" "0000" "00000001"
      "000" "00" "0000" "00000010"
      "001" "1100" "101" "11" "010" "11"
      "00000000"   // 8 filler bits
      "00000000";
  EXPECT_EQ(tone.body, expected);
}

// clang-format on

TEST(NokiaEncode, PatternsOf127AndAtMostFour) {
  Song s = songOf(100, std::vector<SongNote>(600, SongNote{4, "C", "", 5}));
  NokiaRingtone tone = encodeNokia(s, 0, 0);
  // 38 fixed bits, 4 pattern headers with tempo (25), 508 notes (17), filler, end.
  size_t bits = 38 + 4 * 25 + 508 * 17;
  EXPECT_EQ(tone.body.size(), bits + (8 - bits % 8) + 8);
  EXPECT_EQ(tone.body.substr(30, 8), "00000100");      // pattern count 4
  EXPECT_EQ(tone.body.substr(38 + 9, 8), "11111111");  // 2 * 127 + 1 instructions
}

NokiaRingtone toneOfBodyBytes(size_t n) {
  NokiaRingtone t;
  t.header =
      "00000110"
      "00000101"
      "00000100"
      "00010101"
      "10000001"
      "00000000"
      "00000000";
  for (size_t i = 0; i < n; ++i) t.body += "10101011";  // 0xAB
  t.tempoOn = true;
  return t;
}

TEST(NokiaSplit, OneMessageUpTo140Bytes) {
  SplitResult r = splitNokia(toneOfBodyBytes(133), 3, 10, 0x42);
  ASSERT_EQ(r.streams.size(), 1u);
  EXPECT_EQ(r.streams[0].size(), 140u);
  EXPECT_EQ(ByteStream(r.streams[0].begin(), r.streams[0].begin() + 8),
            (ByteStream{0x06, 0x05, 0x04, 0x15, 0x81, 0x00, 0x00, 0xAB}));
  EXPECT_EQ(r.overflow, 0);
  EXPECT_EQ(r.notesFitted, 10u);
}

TEST(NokiaSplit, OneByteMoreGoesOutInSegments) {
  SplitResult r = splitNokia(toneOfBodyBytes(134), 3, 10, 0x42);
  ASSERT_EQ(r.streams.size(), 2u);
  EXPECT_EQ(r.streams[0].size(), 140u);
  EXPECT_EQ(
      ByteStream(r.streams[0].begin(), r.streams[0].begin() + 13),
      (ByteStream{0x0B, 0x05, 0x04, 0x15, 0x81, 0x00, 0x00, 0x00, 0x03, 0x42, 0x02, 0x01, 0xAB}));
  EXPECT_EQ(r.streams[1], (ByteStream{0x0B, 0x05, 0x04, 0x15, 0x81, 0x00, 0x00, 0x00, 0x03, 0x42,
                                      0x02, 0x02, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0x00}));
  EXPECT_EQ(r.overflow, 0);
  EXPECT_EQ(r.notesFitted, 10u);
}

TEST(NokiaSplit, CutToTheMaximumWithOverflowAndNotesThatFit) {
  SplitResult r = splitNokia(toneOfBodyBytes(300), 1, 500, 7);
  ASSERT_EQ(r.streams.size(), 1u);
  EXPECT_EQ(r.streams[0].size(), 140u);
  EXPECT_EQ(r.streams[0][10], 1);  // one segment in all
  EXPECT_EQ(r.streams[0][138], 0xAB);
  EXPECT_EQ(r.streams[0][139], 0x00);
  EXPECT_EQ(r.overflow, 2);
  // (1024 - 38 - 25) / 17 = 56 notes with the tempo instruction, (1024 - 38 - 17) / 17 = 57
  // without.
  EXPECT_EQ(r.notesFitted, 56u);
  NokiaRingtone noTempo = toneOfBodyBytes(300);
  noTempo.tempoOn = false;
  EXPECT_EQ(splitNokia(noTempo, 1, 500, 7).notesFitted, 57u);
  // Three segments of a long tune: 127 notes in the first two patterns' worth, then the rest.
  EXPECT_EQ(splitNokia(toneOfBodyBytes(600), 3, 500, 7).notesFitted,
            127u + (3072 - 38 - 2184 - 25) / 17);
}

TEST(NokiaSplit, ExactlyFullSegmentsAndOverflowRules) {
  SplitResult r = splitNokia(toneOfBodyBytes(256), 2, 9, 1);
  ASSERT_EQ(r.streams.size(), 2u);
  EXPECT_EQ(r.streams[1].size(), 140u);
  EXPECT_EQ(r.overflow, 0);
  EXPECT_EQ(r.notesFitted, 9u);
  EXPECT_EQ(splitNokia(toneOfBodyBytes(256), 1, 9, 1).overflow, 1);  // F > M, no remainder
  EXPECT_EQ(splitNokia(toneOfBodyBytes(257), 2, 9, 1).overflow, 3);  // F = M with remainder
  // Only the low 8 bits of the maximum count: 258 is 2.
  EXPECT_EQ(splitNokia(toneOfBodyBytes(300), 258, 9, 1).streams.size(), 2u);
  EXPECT_TRUE(splitNokia(toneOfBodyBytes(300), 0, 9, 1).streams.empty());
  NokiaRingtone none = toneOfBodyBytes(10);
  none.body.clear();
  EXPECT_TRUE(splitNokia(none, 1, 9, 1).streams.empty());
}

}  // namespace
}  // namespace hv::tunecast
