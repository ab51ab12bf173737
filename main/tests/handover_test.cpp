// Handvane as real processes on the offscreen platform: the first start carries out its own
// command line, later starts hand theirs over to it and end once it was carried out, and a start
// after the first one was killed becomes the first instance itself. The web site's hand-offs
// (the cookie channel and ".hdv" files) go through the real hand-off component into a module.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "cookies/channel.h"
#include "main/tests/launcher_fixture.h"
#include "platform/kernel.h"
#include "updater/client/tests/update_server.h"

namespace hv::launcher {
namespace {

using namespace std::chrono_literals;

class HandoverTest : public testing::HomeFixture {
 protected:
  void SetUp() override {
    HomeFixture::SetUp();
    for (const char* f : {"bg.jpg", "icon.png", "text.png", "image.png", "friends.png"})
      fs::copyFile(std::string(HV_SOURCE_DIR) + "/shipped/SKIN/blue/appicon.png", skins_ + f, true);
    writeSkin("full.skin", testing::kFullSkin);
    runtime_ = home_ + "/runtime";
    ASSERT_TRUE(fs::makeDirectories(runtime_, 0700));
    setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The user's cookie store and the web site are the test's own: the watcher and the update
    // check of every started instance talk to them only.
    cookies_ = home_ + "/cookies.txt";
    setenv("HANDVANE_COOKIES", cookies_.c_str(), 1);
    ASSERT_TRUE(fs::makeDirectories(home_ + "/site/pics"));
    site_.emplace(home_ + "/site/");
    ASSERT_NE(site_->port(), 0);
    setenv("HANDVANE_WEB_BASE", site_->url("").c_str(), 1);
  }
  void TearDown() override {
    if (first_) {
      first_->kill(9);
      first_->wait(10s);
    }
    site_.reset();
    unsetenv("XDG_RUNTIME_DIR");
    unsetenv("HANDVANE_COOKIES");
    unsetenv("HANDVANE_WEB_BASE");
    HomeFixture::TearDown();
  }
  static std::vector<std::string> argv(std::vector<std::string> args) {
    args.insert(args.begin(), std::string(HV_SUITE_DIR) + "/Handvane");
    return args;
  }
  // A later start: its exit code (it must end by itself).
  int later(std::vector<std::string> args) {
    auto p = Process::start(argv(std::move(args)));
    if (!p) return -1;
    if (auto code = p->wait(30s)) return *code;
    p->kill(9);  // it did not end: it must not stay behind as a first instance
    p->wait(10s);
    return -2;
  }
  // Bounded at 60 s: a hand-off starts a second Handvane, which under the sanitizers on a loaded
  // machine alone can take several seconds; the wait ends as soon as the calls are there.
  bool waitForCalls(size_t n) {
    for (int i = 0; i < 2400; ++i) {
      if (calls().size() >= n) return true;
      std::this_thread::sleep_for(25ms);
    }
    return false;
  }
  // What a failed wait shows: the first instance's output, the site's requests, the downloads.
  std::string diagnosis() {
    std::string downloads;
    for (const auto& name : fs::list(runtime_ + "/handvane/")) downloads += " " + name;
    return "output: " + fs::readFile(home_ + "/first.out").value_or("") +
           "\nrequests: " + site_->requests() + "\ndownloads:" + downloads +
           "\ncookies: " + fs::readFile(cookies_).value_or("");
  }
  // The channel's cookies as the web site's page sees them.
  std::string channelCookies() {
    cookies::CookieStore store(cookies_);
    return store.get(site_->url("nrlm")).value_or("");
  }
  // Until the watcher has taken the request out of the channel.
  bool waitForTaken() {
    for (int i = 0; i < 400; ++i) {
      const std::string c = channelCookies();
      if (!c.empty() && cookies::channelItem(c, "URL=").empty()) return true;
      std::this_thread::sleep_for(25ms);
    }
    return false;
  }
  bool waitForChannel(const std::string& want) {
    for (int i = 0; i < 400; ++i) {
      if (channelCookies().find(want) != std::string::npos) return true;
      std::this_thread::sleep_for(25ms);
    }
    return false;
  }
  std::string runtime_, cookies_;
  std::optional<UpdateServer> site_;
  std::optional<Process> first_;
};

TEST_F(HandoverTest, FirstStartCarriesOutItsLineLaterStartsHandTheirsOver) {
  first_ = Process::start(argv({"-f", "text"}));
  ASSERT_TRUE(first_);
  ASSERT_TRUE(waitForCalls(2));  // both entries named "Lumo字"
  EXPECT_EQ(calls(), (std::vector<std::string>{"||", "||"}));

  // Each later start returns only after the first instance launched what it asked for.
  EXPECT_EQ(later({"/tmp/note.txt", "-U:web7"}), 0);
  EXPECT_EQ(calls().size(), 4u);
  EXPECT_EQ(calls().back(), "|/tmp/note.txt|web7");
  EXPECT_EQ(later({}), 0);
  EXPECT_EQ(later({"/tmp/my note.txt"}), 0);  // cut at the blank: launches nothing
  EXPECT_EQ(later({"-f", "image"}), 0);       // a library without DoConvert
  EXPECT_EQ(calls().size(), 4u);
  EXPECT_FALSE(first_->wait(0ms));  // still running
}

TEST_F(HandoverTest, StartAfterAKilledFirstInstanceBecomesTheFirst) {
  // The first instance has carried out its own line once its window is registered.
  first_ = Process::start(argv({"-f", "text"}));
  ASSERT_TRUE(first_);
  ASSERT_TRUE(waitForCalls(2));
  first_->kill(9);
  first_->wait(10s);
  Process::Options o;
  o.outputFile = home_ + "/second.out";
  first_ = Process::start(argv({"-f", "text"}), o);
  ASSERT_TRUE(first_);
  EXPECT_TRUE(waitForCalls(4));
  const auto ended = first_->wait(200ms);  // it is the running instance now, not a later start
  EXPECT_FALSE(ended) << "exit " << ended.value_or(-1) << ": "
                      << fs::readFile(home_ + "/second.out").value_or("");
}

// The picture entry runs the recording module; the hand-off opens pictures in it.
const char kPictureSkin[] = R"([ALL]
name=图片
background=bg.jpg
appicons=icon.png
focuscount=1
[0]
type=图片型
name=Lumo图
rect0=10,10,50,50
dll=../libTestport.so
icon=image.png
)";

TEST_F(HandoverTest, PicturesOfferedByTheWebSiteReachThePictureModule) {
  writeSkin("full.skin", kPictureSkin);
  const std::string jpeg = std::string("\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11) + "cat's bytes";
  const std::string gif = std::string("GIF89a\1\0\1\0\0\0\0;", 14);
  writeFile(home_ + "/site/pics/cat.jpg", jpeg);
  writeFile(home_ + "/site/pics/dog-fur.gif", gif);
  Process::Options o;
  o.outputFile = home_ + "/first.out";
  first_ = Process::start(argv({}), o);
  ASSERT_TRUE(first_);
  ASSERT_TRUE(waitForChannel("START=YES")) << channelCookies();
  EXPECT_NE(channelCookies().find("INSTALL=Version1.2"), std::string::npos);

  // The site's page leaves a request in the channel, its address without the scheme.
  {
    cookies::CookieStore store(cookies_);
    ASSERT_TRUE(store.set(site_->url("nrlm"), "ID", "p17"));
    const std::string address = site_->url("pics/cat%2Ejpg").substr(7);  // "127.0.0.1:PORT/..."
    ASSERT_TRUE(store.set(site_->url("nrlm"), "URL", address));
  }
  ASSERT_TRUE(waitForCalls(1)) << diagnosis();
  const std::string downloads = runtime_ + "/handvane/";
  const auto checkCall = [&](const std::string& call, const std::string& stem,
                             const std::string& ext, const std::string& bytes) {
    ASSERT_EQ(call.substr(0, 1), "|") << call;
    const std::string file = call.substr(1, call.rfind('|') - 1);
    EXPECT_EQ(call.substr(call.rfind('|')), "|");
    EXPECT_EQ(fs::directoryOf(file), downloads) << file;
    EXPECT_EQ(file.substr(downloads.size(), stem.size() + 1), stem + "_") << file;
    EXPECT_EQ(fs::extensionOf(file), ext) << file;
    EXPECT_EQ(fs::readFile(file), bytes) << file;
  };
  checkCall(calls()[0], "cat", "jpg", jpeg);
  EXPECT_TRUE(waitForTaken()) << channelCookies();  // the request was taken once
  EXPECT_NE(site_->requests().find("/pics/cat.jpg"), std::string::npos);

  // A hand-off file given to a later start goes the same way; the '-' in the offered name does
  // not reach the command line, which would read "-f" as its type option.
  writeFile(home_ + "/offer.hdv",
            "URL=//127.0.0.1:" + std::to_string(site_->port()) + "/pics/dog-fur.gif;ID=9\r\n");
  EXPECT_EQ(later({home_ + "/offer.hdv"}), 0);
  ASSERT_TRUE(waitForCalls(2)) << diagnosis();
  checkCall(calls()[1], "dog_fur", "gif", gif);
  EXPECT_EQ(calls().size(), 2u);
  EXPECT_FALSE(first_->wait(0ms));
}

TEST_F(HandoverTest, AnOfferThatCannotBeDownloadedOpensNothing) {
  writeSkin("full.skin", kPictureSkin);
  writeFile(home_ + "/site/pics/cat.jpg", "cat");
  Process::Options o;
  o.outputFile = home_ + "/first.out";
  first_ = Process::start(argv({}), o);
  ASSERT_TRUE(first_);
  ASSERT_TRUE(waitForChannel("START=YES"));
  const std::string base = "127.0.0.1:" + std::to_string(site_->port());
  {
    cookies::CookieStore store(cookies_);
    ASSERT_TRUE(store.set(site_->url("nrlm"), "URL", base + "/pics/missing.jpg"));
  }
  ASSERT_TRUE(waitForTaken());
  // A cut download is not handed on either; the whole picture after it is.
  {
    cookies::CookieStore store(cookies_);
    ASSERT_TRUE(store.set(site_->url("nrlm"), "URL", base + "/pics/cat.jpg?cut=1"));
  }
  ASSERT_TRUE(waitForTaken());
  {
    cookies::CookieStore store(cookies_);
    ASSERT_TRUE(store.set(site_->url("nrlm"), "URL", base + "/pics/cat.jpg"));
  }
  ASSERT_TRUE(waitForCalls(1)) << diagnosis();
  EXPECT_EQ(calls().size(), 1u);
  EXPECT_EQ(fs::readFile(calls()[0].substr(1, calls()[0].size() - 2)), "cat");
  // Nothing of the failed downloads stays in the temporary folder.
  size_t downloaded = 0;
  for (const auto& name : fs::list(runtime_ + "/handvane/"))
    downloaded += name.rfind("cat_", 0) == 0;
  EXPECT_EQ(downloaded, 1u);
}

}  // namespace
}  // namespace hv::launcher
