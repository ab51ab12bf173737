#pragma once
// Changes to table files go through shapelib's DBF functions behind this wrapper. shapelib reports
// few failures and cuts over-long values silently, so the wrapper supplies its own file hooks:
// every read, write and seek is checked, the file's header is checked by our own reader before
// shapelib sees it, and records reach shapelib already laid out to the field widths.
#include <shapefil.h>

#include <string>
#include <string_view>
#include <vector>

#include "tables/dbf/format.h"

namespace hv::dbf {

struct HookFile;

class Writer {
 public:
  // Opens the table for changes, waiting (a few seconds at most) for the file's write lock, which
  // is held until the writer is destroyed. The file's layout must still be `expected`'s.
  // Throws Error.
  Writer(const std::string& path, const Header& expected);
  ~Writer();
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  int recordCount() const;
  // Replaces record index, or appends one when index is the record count. record holds the
  // whole record, deletion flag first, exactly the record length.
  void putRecord(int index, std::string_view record);
  void markDeleted(int index);
  // Writes the pending record, then the header (record count, today's date). A crash between the
  // two leaves a header that counts only whole records.
  void flush();
  // Makes what was written durable (fdatasync).
  void sync();

 private:
  void check(bool ok, const char* what);
  std::string path_;
  Header header_;
  DBFHandle handle_ = nullptr;
  HookFile* file_ = nullptr;
};

struct Date {
  int year, month, day;
};

// Writes a new table file of these fields and rows (one value per field), GBK code page, dated
// `date`, and puts it in place of path atomically. Throws Error.
void createTable(const std::string& path, const std::vector<Field>& fields,
                 const std::vector<std::vector<Value>>& rows, Date date);

}  // namespace hv::dbf
