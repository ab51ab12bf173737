#pragma once
// MIDI files for the music module's tests, made by csvmidi (package midicsv) from event lists,
// and a private temporary folder for each test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/kernel.h"

namespace hv::ringport::testing {

inline const std::string kSuite = HV_SUITE_DIR "/";

// Runs csvmidi on the event list; the MIDI file's path.
inline std::string midiFromCsv(const std::string& dir, const std::string& name,
                               const std::string& csv) {
  const std::string in = dir + name + ".csv", out = dir + name + ".mid";
  std::ofstream(in) << csv;
  hv::Process::Options o;
  o.outputFile = dir + name + ".log";
  auto p = hv::Process::start({"csvmidi", in, out}, o);
  EXPECT_TRUE(p.has_value());
  if (p) {
    const auto rc = p->wait(std::chrono::milliseconds(20000));
    if (!rc) p->kill(9);
    EXPECT_EQ(rc.value_or(-1), 0) << hv::fs::readFile(o.outputFile).value_or("");
  }
  return out;
}

// A tune of quarter notes (96 ticks a quarter) on channel 1 at the tempo (microseconds per
// quarter; 500000 is 120 beats a minute), one per key.
inline std::string tuneCsv(const std::vector<int>& keys, long tempo = 500000) {
  std::string csv =
      "0, 0, Header, 0, 1, 96\n1, 0, Start_track\n1, 0, Tempo, " + std::to_string(tempo) + "\n";
  long t = 0;
  for (int k : keys) {
    csv += "1, " + std::to_string(t) + ", Note_on_c, 0, " + std::to_string(k) + ", 100\n";
    t += 96;
    csv += "1, " + std::to_string(t) + ", Note_off_c, 0, " + std::to_string(k) + ", 0\n";
  }
  csv += "1, " + std::to_string(t) + ", End_track\n0, 0, End_of_file\n";
  return csv;
}

// n keys climbing and falling through two octaves from middle C, so neighbours differ.
inline std::vector<int> climbing(int n) {
  std::vector<int> keys;
  for (int i = 0; i < n; ++i) keys.push_back(60 + (i % 24 < 12 ? i % 12 : 12 - i % 12));
  return keys;
}

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = *hv::fs::createTempDirectory("/tmp", "ringtest");
    if (dir_.back() != '/') dir_ += '/';
    hv::fs::makeDirectories(dir_ + "tmp");
    setenv("TMPDIR", (dir_ + "tmp").c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");
    unsetenv("ComSpec");
  }
  void TearDown() override { hv::fs::removeAll(dir_); }
  std::string dir_;
};

}  // namespace hv::ringport::testing
