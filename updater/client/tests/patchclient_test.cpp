// The update client against a real web site on loopback (update_server.py): manifests, staged
// and verified downloads, installation by rename and the ways a run can fail, each of which must
// leave the installation exactly as it was.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "platform/fs.h"
#include "platform/profile.h"
#include "platform/tests/test_dir.h"
#include "updater/client/tests/update_server.h"
#include "updater/client/updater.h"

namespace hv::update {
namespace {

std::string sha256Hex(const std::string& data) {
  unsigned char d[32];
  SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), d);
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (unsigned char c : d) {
    s += digits[c >> 4];
    s += digits[c & 15];
  }
  return s;
}

std::string itemLine(const std::string& content, const std::string& path, const std::string& url,
                     const std::string& mode = "0644") {
  return "item " + std::to_string(content.size()) + " " + sha256Hex(content) + " " + mode + " " +
         path + " " + url + "\n";
}

// Every file below dir (".update" left out) with its contents.
std::map<std::string, std::string> snapshot(const std::string& dir,
                                            const std::string& prefix = "") {
  std::map<std::string, std::string> out;
  for (const auto& name : fs::list(dir + prefix)) {
    const std::string rel = prefix + name;
    if (rel == ".update") continue;
    if (fs::isDirectory(dir + rel)) {
      auto sub = snapshot(dir, rel + "/");
      out.insert(sub.begin(), sub.end());
    } else {
      out[rel] = fs::readFile(dir + rel).value_or("<unreadable>");
    }
  }
  return out;
}

class PatchclientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::makeDirectories(install + "DATA");
    fs::makeDirectories(site + "files");
    fs::writeFileAtomic(install + "Handvane", "old program", 0755);
    fs::writeFileAtomic(install + "DATA/tips.txt", "old tips");
    fs::writeFileAtomic(install + "DATA/keep.txt", "not in the update");
    server = std::make_unique<UpdateServer>(site);
    ASSERT_NE(server->port(), 0);
    original = snapshot(install);
  }

  // Publishes version 1.3 replacing Handvane and adding DATA/new.txt.
  void publishTwoItems(const std::string& secondUrl = "files/new.txt",
                       const std::string& secondContent = "new file") {
    fs::writeFileAtomic(site + "files/Handvane", newProgram);
    fs::writeFileAtomic(site + "files/new.txt", "new file");
    publish("handvane-update 1\nversion 1.3\nmanual no\n" +
            itemLine(newProgram, "Handvane", "files/Handvane", "0755") +
            itemLine(secondContent, "DATA/new.txt", secondUrl));
  }
  void publish(const std::string& manifest) {
    fs::writeFileAtomic(site + "manifest.txt", manifest);
  }

  UpdaterConfig config() {
    UpdaterConfig c;
    c.installDir = install;
    c.manifestUrl = server->url("manifest.txt");
    return c;
  }

  // Check, prepare and download every item; the download results.
  std::vector<int> prepare(Updater& u) {
    EXPECT_EQ(u.initialize(), 0);
    EXPECT_EQ(u.checkUpdate(), 2);
    EXPECT_EQ(u.createUpdateProcess(), 0);
    std::vector<int> results;
    for (int i = 0; i < u.itemCount(); ++i) {
      UpdateItemRecord rec{};
      EXPECT_TRUE(u.getItem(i, rec));
      results.push_back(u.downloadItem(rec));
      if (results.back() == 0) {
        EXPECT_EQ(u.setItem(i, rec), 0);
      }
    }
    return results;
  }

  // Installs every item as Patchrun does; false at the first failure.
  static bool installAll(Updater& u) {
    if (u.checkLocal() != 0) return false;
    for (int i = 0; i < u.itemCount(); ++i) {
      UpdateItemRecord rec{};
      if (!u.getItem(i, rec) || u.executeItem(rec) != 0) return false;
      u.setItem(i, rec);
    }
    return u.finished() == 0;
  }

  TestDir dir;
  std::string install = dir / "install/";
  std::string site = dir / "site/";
  std::unique_ptr<UpdateServer> server;
  std::map<std::string, std::string> original;
  const std::string newProgram = std::string(100000, 'P') + "new program";
};

TEST_F(PatchclientTest, TwoItemUpdateIsDownloadedVerifiedAndInstalled) {
  publishTwoItems();
  Updater u(config());
  EXPECT_EQ(prepare(u), (std::vector<int>{0, 0}));
  // Downloads go to the staging folder only.
  EXPECT_EQ(snapshot(install), original);
  UpdateItemRecord rec{};
  ASSERT_TRUE(u.getItem(1, rec));
  EXPECT_EQ(rec.done, 1u);
  EXPECT_EQ(std::string(rec.localPath), u.stagingDir() + "items/1");
  EXPECT_EQ(std::string(rec.path), "DATA/new.txt");

  ASSERT_TRUE(installAll(u));
  auto expected = original;
  expected["Handvane"] = newProgram;
  expected["DATA/new.txt"] = "new file";
  expected["DATA/version.ini"] = "[Update]\r\nVersion=1.3\r\n";
  EXPECT_EQ(snapshot(install), expected);
  EXPECT_EQ(u.installedVersion(), "1.3");
  EXPECT_FALSE(fs::exists(install + ".update"));
  EXPECT_EQ(::access((install + "Handvane").c_str(), X_OK), 0);

  // Now current: nothing more is offered.
  Updater again(config());
  EXPECT_EQ(again.initialize(), 0);
  EXPECT_EQ(again.checkUpdate(), 0);
  EXPECT_NE(again.createUpdateProcess(), 0);
}

TEST_F(PatchclientTest, CutDownloadAndWrongChecksumAreNotStaged) {
  for (const auto& [url, content] : std::vector<std::pair<std::string, std::string>>{
           {"files/new.txt?cut=3", "new file"}, {"files/new.txt", "other content"}}) {
    SCOPED_TRACE(url);
    publishTwoItems(url, content);
    Updater u(config());
    const auto results = prepare(u);
    EXPECT_EQ(results[0], 0);
    EXPECT_LT(results[1], 0);
    EXPECT_EQ(u.lastError(),
              url.find("cut") != std::string::npos ? UpdateError::Download : UpdateError::Verify);
    UpdateItemRecord rec{};
    ASSERT_TRUE(u.getItem(1, rec));
    EXPECT_EQ(rec.done, 0u);
    EXPECT_EQ(rec.localPath[0], 0);
    EXPECT_FALSE(fs::exists(u.stagingDir() + "items/1.part"));
    EXPECT_NE(u.checkLocal(), 0);
    EXPECT_FALSE(installAll(u));
    EXPECT_EQ(snapshot(install), original);
  }
}

TEST_F(PatchclientTest, FullDiskDuringDownloadLeavesNothingStaged) {
  publishTwoItems();
  Updater u(config());
  ASSERT_EQ(u.initialize(), 0);
  ASSERT_EQ(u.checkUpdate(), 2);
  ASSERT_EQ(u.createUpdateProcess(), 0);
  // A child whose files may not grow past 4 KiB: the 100 kB item cannot be written.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    UpdateItemRecord rec{};
    u.getItem(0, rec);
    const int r = u.downloadItem(rec);
    _exit(r == 0 ? 0 : u.lastError() == UpdateError::Write ? 3 : 4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_FALSE(fs::exists(u.stagingDir() + "items/0"));
  EXPECT_FALSE(fs::exists(u.stagingDir() + "items/0.part"));
  EXPECT_NE(u.checkLocal(), 0);
  EXPECT_EQ(snapshot(install), original);
}

TEST_F(PatchclientTest, InstallerKilledAtAnyStepIsPutBackOnNextStart) {
  publishTwoItems();
  // Steps of a whole run: per item journaled, (backed-up), installed; then versioned, finished.
  const std::vector<std::string> steps = {"journaled", "backed-up", "installed", "journaled",
                                          "installed", "versioned", "finished"};
  for (size_t kill = 0; kill < steps.size(); ++kill) {
    SCOPED_TRACE("killed after step " + std::to_string(kill) + " " + steps[kill]);
    {
      Updater u(config());
      ASSERT_EQ(prepare(u), (std::vector<int>{0, 0}));
    }
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      size_t seen = 0;
      UpdaterConfig c = config();
      c.afterStep = [&](const char*) {
        if (seen++ == kill) raise(SIGKILL);
      };
      Updater child(c);
      child.initialize();
      installAll(child);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    Updater next(config());
    ASSERT_EQ(next.initialize(), 0);
    EXPECT_FALSE(fs::exists(install + ".update"));
    if (steps[kill] == "finished") {
      EXPECT_EQ(next.installedVersion(), "1.3");
      EXPECT_EQ(snapshot(install).at("Handvane"), newProgram);
      // Put the old installation back for the next round.
      fs::removeAll(install);
      fs::makeDirectories(install);
      for (const auto& [rel, content] : original) {
        fs::makeDirectories(fs::directoryOf(install + rel));
        fs::writeFileAtomic(install + rel, content, rel == "Handvane" ? 0755 : 0644);
      }
    } else {
      EXPECT_EQ(snapshot(install), original);
      EXPECT_EQ(next.installedVersion(), "1.2");
    }
  }
}

TEST_F(PatchclientTest, FailingItemPutsBackTheItemsBefore) {
  publishTwoItems();
  Updater u(config());
  ASSERT_EQ(prepare(u), (std::vector<int>{0, 0}));
  UpdateItemRecord first{}, second{};
  ASSERT_TRUE(u.getItem(0, first));
  ASSERT_EQ(u.executeItem(first), 0);
  EXPECT_EQ(fs::readFile(install + "Handvane"), newProgram);
  // The second download is damaged after verification.
  fs::writeFileAtomic(u.stagingDir() + "items/1", "damaged!");
  ASSERT_TRUE(u.getItem(1, second));
  EXPECT_NE(u.executeItem(second), 0);
  EXPECT_EQ(snapshot(install), original);
  EXPECT_EQ(u.installedVersion(), "1.2");
}

TEST_F(PatchclientTest, ManualVersionOldVersionAndNoAnswer) {
  publish("handvane-update 1\nversion 2.0\nmanual yes\n");
  Updater u(config());
  ASSERT_EQ(u.initialize(), 0);
  EXPECT_EQ(u.checkUpdate(), 1);
  EXPECT_NE(u.createUpdateProcess(), 0);

  publish("handvane-update 1\nversion 1.2\n");
  EXPECT_EQ(u.checkUpdate(), 0);
  publish("handvane-update 1\nversion 1.1.9\n");
  EXPECT_EQ(u.checkUpdate(), 0);

  publish("not a manifest\n");
  EXPECT_LT(u.checkUpdate(), 0);
  publish("handvane-update 1\nversion 1.3\n# " + std::string(kMaxManifestBytes, 'x') + "\n");
  EXPECT_LT(u.checkUpdate(), 0);
  fs::removeFile(site + "manifest.txt");
  EXPECT_LT(u.checkUpdate(), 0);

  UpdaterConfig c = config();
  c.manifestUrl = "ftp://127.0.0.1/manifest.txt";
  Updater other(c);
  EXPECT_LT(other.checkUpdate(), 0);
  EXPECT_EQ(snapshot(install), original);
}

TEST_F(PatchclientTest, ItemThroughALinkOutOfTheInstallationIsRefused) {
  const std::string outside = dir / "outside/";
  fs::makeDirectories(outside);
  ASSERT_EQ(::symlink(outside.c_str(), (install + "linked").c_str()), 0);
  original = snapshot(install);
  fs::writeFileAtomic(site + "files/x", "x");
  publish("handvane-update 1\nversion 1.3\n" + itemLine("x", "linked/x", "files/x"));
  Updater u(config());
  ASSERT_EQ(prepare(u), (std::vector<int>{0}));
  UpdateItemRecord rec{};
  ASSERT_TRUE(u.getItem(0, rec));
  EXPECT_NE(u.executeItem(rec), 0);
  EXPECT_TRUE(fs::list(outside).empty());
}

TEST_F(PatchclientTest, RecordsOfAnotherUpdateAreRefused) {
  publishTwoItems();
  Updater u(config());
  ASSERT_EQ(prepare(u), (std::vector<int>{0, 0}));
  UpdateItemRecord rec{};
  EXPECT_FALSE(u.getItem(2, rec));
  EXPECT_FALSE(u.getItem(-1, rec));
  UpdateItemRecord blank{};
  EXPECT_NE(u.executeItem(blank), 0);
  ASSERT_TRUE(u.getItem(0, rec));
  rec.index = 7;
  EXPECT_NE(u.executeItem(rec), 0);
  EXPECT_NE(u.setItem(0, rec), 0);
  EXPECT_EQ(snapshot(install), original);
}

TEST(ManifestTest, ParsesItemsAndResolvesAddresses) {
  ManifestError e;
  const std::string sha(64, 'a');
  Manifest m = parseManifest(
      "# published by the site\r\nhandvane-update 1\r\nversion 1.3\r\nmanual no\r\n"
      "item 5 " +
          sha +
          " 0755 Handvane bin/Handvane\r\n"
          "item 0 " +
          sha +
          " 0644 DATA/a.txt /other/a.txt\r\n"
          "item 1 " +
          sha + " 0644 b http://files.example:81/b\r\n",
      "http://site.example/update/manifest.txt?x=1", e);
  ASSERT_EQ(e, ManifestError::None) << manifestErrorText(e);
  EXPECT_EQ(m.version, "1.3");
  EXPECT_FALSE(m.manual);
  ASSERT_EQ(m.items.size(), 3u);
  EXPECT_EQ(m.items[0].url, "http://site.example/update/bin/Handvane");
  EXPECT_EQ(m.items[0].mode, 0755u);
  EXPECT_EQ(m.items[0].size, 5u);
  EXPECT_EQ(m.items[0].sha256[0], 0xaa);
  EXPECT_EQ(m.items[1].url, "http://site.example/other/a.txt");
  EXPECT_EQ(m.items[2].url, "http://files.example:81/b");
  // What the staging folder keeps reads back the same.
  Manifest again = parseManifest(serializeManifest(m), "", e);
  ASSERT_EQ(e, ManifestError::None);
  EXPECT_EQ(serializeManifest(again), serializeManifest(m));
}

TEST(ManifestTest, MalformedManifestsAreRefused) {
  const std::string sha(64, '0');
  const std::string head = "handvane-update 1\nversion 1.3\n";
  auto item = [&](const std::string& rest) { return head + "item " + rest + "\n"; };
  const std::vector<std::pair<std::string, ManifestError>> cases = {
      {"", ManifestError::NoHeader},
      {"handvane-update 2\nversion 1.3\n", ManifestError::NoHeader},
      {"handvane-update 1\n", ManifestError::NoVersion},
      {"handvane-update 1\nversion 1.x\n", ManifestError::BadVersion},
      {"handvane-update 1\nversion 1.3\nversion 1.4\n", ManifestError::BadVersion},
      {head + "manual maybe\n", ManifestError::BadLine},
      {head + "colour blue\n", ManifestError::BadLine},
      {head + std::string("item 1 ") + sha + " 0644 a\0b u\n", ManifestError::BadLine},
      {item("1 " + sha + " 0644 a"), ManifestError::BadLine},
      {item("-1 " + sha + " 0644 a u"), ManifestError::BadSize},
      {item("999999999999 " + sha + " 0644 a u"), ManifestError::BadSize},
      {item("1 " + sha.substr(1) + " 0644 a u"), ManifestError::BadChecksum},
      {item("1 " + std::string(64, 'g') + " 0644 a u"), ManifestError::BadChecksum},
      {item("1 " + sha + " 4755 a u"), ManifestError::BadMode},
      {item("1 " + sha + " 0644 ../a u"), ManifestError::BadPath},
      {item("1 " + sha + " 0644 /etc/passwd u"), ManifestError::BadPath},
      {item("1 " + sha + " 0644 DATA//a u"), ManifestError::BadPath},
      {item("1 " + sha + " 0644 DATA/./a u"), ManifestError::BadPath},
      {item("1 " + sha + " 0644 DATA\\..\\a u"), ManifestError::BadPath},
      {item("1 " + sha + " 0644 .update/journal u"), ManifestError::BadPath},
      {item("1 " + sha + " 0644 " + std::string(256, 'a') + " u"), ManifestError::BadPath},
      {item("1 " + sha + " 0644 a ftp://h/a"), ManifestError::BadUrl},
      {item("1 " + sha + " 0644 a https://h/a"), ManifestError::BadUrl},
      {item("1 " + sha + " 0644 a http://" + std::string(1100, 'h')), ManifestError::BadUrl},
      {head + "item 1 " + sha + " 0644 a u\nitem 1 " + sha + " 0644 a v\n",
       ManifestError::DuplicatePath},
      {head + "#" + std::string(kMaxManifestBytes, ' '), ManifestError::TooLarge},
  };
  for (const auto& [text, expected] : cases) {
    ManifestError e;
    Manifest m = parseManifest(text, "http://h/m", e);
    EXPECT_EQ(e, expected) << text.substr(0, 200);
    EXPECT_TRUE(m.items.empty());
  }
  std::string many = head;
  for (size_t i = 0; i <= kMaxItems; ++i)
    many += "item 1 " + sha + " 0644 f" + std::to_string(i) + " u\n";
  ManifestError e;
  parseManifest(many, "http://h/m", e);
  EXPECT_EQ(e, ManifestError::TooManyItems);
}

TEST(ManifestTest, VersionsCompareByNumber) {
  EXPECT_GT(compareVersions("1.10", "1.9"), 0);
  EXPECT_EQ(compareVersions("1.2", "1.2.0"), 0);
  EXPECT_LT(compareVersions("1.2", "1.2.1"), 0);
  EXPECT_TRUE(isVersion("1.2"));
  EXPECT_FALSE(isVersion("1..2"));
  EXPECT_FALSE(isVersion("1.2."));
  EXPECT_FALSE(isVersion("1.2.3.4.5.6.7.8.9"));
}

TEST(ErrorTextTest, EveryErrorHasAText) {
  for (int i = 0; i <= int(ManifestError::NoVersion); ++i) {
    EXPECT_STRNE(manifestErrorText(ManifestError(i)), "unknown error") << i;
  }
  for (int i = 0; i <= int(UpdateError::Journal); ++i) {
    EXPECT_STRNE(updateErrorText(UpdateError(i)), "unknown error") << i;
  }
  for (int i = 0; i <= int(net::FetchError::Stopped); ++i) {
    EXPECT_STRNE(net::fetchErrorText(net::FetchError(i)), "unknown error") << i;
  }
}

}  // namespace
}  // namespace hv::update
