#pragma once
// A growable array of untyped pointers. Entries may be empty (null); removing an entry shifts the
// later ones down. Subclasses that own what the pointers point to override Remove and RemoveAll.
#include <cstddef>
#include <vector>

#include "include/handvane/export.h"

class HV_EXPORT CArrayTable {
 public:
  explicit CArrayTable(int growBy = 256);
  virtual ~CArrayTable();
  CArrayTable(const CArrayTable&) = delete;
  CArrayTable& operator=(const CArrayTable&) = delete;

  // The new entry's index, or -1 when no memory could be had.
  int Append(void* p);
  int GetCount() const { return int(items_.size()); }
  // Null for an empty entry or an index out of range.
  void* GetData(int index) const;
  // False for an index out of range.
  bool SetData(int index, void* p);
  virtual bool Remove(int index);
  virtual void RemoveAll();

 private:
  size_t growBy_;
  std::vector<void*> items_;
};
