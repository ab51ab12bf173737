// The hand-off component against a web site on loopback, with a stand-in for Handvane that
// records its command line.
#include "handoff/webhand.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <thread>

#include "handoff/fetchfile.h"
#include "platform/fs.h"
#include "platform/tests/test_dir.h"
#include "updater/client/tests/update_server.h"

namespace hv::handoff {
namespace {

TEST(WebhandTest, LocalNamesAreSafe) {
  EXPECT_EQ(fileNameFor("http://h/pics/cat.jpg?size=2"), "cat.jpg");
  EXPECT_EQ(fileNameFor("http://h/a/..%2F..%2Fetc%2Fpasswd"), "2F..2Fetc2Fpasswd");
  EXPECT_EQ(fileNameFor("http://h/.hidden"), "hidden");
  // Handvane would read these as its own options and open nothing.
  EXPECT_EQ(fileNameFor("http://h/holiday-foto.jpg"), "holiday_foto.jpg");
  EXPECT_EQ(fileNameFor("http://h/a-hide-F-U:x.gif"), "a_hide_F_Ux.gif");
  EXPECT_EQ(fileNameFor("http://h/"), "download");
  EXPECT_EQ(fileNameFor("http://h"), "download");
  EXPECT_EQ(fileNameFor("http://h/" + std::string(300, 'a') + ".gif").size(), 64u);
}

TEST(WebhandTest, DownloadsIntoTheFolderAndRefusesWhatIsNotHttp) {
  TestDir dir;
  fs::makeDirectories(dir / "site/pics");
  fs::makeDirectories(dir / "tmp");
  const std::string picture = "\xFF\xD8\xFF\xE0 not really a JPEG";
  fs::writeFileAtomic(dir / "site/pics/cat.jpg", picture);
  UpdateServer site(dir / "site/");
  ASSERT_NE(site.port(), 0);
  HandoffError e;
  auto file = download(site.url("pics/cat.jpg"), {}, dir / "tmp/", 5000, e);
  ASSERT_TRUE(file) << handoffErrorText(e);
  EXPECT_EQ(fs::directoryOf(*file), dir / "tmp/");
  EXPECT_EQ(fs::extensionOf(*file), "jpg");
  EXPECT_EQ(file->substr((dir / "tmp/").size(), 4), "cat_");
  EXPECT_EQ(file->find('-', (dir / "tmp/").size()), std::string::npos) << *file;
  EXPECT_EQ(fs::readFile(*file), picture);
  // A second download of the same address gets a file of its own.
  auto second = download(site.url("pics/cat.jpg"), {}, dir / "tmp/", 5000, e);
  ASSERT_TRUE(second);
  EXPECT_NE(*second, *file);

  for (const std::string bad : {"ftp://127.0.0.1/x", "C:/pics/cat.jpg", "https://127.0.0.1/x",
                                "http://", "file:///etc/passwd"}) {
    EXPECT_FALSE(download(bad, {}, dir / "tmp/", 5000, e)) << bad;
    EXPECT_EQ(e, HandoffError::NotHttp) << bad;
  }
  EXPECT_FALSE(download(site.url("pics/missing.jpg"), {}, dir / "tmp/", 5000, e));
  EXPECT_EQ(e, HandoffError::Download);
  EXPECT_FALSE(download(site.url("pics/cat.jpg?cut=4"), {}, dir / "tmp/", 5000, e));
  EXPECT_EQ(fs::list(dir / "tmp/").size(), 2u);  // nothing left of the failed ones
}

TEST(WebhandTest, OpenHandsTheDownloadedFileToHandvane) {
  TestDir dir;
  fs::makeDirectories(dir / "site");
  fs::makeDirectories(dir / "runtime");
  fs::writeFileAtomic(dir / "site/logo.png", "png bytes");
  UpdateServer site(dir / "site/");
  ASSERT_NE(site.port(), 0);
  const std::string record = dir / "args.txt";
  fs::writeFileAtomic(dir / "Handvane",
                      "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + record + ".tmp && mv " + record +
                          ".tmp " + record + "\n",
                      0755);
  setenv("HANDVANE_PROGRAM", (dir / "Handvane").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (dir / "runtime").c_str(), 1);
  EXPECT_LT(HANDOFF_Open(site.url("logo.png").c_str(), "id7", 1), 0);
  EXPECT_LT(HANDOFF_Open("ftp://127.0.0.1/logo.png", "id7", 2), 0);
  ASSERT_EQ(HANDOFF_Open(site.url("logo.png").c_str(), "id7", 2), 0);
  std::optional<std::string> args;
  for (int i = 0; i < 3000 && !(args = fs::readFile(record)); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(args);
  const std::string file = args->substr(0, args->find('\n'));
  EXPECT_EQ(fs::directoryOf(file), fs::tempDirectory());
  EXPECT_EQ(fs::readFile(file), "png bytes");
  unsetenv("HANDVANE_PROGRAM");
  unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace hv::handoff
