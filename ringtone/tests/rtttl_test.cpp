// RTTTL reading and writing: token rules, positional defaults, and every failure text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "ringtone/song.h"

namespace hv::tunecast {
namespace {

void expectNote(const SongNote& n, uint16_t duration, const std::string& note,
                const std::string& special, uint16_t octave) {
  EXPECT_EQ(n.duration, duration);
  EXPECT_EQ(n.note, note);
  EXPECT_EQ(n.special, special);
  EXPECT_EQ(n.octave, octave);
}

class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = *fs::createTempDirectory("/tmp", "rtttl"); }
  void TearDown() override { fs::removeAll(dir_); }
  std::string write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ + name, std::ios::binary) << text;
    return dir_ + name;
  }
  std::string dir_;
};

TEST(RtttlRead, DefaultsTempoNotesAndName) {
  Song s;
  ASSERT_TRUE(parseRtttl("tone:d=4,o=5,b=125:8c#.6,e", s).ok());
  EXPECT_EQ(s.name, "music");
  EXPECT_EQ(s.defaultDuration, 4);
  EXPECT_EQ(s.defaultOctave, 5);
  EXPECT_EQ(s.tempo, 125);
  ASSERT_EQ(s.notes.size(), 2u);
  expectNote(s.notes[0], 8, "C#", ".", 6);
  expectNote(s.notes[1], 4, "E", "", 5);
}

TEST(RtttlRead, DefaultsAreTakenByPositionNotByLetter) {
  Song s;
  ASSERT_TRUE(parseRtttl("x:o=5,d=4,b=125:c", s).ok());
  EXPECT_EQ(s.defaultDuration, 5);
  EXPECT_EQ(s.defaultOctave, 4);
  EXPECT_EQ(s.tempo, 125);
  // Every digit of a piece counts; a piece without digits is 0.
  ASSERT_TRUE(parseRtttl("x:d=1x6,o=,b=2 0 0:c", s).ok());
  EXPECT_EQ(s.defaultDuration, 16);
  EXPECT_EQ(s.defaultOctave, 0);
  EXPECT_EQ(s.tempo, 200);
}

TEST(RtttlRead, DotAfterOctaveIsIgnored) {
  Song s;
  ASSERT_TRUE(parseRtttl("x:d=4,o=5,b=63:8c#6.,8c#.6", s).ok());
  expectNote(s.notes[0], 8, "C#", "", 6);
  expectNote(s.notes[1], 8, "C#", ".", 6);
}

TEST(RtttlRead, NoteNamesSpecialsAndUnknownLetters) {
  Song s;
  ASSERT_TRUE(parseRtttl("x:d=8,o=6,b=100:p,2h,b;,16a#&5,x,32G#7", s).ok());
  ASSERT_EQ(s.notes.size(), 6u);
  expectNote(s.notes[0], 8, "P", "", 6);
  expectNote(s.notes[1], 2, "H", "", 6);
  expectNote(s.notes[2], 8, "B", ";", 6);
  expectNote(s.notes[3], 16, "A#", "&", 5);
  expectNote(s.notes[4], 8, "P", "", 6);
  expectNote(s.notes[5], 32, "G#", "", 7);
}

TEST(RtttlRead, DigitOnlyTokensRepeatThePreviousPitch) {
  Song s;
  ASSERT_TRUE(parseRtttl("x:d=4,o=5,b=100:16,e6,8", s).ok());
  ASSERT_EQ(s.notes.size(), 3u);
  expectNote(s.notes[0], 4, "C", "", 5);
  expectNote(s.notes[2], 4, "E", "", 5);
}

TEST(RtttlRead, BlanksAroundTokensAreAllowed) {
  Song s;
  ASSERT_TRUE(parseRtttl("x: d=4, o=5, b=100: 8c#.6, e\n", s).ok());
  ASSERT_EQ(s.notes.size(), 2u);
  expectNote(s.notes[0], 8, "C#", ".", 6);
  expectNote(s.notes[1], 4, "E", "", 5);
}

TEST(RtttlRead, TextFailures) {
  Song s;
  EXPECT_EQ(parseRtttl("", s).text(), T("您截取部分包含内容太少"));
  EXPECT_EQ(parseRtttl("d=4,o=5,b=9", s).text(), T("RTTL内容缺失:\nd=4,o=5,b=9"));
  EXPECT_EQ(parseRtttl("a:o=5:c", s).text(), T("无法解析DOB值:\na:o=5:c"));
  EXPECT_EQ(parseRtttl("a:d=4,o=5:c", s).text(), T("解析DOB值出错"));
  EXPECT_EQ(parseRtttl("a:d=4,o=5,b=6,x=1:c", s).fault(), Fault::RtttlBadDefaults);
  EXPECT_EQ(parseRtttl("a:d=4,o=5,b=63:", s).text(), T("无音符值"));
}

TEST_F(ScratchDir, FileFailures) {
  Song s;
  EXPECT_EQ(readRtttl("", s).text(), T("RTTL文件名无效"));
  EXPECT_EQ(readRtttl(dir_ + "none.txt", s).text(), T("RTTL文件不存在: ") + dir_ + "none.txt");
  EXPECT_EQ(readRtttl(dir_, s).text(), T("不能打开RTTL文件: "));
  ASSERT_TRUE(readRtttl(write("a.txt", "a:d=4,o=5,b=63:c,d"), s).ok());
  EXPECT_EQ(s.notes.size(), 2u);
}

TEST(RtttlShift, MovesAlongTheTableAndKeepsOtherTempos) {
  EXPECT_EQ(shiftTableTempo(125, 0), 125);
  EXPECT_EQ(shiftTableTempo(125, 2), 160);
  EXPECT_EQ(shiftTableTempo(125, -100), 25);
  EXPECT_EQ(shiftTableTempo(800, 5), 900);
  EXPECT_EQ(shiftTableTempo(120, 3), 120);
}

TEST(RtttlFormat, DefaultsLeftOutAndSpecialBeforeOctave) {
  Song s;
  s.name = "music";
  s.defaultDuration = 4;
  s.defaultOctave = 5;
  s.tempo = 112;
  s.notes = {{8, "C#", ".", 6}, {4, "E", "", 5}, {16, "P", "", 5}};
  EXPECT_EQ(formatRtttl(s, 3, 0), "music:d=4,o=5,b=112:8c#.6,e,16p");
  EXPECT_EQ(formatRtttl(s, 1, 1), "music:d=4,o=5,b=125:8c#.6");
}

TEST_F(ScratchDir, WriteLimitsNotesAndReportsFailures) {
  Song s;
  s.name = "music";
  s.tempo = 100;
  s.notes = {{4, "C", "", 5}, {8, "D", "", 6}};
  std::string path = dir_ + "w.txt";
  ASSERT_TRUE(writeRtttl(path, &s, 1, 0).ok());
  EXPECT_EQ(*fs::readFile(path), "music:d=4,o=5,b=100:c");
  ASSERT_TRUE(writeRtttl(path, &s, 99, -1).ok());
  EXPECT_EQ(*fs::readFile(path), "music:d=4,o=5,b=90:c,8d6");

  EXPECT_EQ(writeRtttl("", &s, 1, 0).text(), T("待写RTTL文件名无效"));
  EXPECT_EQ(writeRtttl(path, nullptr, 1, 0).text(), T("RTTL数据无效"));
  EXPECT_EQ(writeRtttl(path, &s, 0, 0).text(), T("没有音符写入短信"));
  EXPECT_EQ(writeRtttl(dir_ + "no/such/dir.txt", &s, 1, 0).text(), T("不能创建待写RTTL文件"));
  Song empty;
  EXPECT_EQ(writeRtttl(path, &empty, 1, 0).text(), T("RTTL数据中无音符号数据"));
}

TEST(Faults, EveryFaultHasItsText) {
  for (int f = int(Fault::RtttlNameInvalid); f <= int(Fault::ResultCopy); ++f) {
    EXPECT_FALSE(faultTemplate(Fault(f)).empty()) << f;
    EXPECT_NO_THROW(T(faultTemplate(Fault(f)))) << f;
  }
  EXPECT_EQ(Status::of<Fault::ExceedNumber>(2).text(), "exceed number:2");
}

// The arguments are checked against the placeholders when the call is compiled: count and kind.
static_assert(fault_text::matches<Fault::ExceedNumber, int>());
static_assert(!fault_text::matches<Fault::ExceedNumber>());
static_assert(!fault_text::matches<Fault::ExceedNumber, std::string>());
static_assert(!fault_text::matches<Fault::ExceedNumber, int, int>());
static_assert(!fault_text::matches<Fault::RtttlMissing, double>());
static_assert(!fault_text::matches<Fault::RtttlMissing, bool>());
static_assert(fault_text::matches<Fault::RtttlMissing, const char*>());
static_assert(fault_text::matches<Fault::ForwardRun, int, std::string, std::string, std::string,
                                  std::string>());

TEST(Faults, PlaceholdersAreFilledInOrder) {
  const std::string path = T("/tmp/铃声/");
  EXPECT_EQ(Status::of<Fault::ReverseRun>(-7, path, std::string("a.mid"), "a.txt").text(),
            T("执行转换失败：-7  path=/tmp/铃声/ mid name=a.mid rttl name=a.txt"));
  EXPECT_EQ(Status::of<Fault::RtttlPartsMissing>(std::string("50% d=4")).text(),
            T("RTTL内容缺失:\n50% d=4"));  // a "%" in a value is no placeholder
  EXPECT_EQ(Status::of<Fault::RtttlOpen>().text(), T("不能打开RTTL文件: "));
  EXPECT_EQ(Status::of<Fault::RtttlOpen>().fault(), Fault::RtttlOpen);
  EXPECT_TRUE(Status().ok());
  EXPECT_TRUE(Status().text().empty());
}

}  // namespace
}  // namespace hv::tunecast
