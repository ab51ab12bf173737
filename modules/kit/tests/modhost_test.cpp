// hv-modhost as a user runs it: the program loads a module library by path, calls its DoConvert
// with the command line's strings and ends when the module's dialogs have ended.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/fs.h"
#include "platform/kernel.h"
#include "tests/service-e2e/peers.h"

namespace {

class ModhostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = *hv::fs::createTempDirectory({}, "modhost");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("HV_PROBE_OUTPUT", (dir_ + "/args").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("HV_PROBE_OUTPUT");
    unsetenv("HV_PROBE_DIALOGS");
    hv::fs::removeAll(dir_);
  }
  std::optional<int> run(const std::vector<std::string>& args) {
    std::vector<std::string> argv{hv::e2e::suiteProgram("hv-modhost")};
    argv.insert(argv.end(), args.begin(), args.end());
    hv::Process::Options o;
    o.outputFile = dir_ + "/host.out";
    auto p = hv::Process::start(argv, o);
    if (!p) return std::nullopt;
    auto status = p->wait(std::chrono::seconds(60));
    if (!status) p->kill(9);
    return status;
  }
  std::string output() { return hv::fs::readFile(dir_ + "/host.out").value_or(""); }
  std::string dir_;
};

TEST_F(ModhostTest, RunsTheModuleWithTheGivenStringsUntilItsDialogsEnd) {
  setenv("HV_PROBE_DIALOGS", "2", 1);
  EXPECT_EQ(run({PROBE_MODULE, "13900139000", "/tmp/some file.txt", "tag1"}), 0) << output();
  for (const char* n : {".1", ".2"}) {
    EXPECT_EQ(hv::fs::readFile(dir_ + "/args" + n).value_or(""),
              "13900139000\n/tmp/some file.txt\ntag1\n");
  }
}

TEST_F(ModhostTest, MissingStringsAreEmpty) {
  EXPECT_EQ(run({PROBE_MODULE}), 0) << output();
  EXPECT_EQ(hv::fs::readFile(dir_ + "/args.1").value_or(""), "\n\n\n");
}

TEST_F(ModhostTest, LibraryOrEntryMissingAndBadCommandLinesAreRefused) {
  EXPECT_EQ(run({dir_ + "/nothing.so"}), 3);
  EXPECT_EQ(run({hv::e2e::suiteProgram("libplatform.so")}), 3);
  EXPECT_NE(output().find("has no DoConvert"), std::string::npos) << output();
  EXPECT_EQ(run({}), 2);
  EXPECT_EQ(run({PROBE_MODULE, "a", "b", "c", "d"}), 2);
}

}  // namespace
