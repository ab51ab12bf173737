// Pictures against an outside renderer. Each folder of regress/ is a case: test.swf, case.ini
// and expected-NNNN.png, the picture of frame NNNN (after NNNN - 1 ticks of playback) made by
// Ruffle (reference/make-references.sh) or, where the file says so, by Flash Player itself.
//
// case.ini, section [case]:
//   frames = 1,4-6        frames compared
//   tolerance = 24        largest channel difference that is not an outlier
//   max_outliers = 0.5%   outliers allowed per frame (a count, or a share of the pixels)
//   known_failure = yes   the case is expected to fail; a pass is reported as an error
//   goto = yes            the frames reached with gotoFrame() must match as well
//
// Where reference.txt lists the trace lines the reference printed, the engine must print the
// same. A frame that fails writes actual-NNNN.png and diff-NNNN.png (outliers red) to
// FLASH_REGRESS_OUT/<case>/; every case writes its summary.txt there.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "flash/flash.h"
#include "flash/tests/images.h"

namespace fs = std::filesystem;

namespace {

const fs::path kCases = fs::path(HV_SOURCE_DIR) / "flash" / "tests" / "regress";

struct Case {
  std::vector<int> frames;
  int tolerance = 24;
  std::string maxOutliers = "0.5%";
  bool knownFailure = false;
  bool checkGoto = false;
};

std::map<std::string, std::string> readIni(const fs::path& file) {
  std::map<std::string, std::string> values;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    auto eq = line.find('=');
    if (eq == std::string::npos || line[0] == '#' || line[0] == ';' || line[0] == '[') continue;
    auto trim = [](std::string s) {
      s.erase(0, s.find_first_not_of(" \t\r"));
      s.erase(s.find_last_not_of(" \t\r") + 1);
      return s;
    };
    values[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
  }
  return values;
}

std::vector<int> parseFrames(const std::string& list) {
  std::vector<int> frames;
  std::stringstream in(list);
  std::string item;
  while (std::getline(in, item, ',')) {
    int a = 0, b = 0;
    if (std::sscanf(item.c_str(), "%d-%d", &a, &b) == 2) {
      for (int f = a; f <= b; ++f) frames.push_back(f);
    } else if (a > 0) {
      frames.push_back(a);
    }
  }
  return frames;
}

Case readCase(const fs::path& dir) {
  auto ini = readIni(dir / "case.ini");
  Case c;
  c.frames = parseFrames(ini.count("frames") ? ini["frames"] : "1");
  if (ini.count("tolerance")) c.tolerance = std::stoi(ini["tolerance"]);
  if (ini.count("max_outliers")) c.maxOutliers = ini["max_outliers"];
  c.knownFailure = ini["known_failure"] == "yes" || ini["known_failure"] == "true";
  c.checkGoto = ini["goto"] == "yes" || ini["goto"] == "true";
  return c;
}

std::size_t outlierBudget(const std::string& spec, std::size_t pixels) {
  if (!spec.empty() && spec.back() == '%')
    return std::size_t(std::stod(spec) / 100 * double(pixels));
  return std::size_t(std::stoul(spec));
}

std::vector<std::string> caseNames() {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(kCases, ec))
    if (fs::exists(e.path() / "case.ini")) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string frameName(const char* prefix, int frame) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s-%04d.png", prefix, frame);
  return buf;
}

flashtest::Image render(flash::Player& p) {
  flashtest::Image img;
  img.width = p.width();
  img.height = p.height();
  img.rgb.resize(p.rowStride() * std::size_t(img.height));
  EXPECT_TRUE(p.render(img.rgb.data(), p.rowStride()).ok());
  return img;
}

class Regression : public testing::TestWithParam<std::string> {};

TEST_P(Regression, MatchesTheOutsideRenderer) {
  const std::string name = GetParam();
  const fs::path dir = kCases / name;
  const fs::path out = fs::path(FLASH_REGRESS_OUT) / name;
  fs::create_directories(out);
  Case c = readCase(dir);
  ASSERT_FALSE(c.frames.empty());

  flashtest::Image first;
  ASSERT_TRUE(flashtest::readPng((dir / frameName("expected", c.frames.front())).string(), first))
      << name << ": no expected picture of frame " << c.frames.front();
  flash::Player play(first.width, first.height), jump(first.width, first.height);
  std::vector<std::string> traced;
  play.setTraceHandler([&](const std::string& line) { traced.push_back(line); });
  ASSERT_TRUE(play.load((dir / "test.swf").string()).ok());
  ASSERT_TRUE(jump.load((dir / "test.swf").string()).ok());

  std::ostringstream summary, problems;
  bool pass = true;
  std::size_t budget =
      outlierBudget(c.maxOutliers, std::size_t(first.width) * std::size_t(first.height));
  int shown = 1;
  for (int f : c.frames) {
    flashtest::Image expected;
    ASSERT_TRUE(flashtest::readPng((dir / frameName("expected", f)).string(), expected))
        << frameName("expected", f);
    while (shown < f) {
      play.nextFrame();
      ++shown;
    }
    std::vector<std::pair<const char*, flashtest::Image>> tries = {{"actual", render(play)}};
    if (c.checkGoto) {
      EXPECT_TRUE(jump.gotoFrame(f)) << "frame " << f;
      tries.push_back({"goto", render(jump)});
    }
    for (auto& [kind, actual] : tries) {
      flashtest::Comparison cmp = flashtest::compare(expected, actual, c.tolerance);
      bool ok = cmp.outliers <= budget;
      summary << name << " " << kind << " frame " << f << " outliers " << cmp.outliers << "/"
              << budget << " largest " << cmp.largest << " " << (ok ? "pass" : "FAIL") << "\n";
      if (ok) continue;
      pass = false;
      problems << kind << " frame " << f << ": " << cmp.outliers << " pixels off by more than "
               << c.tolerance << " (allowed " << budget << ")\n";
      flashtest::writePng((out / frameName(kind, f)).string(), actual);
      flashtest::writePng(
          (out / frameName(std::string(kind) == "goto" ? "goto-diff" : "diff", f)).string(),
          cmp.difference);
    }
  }
  // The trace lines the reference printed up to the last frame compared, when it made them.
  std::vector<std::string> referenceTraces;
  std::ifstream reference(dir / "reference.txt");
  for (std::string line; std::getline(reference, line);)
    if (line.rfind("trace = ", 0) == 0) referenceTraces.push_back(line.substr(8));
  if (fs::exists(dir / "reference.txt") && traced != referenceTraces) {
    pass = false;
    problems << "trace lines differ from the reference's (" << traced.size() << " printed, "
             << referenceTraces.size() << " expected)\n";
    summary << name << " traces FAIL\n";
  }
  std::ofstream(out / "summary.txt") << summary.str() << (c.knownFailure ? "known failure\n" : "");
  std::cout << summary.str();
  if (c.knownFailure)
    EXPECT_FALSE(pass)
        << name
        << " is listed as a known failure but now passes: remove known_failure from its case.ini";
  else
    EXPECT_TRUE(pass) << name << ":\n" << problems.str() << "pictures in " << out;
}

INSTANTIATE_TEST_SUITE_P(Cases, Regression, testing::ValuesIn(caseNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string n = info.param;
                           for (auto& ch : n)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

}  // namespace
