// ActionScript against the reference player: each folder of traces/ holds a movie of Ruffle's
// regression suite with output.txt, the trace() lines Flash Player printed while playing it for
// num_frames frames (test.toml). The engine plays it as long and must print the same lines. A
// folder with a file "known-failure" (its reason inside) is expected to differ; a known failure
// that starts to match is reported.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "flash/flash.h"

namespace fs = std::filesystem;

namespace {

const fs::path kCases = fs::path(HV_SOURCE_DIR) / "flash" / "tests" / "traces";

std::vector<std::string> lines(std::istream& in) {
  std::vector<std::string> out;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

int framesToRun(const fs::path& toml) {
  std::ifstream in(toml);
  std::string line;
  while (std::getline(in, line)) {
    int n = 0;
    if (std::sscanf(line.c_str(), "num_frames = %d", &n) == 1 ||
        std::sscanf(line.c_str(), "num_ticks = %d", &n) == 1)
      return n;
  }
  return 1;
}

std::vector<std::string> caseNames() {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(kCases, ec))
    if (fs::exists(e.path() / "output.txt")) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class Traces : public testing::TestWithParam<std::string> {};

TEST_P(Traces, MatchFlashPlayer) {
  const fs::path dir = kCases / GetParam();
  std::ifstream expectedFile(dir / "output.txt");
  std::vector<std::string> expected = lines(expectedFile);
  while (!expected.empty() && expected.back().empty()) expected.pop_back();

  std::string printed;
  flash::Player p(64, 64);
  p.setTraceHandler([&](const std::string& line) { printed += line + "\n"; });
  ASSERT_TRUE(p.load((dir / "test.swf").string()).ok());
  int frames = framesToRun(dir / "test.toml");
  for (int f = 1; f < frames; ++f) p.nextFrame();
  std::istringstream actualText(printed);
  std::vector<std::string> actual = lines(actualText);
  while (!actual.empty() && actual.back().empty()) actual.pop_back();

  std::ostringstream diff;
  std::size_t first = 0;
  while (first < expected.size() && first < actual.size() && expected[first] == actual[first])
    ++first;
  bool same = expected == actual;
  if (!same)
    diff << "first difference at line " << first + 1 << ": expected \""
         << (first < expected.size() ? expected[first] : "<end>") << "\", printed \""
         << (first < actual.size() ? actual[first] : "<end>") << "\"";
  if (fs::exists(dir / "known-failure")) {
    std::ifstream why(dir / "known-failure");
    std::string reason;
    std::getline(why, reason);
    EXPECT_FALSE(same) << GetParam() << " is a known failure (" << reason
                       << ") but now matches: remove its known-failure file";
  } else {
    EXPECT_TRUE(same) << GetParam() << ": " << diff.str();
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, Traces, testing::ValuesIn(caseNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

}  // namespace
