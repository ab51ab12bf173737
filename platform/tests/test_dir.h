#pragma once
// A fresh folder for one test, removed with everything in it afterwards.
#include <stdlib.h>

#include <string>

#include "platform/fs.h"

class TestDir {
 public:
  TestDir() {
    char tmpl[] = "/tmp/hvtest-XXXXXX";
    path_ = std::string(mkdtemp(tmpl)) + "/";
  }
  ~TestDir() { hv::fs::removeAll(path_); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};
