#include "utils/arraytable.h"

#include <new>

CArrayTable::CArrayTable(int growBy) : growBy_(growBy > 0 ? size_t(growBy) : 256) {}
CArrayTable::~CArrayTable() = default;

int CArrayTable::Append(void* p) {
  try {
    if (items_.size() == items_.capacity()) items_.reserve(items_.size() + growBy_);
    items_.push_back(p);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return int(items_.size() - 1);
}

void* CArrayTable::GetData(int index) const {
  if (index < 0 || size_t(index) >= items_.size()) return nullptr;
  return items_[size_t(index)];
}

bool CArrayTable::SetData(int index, void* p) {
  if (index < 0 || size_t(index) >= items_.size()) return false;
  items_[size_t(index)] = p;
  return true;
}

bool CArrayTable::Remove(int index) {
  if (index < 0 || size_t(index) >= items_.size()) return false;
  items_.erase(items_.begin() + index);
  return true;
}

void CArrayTable::RemoveAll() {
  items_.clear();
}
