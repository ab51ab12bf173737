#include "tables/friends/buddystore.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "tables/dbf/dbf.h"
#include "tables/dbf/format.h"
#include "tables/dbf/ownedrecords.h"
#include "utils/function.h"

using hv::FriendRecord;

// The friends as loaded, plus the changes made through this handle.
class FriendsTable : public hv::dbf::OwnedRecords<FriendRecord> {
 public:
  explicit FriendsTable(std::string connection) : connection_(std::move(connection)) {}
  const std::string& connection() const { return connection_; }
  static constexpr const char* kTable = "FRIENDS";

 private:
  std::string connection_;
};

namespace {

// Trailing blanks are padding; leading blanks are part of the value.
std::string rightTrimmed(const std::string& s) {
  return std::string(hv::dbf::trimRight(s));
}

void fill(FriendRecord& r, const hv::dbf::Recordset& row) {
  r = FriendRecord{};
  r.id = std::atoi(row.text(0).c_str());
  std::string number = row.text(1);
  hv::copyField(r.mobilenum, number.substr(0, number.find('.')));
  hv::copyField(r.mobiletype, rightTrimmed(row.text(2)));
  hv::copyField(r.nickname, rightTrimmed(row.text(3)));
  hv::copyField(r.name, rightTrimmed(row.text(4)));
  r.age = std::atoi(row.text(5).c_str());
  hv::copyField(r.sex, rightTrimmed(row.text(6)));
  hv::copyField(r.email, rightTrimmed(row.text(7)));
  hv::copyField(r.qq, rightTrimmed(row.text(8)));
  hv::copyField(r.msn, rightTrimmed(row.text(9)));
  hv::copyField(r.address, rightTrimmed(row.text(10)));
  hv::copyField(r.postcode, rightTrimmed(row.text(11)));
}

// A record as it is kept: every text field terminated within its width, as if read back.
FriendRecord normalized(const FriendRecord& in) {
  FriendRecord r{};
  r.id = in.id;
  r.age = in.age;
  hv::copyField(r.mobilenum, hv::fieldText(in.mobilenum));
  hv::copyField(r.mobiletype, hv::fieldText(in.mobiletype));
  hv::copyField(r.nickname, hv::fieldText(in.nickname));
  hv::copyField(r.name, hv::fieldText(in.name));
  hv::copyField(r.sex, hv::fieldText(in.sex));
  hv::copyField(r.email, hv::fieldText(in.email));
  hv::copyField(r.qq, hv::fieldText(in.qq));
  hv::copyField(r.msn, hv::fieldText(in.msn));
  hv::copyField(r.address, hv::fieldText(in.address));
  hv::copyField(r.postcode, hv::fieldText(in.postcode));
  return r;
}

using hv::dbf::numberLiteral;
using hv::dbf::quote;

std::string insertStatement(const FriendRecord& r) {
  return std::string("INSERT INTO ") + FriendsTable::kTable +
         "(Id,Mobilenum,Mobiletype,Nickname,Name,Age,Sex,Email,QQ,MSN,Address,Postcode) VALUES(" +
         std::to_string(r.id) + "," + numberLiteral(hv::fieldText(r.mobilenum)) + "," +
         quote(hv::fieldText(r.mobiletype)) + "," + quote(hv::fieldText(r.nickname)) + "," +
         quote(hv::fieldText(r.name)) + "," + std::to_string(r.age) + "," +
         quote(hv::fieldText(r.sex)) + "," + quote(hv::fieldText(r.email)) + "," +
         quote(hv::fieldText(r.qq)) + "," + quote(hv::fieldText(r.msn)) + "," +
         quote(hv::fieldText(r.address)) + "," + quote(hv::fieldText(r.postcode)) + ")";
}

std::string updateStatement(const FriendRecord& r) {
  return std::string("UPDATE ") + FriendsTable::kTable + " SET Id=" + std::to_string(r.id) +
         ",MobileType=" + quote(hv::fieldText(r.mobiletype)) +
         ",Nickname=" + quote(hv::fieldText(r.nickname)) + ",Name=" + quote(hv::fieldText(r.name)) +
         ",Age=" + std::to_string(r.age) + ",Sex=" + quote(hv::fieldText(r.sex)) +
         ",Email=" + quote(hv::fieldText(r.email)) + ",QQ=" + quote(hv::fieldText(r.qq)) +
         ",MSN=" + quote(hv::fieldText(r.msn)) + ",Address=" + quote(hv::fieldText(r.address)) +
         ",Postcode=" + quote(hv::fieldText(r.postcode)) +
         " WHERE MobileNum=" + numberLiteral(hv::fieldText(r.mobilenum));
}

std::string deleteStatement(const FriendRecord& r) {
  return std::string("DELETE FROM ") + FriendsTable::kTable +
         " WHERE MobileNum=" + numberLiteral(hv::fieldText(r.mobilenum));
}

// Runs one changing statement on its own connection; false when the table refused it.
bool run(const FriendsTable& table, const std::string& sql) {
  try {
    hv::dbf::Database db(table.connection());
    db.execute(sql);
    return true;
  } catch (const hv::dbf::Error&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

FriendsTable* FLOpen(const char* folder) {
  if (!folder) return nullptr;
  try {
    std::string path = CFunction::GetExecutePath() + folder;
    auto table = std::make_unique<FriendsTable>(CFunction::GetDBFConnectionString(path));
    hv::dbf::Database db(table->connection());
    auto rows = db.query(std::string("SELECT * FROM ") + FriendsTable::kTable);
    if (rows.columnCount() < 12) return nullptr;
    while (rows.next()) {
      auto record = std::make_unique<FriendRecord>();
      fill(*record, rows);
      if (table->Append(record.get()) < 0) return nullptr;
      record.release();
    }
    return table.release();
  } catch (const hv::dbf::Error&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void FLClose(FriendsTable* table) {
  delete table;
}

int FLGetCount(FriendsTable* table) {
  return table ? table->GetCount() : kFLRefused;
}

int FLGetInfo(FriendsTable* table, int index, FriendRecord* out) {
  if (!table || !out) return kFLRefused;
  const FriendRecord* r = table->At(index);
  if (!r) return kFLRefused;
  *out = *r;
  return 0;
}

int FLGetInfoWithPhone(FriendsTable* table, const char* phone, FriendRecord* out) {
  if (!table || !phone || !out) return kFLRefused;
  for (int i = 0; i < table->GetCount(); ++i) {
    const FriendRecord* r = table->At(i);
    if (r && std::strncmp(r->mobilenum, phone, sizeof r->mobilenum) == 0 &&
        (std::strlen(phone) < sizeof r->mobilenum || r->mobilenum[sizeof r->mobilenum - 1] == 0)) {
      *out = *r;
      return 0;
    }
  }
  return kFLRefused;
}

int FLAddInfo(FriendsTable* table, const FriendRecord* record) {
  if (!table || !record) return kFLRefused;
  FriendRecord r = normalized(*record);
  // The number is the row's key: an empty one could never be found again.
  if (r.mobilenum[0] == '\0') return kFLRefused;
  FriendRecord existing;
  if (FLGetInfoWithPhone(table, r.mobilenum, &existing) == 0) return kFLRefused;
  if (!run(*table, insertStatement(r))) return kFLDatabaseError;
  auto copy = std::make_unique<FriendRecord>(r);
  int index = table->Append(copy.get());
  if (index < 0) return kFLDatabaseError;
  copy.release();
  return index;
}

int FLModifyInfo(FriendsTable* table, int index, const FriendRecord* record) {
  if (!table || !record) return kFLRefused;
  FriendRecord* stored = table->At(index);
  if (!stored) return kFLRefused;
  FriendRecord r = normalized(*record);
  if (strcasecmp(stored->mobilenum, r.mobilenum) != 0) return kFLRefused;
  if (!run(*table, updateStatement(r))) return kFLDatabaseError;
  *stored = r;
  return 0;
}

int FLDelInfo(FriendsTable* table, int index) {
  if (!table) return kFLRefused;
  FriendRecord* stored = table->At(index);
  if (!stored) return kFLRefused;
  if (!run(*table, deleteStatement(*stored))) return kFLDatabaseError;
  table->Clear(index);
  return 0;
}
