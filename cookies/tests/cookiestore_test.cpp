// The cookie store on real files and the cookie channel's rules.
#include "cookies/cookiestore.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <set>

#include "cookies/channel.h"
#include "platform/fs.h"
#include "platform/tests/test_dir.h"

namespace hv::cookies {
namespace {

const std::string kChannel = "http://site.example:8080/nrlm";

TEST(CookieStoreTest, WritesTheNetscapeLayoutAndReadsItBack) {
  TestDir dir;
  CookieStore store(dir / "sub/cookies.txt");
  ASSERT_TRUE(store.set(kChannel, "INSTALL", std::string("Version1.2") + kExpiry));
  ASSERT_TRUE(store.set(kChannel, "START", "YES; expires = Sat, 01-Jan-2010 00:00:00 GMT"));
  ASSERT_TRUE(store.set(kChannel, "START", std::string("NO") + kExpiry));
  ASSERT_TRUE(store.set("http://other.example/", "X", "1"));
  const auto text = fs::readFile(dir / "sub/cookies.txt");
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("site.example\tFALSE\t/nrlm\tFALSE\t1262304000\tINSTALL\tVersion1.2\n"),
            std::string::npos)
      << *text;
  EXPECT_NE(text->find("site.example\tFALSE\t/nrlm\tFALSE\t1262304000\tSTART\tNO\n"),
            std::string::npos);
  EXPECT_EQ(store.get(kChannel), "INSTALL=Version1.2; START=NO");
  EXPECT_EQ(store.get("http://SITE.example/nrlm/deeper?q"), "INSTALL=Version1.2; START=NO");
  EXPECT_EQ(store.get("http://site.example/nrlmx"), std::nullopt);
  EXPECT_EQ(store.get("http://other.example/a"), "X=1");
  EXPECT_EQ(store.get(kChannel, 10), std::nullopt);  // does not fit the buffer
  struct stat st;
  ASSERT_EQ(stat((dir / "sub/cookies.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  EXPECT_FALSE(store.set("ftp://site.example/", "A", "1"));
  EXPECT_EQ(store.lastError(), CookieError::BadAddress);
  EXPECT_FALSE(store.set(kChannel, "A=B", "1"));
  EXPECT_FALSE(store.set(kChannel, "A", "1\n2"));
  EXPECT_EQ(store.lastError(), CookieError::BadValue);
}

TEST(CookieStoreTest, DamagedAndEnormousFilesAreReadForTheirGoodLines) {
  TestDir dir;
  const std::string path = dir / "cookies.txt";
  std::string text = "garbage\n\x01\x02\x03\tTRUE\n" + std::string(20000, 'z') + "\n" +
                     "site.example\tFALSE\t/nrlm\tFALSE\tnot-a-number\tA\t1\n" +
                     "site.example\tMAYBE\t/nrlm\tFALSE\t0\tA\t1\n" +
                     "site.example\tFALSE\t/nrlm\tFALSE\t0\tURL\twww.a.example\n";
  ASSERT_TRUE(fs::writeFileAtomic(path, text));
  CookieStore store(path);
  EXPECT_EQ(store.get(kChannel), "URL=www.a.example");
  // Rewriting keeps the good cookies only.
  ASSERT_TRUE(store.set(kChannel, "ID", "7"));
  EXPECT_EQ(parseCookieFile(*fs::readFile(path)).size(), 2u);

  // Far beyond the store's limit: only its first part is read; the rest is never loaded.
  std::string huge;
  while (huge.size() < 3 * kMaxStoreBytes) huge += "site.example\tFALSE\t/nrlm\tFALSE\t0\tN\tv\n";
  ASSERT_TRUE(fs::writeFileAtomic(path, huge));
  const auto got = store.get(kChannel, 1u << 30);
  ASSERT_TRUE(got);
  EXPECT_LE(got->size(), kMaxStoreBytes);
  EXPECT_LE(parseCookieFile(huge).size(), kMaxCookies);
}

TEST(CookieStoreTest, TwoProcessesWritingNeverTearTheStore) {
  TestDir dir;
  const std::string path = dir / "cookies.txt";
  constexpr int kEach = 150;
  std::vector<pid_t> children;
  for (const char* prefix : {"A", "B"}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      CookieStore store(path);
      for (int i = 0; i < kEach; ++i) {
        if (!store.set(kChannel, prefix + std::to_string(i), std::string(50, 'v'))) _exit(1);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  // Meanwhile every read sees a whole file: each line a cookie.
  CookieStore reader(path);
  for (int i = 0; i < 200; ++i) {
    const auto text = fs::readFile(path);
    if (!text) continue;
    size_t lines = 0;
    for (size_t p = 0; (p = text->find("\tFALSE\t/nrlm", p)) != std::string::npos; ++p) ++lines;
    ASSERT_EQ(parseCookieFile(*text).size(), lines);
    ASSERT_EQ(text->back(), '\n');
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const auto all = parseCookieFile(*fs::readFile(path));
  std::set<std::string> names;
  for (const auto& c : all) names.insert(c.name);
  EXPECT_EQ(names.size(), size_t(2 * kEach));  // no write lost another's cookie
}

TEST(ChannelTest, AddressesAreDecodedByTheChannelsRules) {
  EXPECT_EQ(decodeAddress("www.site.example/pic.jpg"), "http://www.site.example/pic.jpg");
  EXPECT_EQ(decodeAddress("http%3A%2F%2Fh%2Fa%20b"), "http://h/a b");
  // Lower-case hexadecimal digits count 0.
  EXPECT_EQ(decodeAddress("HTTP://h/%4a%4A%2f%20"), "HTTP://h/@J  ");
  EXPECT_EQ(decodeAddress("http://h/100%%"), "http://h/100%");
  EXPECT_EQ(decodeAddress("//h/a"), "http://h/a");
  EXPECT_EQ(decodeAddress("https://h/a"), "http://https://h/a");
  EXPECT_EQ(decodeAddress("ftp://h/a"), "http://ftp://h/a");
  EXPECT_EQ(decodeAddress("C:/pics/a.jpg"), "C:/pics/a.jpg");
  EXPECT_EQ(decodeAddress("http://h/%4"), "http://h/%4");
  EXPECT_EQ(decodeAddress(""), "http://");
}

TEST(ChannelTest, ItemsEndAtTheNextSemicolon) {
  EXPECT_EQ(channelItem("START=YES; URL=www.a/b; ID=42", "URL="), "www.a/b");
  EXPECT_EQ(channelItem("START=YES; URL=www.a/b; ID=42", "ID="), "42");
  EXPECT_EQ(channelItem("MYURL=x; URL=y", "URL="), "y");
  EXPECT_EQ(channelItem("START=YES", "URL="), "");
  EXPECT_EQ(channelItem("URL=", "URL="), "");
}

class ChannelFixture : public ::testing::Test {
 protected:
  TestDir dir;
  CookieStore store{dir / "cookies.txt"};
  CookieChannel channel{store, kChannel, "1.2"};
  std::vector<std::pair<std::string, std::string>> calls;
  bool poll() {
    return channel.poll(
        [&](const std::string& a, const std::string& id) { calls.emplace_back(a, id); });
  }
};

TEST_F(ChannelFixture, ARequestIsHandedOnOnceAndTheUrlEmptied) {
  ASSERT_TRUE(channel.announce());
  EXPECT_EQ(store.get(kChannel), "INSTALL=Version1.2; START=YES");
  EXPECT_FALSE(poll());
  // The web site leaves a request.
  ASSERT_TRUE(store.set(kChannel, "URL", "127.0.0.1:9/pic.jpg"));
  ASSERT_TRUE(store.set(kChannel, "ID", "abc"));
  EXPECT_TRUE(poll());
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], (std::pair<std::string, std::string>{"http://127.0.0.1:9/pic.jpg", "abc"}));
  EXPECT_EQ(store.get(kChannel), "INSTALL=Version1.2; START=YES; URL=; ID=abc");
  EXPECT_FALSE(poll());
  EXPECT_EQ(calls.size(), 1u);
  ASSERT_TRUE(channel.announceStopped());
  EXPECT_EQ(store.get(kChannel), "INSTALL=Version1.2; START=NO; URL=; ID=abc");
}

TEST_F(ChannelFixture, AnEmptyStoreIsAnnouncedAgain) {
  EXPECT_FALSE(poll());
  EXPECT_EQ(store.get(kChannel), "INSTALL=Version1.2; START=YES");
}

// While alive, no file of this process can grow (root included, which a read-only folder would
// not stop): writes fail with EFBIG instead of raising SIGXFSZ.
class NoFileGrowth {
 public:
  NoFileGrowth() {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldSignal_ = signal(SIGXFSZ, SIG_IGN);
    rlimit none = old_;
    none.rlim_cur = 0;  // the soft limit only, so that it can be raised again
    ok_ = setrlimit(RLIMIT_FSIZE, &none) == 0;
  }
  ~NoFileGrowth() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, oldSignal_);
  }
  bool ok() const { return ok_; }

 private:
  rlimit old_{};
  sighandler_t oldSignal_ = SIG_DFL;
  bool ok_ = false;
};

TEST_F(ChannelFixture, ARequestThatCannotBeEmptiedIsHandledOnce) {
  ASSERT_TRUE(store.set(kChannel, "URL", "//h/a.jpg"));
  {
    NoFileGrowth full;
    ASSERT_TRUE(full.ok());
    EXPECT_TRUE(poll());
    EXPECT_EQ(store.lastError(), CookieError::Unwritable);
    EXPECT_FALSE(poll());
    EXPECT_FALSE(poll());
  }
  EXPECT_EQ(calls.size(), 1u);
  // The request is still there and was not emptied.
  EXPECT_EQ(channelItem(*store.get(kChannel), "URL="), "//h/a.jpg");
}

TEST(ChannelStartTest, AnUnwritableStoreFailsTheAnnouncement) {
  TestDir dir;
  ASSERT_TRUE(fs::writeFileAtomic(dir / "file", "x"));
  CookieStore store(dir / "file/cookies.txt");  // a folder that is a file
  CookieChannel channel(store, kChannel, "1.2");
  EXPECT_FALSE(channel.announce());
}

TEST(CookieErrorTest, EveryErrorHasAText) {
  for (int i = 0; i <= int(CookieError::Full); ++i) {
    EXPECT_STRNE(cookieErrorText(CookieError(i)), "unknown error");
  }
}

}  // namespace
}  // namespace hv::cookies
