// Every case under data/<format>/: <case>.pic is the picture as a character grid (see
// pixelsFromGrid), <case>.hex the messages expected in the packed file, one line per message, as
// hexadecimal bytes. In .hex files:
//   # ...              a comment line
//   format NAME        the format name passed (default: the folder's name)
//   size W H           the size passed (default: the grid's)
//   result N           the expected result; a failure expects an empty file and no message lines
//   AB                 one byte; "??" one byte of the random reference (the same in every message)
//   X*n, (X Y ...)*n   repetition; a line ending in "\" continues on the next one
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "encoder/tests/format_names.h"
#include "encoder/tests/library.h"

namespace logopack_test {
namespace {

namespace fsys = std::filesystem;

constexpr int kWildcard = -1;
using Pattern = std::vector<int>;

struct Case {
  std::string id;  // <format folder>/<case>
  std::string format;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
  int result = 0;
  std::vector<Pattern> messages;
  std::string error;  // a fixture that cannot be read
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.id;
}

class PatternParser {
 public:
  explicit PatternParser(std::string text) : text_(std::move(text)) {}

  std::optional<Pattern> parse() {
    Pattern out;
    if (!items(out) || pos_ != text_.size()) return std::nullopt;
    return out;
  }

 private:
  void skipSpace() {
    while (pos_ < text_.size() && std::isspace(uint8_t(text_[pos_]))) ++pos_;
  }
  bool items(Pattern& out) {
    for (skipSpace(); pos_ < text_.size() && text_[pos_] != ')'; skipSpace())
      if (!item(out)) return false;
    return true;
  }
  bool item(Pattern& out) {
    Pattern one;
    if (text_[pos_] == '(') {
      ++pos_;
      if (!items(one) || pos_ >= text_.size() || text_[pos_] != ')') return false;
      ++pos_;
    } else if (text_.compare(pos_, 2, "??") == 0) {
      one.push_back(kWildcard);
      pos_ += 2;
    } else {
      if (pos_ + 2 > text_.size() || !std::isxdigit(uint8_t(text_[pos_])) ||
          !std::isxdigit(uint8_t(text_[pos_ + 1])))
        return false;
      one.push_back(std::stoi(text_.substr(pos_, 2), nullptr, 16));
      pos_ += 2;
    }
    size_t times = 1;
    if (pos_ < text_.size() && text_[pos_] == '*') {
      size_t used = 0;
      times = std::stoul(text_.substr(++pos_), &used);
      pos_ += used;
    }
    for (size_t i = 0; i < times; ++i) out.insert(out.end(), one.begin(), one.end());
    return true;
  }

  std::string text_;
  size_t pos_ = 0;
};

Case loadCase(const fsys::path& picFile) {
  Case c;
  c.id = picFile.parent_path().filename().string() + "/" + picFile.stem().string();
  c.format = picFile.parent_path().filename().string();
  std::vector<std::string> rows;
  std::ifstream pic(picFile);
  for (std::string line; std::getline(pic, line);)
    if (!line.empty()) rows.push_back(line);
  c.height = int(rows.size());
  c.width = rows.empty() ? 0 : int(rows[0].size());
  for (auto& r : rows)
    if (int(r.size()) != c.width) c.error = "ragged grid";
  c.pixels = pixelsFromGrid(rows);

  std::ifstream hexFile(fsys::path(picFile).replace_extension(".hex"));
  if (!hexFile) c.error = "no .hex file";
  std::string pending;
  for (std::string line; std::getline(hexFile, line);) {
    if (!line.empty() && line.back() == '\\') {
      pending += line.substr(0, line.size() - 1) + " ";
      continue;
    }
    line = pending + line;
    pending.clear();
    std::istringstream words(line);
    std::string first;
    if (!(words >> first) || first[0] == '#') continue;
    if (first == "format") {
      words >> c.format;
    } else if (first == "size") {
      words >> c.width >> c.height;
    } else if (first == "result") {
      words >> c.result;
    } else if (auto p = PatternParser(line).parse()) {
      c.messages.push_back(std::move(*p));
    } else {
      c.error = "unreadable line: " + line;
    }
  }
  return c;
}

std::vector<Case> allCases() {
  std::vector<fsys::path> files;
  for (auto& e : fsys::recursive_directory_iterator(HV_TEST_DATA_DIR))
    if (e.path().extension() == ".pic") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::vector<Case> cases;
  for (auto& f : files) cases.push_back(loadCase(f));
  return cases;
}

// The reference bytes of a message, in order, or an explanation of the mismatch.
std::string compare(const Pattern& expected, const std::vector<uint8_t>& actual,
                    std::vector<uint8_t>& reference) {
  if (expected.size() != actual.size())
    return "length " + std::to_string(actual.size()) + ", expected " +
           std::to_string(expected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    if (expected[i] == kWildcard)
      reference.push_back(actual[i]);
    else if (expected[i] != actual[i])
      return "byte " + std::to_string(i) + " differs";
  }
  return {};
}

class Fixture : public testing::TestWithParam<Case> {};

TEST_P(Fixture, WritesTheExpectedMessages) {
  const Case& c = GetParam();
  ASSERT_EQ(c.error, "");
  TempFolder folder;
  const Outcome out = run(folder.path() + "/", c.format.c_str(), c.width, c.height, c.pixels);
  ASSERT_EQ(out.result, c.result);
  ASSERT_TRUE(out.fileExists);
  EXPECT_TRUE(std::regex_match(
      out.path, std::regex(std::regex_replace(folder.path(), std::regex("[.]"), "\\.") +
                           "/QTX[0-9a-f]+\\.tmp")))
      << out.path;
  if (c.result != 0) {
    EXPECT_TRUE(c.messages.empty()) << "a failing case lists no messages";
    EXPECT_TRUE(out.file.empty()) << "nothing is written on failure";
    return;
  }
  auto messages = readPacked(out.file);
  ASSERT_TRUE(messages) << "not a packed message file";
  ASSERT_EQ(messages->size(), c.messages.size());
  std::vector<uint8_t> firstReference;
  for (size_t i = 0; i < messages->size(); ++i) {
    std::vector<uint8_t> reference;
    const auto problem = compare(c.messages[i], (*messages)[i], reference);
    EXPECT_EQ(problem, "") << "message " << i + 1 << ": " << hex((*messages)[i]);
    if (i == 0) firstReference = reference;
    EXPECT_EQ(reference, firstReference) << "message " << i + 1 << " has another reference";
  }
  // One byte is an 8-bit concatenation reference (0-254); two the low half of a little-endian
  // Siemens object reference (0-32767).
  if (firstReference.size() == 1) {
    EXPECT_LE(firstReference[0], 254);
  }
  if (firstReference.size() == 2) {
    EXPECT_LE(firstReference[1], 0x7F);
  }
  EXPECT_LE(firstReference.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Data, Fixture, testing::ValuesIn(allCases()),
                         [](const testing::TestParamInfo<Case>& info) {
                           std::string name = info.param.id;
                           for (char& ch : name)
                             if (!std::isalnum(uint8_t(ch))) ch = '_';
                           return name;
                         });

// Every format name has at least one fixture that it encodes successfully.
TEST(Fixtures, CoverEveryFormatName) {
  const auto cases = allCases();
  for (const char* name : kFormatNames)
    EXPECT_TRUE(std::any_of(cases.begin(), cases.end(), [&](const Case& c) {
      return c.format == name && c.result == 0;
    })) << name;
}

}  // namespace
}  // namespace logopack_test
