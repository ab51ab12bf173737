// DoProcess's handling of its arguments and of the output folder.
#include "encoder/entry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <thread>

#include "encoder/tests/library.h"
#include "platform/kernel.h"

namespace logopack_test {
namespace {

namespace fsys = std::filesystem;

const std::vector<uint8_t> kLogo = plainPixels(72, 14, 0xFF);

std::string nameFor(uint32_t counter) {
  char name[32];
  std::snprintf(name, sizeof name, "QTX%x.tmp", counter);
  return name;
}

TEST(Entry, FolderWithOrWithoutTrailingSlashNamesTheSameFolder) {
  TempFolder folder;
  for (const std::string& given : {folder.path(), folder.path() + "/"}) {
    const Outcome out = run(given, "nokia_op_logo", 72, 14, kLogo);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(fsys::path(out.path).parent_path(), fsys::path(folder.path())) << out.path;
    EXPECT_EQ(out.path.find("//"), std::string::npos) << out.path;
  }
}

// Runs the entry point with a tick source that always answers `tick`, so that the names tried
// are known beforehand: "QTX<tick>.tmp", then the following counters.
Outcome runAtTick(const std::string& folder, uint32_t tick) {
  static uint32_t fixed;
  fixed = tick;
  std::vector<char> buffer(260, 0);
  std::snprintf(buffer.data(), buffer.size(), "%s", folder.c_str());
  Outcome out;
  out.result = hv::logopack::processPicture(buffer.data(), "nokia_op_logo", 72, 14, kLogo.data(),
                                            [] { return fixed; });
  out.path = buffer.data();
  out.fileExists = fsys::exists(out.path);
  return out;
}

// The names from the tick count on are taken: the first free counter after them is used, and
// the existing files are left as they were.
TEST(Entry, SkipsNamesThatExist) {
  TempFolder folder;
  constexpr uint32_t kTick = 0x2ffe;
  for (uint32_t c = kTick; c < kTick + 10; ++c)
    std::ofstream(folder.path() + "/" + nameFor(c)) << "x";
  const Outcome out = runAtTick(folder.path(), kTick);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.path, folder.path() + "/QTX3008.tmp");
  EXPECT_GT(fsys::file_size(out.path), 0u);
  for (uint32_t c = kTick; c < kTick + 10; ++c)
    EXPECT_EQ(fsys::file_size(folder.path() + "/" + nameFor(c)), 1u) << nameFor(c);
}

// A symbolic link with the name is an existing name: it is neither followed nor replaced.
TEST(Entry, DoesNotFollowALinkOfTheName) {
  TempFolder folder;
  const std::string target = folder.path() + "/target";
  for (uint32_t c = 7; c < 12; ++c) fsys::create_symlink(target, folder.path() + "/" + nameFor(c));
  const Outcome out = runAtTick(folder.path(), 7);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.path, folder.path() + "/QTXc.tmp");
  EXPECT_FALSE(fsys::exists(target));
  EXPECT_FALSE(fsys::is_symlink(out.path));
  EXPECT_TRUE(fsys::is_symlink(folder.path() + "/QTX7.tmp"));
}

// The exported entry point names its file after the system's tick count of the moment.
TEST(Entry, ExportedEntryNamesTheFileAfterTheTickCount) {
  TempFolder folder;
  const uint32_t before = hv::GetTickCount();
  const Outcome out = run(folder.path(), "nokia_op_logo", 72, 14, kLogo);
  const uint32_t after = hv::GetTickCount();
  ASSERT_EQ(out.result, 0);
  const std::string name = fsys::path(out.path).filename();
  ASSERT_TRUE(name.starts_with("QTX") && name.ends_with(".tmp")) << name;
  const std::string digits = name.substr(3, name.size() - 7);
  ASSERT_EQ(digits.find_first_not_of("0123456789abcdef"), std::string::npos) << name;
  const uint32_t counter = uint32_t(std::stoul(digits, nullptr, 16));
  // Unsigned differences: the count may wrap between the two readings.
  EXPECT_LE(counter - before, after - before) << name;
  EXPECT_EQ(nameFor(counter), name);
}

TEST(Entry, UnknownOrMissingFormatNameIsMinusOneWithTheEmptyFileLeft) {
  TempFolder folder;
  for (const char* name : {"NOKIA_OP_LOGO", "Nokia_op_logo", "nokia_op_logo ", "", "nokia"}) {
    const Outcome out = run(folder.path(), name, 72, 14, kLogo);
    EXPECT_EQ(out.result, -1) << name;
    EXPECT_TRUE(out.fileExists && out.file.empty()) << name;
  }
  const Outcome out = run(folder.path(), nullptr, 72, 14, kLogo);
  EXPECT_EQ(out.result, -1);
  EXPECT_TRUE(out.fileExists && out.file.empty());
}

TEST(Entry, MissingPixelsOrNegativeSizesAreMinusTwo) {
  TempFolder folder;
  Outcome out = run(folder.path(), "nokia_op_logo", 72, 14, {});
  EXPECT_EQ(out.result, -2);
  EXPECT_TRUE(out.fileExists && out.file.empty());
  out = run(folder.path(), "siemens_cli", -1, 5, kLogo);
  EXPECT_EQ(out.result, -2);
  out = run(folder.path(), "ems_big_picture", 8, -8, kLogo);
  EXPECT_EQ(out.result, -2);
  EXPECT_TRUE(out.fileExists && out.file.empty());
}

TEST(Entry, NullPathBufferIsMinusThree) {
  auto function = doProcess();
  ASSERT_TRUE(function);
  EXPECT_EQ(function(nullptr, "nokia_op_logo", 72, 14, kLogo.data()), -3);
}

// A buffer of exactly 260 characters with no terminator: nothing past it is read (the sanitizer
// build catches that), nothing is created and the buffer is left alone.
TEST(Entry, BufferWithoutTerminatorIsMinusThreeAndUntouched) {
  auto function = doProcess();
  ASSERT_TRUE(function);
  auto buffer = std::make_unique<char[]>(260);
  std::memset(buffer.get(), 'a', 260);
  buffer[0] = '/';
  EXPECT_EQ(function(buffer.get(), "nokia_op_logo", 72, 14, kLogo.data()), -3);
  for (int i = 1; i < 260; ++i) ASSERT_EQ(buffer[i], 'a') << i;
}

// A folder whose name leaves no room for "/QTX<hex>.tmp" within 260 characters.
TEST(Entry, NameThatDoesNotFitTheBufferIsMinusThreeAndUntouched) {
  TempFolder folder;
  std::string deep = folder.path();
  while (deep.size() < 252) {
    deep += "/" + std::string(std::min<size_t>(60, 252 - deep.size()), 'd');
    fsys::create_directory(deep);
  }
  auto function = doProcess();
  ASSERT_TRUE(function);
  std::vector<char> buffer(260, 0);
  std::memcpy(buffer.data(), deep.c_str(), deep.size());
  EXPECT_EQ(function(buffer.data(), "nokia_op_logo", 72, 14, kLogo.data()), -3);
  EXPECT_EQ(std::string(buffer.data()), deep);
  EXPECT_TRUE(fsys::is_empty(deep));
}

TEST(Entry, MissingFolderIsMinusThreeWithTheTriedPathReturned) {
  TempFolder folder;
  const Outcome out = run(folder.path() + "/missing", "nokia_op_logo", 72, 14, kLogo);
  EXPECT_EQ(out.result, -3);
  EXPECT_EQ(out.path.rfind(folder.path() + "/missing/QTX", 0), 0u) << out.path;
  EXPECT_FALSE(out.fileExists);
}

// When the file cannot be written to the end (here: the file size limit), the result is -3 and
// the file is left empty rather than holding a cut-off batch. Run in a child process so the limit
// stays there.
TEST(Entry, FailedWriteIsMinusThreeAndLeavesTheFileEmpty) {
  TempFolder folder;
  auto function = doProcess();
  ASSERT_TRUE(function);
  const std::vector<uint8_t> picture = plainPixels(72, 28, 0x00);
  const std::string pathFile = folder.path() + "/path";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{100, 100};
    setrlimit(RLIMIT_FSIZE, &limit);
    char buffer[260] = {};
    std::snprintf(buffer, sizeof buffer, "%s", folder.path().c_str());
    const int result = function(buffer, "nokia_picture", 72, 28, picture.data());
    FILE* f = std::fopen(pathFile.c_str(), "w");
    if (f) std::fputs(buffer, f), std::fclose(f);
    _exit(result == -3 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "result was not -3";
  std::string written;
  std::getline(std::ifstream(pathFile), written);
  ASSERT_TRUE(fsys::exists(written)) << written;
  EXPECT_EQ(fsys::file_size(written), 0u);
}

// Many calls at once into one folder: every call gets its own file and a complete batch.
TEST(Entry, ConcurrentCallsEachWriteTheirOwnFile) {
  TempFolder folder;
  constexpr int kThreads = 8, kCalls = 20;
  const std::vector<uint8_t> picture = plainPixels(72, 28, 0x00);
  std::vector<std::vector<Outcome>> outcomes(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i)
        outcomes[t].push_back(run(folder.path(), "nokia_picture", 72, 28, picture));
    });
  for (auto& t : threads) t.join();
  std::set<std::string> paths;
  for (auto& list : outcomes)
    for (auto& out : list) {
      EXPECT_EQ(out.result, 0);
      paths.insert(out.path);
      auto messages = readPacked(out.file);
      ASSERT_TRUE(messages);
      EXPECT_EQ(messages->size(), 3u);
    }
  EXPECT_EQ(paths.size(), size_t(kThreads * kCalls));
}

}  // namespace
}  // namespace logopack_test
