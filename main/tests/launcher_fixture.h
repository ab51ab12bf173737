#pragma once
// A fresh suite home per test (HANDVANE_HOME) with a SKIN folder, the test module libraries
// copied into it, the scripted UI backend, and a window that records what the launcher asks of
// it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "main/launcher.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "ui/core/ui.h"

namespace hv::launcher::testing {

class RecordingWindow : public LauncherWindow {
 public:
  // The window icon "loads" when its file exists and is not empty; pictures are the Qt
  // window's business and tested there.
  bool prepareSkin(const SkinFile& skin) override {
    calls.push_back("prepare " + skin.path);
    return !skin.appIcon.empty() && fs::fileSize(skin.appIcon).value_or(0) > 0;
  }
  void applySkin(const SkinFile& skin) override {
    calls.push_back("apply " + skin.path);
    applied = skin.path;
  }
  void setTrayIcon() override { calls.push_back("tray icon"); }
  void hideWindow() override { calls.push_back("hide"); }
  void showWindow() override { calls.push_back("show"); }
  void minimizeWindow() override { calls.push_back("minimize"); }
  void closeWindow() override { calls.push_back("close"); }
  void focusControl(int id) override { focused = id; }
  void armTimer(int id, int ms) override { timers[id] = ms; }
  void disarmTimer(int id) override { timers.erase(id); }
  void redrawStatus() override { calls.push_back("redraw status"); }

  bool called(const std::string& what) const {
    return std::find(calls.begin(), calls.end(), what) != calls.end();
  }

  std::vector<std::string> calls;
  std::string applied;
  int focused = 0;
  std::map<int, int> timers;
};

class HomeFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = *fs::createTempDirectory({}, "launcher");
    if (home_.back() == '/') home_.pop_back();
    setenv("HANDVANE_HOME", home_.c_str(), 1);
    fs::resetSuiteHomeForTesting();
    skins_ = home_ + "/SKIN/";
    ASSERT_TRUE(fs::makeDirectories(skins_));
    ASSERT_TRUE(fs::makeDirectories(home_ + "/DATA"));
    log_ = home_ + "/doconvert.log";
    setenv("HV_TESTPORT_LOG", log_.c_str(), 1);
    for (const char* lib : {"libTestport.so", "libNoconvert.so"}) {
      ASSERT_TRUE(
          fs::copyFile(std::string(HV_TEST_MODULE_DIR) + "/" + lib, home_ + "/" + lib, true));
    }
    backend_ = std::make_shared<ui::ScriptedBackend>();
    ui::setBackend(backend_);
  }
  void TearDown() override {
    ui::setBackend(std::make_shared<ui::ScriptedBackend>());
    unsetenv("HANDVANE_HOME");
    unsetenv("HV_TESTPORT_LOG");
    fs::resetSuiteHomeForTesting();
    fs::removeAll(home_);
  }
  // Writes a skin file (its text given in UTF-8, stored as GBK with CR LF).
  std::string writeSkin(const std::string& name, const std::string& utf8) {
    std::string text;
    for (char c : utf8) {
      if (c == '\n') text += '\r';
      text += c;
    }
    const std::string path = skins_ + name;
    EXPECT_TRUE(fs::writeFileAtomic(path, T(text)));
    return path;
  }
  void writeFile(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(fs::writeFileAtomic(path, bytes));
  }
  // The DoConvert calls recorded so far, one "receiver|file|tag" each.
  std::vector<std::string> calls() const {
    std::vector<std::string> out;
    const std::string log = fs::readFile(log_).value_or("");
    size_t start = 0;
    while (start < log.size()) {
      size_t end = log.find('\n', start);
      std::string line = log.substr(start, end - start);
      for (char& c : line)
        if (c == '\t') c = '|';
      out.push_back(line);
      start = end == std::string::npos ? log.size() : end + 1;
    }
    return out;
  }

  std::string home_, skins_, log_;
  std::shared_ptr<ui::ScriptedBackend> backend_;
};

// A skin with the four modules (text twice, in two spellings of its name), the friends entry,
// minimise, exit and the links; icons for a few entries. Its libraries are the test modules.
inline const char kFullSkin[] = R"([ALL]
name=测试皮肤
background=bg.jpg
appicons=icon.png
focuscount=14
[0]
type=图片型
name=Lumo字
rect0=10,10,50,50
dll=../libTestport.so
icon=text.png
[1]
type=图片型
name=Lumo图
rect0=60,10,100,50
dll=../libNoconvert.so
icon=image.png
[2]
type=图片型
name=Lumo影
rect0=110,10,150,50
dll=../libMissing.so
[3]
type=提示型
name=lumo字
rect0=1,1,1,1
rect1=160,10,200,50
dll=../libTestport.so
[4]
type=图片型
name=好友列表
rect0=10,60,50,100
icon=friends.png
[5]
type=提示型
name=帮助
rect0=1,1,1,1
rect1=60,60,100,80
[6]
type=提示型
name=资费说明
rect0=1,1,1,1
rect1=60,80,100,100
[7]
type=提示型
name=首页
rect0=1,1,1,1
rect1=110,60,150,80
[8]
type=提示型
name=邮件
rect0=1,1,1,1
rect1=110,80,150,100
[9]
type=提示型
name=关于我们
rect0=1,1,1,1
rect1=160,60,200,80
[10]
type=提示型
name=联系
rect0=1,1,1,1
rect1=160,80,200,100
[11]
type=图片型
name=最小化
rect0=300,0,320,20
[12]
type=图片型
name=退出
rect0=320,0,340,20
[13]
type=图片型
name=Lumo音
rect0=210,10,250,50
dll=../../../../../../lib/x86_64-linux-gnu/libc.so.6
)";

}  // namespace hv::launcher::testing
