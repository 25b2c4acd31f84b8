// The framework's array classes: CObArray (object pointers, not owned),
// CStringArray and CDWordArray.
//
// Indices are 0-based ints. GetAt/SetAt/operator[] outside the size are a
// programming error: GetAt returns the empty value and SetAt does nothing,
// rather than touching memory that is not the array's. Growth failures throw
// the framework's memory exception. Serialize is defined with the archive.
#pragma once

#include "framework/cstring.h"
#include "framework/object.h"

#include <new>

class CArchive;

namespace afx_detail {

// Growable array of T with value semantics for elements; T must be
// default-constructible and assignable.
template <class T>
class CArrayCore {
 public:
  CArrayCore() = default;
  ~CArrayCore() { RemoveAll(); }
  CArrayCore(const CArrayCore&) = delete;
  CArrayCore& operator=(const CArrayCore&) = delete;

  int GetSize() const { return m_nSize; }
  int GetCount() const { return m_nSize; }
  int GetUpperBound() const { return m_nSize - 1; }
  bool IsEmpty() const { return m_nSize == 0; }

  // Sets the number of elements; new slots hold the empty value.
  void SetSize(int nNewSize);
  void RemoveAll();

  const T& GetAt(int nIndex) const { return InRange(nIndex) ? m_pData[nIndex] : Empty(); }
  void SetAt(int nIndex, const T& value) {
    if (InRange(nIndex)) m_pData[nIndex] = value;
  }
  T& ElementAt(int nIndex) { return InRange(nIndex) ? m_pData[nIndex] : Scratch(); }
  const T& operator[](int nIndex) const { return GetAt(nIndex); }
  T& operator[](int nIndex) { return ElementAt(nIndex); }
  const T* GetData() const { return m_pData; }
  T* GetData() { return m_pData; }

  // Appends and returns the new element's index.
  int Add(const T& value);
  void RemoveAt(int nIndex, int nCount = 1);

 private:
  bool InRange(int nIndex) const { return nIndex >= 0 && nIndex < m_nSize; }
  static const T& Empty() {
    static const T empty{};
    return empty;
  }
  static T& Scratch() {
    static T scratch{};
    scratch = T{};
    return scratch;
  }
  void Grow(int nMinCapacity);

  T* m_pData = nullptr;
  int m_nSize = 0;
  int m_nCapacity = 0;
};

void ThrowArrayMemory();  // raises the framework's memory exception

// The most bytes one array may take: what a 32-bit process can address at
// most, on every build, so that element counts read from a file can never
// overflow a size computation or ask the host for tens of gigabytes.
const size_t kMaxArrayBytes = 0x7FFFFFFF;

template <class T>
void CArrayCore<T>::Grow(int nMinCapacity) {
  if (nMinCapacity <= m_nCapacity) return;
  const long long nLimit = (long long)(kMaxArrayBytes / sizeof(T));
  if (nMinCapacity > nLimit) ThrowArrayMemory();
  // Geometric growth, computed wide and capped at the limit.
  long long nNew = (long long)m_nCapacity + m_nCapacity / 2;
  if (nNew < nMinCapacity) nNew = nMinCapacity;
  if (nNew < 4) nNew = 4;
  if (nNew > nLimit) nNew = nLimit;
  T* pNew = new (std::nothrow) T[(size_t)nNew]();
  if (pNew == nullptr) ThrowArrayMemory();
  for (int i = 0; i < m_nSize; ++i) pNew[i] = static_cast<T&&>(m_pData[i]);
  delete[] m_pData;
  m_pData = pNew;
  m_nCapacity = (int)nNew;
}

template <class T>
void CArrayCore<T>::SetSize(int nNewSize) {
  if (nNewSize < 0) nNewSize = 0;
  if (nNewSize == 0) {
    RemoveAll();
    return;
  }
  // From an empty array Grow allocates exactly nNewSize (loaders size their
  // arrays once), at least 4.
  // Every slot past the size holds the empty value: allocations are
  // value-initialised and slots are cleared as they leave the array. So
  // growing needs no loop, and shrinking clears what it drops.
  if (nNewSize > m_nSize) Grow(nNewSize);
  for (int i = nNewSize; i < m_nSize; ++i) m_pData[i] = T{};
  m_nSize = nNewSize;
}

template <class T>
void CArrayCore<T>::RemoveAll() {
  delete[] m_pData;
  m_pData = nullptr;
  m_nSize = 0;
  m_nCapacity = 0;
}

template <class T>
int CArrayCore<T>::Add(const T& value) {
  if (m_nSize == m_nCapacity) {
    if (m_nSize == 0x7FFFFFFF) ThrowArrayMemory();
    T copy(value);  // value may live in this array
    Grow(m_nSize + 1);
    m_pData[m_nSize] = static_cast<T&&>(copy);
  } else {
    m_pData[m_nSize] = value;
  }
  return m_nSize++;
}

template <class T>
void CArrayCore<T>::RemoveAt(int nIndex, int nCount) {
  if (nIndex < 0 || nCount <= 0 || nIndex >= m_nSize) return;
  if (nCount > m_nSize - nIndex) nCount = m_nSize - nIndex;
  for (int i = nIndex; i + nCount < m_nSize; ++i) m_pData[i] = static_cast<T&&>(m_pData[i + nCount]);
  for (int i = m_nSize - nCount; i < m_nSize; ++i) m_pData[i] = T{};
  m_nSize -= nCount;
}

}  // namespace afx_detail

// Array of CObject pointers. The array does not own its elements: whoever
// fills it deletes them (the catalogue classes do so in their destructors).
class CObArray : public CObject, public afx_detail::CArrayCore<CObject*> {
 public:
  void Serialize(CArchive& ar) override;
};

class CStringArray : public CObject, public afx_detail::CArrayCore<CString> {
 public:
  void Serialize(CArchive& ar) override;
};

class CDWordArray : public CObject, public afx_detail::CArrayCore<DWORD> {
 public:
  void Serialize(CArchive& ar) override;
};
