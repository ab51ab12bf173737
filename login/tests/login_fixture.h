#pragma once
// A fresh suite home per test (HANDVANE_HOME) holding DATA/FRIENDS.DBF copied from the shipped
// tree, handvane-service on loopback with one account, and the scripted UI backend.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "login/login_flow.h"
#include "login/login_settings.h"
#include "platform/fs.h"
#include "records/vaultrec.h"
#include "tests/service-e2e/peers.h"
#include "ui/core/ui.h"

namespace hv::login::testing {

inline constexpr char kUser[] = "13800138000";
inline constexpr char kPassword[] = "s3cret-pass";

class LoginFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = *fs::createTempDirectory({}, "signon");
    setenv("HANDVANE_HOME", home_.c_str(), 1);
    fs::resetSuiteHomeForTesting();
    ASSERT_TRUE(fs::makeDirectories(home_ + "/DATA"));
    std::string shipped = std::string(HV_SOURCE_DIR) + "/shipped/DATA/FRIENDS.DBF";
    ASSERT_TRUE(fs::copyFile(shipped, home_ + "/DATA/FRIENDS.DBF", false));
    backend_ = std::make_shared<ui::ScriptedBackend>();
    ui::setBackend(backend_);
    // The state block lives as long as the process: every test starts signed out, as a freshly
    // loaded library does.
    setState("", "", int32_t(LoginStateCode::SignedOut));
  }
  void TearDown() override {
    ui::setBackend(std::make_shared<ui::ScriptedBackend>());
    unsetenv("HANDVANE_HOME");
    fs::resetSuiteHomeForTesting();
    fs::removeAll(home_);
  }
  // Starts the service with the test account; the region server's port lands in regionPort().
  void startService() {
    service_ = std::make_unique<e2e::LocalService>();
    ASSERT_EQ(service_->command({"add-account", kUser, kPassword}), 0);
    ASSERT_TRUE(service_->start());
  }
  int regionPort() const { return service_ ? service_->region : 0; }

  std::string settingsFile() const { return home_ + "/DATA/logincfg.dat"; }
  // Settings naming the running service as region server.
  LoginSettings serviceSettings() const {
    LoginSettings s;
    std::memset(&s, 0, sizeof s);
    std::strcpy(s.regionHost, "127.0.0.1");
    s.regionPort = regionPort();
    return s;
  }
  void writeSettings(const LoginSettings& s) {
    CRYPT_Delete(settingsFile().c_str());
    ASSERT_EQ(CRYPT_Create(settingsFile().c_str(), 980), 1);
    CryptFile* f = CRYPT_Open(settingsFile().c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(CRYPT_AddRecord(f, &s), 0);
    CRYPT_Close(f);
  }
  // Settings naming the running service, reached through a proxy on loopback.
  void writeProxySettings(const char* proxyType, int proxyPort) {
    LoginSettings s = serviceSettings();
    std::strcpy(s.proxyType, proxyType);
    std::strcpy(s.proxyHost, "127.0.0.1");
    s.proxyPort = proxyPort;
    writeSettings(s);
  }
  LoginSettings readSettings() {
    LoginSettings s;
    std::memset(&s, 0xEE, sizeof s);
    CryptFile* f = CRYPT_Open(settingsFile().c_str());
    EXPECT_NE(f, nullptr);
    EXPECT_EQ(CRYPT_ReadRecord(f, 0, &s), 1);
    CRYPT_Close(f);
    return s;
  }

  std::string home_;
  std::shared_ptr<ui::ScriptedBackend> backend_;
  std::unique_ptr<e2e::LocalService> service_;
};

}  // namespace hv::login::testing
