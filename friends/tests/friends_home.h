#pragma once
// A fresh suite home per test for the friends dialog: the shipped DATA tables and header picture,
// and a user's folder holding a copy of the empty friends table. The table on disk is read back
// with python3-dbfread, which knows nothing of our code.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <array>
#include <fstream>
#include <string>
#include <vector>

#include "include/handvane/records.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "tables/friends/buddystore.h"

namespace hv::friends::testing {

inline constexpr char kUser[] = "13800138000";

class FriendsHome {
 public:
  FriendsHome() {
    auto dir = fs::createTempDirectory({}, "buddyedit");
    if (!dir) throw std::runtime_error("no temporary folder");
    home_ = *dir;
    for (const char* name : {"FRIENDS.DBF", "PHONE.DBF", "好友.jpg", "登录.jpg"}) {
      const std::string n = T(name);
      fs::makeDirectories(home_ + "DATA");
      if (!fs::copyFile(std::string(HV_SUITE_DIR) + "/DATA/" + n, home_ + "DATA/" + n, false))
        throw std::runtime_error("cannot copy " + std::string(name));
    }
    fs::makeDirectories(home_ + kUser);
    fs::copyFile(home_ + "DATA/FRIENDS.DBF", table(), false);
    setenv("HANDVANE_HOME", home_.c_str(), 1);
    fs::resetSuiteHomeForTesting();
  }
  ~FriendsHome() {
    unsetenv("HANDVANE_HOME");
    fs::resetSuiteHomeForTesting();
    fs::removeAll(home_);
  }
  FriendsHome(const FriendsHome&) = delete;
  FriendsHome& operator=(const FriendsHome&) = delete;

  const std::string& path() const { return home_; }
  std::string table() const { return home_ + kUser + "/FRIENDS.DBF"; }

  // Adds friends through the table library before the dialog opens.
  void seed(const std::vector<FriendRecord>& friends) const {
    FriendsTable* t = FLOpen(kUser);
    ASSERT_NE(t, nullptr);
    for (const auto& f : friends) ASSERT_GE(FLAddInfo(t, &f), 0);
    FLClose(t);
  }

  // The live rows of the table as dbfread decodes them, one line each: the twelve values
  // separated by "|" (numbers as dbfread gives them, texts without their padding).
  std::string rows() const {
    return python(
        "import sys, dbfread\n"
        "t = dbfread.DBF(sys.argv[1], encoding='gbk', char_decode_errors='strict')\n"
        "for r in t:\n"
        "    print('|'.join(str(v) for v in r.values()))\n",
        table());
  }
  // The phone model names of DATA/PHONE.DBF in the order a sorted list shows them: by their GBK
  // bytes, ASCII letters without regard to case.
  std::vector<std::string> sortedModelNames() const {
    const std::string out = python(
        "import sys, dbfread\n"
        "t = dbfread.DBF(sys.argv[1], encoding='gbk')\n"
        "names = [r['PHONENAME'] for r in t]\n"
        "for n in sorted(names, key=lambda s: s.encode('gbk').lower()):\n"
        "    print(n)\n",
        home_ + "DATA/PHONE.DBF");
    std::vector<std::string> names;
    size_t at = 0;
    for (size_t nl; (nl = out.find('\n', at)) != std::string::npos; at = nl + 1) {
      names.push_back(*utf8ToGbk(out.substr(at, nl - at)));
    }
    return names;
  }

  static FriendRecord record(const char* number, const char* nameUtf8, const char* phoneType,
                             int age = 0) {
    FriendRecord r{};
    copyField(r.mobilenum, number);
    copyField(r.name, T(nameUtf8));
    copyField(r.mobiletype, phoneType);
    r.age = age;
    return r;
  }

 private:
  // Runs a script with Debian's Python; its standard output (UTF-8).
  static std::string python(const std::string& script, const std::string& arg) {
    auto file = fs::createTempFile({}, "dbfread", ".py");
    if (!file) return "<no script file>";
    std::ofstream(*file) << script;
    const std::string cmd = "/usr/bin/python3 -W ignore '" + *file + "' '" + arg + "' 2>&1";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
      std::array<char, 4096> buf;
      for (size_t n; (n = fread(buf.data(), 1, buf.size(), p)) > 0;) out.append(buf.data(), n);
      pclose(p);
    }
    fs::removeFile(*file);
    return out;
  }

  std::string home_;
};

}  // namespace hv::friends::testing
