// The table file reader on arbitrary bytes: the header checks, every field of every record the
// header admits decoded and encoded again, and the same bytes as a table file read through SQL
// and then changed (a damaged file must be refused, never written).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>

#include "platform/fs.h"
#include "tables/dbf/dbf.h"
#include "tables/dbf/format.h"

namespace {

void decodeAll(std::span<const uint8_t> bytes) {
  try {
    hv::dbf::Header h = hv::dbf::parseHeader(bytes, bytes.size(), "FUZZ");
    for (uint32_t i = 0; i < h.recordCount; ++i) {
      auto record = bytes.subspan(h.headerLength + size_t(i) * h.recordLength, h.recordLength);
      for (const auto& f : h.fields) {
        hv::dbf::Value v = hv::dbf::decodeField(f, record);
        try {
          if (hv::dbf::encodeField(f, v).size() != size_t(f.width)) __builtin_trap();
        } catch (const hv::dbf::Error&) {
        }
      }
    }
  } catch (const hv::dbf::Error&) {
  }
}

void throughSql(std::span<const uint8_t> bytes) {
  // One folder for the whole run, removed at exit (by std::filesystem: the platform's converters
  // may already be gone while statics are destroyed).
  static const struct Folder {
    Folder() : path(hv::fs::createTempDirectory({}, "fuzz-dbf").value_or("") + "/") {}
    ~Folder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
    std::string path;
  } folder;
  const std::string& dir = folder.path;
  std::string contents(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  FILE* f = hv::fs::fopen(dir + "FUZZ.DBF", "wb");
  if (!f) return;
  bool written = std::fwrite(contents.data(), 1, contents.size(), f) == contents.size();
  if (std::fclose(f) != 0 || !written) return;
  bool readable = true;
  try {
    hv::dbf::Database db("Driver=HandvaneDBF;DBQ=" + dir);
    auto rows = db.query("SELECT * FROM FUZZ");
    while (rows.next()) {
      for (int c = 0; c < rows.columnCount(); ++c) rows.text(c);
    }
  } catch (const hv::dbf::Error&) {
    readable = false;
  }
  try {
    hv::dbf::Database db("Driver=HandvaneDBF;DBQ=" + dir);
    db.execute("DELETE FROM FUZZ");
  } catch (const hv::dbf::Error&) {
    if (!readable && hv::fs::readFile(dir + "FUZZ.DBF") != contents) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  decodeAll(bytes);
  throughSql(bytes);
  return 0;
}
