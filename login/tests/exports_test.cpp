// libVaultrec.so and libSignon.so as a program outside the build sees them: loaded from the suite
// folder with dlopen, every entry point looked up by its C name, and a silent sign-in against
// handvane-service on loopback through them. This program links neither library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "include/handvane/records.h"
#include "platform/fs.h"
#include "tests/service-e2e/peers.h"

namespace {

constexpr char kUser[] = "13800138000";
constexpr char kPassword[] = "s3cret-pass";

struct Library {
  explicit Library(const std::string& name)
      // Kept mapped to the end: the service client may still have threads of its own.
      : handle(dlopen(hv::e2e::suiteProgram(name).c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {}
  ~Library() {
    if (handle) dlclose(handle);
  }
  template <typename F>
  F* get(const char* symbol) const {
    return handle ? reinterpret_cast<F*>(dlsym(handle, symbol)) : nullptr;
  }
  void* handle;
};

struct CryptFile;
using CreateFn = int(const char*, int);
using OpenFn = CryptFile*(const char*);
using CloseFn = void(CryptFile*);
using DeleteFn = int(const char*);
using CountFn = int(CryptFile*);
using AddFn = int(CryptFile*, const void*);
using DelFn = int(CryptFile*, int);
using ModifyFn = int(CryptFile*, int, const void*);
using ReadFn = int(CryptFile*, int, void*);
using LoginFn = int(const char*, const char*);
using GetStateFn = int(hv::LoginState*);
using GetLastUserIdFn = int(char*);

TEST(SuiteLibraries, VaultrecExportsItsNineFunctions) {
  Library lib("libVaultrec.so");
  ASSERT_NE(lib.handle, nullptr) << dlerror();
  auto create = lib.get<CreateFn>("CRYPT_Create");
  auto open = lib.get<OpenFn>("CRYPT_Open");
  auto close = lib.get<CloseFn>("CRYPT_Close");
  auto remove = lib.get<DeleteFn>("CRYPT_Delete");
  auto count = lib.get<CountFn>("CRYPT_GetRecordCount");
  auto add = lib.get<AddFn>("CRYPT_AddRecord");
  auto del = lib.get<DelFn>("CRYPT_DelRecord");
  auto modify = lib.get<ModifyFn>("CRYPT_ModifyRecord");
  auto read = lib.get<ReadFn>("CRYPT_ReadRecord");
  ASSERT_TRUE(create && open && close && remove && count && add && del && modify && read);
  EXPECT_EQ(lib.get<void>("_ZN2hv7records9errorTextENS0_11RecordErrorE"), nullptr)
      << "internals stay hidden";

  auto dir = hv::fs::createTempDirectory({}, "exports");
  ASSERT_TRUE(dir);
  std::string path = *dir + "/records.dat";
  ASSERT_EQ(create(path.c_str(), 980), 1);
  CryptFile* f = open(path.c_str());
  ASSERT_NE(f, nullptr);
  char a[980] = "first", b[980] = "second", out[980] = {};
  EXPECT_EQ(add(f, a), 0);
  EXPECT_EQ(add(f, b), 1);
  EXPECT_EQ(modify(f, 1, a), 1);
  EXPECT_EQ(del(f, 0), 1);
  EXPECT_EQ(add(f, b), 0);
  EXPECT_EQ(count(f), 2);
  EXPECT_EQ(read(f, 0, out), 1);
  EXPECT_STREQ(out, "second");
  EXPECT_EQ(read(f, 1, out), 1);
  EXPECT_STREQ(out, "first");
  close(f);
  EXPECT_EQ(hv::fs::fileSize(path).value_or(0), 256u + 2 * 989);
  EXPECT_EQ(remove(path.c_str()), 1);
  hv::fs::removeAll(*dir);
}

TEST(SuiteLibraries, SignonSignsInThroughItsThreeExports) {
  auto home = hv::fs::createTempDirectory({}, "exports");
  ASSERT_TRUE(home);
  ASSERT_TRUE(hv::fs::makeDirectories(*home + "/DATA"));
  setenv("HANDVANE_HOME", home->c_str(), 1);
  hv::fs::resetSuiteHomeForTesting();
  hv::e2e::LocalService service;
  ASSERT_EQ(service.command({"add-account", kUser, kPassword}), 0);
  ASSERT_TRUE(service.start());

  {
    Library vault("libVaultrec.so");
    auto create = vault.get<CreateFn>("CRYPT_Create");
    auto open = vault.get<OpenFn>("CRYPT_Open");
    auto add = vault.get<AddFn>("CRYPT_AddRecord");
    auto close = vault.get<CloseFn>("CRYPT_Close");
    ASSERT_TRUE(create && open && add && close);
    // The settings record, laid out by hand: region server host at 720, its port at 976.
    unsigned char settings[980] = {};
    std::strcpy(reinterpret_cast<char*>(settings) + 720, "127.0.0.1");
    uint32_t port = uint32_t(service.region);
    for (int i = 0; i < 4; ++i) settings[976 + i] = uint8_t(port >> (8 * i));
    std::string path = *home + "/DATA/logincfg.dat";
    ASSERT_EQ(create(path.c_str(), 980), 1);
    CryptFile* f = open(path.c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(add(f, settings), 0);
    close(f);
  }

  Library signon("libSignon.so");
  ASSERT_NE(signon.handle, nullptr) << dlerror();
  auto login = signon.get<LoginFn>("LOGIN_Login");
  auto getState = signon.get<GetStateFn>("LOGIN_GetState");
  auto getLast = signon.get<GetLastUserIdFn>("LOGIN_GetLastUserId");
  ASSERT_TRUE(login && getState && getLast);

  hv::LoginState st;
  std::memset(&st, 0x55, sizeof st);
  EXPECT_EQ(getState(&st), 0) << "a freshly loaded library is signed out";
  EXPECT_STREQ(st.userId, "");
  EXPECT_EQ(getState(nullptr), 0);
  char last[40];
  EXPECT_EQ(getLast(last), 0);
  EXPECT_STREQ(last, "");

  EXPECT_EQ(login(kUser, "not-the-password"), 0);
  EXPECT_EQ(login(kUser, kPassword), 2);
  EXPECT_EQ(getState(&st), 2);
  EXPECT_STREQ(st.userId, kUser);
  EXPECT_STREQ(st.password, kPassword);
  EXPECT_EQ(getLast(last), 0);
  EXPECT_STREQ(last, kUser);
  EXPECT_TRUE(hv::fs::exists(*home + "/" + kUser));

  unsetenv("HANDVANE_HOME");
  hv::fs::resetSuiteHomeForTesting();
  hv::fs::removeAll(*home);
}

}  // namespace
