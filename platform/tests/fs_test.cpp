#include "platform/fs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/tests/test_dir.h"
#include "platform/web.h"

namespace {

const std::string kDengLuGbk = "\xB5\xC7\xC2\xBC";  // "登录"

TEST(Paths, GbkNamesBecomeUtf8OnDisk) {
  TestDir dir;
  std::string file = dir / (kDengLuGbk + ".jpg");
  ASSERT_TRUE(hv::fs::writeFileAtomic(file, "picture"));
  EXPECT_EQ(::access((dir.path() + "登录.jpg").c_str(), F_OK), 0);
  EXPECT_EQ(hv::fs::readFile(file), "picture");
  auto names = hv::fs::list(dir.path());
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], kDengLuGbk + ".jpg");
}

TEST(Paths, InvalidGbkPathFailsWithoutTouchingTheDisk) {
  TestDir dir;
  std::string bad = dir / "\xD6";
  EXPECT_EQ(hv::fs::open(bad, O_CREAT | O_WRONLY, 0600), -1);
  EXPECT_EQ(errno, EILSEQ);
  EXPECT_FALSE(hv::fs::writeFileAtomic(bad, "x"));
  EXPECT_TRUE(hv::fs::list(dir.path()).empty());
}

TEST(Paths, ShippedPathsResolveWithoutRegardToCase) {
  TestDir dir;
  ASSERT_TRUE(hv::fs::makeDirectories(dir / "DATA/Sub"));
  ASSERT_TRUE(hv::fs::writeFileAtomic(dir / "DATA/Sub/PhoneCompany.ini", "x"));
  EXPECT_EQ(hv::fs::resolveNoCase(dir / "data/sub/phonecompany.INI"),
            dir / "DATA/Sub/PhoneCompany.ini");
  EXPECT_EQ(hv::fs::resolveNoCase(dir / "DATA/Sub/PhoneCompany.ini"),
            dir / "DATA/Sub/PhoneCompany.ini");
  EXPECT_FALSE(hv::fs::resolveNoCase(dir / "data/missing.ini"));
  // A file about to be created keeps the name it was given.
  EXPECT_EQ(hv::fs::resolveOrKeep(dir / "data/new.ini"), dir / "data/new.ini");
}

TEST(Paths, DirectoryAndExtensionParts) {
  EXPECT_EQ(hv::fs::directoryOf("/a/b/c.tar.gz"), "/a/b/");
  EXPECT_EQ(hv::fs::directoryOf("c.txt"), "");
  EXPECT_EQ(hv::fs::extensionOf("/a/b/c.tar.gz"), "gz");
  EXPECT_EQ(hv::fs::extensionOf("/a.dir/file"), "");
}

TEST(Files, AtomicWriteReplacesWholeAndKeepsMode) {
  TestDir dir;
  std::string f = dir / "settings.ini";
  ASSERT_TRUE(hv::fs::writeFileAtomic(f, "old", 0600));
  ASSERT_TRUE(hv::fs::writeFileAtomic(f, "new contents"));
  EXPECT_EQ(hv::fs::readFile(f), "new contents");
  struct stat st;
  ASSERT_EQ(::stat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(hv::fs::list(dir.path()).size(), 1u);  // no temporary left behind
}

TEST(Files, FailedAtomicWriteLeavesTheOldFile) {
  TestDir dir;
  std::string f = dir / "keep.ini";
  ASSERT_TRUE(hv::fs::writeFileAtomic(f, "precious"));
  EXPECT_FALSE(hv::fs::writeFileAtomic(dir / "missing/keep.ini", "x"));
  // A folder in the file's place cannot be replaced by rename.
  ASSERT_TRUE(hv::fs::makeDirectories(dir / "adir"));
  EXPECT_FALSE(hv::fs::writeFileAtomic(dir / "adir", "x"));
  EXPECT_TRUE(hv::fs::isDirectory(dir / "adir"));
  EXPECT_EQ(hv::fs::readFile(f), "precious");
  EXPECT_EQ(hv::fs::list(dir.path()).size(), 2u);
}

TEST(Files, RemoveAllDoesNotFollowLinks) {
  TestDir dir, outside;
  ASSERT_TRUE(hv::fs::writeFileAtomic(outside / "victim", "v"));
  ASSERT_TRUE(hv::fs::makeDirectories(dir / "tree/sub"));
  ASSERT_TRUE(hv::fs::writeFileAtomic(dir / "tree/sub/f", "f"));
  ASSERT_EQ(::symlink(outside.path().c_str(), (dir / "tree/link").c_str()), 0);
  EXPECT_TRUE(hv::fs::removeAll(dir / "tree"));
  EXPECT_FALSE(hv::fs::exists(dir / "tree"));
  EXPECT_EQ(hv::fs::readFile(outside / "victim"), "v");
}

class HomeEnv : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : {"HANDVANE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
      const char* old = getenv(v);
      saved_.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
    }
    hv::fs::resetSuiteHomeForTesting();
  }
  void TearDown() override {
    for (auto& [k, v] : saved_) {
      if (v)
        setenv(k.c_str(), v->c_str(), 1);
      else
        unsetenv(k.c_str());
    }
    hv::fs::resetSuiteHomeForTesting();
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(HomeEnv, HomeComesFromTheEnvironmentFirst) {
  TestDir dir;
  setenv("HANDVANE_HOME", (dir.path() + "home").c_str(), 1);
  EXPECT_EQ(hv::fs::suiteHome(), dir.path() + "home/");
}

TEST_F(HomeEnv, HomeIsTheProgramFolderWhenWritable) {
  unsetenv("HANDVANE_HOME");
  EXPECT_EQ(hv::fs::suiteHome(), hv::fs::programDirectory());
}

TEST_F(HomeEnv, HomeIsFilledWithTheShippedFoldersAndKeepsTheUsersFiles) {
  TestDir dir;
  const std::string prog = dir.path() + "prog", home = dir.path() + "home";
  ASSERT_TRUE(hv::fs::makeDirectories(prog + "/DATA/sub"));
  ASSERT_TRUE(hv::fs::writeFileAtomic(prog + "/Handvane", "program"));
  ASSERT_TRUE(hv::fs::writeFileAtomic(prog + "/libSignon.so", "library"));
  ASSERT_TRUE(hv::fs::writeFileAtomic(prog + "/DATA/logincfg.dat", "shipped"));
  ASSERT_TRUE(hv::fs::writeFileAtomic(prog + "/DATA/sub/PHONE.DBF", "table"));
  ASSERT_TRUE(hv::fs::makeDirectories(home + "/DATA"));
  ASSERT_TRUE(hv::fs::writeFileAtomic(home + "/DATA/logincfg.dat", "the user's"));
  hv::fs::fillHome(prog, home);
  EXPECT_EQ(hv::fs::readFile(home + "/DATA/logincfg.dat"), "the user's");
  EXPECT_EQ(hv::fs::readFile(home + "/DATA/sub/PHONE.DBF"), "table");
  EXPECT_FALSE(hv::fs::exists(home + "/Handvane"));
  EXPECT_FALSE(hv::fs::exists(home + "/libSignon.so"));
  EXPECT_EQ(hv::fs::list(home + "/DATA/sub"), std::vector<std::string>{"PHONE.DBF"});
  // A second start finds everything there and changes nothing.
  ASSERT_TRUE(hv::fs::writeFileAtomic(prog + "/DATA/sub/PHONE.DBF", "newer"));
  hv::fs::fillHome(prog, home);
  EXPECT_EQ(hv::fs::readFile(home + "/DATA/sub/PHONE.DBF"), "table");
}

TEST_F(HomeEnv, WebBaseComesFromTheEnvironmentThenTheHomesWebIniThenTheDefault) {
  TestDir dir;
  setenv("HANDVANE_HOME", (dir.path() + "home").c_str(), 1);
  unsetenv("HANDVANE_WEB_BASE");
  EXPECT_EQ(hv::web::base(), "http://127.0.0.1:8080/");
  // The file is found whatever the case of its folder's name; the "/" is added.
  ASSERT_TRUE(hv::fs::makeDirectories(dir.path() + "home/data"));
  ASSERT_TRUE(hv::fs::writeFileAtomic(dir.path() + "home/data/web.ini",
                                      "[Web]\r\nBase=http://127.0.0.1:18080/site\r\n"));
  EXPECT_EQ(hv::web::pageUrl("fee.html"), "http://127.0.0.1:18080/site/fee.html");
  setenv("HANDVANE_WEB_BASE", "http://127.0.0.1:19090/", 1);
  EXPECT_EQ(hv::web::pageUrl("register.html"), "http://127.0.0.1:19090/register.html");
  unsetenv("HANDVANE_WEB_BASE");
  // A file without the key falls back to the default.
  ASSERT_TRUE(hv::fs::writeFileAtomic(dir.path() + "home/data/web.ini", "[Web]\r\n"));
  EXPECT_EQ(hv::web::base(), "http://127.0.0.1:8080/");
}

TEST_F(HomeEnv, PrivateTempFolderIsCreatedWithMode0700AndRefusedWhenOpen) {
  TestDir dir;
  unsetenv("XDG_RUNTIME_DIR");
  setenv("TMPDIR", dir.path().c_str(), 1);
  std::string t = hv::fs::tempDirectory();
  ASSERT_EQ(t, dir.path() + "/handvane-" + std::to_string(getuid()) + "/");
  struct stat st;
  ASSERT_EQ(::stat(t.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::chmod(t.c_str(), 0777), 0);
  EXPECT_EQ(hv::fs::tempDirectory(), "");  // someone could have planted files in it

  setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  EXPECT_EQ(hv::fs::tempDirectory(), dir.path() + "/handvane/");
}

TEST_F(HomeEnv, TempFilesAreNewPrivateAndNeverReused) {
  TestDir dir;
  auto a = hv::fs::createTempFile(dir.path(), "QTX", ".tmp");
  auto b = hv::fs::createTempFile(dir.path(), "QTX", ".tmp");
  ASSERT_TRUE(a && b);
  EXPECT_NE(*a, *b);
  struct stat st;
  ASSERT_EQ(::stat(a->c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_FALSE(hv::fs::createTempFile(dir / "missing"));
}

}  // namespace
