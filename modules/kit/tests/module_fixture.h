#pragma once
// What a module test needs around it: a fresh suite home (HANDVANE_HOME) holding the shipped
// DATA files the dialogs read, handvane-service on loopback with one account, login settings
// naming that service, nobody signed in, and the scripted UI backend.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "include/handvane/records.h"
#include "login/login_flow.h"
#include "login/login_settings.h"
#include "login/signon.h"
#include "platform/fs.h"
#include "service/svclink.h"
#include "tests/service-e2e/peers.h"
#include "ui/core/ui.h"

namespace hv::modkit::testing {

inline constexpr char kUser[] = "13800138000";
inline constexpr char kPassword[] = "s3cret-pass";

inline std::string shipped(const std::string& relative) {
  return std::string(HV_SOURCE_DIR) + "/shipped/" + relative;
}

struct ScriptResult {
  int status = -1;
  std::string output;  // stdout and stderr
};
// Runs a Python script with Debian's interpreter (python3-dbfread reads the tables we write);
// args become sys.argv[1:].
inline ScriptResult python(const std::string& script, const std::vector<std::string>& args = {}) {
  ScriptResult r;
  auto file = fs::createTempFile({}, "script", ".py");
  if (!file || !fs::writeFileAtomic(*file, script)) return r;
  std::string cmd = "/usr/bin/python3 -W ignore '" + *file + "'";
  for (const auto& a : args) cmd += " '" + a + "'";
  cmd += " 2>&1";
  if (FILE* p = popen(cmd.c_str(), "r")) {
    std::array<char, 4096> buf;
    for (size_t n; (n = fread(buf.data(), 1, buf.size(), p)) > 0;) r.output.append(buf.data(), n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  fs::removeFile(*file);
  return r;
}
// The friends table's rows as dbfread reads them: "Mobilenum|Mobiletype|Name" per line.
inline std::string friendRows(const std::string& table) {
  auto r = python(R"(
import sys, dbfread
for rec in dbfread.DBF(sys.argv[1], encoding='gbk', char_decode_errors='strict'):
    print('%s|%s|%s' % (rec['Mobilenum'], rec['Mobiletype'], rec['Name']))
)",
                  {table});
  EXPECT_EQ(r.status, 0) << r.output;
  return r.output;
}

class ModuleFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = *fs::createTempDirectory({}, "module");
    if (home_.back() != '/') home_ += '/';
    setenv("HANDVANE_HOME", home_.c_str(), 1);
    fs::resetSuiteHomeForTesting();
    ASSERT_TRUE(fs::makeDirectories(home_ + "DATA"));
    for (const char* f : {"FRIENDS.DBF", "confee.dll"}) {
      ASSERT_TRUE(fs::copyFile(shipped(std::string("DATA/") + f), home_ + "DATA/" + f, false));
    }
    backend_ = std::make_shared<ui::ScriptedBackend>();
    ui::setBackend(backend_);
    NET_UserLogout();
    login::setState("", "", int32_t(LoginStateCode::SignedOut));

    service_ = std::make_unique<e2e::LocalService>();
    ASSERT_EQ(service_->command({"add-account", kUser, kPassword}), 0);
    ASSERT_TRUE(service_->start());
    writeLoginSettings(false);
  }
  void TearDown() override {
    NET_UserLogout();
    login::setState("", "", int32_t(LoginStateCode::SignedOut));
    service_.reset();
    ui::setBackend(std::make_shared<ui::ScriptedBackend>());
    unsetenv("HANDVANE_HOME");
    fs::resetSuiteHomeForTesting();
    fs::removeAll(home_);
  }

  // Login settings naming the test's service; with autoLogin the test user and password are
  // remembered for LOGIN_Login(null, null).
  void writeLoginSettings(bool autoLogin) {
    login::LoginSettings s = login::defaultSettings();
    copyField(s.regionHost, "127.0.0.1");
    s.regionPort = service_->region;
    if (autoLogin) {
      s.autoLogin = 1;
      copyField(s.lastUserId, kUser);
      copyField(s.lastPassword, kPassword);
    }
    const std::string path = login::settingsPath();
    fs::removeFile(path);
    ASSERT_TRUE(login::createDefaultSettingsFile(path));
    ASSERT_TRUE(login::saveSettings(path, s));
  }
  void signIn() { ASSERT_EQ(LOGIN_Login(kUser, kPassword), 2); }

  std::string userFile(const std::string& name) const { return home_ + kUser + "/" + name; }

  // The service's list-messages output, one line per stored message.
  std::vector<std::string> storedMessages() {
    EXPECT_EQ(service_->command({"list-messages"}), 0);
    std::vector<std::string> lines;
    std::istringstream in(service_->lastOutput());
    for (std::string l; std::getline(in, l);) {
      if (!l.empty()) lines.push_back(l);
    }
    return lines;
  }
  // show-message of the n-th stored message (1-based id).
  std::string shownMessage(int id) {
    EXPECT_EQ(service_->command({"show-message", std::to_string(id)}), 0);
    return service_->lastOutput();
  }

  std::string home_;
  std::shared_ptr<ui::ScriptedBackend> backend_;
  std::unique_ptr<e2e::LocalService> service_;
};

}  // namespace hv::modkit::testing
