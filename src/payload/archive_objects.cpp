// CArchive: object references and the class-and-object map.
//
// Classes and objects share one numbering per archive, in order of first
// appearance; index 0 is null. A tag WORD says what follows:
//   0x0000            null
//   i (1..0x7FFE)     the object at index i, already read
//   0xFFFF            a new class (descriptor follows), then a new object of it
//   0x8000|j          a new object of the class at index j
//   0x7FFF, DWORD d   d with bit 31 set: 0x8000|j form; clear: back-reference
#include <cstdlib>

#include "framework/exceptions.h"
#include "payload/archive.h"

namespace {

const WORD kNullTag = 0x0000;
const WORD kNewClassTag = 0xFFFF;
const WORD kBigIndexTag = 0x7FFF;
const DWORD kClassBit = 0x80000000;
// The next index may not reach this: the largest index given is one below.
const DWORD kMapLimit = 0x3FFFFFFE;
// Class names are shorter than this.
const WORD kMaxClassName = 64;

}  // namespace

// ---- Loading -----------------------------------------------------------------

void CArchive::EnterLoad(const void* p, BOOL bClass) {
  if (m_nMapCount >= kMapLimit) ThrowException(CArchiveException::badIndex);
  if (m_nMapCount >= m_nLoadCapacity) {
    // Grows with what was read, never from a count in the input.
    DWORD nNew = m_nLoadCapacity == 0 ? 64 : m_nLoadCapacity * 2;
    LoadEntry* pNew = (LoadEntry*)realloc(m_pLoadMap, (size_t)nNew * sizeof(LoadEntry));
    if (pNew == nullptr) AfxThrowMemoryException();
    if (m_nLoadCapacity == 0) pNew[0] = LoadEntry{nullptr, FALSE};  // index 0: null
    m_pLoadMap = pNew;
    m_nLoadCapacity = nNew;
  }
  m_pLoadMap[m_nMapCount].p = p;
  m_pLoadMap[m_nMapCount].bClass = bClass;
  ++m_nMapCount;
}

const CRuntimeClass* CArchive::LookUpClass(DWORD nIndex) const {
  if (nIndex == 0 || nIndex >= m_nMapCount || !m_pLoadMap[nIndex].bClass)
    ThrowException(CArchiveException::badIndex);
  return (const CRuntimeClass*)m_pLoadMap[nIndex].p;
}

CObject* CArchive::LookUpObject(DWORD nIndex) const {
  if (nIndex >= m_nMapCount) ThrowException(CArchiveException::badIndex);
  if (nIndex == 0) return nullptr;
  if (m_pLoadMap[nIndex].bClass) ThrowException(CArchiveException::badIndex);
  return (CObject*)m_pLoadMap[nIndex].p;
}

// WORD schema, WORD name length, the name. The name is looked up exactly,
// byte for byte; a name too long or cut short is an unexpected object.
const CRuntimeClass* CArchive::ReadClassDescriptor() {
  WORD wSchema;
  WORD wLength;
  *this >> wSchema >> wLength;
  if (wLength >= kMaxClassName) ThrowException(CArchiveException::badClass);
  char szName[kMaxClassName];
  if (Read(szName, wLength) != wLength) ThrowException(CArchiveException::badClass);
  const CRuntimeClass* pClass = CRuntimeClass::FromName(szName, wLength);
  if (pClass == nullptr) ThrowException(CArchiveException::badClass);
  if (pClass->m_wSchema != wSchema) ThrowException(CArchiveException::badSchema);
  EnterLoad(pClass, TRUE);
  return pClass;
}

CObject* CArchive::ReadObject(const CRuntimeClass* pRequired) {
  CheckLoading();
  WORD wTag;
  *this >> wTag;
  DWORD dwTag;
  if (wTag == kBigIndexTag)
    *this >> dwTag;
  else
    dwTag = ((DWORD)(wTag & 0x8000) << 16) | (wTag & 0x7FFF);

  if ((dwTag & kClassBit) == 0) {
    CObject* pOb = LookUpObject(dwTag);
    if (pOb != nullptr && pRequired != nullptr && !pOb->IsKindOf(pRequired))
      ThrowException(CArchiveException::badClass);
    return pOb;
  }

  const CRuntimeClass* pClass =
      wTag == kNewClassTag ? ReadClassDescriptor() : LookUpClass(dwTag & ~kClassBit);
  if (pRequired != nullptr && !pClass->IsDerivedFrom(pRequired))
    ThrowException(CArchiveException::badClass);
  CObject* pOb = pClass->CreateObject();
  if (pOb == nullptr) AfxThrowMemoryException();

  // The object belongs to nobody until it is returned: if entering it or its
  // members fail, it is deleted here, and its map entry forgotten.
  DWORD nIndex = m_nMapCount;
  try {
    EnterLoad(pOb, FALSE);
    pOb->Serialize(*this);
  } catch (...) {
    if (nIndex < m_nMapCount) m_pLoadMap[nIndex].p = nullptr;
    delete pOb;
    throw;
  }
  return pOb;
}

// ---- Storing -----------------------------------------------------------------

DWORD CArchive::EnterStore(const void* p) {
  if (m_nMapCount >= kMapLimit) ThrowException(CArchiveException::badIndex);
  m_storeMap.SetAt(p, m_nMapCount);
  return m_nMapCount++;
}

// Short form below 0x7FFF, else the big-index tag and a DWORD.
void CArchive::WriteIndexTag(DWORD nIndex, DWORD dwClassBit) {
  if (nIndex < kBigIndexTag) {
    *this << (WORD)(nIndex | (dwClassBit >> 16));
  } else {
    *this << kBigIndexTag;
    *this << (DWORD)(nIndex | dwClassBit);
  }
}

void CArchive::WriteClass(const CRuntimeClass* pClass) {
  DWORD nIndex;
  if (m_storeMap.Lookup(pClass, &nIndex)) {
    WriteIndexTag(nIndex, kClassBit);
    return;
  }
  WORD wLength = 0;
  while (pClass->m_lpszClassName[wLength] != 0) ++wLength;
  *this << kNewClassTag << (WORD)pClass->m_wSchema << wLength;
  WriteBytes(pClass->m_lpszClassName, wLength);
  EnterStore(pClass);
}

void CArchive::WriteObject(const CObject* pOb) {
  CheckStoring();
  if (pOb == nullptr) {
    *this << kNullTag;
    return;
  }
  DWORD nIndex;
  if (m_storeMap.Lookup(pOb, &nIndex)) {
    WriteIndexTag(nIndex, 0);
    return;
  }
  const CRuntimeClass* pClass = pOb->GetRuntimeClass();
  if (pClass->m_wSchema == 0xFFFF) AfxThrowNotSupportedException();
  WriteClass(pClass);
  EnterStore(pOb);
  // Storing reads the object only; Serialize is one operation for both
  // directions, hence the cast.
  const_cast<CObject*>(pOb)->Serialize(*this);
}
