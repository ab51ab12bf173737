#pragma once
// The in-memory copy of a table that the table libraries hand out as a handle: an array of
// records it owns, in table order. An entry may be empty (a deleted friend), so that the indexes
// callers hold stay valid.
#include "utils/arraytable.h"

namespace hv::dbf {

template <typename Record>
class OwnedRecords : public CArrayTable {
 public:
  OwnedRecords() : CArrayTable(1024) {}
  ~OwnedRecords() override { FreeAll(); }

  bool Remove(int index) override {
    delete At(index);
    return CArrayTable::Remove(index);
  }
  void RemoveAll() override {
    FreeAll();
    CArrayTable::RemoveAll();
  }
  // Frees the entry's record and leaves the entry empty.
  void Clear(int index) {
    delete At(index);
    SetData(index, nullptr);
  }
  Record* At(int index) const { return static_cast<Record*>(GetData(index)); }

 private:
  void FreeAll() {
    for (int i = 0; i < GetCount(); ++i) Clear(i);
  }
};

}  // namespace hv::dbf
