// The conversion driver with stand-in converters (shell scripts): names, command lines, the
// output checks, clean-up, fallback to the converter's folder, the preview, and the exports.
#include "ringtone/driver.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "ringtone/tunecast.h"

namespace hv::tunecast {
namespace {

// Every converter here finds its output name as the last argument.
constexpr const char* kCopyInput =
    "#!/bin/sh\nfor a; do prev=$out; out=$a; done\ncat \"$prev\" > \"$out\"\n";

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = *fs::createTempDirectory("/tmp", "driver");
    fs::makeDirectories(base_ + "tmp");
    fs::makeDirectories(base_ + "conv");
    setenv("TMPDIR", (base_ + "tmp").c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");
    unsetenv("ComSpec");
    temp_ = fs::tempDirectory();
    tool_ = script("conv/midi2rtttl", kCopyInput);
    script("conv/musicreverse", kCopyInput);
    midi_ = file("song.mid", "a:d=4,o=5,b=120:c,8d6,e");
  }
  void TearDown() override {
    unsetenv("ComSpec");
    fs::removeAll(base_);
  }
  std::string file(const std::string& name, const std::string& text) {
    std::ofstream(base_ + name, std::ios::binary) << text;
    return base_ + name;
  }
  std::string script(const std::string& name, const std::string& text) {
    std::string p = file(name, text);
    ::chmod(p.c_str(), 0755);
    return p;
  }
  // Work folders that runs in this second and the next half minute would create, so that they
  // must borrow the converter's folder however late the run starts on a loaded machine.
  void occupyWorkDirectories() {
    std::time_t now = std::time(nullptr);
    for (int s = 0; s < 30; ++s) fs::makeDirectories(workDirectoryName(temp_, now + s));
  }
  size_t workDirectoriesLeft() {
    size_t n = 0;
    for (const auto& name : fs::list(temp_)) n += name.starts_with("MyTool");
    return n;
  }
  std::vector<std::string> converterFolder() {
    auto names = fs::list(base_ + "conv");
    std::sort(names.begin(), names.end());
    return names;
  }
  // Runs that are to fail for want of output end on the clock: they look for it briefly. Runs
  // that are to find the output may look for ten seconds, which costs nothing when the converter
  // is quick, and covers a loaded machine that takes long to start it.
  RunLimits quick{3, std::chrono::milliseconds(200)};
  RunLimits patient{100, std::chrono::milliseconds(100)};
  std::string base_, temp_, tool_, midi_;
};

TEST(DriverNames, ChannelCommandLinesAndWorkFolder) {
  EXPECT_EQ(channelArgument(0), "");
  EXPECT_EQ(channelArgument(17), "");
  EXPECT_EQ(channelArgument(-3), "");
  EXPECT_EQ(channelArgument(1), " 1");
  EXPECT_EQ(channelArgument(16), "16");
  EXPECT_EQ(forwardCommandLine("tooltr", 0, "1.mid", "1.txt"),
            "./tooltr.exe -channel  1.mid 1.txt");
  EXPECT_EQ(forwardCommandLine("tool2", 9, "11.mid", "11.txt"),
            "./tool2.exe -channel  9 11.mid 11.txt");
  EXPECT_EQ(reverseCommandLine("toolre", "1.txt", "1.mid"), "./toolre.exe 1.txt 1.mid");
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 4;
  t.tm_hour = 5;
  t.tm_min = 6;
  t.tm_sec = 7;
  EXPECT_EQ(workDirectoryName("/t/", timegm(&t)), "/t/MyTool202634567/");
}

TEST_F(DriverTest, ConverterOutputIsReadAndTheWorkFolderRemoved) {
  Song song;
  ASSERT_TRUE(forwardConvert(midi_, tool_, 3, song, patient).ok());
  ASSERT_EQ(song.notes.size(), 3u);
  EXPECT_EQ(song.notes[1].note, "D");
  EXPECT_EQ(workDirectoriesLeft(), 0u);
  EXPECT_EQ(converterFolder(), (std::vector<std::string>{"midi2rtttl", "musicreverse"}));
}

TEST_F(DriverTest, CommandLineGoesThroughComSpec) {
  std::string log = base_ + "line.log";
  script("comspec",
         "#!/bin/sh\nprintf '%s|%s' \"$1\" \"$2\" >> " + log + "\nexec /bin/sh -c \"$2\"\n");
  setenv("ComSpec", (base_ + "comspec").c_str(), 1);
  Song song;
  ASSERT_TRUE(forwardConvert(midi_, tool_, 17, song, patient).ok());
  EXPECT_EQ(*fs::readFile(log), "-c|./tooltr.exe -channel  1.mid 1.txt");
  fs::removeFile(log);
  ASSERT_TRUE(forwardConvert(midi_, tool_, 7, song, patient).ok());
  EXPECT_EQ(*fs::readFile(log), "-c|./tooltr.exe -channel  7 1.mid 1.txt");
}

TEST_F(DriverTest, ConverterWithoutOutputFailsAndLeavesNothing) {
  std::string bad = script("conv/fails", "#!/bin/sh\nexit 3\n");
  Song song;
  auto start = std::chrono::steady_clock::now();
  Status s = forwardConvert(midi_, bad, 0, song, quick);
  // All three further looks are made although the converter ended at once.
  EXPECT_GE(std::chrono::steady_clock::now() - start, quick.interval * quick.checks);
  EXPECT_EQ(s.fault(), Fault::ForwardRun);
  std::string head = T("执行转换失败：1 new path=") + temp_ + "MyTool";
  EXPECT_EQ(s.text().substr(0, head.size()), head);
  EXPECT_TRUE(s.text().ends_with("/ new midi name=1.mid new rttl name=1.txt new tool name=tooltr"))
      << s.text();
  EXPECT_EQ(workDirectoriesLeft(), 0u);
}

TEST_F(DriverTest, ConverterThatReturnsBeforeItsOutputIsStillWaitedFor) {
  // The output appears whole (renamed into place): the driver stops waiting for the converter as
  // soon as it sees the file, and this converter has already ended.
  std::string detached = script("conv/detached",
                                "#!/bin/sh\nfor a; do prev=$out; out=$a; done\n"
                                "(sleep 0.4; cat \"$prev\" > part; mv part \"$out\") &\nexit 0\n");
  Song song;
  ASSERT_TRUE(forwardConvert(midi_, detached, 0, song, {50, std::chrono::milliseconds(200)}).ok());
  EXPECT_EQ(song.notes.size(), 3u);
  EXPECT_EQ(workDirectoriesLeft(), 0u);
}

TEST_F(DriverTest, ConverterLaterThanTenSecondsFailsAndIsStopped) {
  std::string late = script("conv/late",
                            "#!/bin/sh\nsleep 12\nfor a; do out=$a; done\n"
                            "echo 'a:d=4,o=5,b=1:c' > \"$out\"\n"
                            "echo late > " +
                                base_ + "late.mark\n");
  auto start = std::chrono::steady_clock::now();
  Song song;
  Status s = forwardConvert(midi_, late, 0, song);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(s.fault(), Fault::ForwardRun);
  EXPECT_GE(took, std::chrono::seconds(10));  // the look at once and ten more
  EXPECT_EQ(workDirectoriesLeft(), 0u);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  EXPECT_FALSE(fs::exists(base_ + "late.mark"));
}

TEST_F(DriverTest, ReaderTextIsTheResult) {
  midi_ = file("junk.mid", "garbage");
  Song song;
  EXPECT_EQ(forwardConvert(midi_, tool_, 0, song, patient).text(), T("RTTL内容缺失:\ngarbage"));
  EXPECT_EQ(workDirectoriesLeft(), 0u);
}

TEST_F(DriverTest, MissingInputsAndFailedCopies) {
  Song song;
  EXPECT_EQ(forwardConvert(base_ + "no.mid", tool_, 0, song, quick).text(),
            T("MIDI文件 ") + base_ + T("no.mid 不存在"));
  EXPECT_EQ(forwardConvert(midi_, base_ + "conv/none", 0, song, quick).text(),
            T("转换工具 ") + base_ + T("conv/none 不存在"));
  // A folder given as the converter or the MIDI file cannot be copied.
  fs::makeDirectories(base_ + "conv/dir");
  EXPECT_EQ(forwardConvert(midi_, base_ + "conv/dir", 0, song, quick).text(),
            T("拷贝转换工具失败"));
  fs::makeDirectories(base_ + "dir.mid");
  EXPECT_EQ(forwardConvert(base_ + "dir.mid", tool_, 0, song, quick).text(),
            T("考备MIDI文件到工作目录失败: 1"));
  EXPECT_EQ(workDirectoriesLeft(), 0u);
}

TEST_F(DriverTest, BorrowedConverterFolderNeverTakesStaleFiles) {
  occupyWorkDirectories();
  file("conv/1.txt", "stale:d=4,o=5,b=63:p");
  file("conv/tooltr.exe", "not a program");
  Song song;
  ASSERT_TRUE(forwardConvert(midi_, tool_, 0, song, patient).ok());
  EXPECT_EQ(song.notes.size(), 3u);
  EXPECT_EQ(converterFolder(),
            (std::vector<std::string>{"1.txt", "midi2rtttl", "musicreverse", "tooltr.exe"}));
  EXPECT_EQ(*fs::readFile(base_ + "conv/1.txt"), "stale:d=4,o=5,b=63:p");
}

TEST_F(DriverTest, TwoRunsAtOnceKeepTheirOwnFiles) {
  std::string slow = script("conv/slow",
                            "#!/bin/sh\nsleep 0.5\nfor a; do prev=$out; out=$a; done\n"
                            "cat \"$prev\" > \"$out\"\n");
  std::string other = file("other.mid", "b:d=8,o=6,b=200:d,e,f,g");
  Song a, b;
  Status sa, sb;
  std::thread t([&] { sa = forwardConvert(midi_, slow, 0, a, patient); });
  sb = forwardConvert(other, slow, 0, b, patient);
  t.join();
  ASSERT_TRUE(sa.ok()) << sa.text();
  ASSERT_TRUE(sb.ok()) << sb.text();
  EXPECT_EQ(a.tempo, 120);
  EXPECT_EQ(a.notes.size(), 3u);
  EXPECT_EQ(b.tempo, 200);
  EXPECT_EQ(b.notes.size(), 4u);
  EXPECT_EQ(workDirectoriesLeft(), 0u);
  EXPECT_EQ(converterFolder(), (std::vector<std::string>{"midi2rtttl", "musicreverse", "slow"}));
}

TEST_F(DriverTest, PreviewWritesTheFittedNotesAndTheirMidi) {
  Song song;
  ASSERT_TRUE(parseRtttl("a:d=4,o=5,b=112:c,d,e,f", song).ok());
  ASSERT_TRUE(makePreview(midi_, tool_, song, 2, patient).ok());
  EXPECT_EQ(*fs::readFile(midi_ + "retring.txt"), "music:d=4,o=5,b=112:c,d");
  EXPECT_EQ(*fs::readFile(midi_ + "retring.mid"), "music:d=4,o=5,b=112:c,d");
  EXPECT_EQ(workDirectoriesLeft(), 0u);
}

TEST_F(DriverTest, PreviewFailures) {
  Song song;
  ASSERT_TRUE(parseRtttl("a:d=4,o=5,b=112:c,d", song).ok());
  EXPECT_EQ(makePreview(midi_, tool_, song, 0, quick).text(), T("没有音符写入短信"));
  fs::makeDirectories(midi_ + "retring.mid");
  EXPECT_EQ(makePreview(midi_, tool_, song, 2, patient).text(), T("拷贝MIDI结果失败：0"));
  fs::removeAll(midi_ + "retring.mid");
  script("conv/musicreverse", "#!/bin/sh\nexit 1\n");
  Status run = makePreview(midi_, tool_, song, 2, quick);
  EXPECT_EQ(run.fault(), Fault::ReverseRun);
  EXPECT_TRUE(run.text().ends_with("/ mid name=1.mid rttl name=1.txt")) << run.text();
  EXPECT_EQ(run.text().substr(0, T("执行转换失败：1  path=").size()), T("执行转换失败：1  path="));
  fs::removeFile(base_ + "conv/musicreverse");
  EXPECT_EQ(makePreview(midi_, tool_, song, 2, quick).text(), T("转换工具失败"));
  EXPECT_TRUE(fs::exists(midi_ + "retring.txt"));
  EXPECT_EQ(workDirectoriesLeft(), 0u);
}

TEST_F(DriverTest, PreviewOfABorrowedFolderSkipsTakenNames) {
  occupyWorkDirectories();
  file("conv/1.mid", "stale");
  Song song;
  ASSERT_TRUE(parseRtttl("a:d=4,o=5,b=112:c,d", song).ok());
  ASSERT_TRUE(makePreview(midi_, tool_, song, 2, patient).ok());
  EXPECT_EQ(*fs::readFile(midi_ + "retring.mid"), "music:d=4,o=5,b=112:c,d");
  EXPECT_EQ(converterFolder(), (std::vector<std::string>{"1.mid", "midi2rtttl", "musicreverse"}));
}

TEST_F(DriverTest, PreviewWithoutAFreeNameFailsTheCopy) {
  occupyWorkDirectories();
  file("conv/1.txt", "");
  for (int i = 1; i < 1000; ++i) file("conv/1" + std::to_string(i) + ".txt", "");
  Song song;
  ASSERT_TRUE(parseRtttl("a:d=4,o=5,b=112:c", song).ok());
  EXPECT_EQ(makePreview(midi_, tool_, song, 1, quick).text(), T("考备RTTL文件失败"));
  EXPECT_FALSE(fs::exists(base_ + "conv/toolre.exe"));
}

TEST_F(DriverTest, EncodingsWithoutMessagesWriteNoFile) {
  std::string tune = "a:d=8,o=5,b=120:c";
  for (int i = 1; i < 200; ++i) tune += ",d";
  Song song;
  ASSERT_TRUE(parseRtttl(tune, song).ok());
  size_t fitted = 99;
  // Only the low 8 bits of the maximum count: 256 allows no message for a tune longer than one.
  EXPECT_EQ(nokiaToFile(song, 0, 0, 256, base_ + "n.sht", fitted).text(),
            T("无法得到简单铃声字节流"));
  Song silent;
  EXPECT_EQ(iMelodyToFile(silent, 0, 3, "nokia", base_ + "i.sht", fitted).text(),
            T("得到EMS字节流出错"));
  EXPECT_EQ(fitted, 99u);
  EXPECT_FALSE(fs::exists(base_ + "n.sht"));
  EXPECT_FALSE(fs::exists(base_ + "i.sht"));
  // The same tune in one allowed message: the file is written and the cut is the warning.
  EXPECT_EQ(nokiaToFile(song, 0, 0, 1, base_ + "n.sht", fitted).text(), "exceed number:2");
  EXPECT_EQ(fitted, 56u);
  EXPECT_EQ(fs::readFile(base_ + "n.sht")->size(), 4u + 4 + 140 + 1);
}

class ExportsTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    lib_ = dlopen(HV_SUITE_DIR "/libTunecast.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (lib_) dlclose(lib_);
    DriverTest::TearDown();
  }
  template <typename F>
  F* entry(const char* name) {
    return reinterpret_cast<F*>(dlsym(lib_, name));
  }
  void* lib_ = nullptr;
};

TEST_F(ExportsTest, ResultTextIsCutToTheDocumentedSize) {
  auto nok = entry<decltype(MIDI2NokShort)>("MIDI2NokShort");
  ASSERT_NE(nok, nullptr);
  std::string longPath = base_ + std::string(5000, 'x') + ".mid";
  std::vector<char> buffer(TUNECAST_RESULT_SIZE + 64, '#');
  EXPECT_EQ(nok(longPath.c_str(), tool_.c_str(), 1, 0, 0, 1, buffer.data()), 0);
  EXPECT_EQ(std::strlen(buffer.data()), size_t(TUNECAST_RESULT_SIZE - 1));
  std::string head = T("MIDI文件 ") + base_;
  EXPECT_EQ(std::string(buffer.data(), head.size()), head);
  for (size_t i = TUNECAST_RESULT_SIZE; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '#');
  EXPECT_EQ(nok(longPath.c_str(), tool_.c_str(), 1, 0, 0, 1, nullptr), 0);
}

TEST_F(ExportsTest, BeatHintAndFreeString) {
  auto beat = entry<decltype(GetMIDIBeat)>("GetMIDIBeat");
  auto freeString = entry<decltype(FreeString)>("FreeString");
  ASSERT_NE(beat, nullptr);
  ASSERT_NE(freeString, nullptr);
  int first = -1, second = -1, third = -1;
  char text[TUNECAST_RESULT_SIZE] = "";
  EXPECT_EQ(beat(midi_.c_str(), tool_.c_str(), 0, &first, &second, &third, text), 1);
  EXPECT_EQ(first, 5);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(third, 10);
  EXPECT_STREQ(text, "");
  file("slow.mid", "a:d=4,o=5,b=24:c");
  EXPECT_EQ(beat((base_ + "slow.mid").c_str(), tool_.c_str(), 0, &first, &second, &third, text), 1)
      << gbkToUtf8Escaped(text);
  EXPECT_EQ(first, 0);
  file("fast.mid", "a:d=4,o=5,b=901:c");
  EXPECT_EQ(beat((base_ + "fast.mid").c_str(), tool_.c_str(), 0, &first, &second, &third, text), 1)
      << gbkToUtf8Escaped(text);
  EXPECT_EQ(first, 10);
  EXPECT_EQ(beat((base_ + "none.mid").c_str(), tool_.c_str(), 0, &first, &second, &third, text), 0);
  EXPECT_EQ(std::string(text), T("MIDI文件 ") + base_ + T("none.mid 不存在"));
  EXPECT_EQ(freeString(nullptr), 0);
  EXPECT_EQ(freeString(strdup("text")), 0);
}

}  // namespace
}  // namespace hv::tunecast
