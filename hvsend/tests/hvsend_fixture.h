#pragma once
// hvsend run as a program: a fresh suite home with the shipped tables, handvane-service on
// loopback, the program's exit status, stdout and stderr, and the packets the service stored.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "modules/kit/tests/module_fixture.h"
#include "platform/fs.h"
#include "service/protocol/packet.h"

namespace hv::hvsendtest {

using modkit::testing::kPassword;
using modkit::testing::kUser;
inline constexpr char kFriend[] = "13900139000";

struct Ran {
  int status = -1;
  std::string out, err;
};

inline std::string hexOf(const std::vector<uint8_t>& b) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (uint8_t c : b) {
    s += d[c >> 4];
    s += d[c & 15];
  }
  return s;
}

class Hvsend : public modkit::testing::ModuleFixture {
 protected:
  void SetUp() override {
    ModuleFixture::SetUp();
    for (const char* f : {"PHONE.DBF", "IMAGETYP.DBF", "PHONEIMA.DBF"}) {
      ASSERT_TRUE(fs::copyFile(modkit::testing::shipped(std::string("DATA/") + f),
                               home_ + "DATA/" + f, false));
    }
  }
  Ran run(const std::vector<std::string>& args) {
    std::string cmd = "'" HV_SUITE_DIR "/hvsend'";
    for (const auto& a : args) cmd += " '" + a + "'";
    const std::string err = home_ + "stderr.txt";
    cmd += " 2>'" + err + "'";
    Ran r;
    if (FILE* p = popen(cmd.c_str(), "r")) {
      std::array<char, 4096> buf;
      for (size_t n; (n = fread(buf.data(), 1, buf.size(), p)) > 0;) r.out.append(buf.data(), n);
      const int st = pclose(p);
      r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    r.err = fs::readFile(err).value_or("");
    return r;
  }
  std::vector<std::string> account() { return {"--user", kUser, "--password", kPassword}; }
  std::vector<std::string> with(std::vector<std::string> a) {
    for (auto& s : account()) a.push_back(s);
    return a;
  }
  // The packet the service stored as message id, as it came in (empty when there is none).
  std::vector<uint8_t> packet(int id) {
    auto r = modkit::testing::python(R"(
import sqlite3, sys
row = sqlite3.connect(sys.argv[1]).execute('SELECT packet FROM messages WHERE id = ?',
                                            (int(sys.argv[2]),)).fetchone()
sys.stdout.write(row[0].hex() if row else '')
)",
                                     {service_->databasePath(), std::to_string(id)});
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < r.output.size(); i += 2)
      bytes.push_back(uint8_t(std::stoi(r.output.substr(i, 2), nullptr, 16)));
    return bytes;
  }
  std::optional<svc::DecodedPacket> stored(int id) {
    return svc::decodeMessagePacket(packet(id)).packet;
  }
  static std::vector<std::string> lines(const std::string& s, const std::string& prefix) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);)
      if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
  }
  static std::vector<std::string> texts(const std::vector<std::vector<uint8_t>>& m) {
    std::vector<std::string> out;
    for (const auto& x : m) out.emplace_back(x.begin(), x.end());
    return out;
  }
};

}  // namespace hv::hvsendtest
