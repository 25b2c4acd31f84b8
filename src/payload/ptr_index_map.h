// A hash map from pointers to 32-bit indices, without the standard library:
// the storing archive numbers the classes and objects it has written with it,
// and deleting an array's elements uses it to delete each object only once.
#pragma once

#include "platform/platform.h"

class CPtrIndexMap {
 public:
  CPtrIndexMap() = default;
  ~CPtrIndexMap();
  CPtrIndexMap(const CPtrIndexMap&) = delete;
  CPtrIndexMap& operator=(const CPtrIndexMap&) = delete;

  // TRUE and the index when p is in the map.
  BOOL Lookup(const void* p, DWORD* pnIndex) const;
  // Adds or replaces p's index; raises the memory exception when the table
  // cannot grow. p must not be null.
  void SetAt(const void* p, DWORD nIndex);
  int GetCount() const { return m_nCount; }
  void RemoveAll();

 private:
  struct Slot {
    const void* key;  // null: empty
    DWORD value;
  };
  size_t SlotOf(const void* p) const;
  void Rehash(size_t nNewCapacity);

  Slot* m_pSlots = nullptr;
  size_t m_nCapacity = 0;  // a power of two, or 0
  int m_nCount = 0;
};
