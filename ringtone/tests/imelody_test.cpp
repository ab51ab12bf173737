// iMelody text and its EMS messages, with the element bytes written out by hand.
#include "ringtone/imelody.h"

#include <gtest/gtest.h>

#include <string>

namespace hv::tunecast {
namespace {

std::string textOf(const ByteStream& m, size_t from) {
  return std::string(m.begin() + long(from), m.end());
}

IMelody melodyOfNotes(int count, int beat = 120) {
  IMelody m;
  m.beat = beat;
  m.notes.assign(size_t(count), "c2");
  return m;
}

TEST(IMelodyNote, PrefixLetterDigitMark) {
  EXPECT_EQ(iMelodyNote({16, "F#", "&", 6}), "*5#f4;");
  EXPECT_EQ(iMelodyNote({4, "c", "", 5}), "c2");
  EXPECT_EQ(iMelodyNote({1, "A#", ".", 4}), "*3#a0.");
  EXPECT_EQ(iMelodyNote({2, "H", ";", 7}), "*6b1:");
  EXPECT_EQ(iMelodyNote({32, "B", "", 3}), "*6b5");
  EXPECT_EQ(iMelodyNote({8, "P", "", 1}), "r3");
  EXPECT_EQ(iMelodyNote({3, "x", "", 2}), "*5r2");
  EXPECT_EQ(iMelodyNote({16, "d#", "", 5}), "#d4");
}

TEST(IMelodyBuild, TempoPlusShiftHeldToRange) {
  Song s;
  s.tempo = 120;
  s.notes = {{4, "C", "", 5}, {8, "E", ".", 6}};
  IMelody m = buildIMelody(s, 10);
  EXPECT_EQ(s.tempo, 130);
  EXPECT_EQ(m.text(),
            "BEGIN:IMELODY\r\nVERSION:1.2\r\nFORMAT:CLASS1.0\r\nBEAT:130\r\nMELODY:c2*5e3.\r\n"
            "END:IMELODY\r\n");
  EXPECT_EQ(m.reducedText(), "BEAT:130\r\nMELODY:c2*5e3.\r\nEND:IMELODY\r\n");
  s.tempo = 30;
  EXPECT_EQ(buildIMelody(s, -100).beat, 25);
  s.tempo = 800;
  EXPECT_EQ(buildIMelody(s, 200).beat, 900);
}

TEST(IMelodySplit, SmallObjectInOneMessage) {
  IMelody m = melodyOfNotes(1);  // 79 bytes of text
  SplitResult r = splitIMelody(m, 3, "nokia_3310", 0x33);
  ASSERT_EQ(r.streams.size(), 1u);
  const ByteStream& s = r.streams[0];
  ASSERT_EQ(s.size(), 88u);
  EXPECT_EQ(ByteStream(s.begin(), s.begin() + 9),
            (ByteStream{87, 0x00, 0x03, 0x33, 0x01, 0x01, 0x0C, 80, 0x00}));
  EXPECT_EQ(textOf(s, 9), m.text());
  EXPECT_EQ(r.overflow, 0);
  EXPECT_EQ(r.notesFitted, 1u);
}

TEST(IMelodySplit, HeaderLinesDroppedWhenThatFits) {
  IMelody m = melodyOfNotes(30);  // whole 137 bytes, reduced 92
  SplitResult r = splitIMelody(m, 3, "nokia_3310", 1);
  ASSERT_EQ(r.streams.size(), 1u);
  EXPECT_EQ(r.streams[0].size(), 101u);
  EXPECT_EQ(r.streams[0][7], 93);
  EXPECT_EQ(textOf(r.streams[0], 9), m.reducedText());
  EXPECT_EQ(r.notesFitted, 30u);
  EXPECT_EQ(r.overflow, 0);
}

TEST(IMelodySplit, MotorolaModelsKeepTheHeaderAndAreCut) {
  IMelody m = melodyOfNotes(30);
  SplitResult r = splitIMelody(m, 3, "MOTOROLA_C350", 1);
  ASSERT_EQ(r.streams.size(), 1u);
  // 127 bytes of text: 55 of header lines, "MELODY:", 25 notes, CR LF, the end line.
  EXPECT_EQ(r.streams[0].size(), 136u);
  EXPECT_EQ(r.streams[0][0], 135);
  EXPECT_EQ(r.streams[0][7], 128);
  std::string notes25;
  for (int i = 0; i < 25; ++i) notes25 += "c2";
  EXPECT_EQ(textOf(r.streams[0], 9),
            "BEGIN:IMELODY\r\nVERSION:1.2\r\nFORMAT:CLASS1.0\r\nBEAT:120\r\nMELODY:" + notes25 +
                "\r\nEND:IMELODY\r\n");
  EXPECT_EQ(r.notesFitted, 25u);
  EXPECT_EQ(r.overflow, 1);
}

TEST(IMelodySplit, SingleAllowedMessageIsCutAtANoteBoundary) {
  IMelody m = melodyOfNotes(100);
  m.notes[46] = "*5#f4;";  // 6 characters: the 95 characters of room end inside it
  SplitResult r = splitIMelody(m, 1, "nokia", 9);
  ASSERT_EQ(r.streams.size(), 1u);
  // BEAT line, "MELODY:", 46 notes (92 characters), CR LF, end line: 124 bytes of text.
  EXPECT_EQ(r.streams[0].size(), 133u);
  EXPECT_EQ(r.notesFitted, 46u);
  EXPECT_EQ(r.overflow, 3);
}

TEST(IMelodySplit, SeveralMessagesWithTheirElements) {
  IMelody m = melodyOfNotes(100);
  SplitResult r = splitIMelody(m, 5, "nokia", 0x5A);
  ASSERT_EQ(r.streams.size(), 3u);
  const ByteStream& first = r.streams[0];
  ASSERT_EQ(first.size(), 140u);
  EXPECT_EQ(ByteStream(first.begin(), first.begin() + 16),
            (ByteStream{139, 0x00, 0x03, 0x5A, 0x03, 0x01, 0x17, 0x02, 0x04, 0x00, 0x13, 0x01, 0x03,
                        0x0C, 125, 0x00}));
  std::string notes46;
  for (int i = 0; i < 46; ++i) notes46 += "c2";
  EXPECT_EQ(textOf(first, 16), "BEAT:120\r\nMELODY:" + notes46 + "\r\nEND:IMELODY\r\n");
  const ByteStream& second = r.streams[1];
  ASSERT_EQ(second.size(), 135u);  // 47 notes: 126 bytes of text
  EXPECT_EQ(ByteStream(second.begin(), second.begin() + 9),
            (ByteStream{134, 0x00, 0x03, 0x5A, 0x03, 0x02, 0x0C, 127, 0x00}));
  const ByteStream& third = r.streams[2];
  EXPECT_EQ(third.size(), 9u + 32 + 14);  // the last 7 notes
  EXPECT_EQ(third[5], 3);
  EXPECT_EQ(r.overflow, 0);
  EXPECT_EQ(r.notesFitted, 100u);
}

TEST(IMelodySplit, MoreThanTheMaximumKeepsTheFirstMessages) {
  SplitResult r = splitIMelody(melodyOfNotes(100), 2, "nokia", 0);
  ASSERT_EQ(r.streams.size(), 2u);
  EXPECT_EQ(r.streams[0][4], 2);  // total number of messages
  EXPECT_EQ(r.streams[0][8], 3);  // object distribution: total + 1
  EXPECT_EQ(r.notesFitted, 93u);
  EXPECT_EQ(r.overflow, 3);
  for (const auto& s : r.streams) EXPECT_LE(s.size(), 140u);
}

}  // namespace
}  // namespace hv::tunecast
