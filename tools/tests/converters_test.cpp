// The converter programs on MIDI files made by csvmidi and by our writer, checked against RTTTL
// and MIDI event lists written out by hand (midicsv reads our MIDI output); then whole Tunecast
// runs through them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "platform/kernel.h"
#include "ringtone/tunecast.h"
#include "tools/midifile.h"

namespace {

using namespace std::chrono_literals;

const std::string kSuite = HV_SUITE_DIR "/";

class Converters : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = *hv::fs::createTempDirectory("/tmp", "conv");
    hv::fs::makeDirectories(dir_ + "tmp");
    setenv("TMPDIR", (dir_ + "tmp").c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");
    unsetenv("ComSpec");
  }
  void TearDown() override { hv::fs::removeAll(dir_); }

  // Runs a program in the scratch folder; its exit code (-1 when it did not end in 20 s).
  int run(std::vector<std::string> argv, const std::string& output = {}) {
    hv::Process::Options o;
    o.workingDirectory = dir_;
    o.outputFile = output.empty() ? dir_ + "last.log" : output;
    auto p = hv::Process::start(argv, o);
    if (!p) return -2;
    auto rc = p->wait(20000ms);
    if (!rc) p->kill(9);
    return rc.value_or(-1);
  }
  std::string midiFromCsv(const std::string& name, const std::string& csv) {
    std::ofstream(dir_ + name + ".csv") << csv;
    EXPECT_EQ(run({"csvmidi", dir_ + name + ".csv", dir_ + name + ".mid"}), 0);
    return dir_ + name + ".mid";
  }
  std::string toRtttl(const std::string& midi, const std::string& channel = "") {
    std::vector<std::string> argv = {kSuite + "midi2rtttl", "-channel"};
    if (!channel.empty()) argv.push_back(channel);
    argv.push_back(midi);
    argv.push_back("out.txt");
    hv::fs::removeFile(dir_ + "out.txt");
    if (run(argv) != 0) return "exit";
    return hv::fs::readFile(dir_ + "out.txt").value_or("none");
  }
  std::string toMidi(const std::string& rtttl) {
    std::ofstream(dir_ + "in.txt") << rtttl;
    hv::fs::removeFile(dir_ + "back.mid");
    EXPECT_EQ(run({kSuite + "musicreverse", "in.txt", "back.mid"}), 0);
    return dir_ + "back.mid";
  }
  std::string csvOf(const std::string& midi) {
    run({"midicsv", midi}, dir_ + "csv.log");
    return hv::fs::readFile(dir_ + "csv.log").value_or("");
  }
  std::string dir_;
};

constexpr const char* kTune =
    "0, 0, Header, 0, 1, 96\n1, 0, Start_track\n1, 0, Tempo, 500000\n1, 0, Program_c, 0, 0\n"
    "1, 0, Note_on_c, 0, 60, 100\n1, 96, Note_off_c, 0, 60, 0\n1, 96, Note_on_c, 0, 64, 100\n"
    "1, 192, Note_off_c, 0, 64, 0\n1, 192, Note_on_c, 0, 67, 100\n1, 384, Note_off_c, 0, 67, 0\n"
    "1, 384, End_track\n0, 0, End_of_file\n";

TEST_F(Converters, KnownMelodyAtKnownTempo) {
  EXPECT_EQ(toRtttl(midiFromCsv("tune", kTune)), "music:d=4,o=4,b=120:c,e,2g");
}

TEST_F(Converters, DottedLengthsPausesAndTheFirstTempo) {
  // 100 beats a minute; then a later tempo change that does not count. C5 for 144 ticks (dotted
  // quarter), D5 48 (eighth), silence 96, E5 90 (closest to a quarter), F#6 30 (closest to a
  // sixteenth 24, not a dotted sixteenth 36).
  std::string midi = midiFromCsv(
      "dots",
      "0, 0, Header, 1, 2, 96\n"
      "1, 0, Start_track\n1, 0, Tempo, 600000\n1, 200, Tempo, 300000\n1, 200, End_track\n"
      "2, 0, Start_track\n2, 0, Note_on_c, 0, 72, 90\n2, 144, Note_on_c, 0, 72, 0\n"
      "2, 144, Note_on_c, 0, 74, 90\n2, 192, Note_off_c, 0, 74, 0\n"
      "2, 288, Note_on_c, 0, 76, 90\n2, 378, Note_off_c, 0, 76, 0\n"
      "2, 378, Note_on_c, 0, 90, 90\n2, 408, Note_off_c, 0, 90, 0\n2, 408, End_track\n"
      "0, 0, End_of_file\n");
  EXPECT_EQ(toRtttl(midi), "music:d=4,o=5,b=100:c.,8d,p,e,16f#6");
}

TEST_F(Converters, HighestNoteOfTheChosenChannel) {
  // Channel 1 (0 in the file) holds a chord C4-E4-G4 then A4; channel 3 plays D6 over it.
  std::string midi = midiFromCsv(
      "chord",
      "0, 0, Header, 0, 1, 96\n1, 0, Start_track\n"
      "1, 0, Note_on_c, 0, 60, 90\n1, 0, Note_on_c, 0, 64, 90\n1, 0, Note_on_c, 0, 67, 90\n"
      "1, 0, Note_on_c, 2, 86, 90\n1, 96, Note_off_c, 0, 67, 0\n1, 192, Note_off_c, 2, 86, 0\n"
      "1, 192, Note_off_c, 0, 64, 0\n1, 192, Note_off_c, 0, 60, 0\n"
      "1, 192, Note_on_c, 0, 69, 90\n1, 288, Note_off_c, 0, 69, 0\n1, 288, End_track\n"
      "0, 0, End_of_file\n");
  // All channels: D6 for a half note, then A4. No tempo event: 120.
  EXPECT_EQ(toRtttl(midi), "music:d=4,o=6,b=120:2d,a4");
  // Channel 1: G4 while it sounds, then E4 (the highest left), then A4.
  EXPECT_EQ(toRtttl(midi, "1"), "music:d=4,o=4,b=120:g,e,a");
  EXPECT_EQ(toRtttl(midi, "3"), "music:d=2,o=6,b=120:d");
  EXPECT_EQ(toRtttl(midi, "2"), "exit");  // no notes there
}

TEST_F(Converters, ReverseWritesTheTuneAsMidiEvents) {
  std::string midi = toMidi("x:d=4,o=5,b=100:c.,8d#6,p,e");
  EXPECT_EQ(csvOf(midi),
            "0, 0, Header, 0, 1, 96\n"
            "1, 0, Start_track\n"
            "1, 0, Tempo, 600000\n"
            "1, 0, Note_on_c, 0, 72, 100\n"
            "1, 144, Note_off_c, 0, 72, 0\n"
            "1, 144, Note_on_c, 0, 87, 100\n"
            "1, 192, Note_off_c, 0, 87, 0\n"
            "1, 288, Note_on_c, 0, 76, 100\n"
            "1, 384, Note_off_c, 0, 76, 0\n"
            "1, 384, End_track\n"
            "0, 0, End_of_file\n");
}

TEST_F(Converters, MidiToRtttlToMidiToRtttlIsStable) {
  std::string first = toRtttl(midiFromCsv("tune", kTune));
  EXPECT_EQ(toRtttl(toMidi(first)), first);
  std::string rich = "music:d=8,o=5,b=140:c,c#6,16d,4p,d#.,2e7,32f4,f#,1g.,g#,a,4a#,b,p,c";
  std::string once = toRtttl(toMidi(rich));
  EXPECT_EQ(once, rich);
  EXPECT_EQ(toRtttl(toMidi(once)), once);
}

TEST_F(Converters, BadInputEndsWithoutOutput) {
  std::string good = midiFromCsv("tune", kTune);
  std::string bytes = *hv::fs::readFile(good);
  std::ofstream(dir_ + "cut.mid", std::ios::binary) << bytes.substr(0, bytes.size() - 3);
  EXPECT_EQ(toRtttl(dir_ + "cut.mid"), "exit");
  EXPECT_FALSE(hv::fs::exists(dir_ + "out.txt"));
  EXPECT_FALSE(hv::fs::exists(dir_ + "out.txt.part"));
  std::ofstream(dir_ + "text.mid") << "not midi at all";
  EXPECT_EQ(toRtttl(dir_ + "text.mid"), "exit");
  EXPECT_EQ(run({kSuite + "midi2rtttl", "-channel", "x", good, "out.txt"}), 2);
  EXPECT_EQ(run({kSuite + "midi2rtttl", good, "out.txt"}), 2);
  std::ofstream(dir_ + "bad.txt") << "no tune";
  EXPECT_EQ(run({kSuite + "musicreverse", "bad.txt", "bad.mid"}), 1);
  EXPECT_FALSE(hv::fs::exists(dir_ + "bad.mid"));
  EXPECT_EQ(run({kSuite + "musicreverse", "bad.txt"}), 2);
}

// Whole runs of the library's exports through the real converters.
class TunecastRuns : public Converters {
 protected:
  void SetUp() override {
    Converters::SetUp();
    lib_ = dlopen((kSuite + "libTunecast.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib_, nullptr) << dlerror();
    nokia_ = reinterpret_cast<decltype(MIDI2NokShort)*>(dlsym(lib_, "MIDI2NokShort"));
    imelody_ = reinterpret_cast<decltype(MIDI2IMelodyShort)*>(dlsym(lib_, "MIDI2IMelodyShort"));
    ASSERT_TRUE(nokia_ && imelody_);
  }
  void TearDown() override {
    if (lib_) dlclose(lib_);
    Converters::TearDown();
  }
  // A tune of `n` eighth notes climbing through C major, written with our MIDI writer.
  std::string longTune(int n) {
    hv::midi::File f;
    hv::midi::Track t;
    t.events.push_back(hv::midi::tempoEvent(0, 500000));
    const int scale[7] = {0, 2, 4, 5, 7, 9, 11};
    for (int i = 0; i < n; ++i) {
      uint8_t key = uint8_t(72 + scale[i % 7]);
      t.events.push_back(hv::midi::noteEvent(uint32_t(i * 48), true, 0, key, 90));
      t.events.push_back(hv::midi::noteEvent(uint32_t(i * 48 + 48), false, 0, key, 0));
    }
    f.tracks.push_back(t);
    auto bytes = hv::midi::write(f);
    std::ofstream(dir_ + "long.mid", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    return dir_ + "long.mid";
  }
  int noteOns(const std::string& midi) {
    auto bytes = hv::fs::readFile(midi);
    if (!bytes) return -1;
    auto f = hv::midi::read(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()));
    if (!std::holds_alternative<hv::midi::File>(f)) return -1;
    int n = 0;
    for (const auto& e : std::get<hv::midi::File>(f).tracks[0].events)
      n += e.kind() == 0x90 && e.data[1] > 0;
    return n;
  }
  size_t workFoldersLeft() { return hv::fs::list(hv::fs::tempDirectory()).size(); }

  void* lib_ = nullptr;
  decltype(MIDI2NokShort)* nokia_ = nullptr;
  decltype(MIDI2IMelodyShort)* imelody_ = nullptr;
  char text_[TUNECAST_RESULT_SIZE] = "";
};

TEST_F(TunecastRuns, NokiaRingtoneWithPreview) {
  std::string midi = midiFromCsv("tune", kTune);
  ASSERT_EQ(nokia_(midi.c_str(), (kSuite + "midi2rtttl").c_str(), 1, 0, 0, 3, text_), 1)
      << hv::gbkToUtf8Escaped(text_);
  std::string sht = *hv::fs::readFile(midi + ".sht");
  // One message of 23 bytes: port header, then 2 command parts, 0x4A, and the sound part.
  ASSERT_EQ(sht.size(), 32u);
  EXPECT_EQ(sht.substr(0, 17),
            std::string("\x01\0\0\0\x17\0\0\0\x06\x05\x04\x15\x81\0\0\x02\x4A", 17));
  EXPECT_EQ(sht.back(), '\0');
  // 120 is shown by the ringtone's tempo below it, 112.
  EXPECT_EQ(*hv::fs::readFile(midi + "retring.txt"), "music:d=4,o=4,b=112:c,e,2g");
  EXPECT_EQ(noteOns(midi + "retring.mid"), 3);
  EXPECT_NE(csvOf(midi + "retring.mid").find("Tempo, 535714"), std::string::npos);
  EXPECT_EQ(workFoldersLeft(), 0u);
}

// The bytes of a text of '0' and '1', most significant bit first.
std::string bytesOfBits(const std::string& bits) {
  std::string out(bits.size() / 8, '\0');
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') out[i / 8] = char(out[i / 8] | (0x80 >> (i % 8)));
  return out;
}

TEST_F(TunecastRuns, TempoShiftMovesTheRingtoneAndItsPreviewOnce) {
  std::string midi = midiFromCsv("tune", kTune);
  // 120 lies above 112 (index 13); one step on is index 14, 125.
  ASSERT_EQ(nokia_(midi.c_str(), (kSuite + "midi2rtttl").c_str(), 0, 0, 1, 3, text_), 1)
      << hv::gbkToUtf8Escaped(text_);
  // clang-format off
  std::string body = bytesOfBits(
      "00000010" "01001010"
      "0011101" "001" "0000" "00000001"
      "000" "00" "0000" "00000111"
      "100" "01110"                          // tempo index 14
      "001" "0001" "010" "00" "010" "00"     // C, 1/4, scale 0 (octave 4)
      "001" "0101" "010" "00" "010" "00"     // E, 1/4
      "001" "1000" "001" "00" "010" "00"     // G, 1/2
      "000000"
      "00000000");
  // clang-format on
  std::string message = std::string("\x06\x05\x04\x15\x81\0\0", 7) + body;
  EXPECT_EQ(*hv::fs::readFile(midi + ".sht"),
            std::string("\x01\0\0\0\x17\0\0\0", 8) + message + std::string(1, '\0'));
  // The preview plays at the ringtone's tempo, not one shifted a second time (140).
  EXPECT_EQ(*hv::fs::readFile(midi + "retring.txt"), "music:d=4,o=4,b=125:c,e,2g");
  EXPECT_NE(csvOf(midi + "retring.mid").find("Tempo, 480000"), std::string::npos);
}

TEST_F(TunecastRuns, CutRingtoneWarnsAndPreviewsWhatFitted) {
  std::string midi = longTune(200);
  EXPECT_EQ(nokia_(midi.c_str(), (kSuite + "midi2rtttl").c_str(), 0, 0, 0, 1, text_), 0);
  EXPECT_STREQ(text_, "exceed number:2");
  std::string sht = *hv::fs::readFile(midi + ".sht");
  ASSERT_EQ(sht.size(), 4u + 4 + 140 + 1);
  EXPECT_EQ(sht[8], 0x0B);
  EXPECT_EQ(sht[8 + 139], 0);
  EXPECT_EQ(noteOns(midi + "retring.mid"), 56);
  EXPECT_EQ(workFoldersLeft(), 0u);
}

TEST_F(TunecastRuns, IMelodyWithPreview) {
  std::string midi = midiFromCsv("tune", kTune);
  ASSERT_EQ(
      imelody_(midi.c_str(), (kSuite + "midi2rtttl").c_str(), 0, 99, 0, 2, "nokia_7650", text_), 1)
      << hv::gbkToUtf8Escaped(text_);
  std::string object =
      "BEGIN:IMELODY\r\nVERSION:1.2\r\nFORMAT:CLASS1.0\r\nBEAT:120\r\nMELODY:*3c2*3e2*3g1\r\n"
      "END:IMELODY\r\n";
  std::string sht = *hv::fs::readFile(midi + ".sht");
  ASSERT_EQ(sht.size(), 4 + 4 + 9 + object.size() + 1);
  EXPECT_EQ(uint8_t(sht[8]), 9 + object.size() - 1);
  EXPECT_EQ(sht.substr(17, object.size()), object);
  EXPECT_EQ(*hv::fs::readFile(midi + "retring.txt"), "music:d=4,o=4,b=120:c,e,2g");
  EXPECT_EQ(noteOns(midi + "retring.mid"), 3);
}

TEST_F(TunecastRuns, IMelodyCutToTwoMessages) {
  std::string midi = longTune(200);
  EXPECT_EQ(imelody_(midi.c_str(), (kSuite + "midi2rtttl").c_str(), 0, 0, 10, 2, "nokia", text_),
            0);
  std::string warning = text_;
  EXPECT_TRUE(warning.starts_with("exceed number:")) << warning;
  std::string sht = *hv::fs::readFile(midi + ".sht");
  EXPECT_EQ(sht.substr(0, 4), std::string("\x02\0\0\0", 4));
  // Eighth notes of the fifth octave are "c3", "d3", ...: 46 in the first message, 47 in the next.
  EXPECT_EQ(noteOns(midi + "retring.mid"), 93);
  EXPECT_NE(hv::fs::readFile(midi + "retring.txt")->find("b=130:"), std::string::npos);
}

TEST_F(TunecastRuns, MissingReverseConverterFailsOnlyThePreview) {
  hv::fs::makeDirectories(dir_ + "alone");
  ASSERT_TRUE(hv::fs::copyFile(kSuite + "midi2rtttl", dir_ + "alone/midi2rtttl", true));
  ::chmod((dir_ + "alone/midi2rtttl").c_str(), 0755);
  std::string midi = midiFromCsv("tune", kTune);
  EXPECT_EQ(nokia_(midi.c_str(), (dir_ + "alone/midi2rtttl").c_str(), 0, 0, 0, 3, text_), 0);
  EXPECT_EQ(std::string(text_), hv::T("转换工具失败"));
  EXPECT_TRUE(hv::fs::exists(midi + ".sht"));
  EXPECT_TRUE(hv::fs::exists(midi + "retring.txt"));
  EXPECT_FALSE(hv::fs::exists(midi + "retring.mid"));
}

TEST_F(TunecastRuns, MalformedMidiFailsTheRun) {
  std::ofstream(dir_ + "bad.mid") << "MThd garbage";
  EXPECT_EQ(nokia_((dir_ + "bad.mid").c_str(), (kSuite + "midi2rtttl").c_str(), 0, 0, 0, 3, text_),
            0);
  EXPECT_TRUE(std::string(text_).starts_with(hv::T("执行转换失败：1 new path=")));
  EXPECT_FALSE(hv::fs::exists(dir_ + "bad.mid.sht"));
  EXPECT_EQ(workFoldersLeft(), 0u);
}

}  // namespace
