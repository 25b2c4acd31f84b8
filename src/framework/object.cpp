#include "framework/object.h"

#include <cstring>
#include <new>

namespace {

// Head of the registry chain. A plain pointer with static (zero)
// initialisation, so it is valid before any registering constructor runs,
// whatever the order of global constructors across files.
CRuntimeClass* g_pFirstClass = nullptr;

}  // namespace

AFX_CLASSINIT::AFX_CLASSINIT(CRuntimeClass* pNewClass) {
  pNewClass->m_pNextClass = g_pFirstClass;
  g_pFirstClass = pNewClass;
}

CObject* CRuntimeClass::CreateObject() const {
  if (m_pfnCreateObject == nullptr) return nullptr;
  try {
    return m_pfnCreateObject();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
  for (const CRuntimeClass* p = this; p != nullptr; p = p->m_pBaseClass)
    if (p == pBaseClass) return TRUE;
  return FALSE;
}

const CRuntimeClass* CRuntimeClass::FromName(const char* lpszClassName) {
  if (lpszClassName == nullptr) return nullptr;
  return FromName(lpszClassName, (int)strlen(lpszClassName));
}

const CRuntimeClass* CRuntimeClass::FromName(const char* pchName, int nLength) {
  if (pchName == nullptr || nLength < 0) return nullptr;
  for (const CRuntimeClass* p = g_pFirstClass; p != nullptr; p = p->m_pNextClass) {
    if ((int)strlen(p->m_lpszClassName) == nLength &&
        memcmp(p->m_lpszClassName, pchName, (size_t)nLength) == 0)
      return p;
  }
  return nullptr;
}

const CRuntimeClass CObject::classCObject = {"CObject", sizeof(CObject), 0xFFFF,
                                             nullptr,   nullptr,         nullptr};

const CRuntimeClass* CObject::GetRuntimeClass() const { return &classCObject; }

CObject::~CObject() = default;

void CObject::Serialize(CArchive&) {}

BOOL CObject::IsKindOf(const CRuntimeClass* pClass) const {
  return GetRuntimeClass()->IsDerivedFrom(pClass);
}

BOOL CObject::IsSerializable() const { return GetRuntimeClass()->m_wSchema != 0xFFFF; }
