#pragma once
// Helpers the table tests share: a fresh folder per test, the suite's home pointed at it, and
// the outside dBase readers (python3-dbfread and python3-dbf) run on the files we write.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/fs.h"

namespace hv::tabletest {

class TempDir {
 public:
  TempDir() {
    auto d = hv::fs::createTempDirectory({}, "tables-test");
    if (!d) throw std::runtime_error("no temporary folder");
    path_ = *d;
    if (path_.back() != '/') path_ += '/';
  }
  ~TempDir() { hv::fs::removeAll(path_); }
  const std::string& path() const { return path_; }
  std::string operator/(std::string_view name) const { return path_ + std::string(name); }

 private:
  std::string path_;
};

// Points the suite's home at dir for the rest of the test.
inline void setHome(const std::string& dir) {
  setenv("HANDVANE_HOME", dir.c_str(), 1);
  hv::fs::resetSuiteHomeForTesting();
}

inline std::string shippedData(std::string_view name) {
  return std::string(HV_SOURCE_DIR) + "/shipped/DATA/" + std::string(name);
}

inline std::string readAll(const std::string& path) {
  auto s = hv::fs::readFile(path);
  return s ? *s : std::string();
}

struct PythonResult {
  int status = -1;
  std::string output;  // stdout and stderr
};

// Runs a Python script with Debian's interpreter; args are passed as sys.argv[1:].
inline PythonResult python(const std::string& script, const std::vector<std::string>& args = {}) {
  TempDir dir;
  std::string file = dir / "script.py";
  std::ofstream(file) << script;
  std::string cmd = "/usr/bin/python3 -W ignore '" + file + "'";
  for (const auto& a : args) cmd += " '" + a + "'";
  cmd += " 2>&1";
  PythonResult r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// Prints every live record of a table as dbfread decodes it, one line each: the values
// separated by "|", as Python's str() shows them, followed by "count=<records dbf counts>".
inline PythonResult readWithOutsideReaders(const std::string& path) {
  return python(R"(
import sys, dbf, dbfread
t = dbfread.DBF(sys.argv[1], encoding='gbk', char_decode_errors='strict')
for r in t:
    print('|'.join(str(v) for v in r.values()))
d = dbf.Table(sys.argv[1])
d.open(dbf.READ_ONLY)
live = [r for r in d if not dbf.is_deleted(r)]
print('count=%d live=%d' % (len(d), len(live)))
d.close()
)",
                {path});
}

}  // namespace hv::tabletest
