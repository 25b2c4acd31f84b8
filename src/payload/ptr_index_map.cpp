#include "payload/ptr_index_map.h"

#include <cstdint>
#include <cstdlib>

#include "framework/exceptions.h"

CPtrIndexMap::~CPtrIndexMap() { free(m_pSlots); }

void CPtrIndexMap::RemoveAll() {
  free(m_pSlots);
  m_pSlots = nullptr;
  m_nCapacity = 0;
  m_nCount = 0;
}

// First slot to probe: the pointer's bits mixed (objects are aligned, so
// the low bits alone would cluster), masked to the table.
size_t CPtrIndexMap::SlotOf(const void* p) const {
  uint64_t h = (uint64_t)(uintptr_t)p;
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  return (size_t)h & (m_nCapacity - 1);
}

BOOL CPtrIndexMap::Lookup(const void* p, DWORD* pnIndex) const {
  if (m_nCapacity == 0 || p == nullptr) return FALSE;
  for (size_t i = SlotOf(p);; i = (i + 1) & (m_nCapacity - 1)) {
    if (m_pSlots[i].key == nullptr) return FALSE;
    if (m_pSlots[i].key == p) {
      if (pnIndex != nullptr) *pnIndex = m_pSlots[i].value;
      return TRUE;
    }
  }
}

void CPtrIndexMap::Rehash(size_t nNewCapacity) {
  if (nNewCapacity > ((size_t)-1) / sizeof(Slot)) AfxThrowMemoryException();
  Slot* pNew = (Slot*)calloc(nNewCapacity, sizeof(Slot));
  if (pNew == nullptr) AfxThrowMemoryException();
  Slot* pOld = m_pSlots;
  size_t nOld = m_nCapacity;
  m_pSlots = pNew;
  m_nCapacity = nNewCapacity;
  for (size_t i = 0; i < nOld; ++i) {
    if (pOld[i].key == nullptr) continue;
    size_t j = SlotOf(pOld[i].key);
    while (m_pSlots[j].key != nullptr) j = (j + 1) & (m_nCapacity - 1);
    m_pSlots[j] = pOld[i];
  }
  free(pOld);
}

void CPtrIndexMap::SetAt(const void* p, DWORD nIndex) {
  if (p == nullptr) return;
  // Keep the load factor at most one half, so probes stay short and an
  // empty slot always ends a search.
  if ((size_t)(m_nCount + 1) * 2 > m_nCapacity) Rehash(m_nCapacity == 0 ? 64 : m_nCapacity * 2);
  size_t i = SlotOf(p);
  while (m_pSlots[i].key != nullptr && m_pSlots[i].key != p) i = (i + 1) & (m_nCapacity - 1);
  if (m_pSlots[i].key == nullptr) ++m_nCount;
  m_pSlots[i].key = p;
  m_pSlots[i].value = nIndex;
}
