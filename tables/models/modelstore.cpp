#include "tables/models/modelstore.h"

#include <memory>
#include <new>
#include <string>

#include "platform/fs.h"
#include "tables/dbf/dbf.h"
#include "tables/dbf/format.h"
#include "tables/dbf/ownedrecords.h"
#include "utils/function.h"

using hv::ModelRecord;

// The phone models in the order the table gave them.
class ModelList : public hv::dbf::OwnedRecords<ModelRecord> {};

namespace {
// Trailing blanks go; leading blanks are part of the value.
std::string rightTrimmed(const std::string& s) {
  return std::string(hv::dbf::trimRight(s));
}
}  // namespace

ModelList* PLOpen() {
  try {
    std::string dir = hv::fs::resolveOrKeep(CFunction::GetExecutePath() + "DATA");
    hv::dbf::Database db(CFunction::GetDBFConnectionString(dir));
    auto list = std::make_unique<ModelList>();
    auto rows = db.query("SELECT * FROM PHONE");
    if (rows.columnCount() < 2) return nullptr;
    while (rows.next()) {
      auto record = std::make_unique<ModelRecord>();
      hv::copyField(record->phonetype, rightTrimmed(rows.text(0)));
      hv::copyField(record->modelname, rightTrimmed(rows.text(1)));
      if (list->Append(record.get()) < 0) return nullptr;
      record.release();
    }
    return list.release();
  } catch (const hv::dbf::Error&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int PLGetCount(ModelList* list) {
  return list ? list->GetCount() : -1;
}

int PLGetInfo(ModelList* list, int index, ModelRecord* out) {
  if (!list || !out) return -1;
  const ModelRecord* r = list->At(index);
  if (!r) return -1;
  *out = *r;
  return 0;
}

int PLGetInfoWithPhoneType(ModelList* list, const char* phoneType, ModelRecord* out) {
  if (!list || !phoneType || !out) return -1;
  for (int i = 0; i < list->GetCount(); ++i) {
    const ModelRecord* r = list->At(i);
    if (r && hv::fieldText(r->phonetype) == phoneType) {
      *out = *r;
      return 0;
    }
  }
  return -1;
}

void PLClose(ModelList* list) {
  delete list;
}
