// The catalogue classes: construction and member serialization. The
// project's data blocks are in data_block.cpp.
#include "payload/catalogue.h"

#include "payload/archive.h"
#include "payload/data_block.h"
#include "payload/owned_arrays.h"

IMPLEMENT_SERIAL(CCompFileInfo, CObject, 0)
IMPLEMENT_SERIAL(CBuildItem, CObject, 0)
IMPLEMENT_SERIAL(CExecutableItem, CObject, 0)
IMPLEMENT_SERIAL(CIndexArray, CObject, 0)
IMPLEMENT_SERIAL(CBuildItems, CObject, 0)

// ---- CCompFileInfo -----------------------------------------------------------

CCompFileInfo::CCompFileInfo()
    : m_ctime(0),
      m_mtime(0),
      m_attribute(0),
      m_dwVersionMS(0),
      m_dwVersionLS(0),
      m_dwStart(0),
      m_dwEnd(0) {}

void CCompFileInfo::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar << m_ctime << m_mtime << m_attribute << m_strName << m_dwVersionMS << m_dwVersionLS
       << m_dwStart << m_dwEnd;
  } else {
    ar >> m_ctime >> m_mtime >> m_attribute >> m_strName >> m_dwVersionMS >> m_dwVersionLS >>
        m_dwStart >> m_dwEnd;
  }
}

void SerializeFileTable(CArchive& ar, CObArray& arrFileTable) {
  SerializeOwnedArray(ar, arrFileTable, RUNTIME_CLASS(CCompFileInfo));
}

void DeleteFileTable(CObArray& arrFileTable) { DeleteOwnedElements(arrFileTable); }

// ---- CBuildItem --------------------------------------------------------------

CBuildItem::CBuildItem()
    : m_bPlatformSpecific(0), m_dwVersionMS(0), m_dwVersionLS(0), m_dwSize(0) {}

void CBuildItem::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar << m_strName << m_strDestDir << m_strPlatformDir << m_strSourcePath
       << m_bPlatformSpecific << m_dwVersionMS << m_dwVersionLS << m_dwSize;
  } else {
    ar >> m_strName >> m_strDestDir >> m_strPlatformDir >> m_strSourcePath >>
        m_bPlatformSpecific >> m_dwVersionMS >> m_dwVersionLS >> m_dwSize;
  }
}

// ---- CExecutableItem ---------------------------------------------------------

CExecutableItem::CExecutableItem() : m_dwReserved(0), m_nComponent(0) {}

void CExecutableItem::Serialize(CArchive& ar) {
  if (ar.IsStoring())
    ar << m_strName << m_strDir << m_dwReserved << m_nComponent;
  else
    ar >> m_strName >> m_strDir >> m_dwReserved >> m_nComponent;
}

// ---- CIndexArray -------------------------------------------------------------

void CIndexArray::Serialize(CArchive& ar) { m_dwIndices.Serialize(ar); }

// ---- CBuildItems -------------------------------------------------------------

CBuildItems::CBuildItems()
    : m_wMainInWindowsDir(0),
      m_dwBlock1Size(0),
      m_pBlock1(nullptr),
      m_dwBlock2Size(0),
      m_pBlock2(nullptr) {}

CBuildItems::~CBuildItems() {
  DeleteOwnedElements(m_arrPrograms);
  DeleteOwnedElements(m_arrItems);
  DeleteOwnedElements(m_arrComponents);
  DeleteOwnedElements(m_arrPlatforms);
  FreeDataBlock(m_pBlock1);
  FreeDataBlock(m_pBlock2);
}

// Not the member order: the platform lists come before the component lists,
// and the blocks and the flag before the three strings.
void CBuildItems::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ReadDataBlockFile(m_strBlock1File, m_dwBlock1Size, m_pBlock1);
    ReadDataBlockFile(m_strBlock2File, m_dwBlock2Size, m_pBlock2);
  }
  m_arrInstallDirs.Serialize(ar);
  SerializeOwnedArray(ar, m_arrPrograms, RUNTIME_CLASS(CExecutableItem));
  SerializeOwnedArray(ar, m_arrItems, RUNTIME_CLASS(CBuildItem));
  SerializeOwnedArray(ar, m_arrPlatforms, RUNTIME_CLASS(CIndexArray));
  SerializeOwnedArray(ar, m_arrComponents, RUNTIME_CLASS(CIndexArray));
  SerializeDataBlock(ar, m_dwBlock1Size, m_pBlock1);
  SerializeDataBlock(ar, m_dwBlock2Size, m_pBlock2);
  if (ar.IsStoring()) {
    ar << m_wMainInWindowsDir << m_strProject << m_strMainProgram << m_strExtra;
  } else {
    ar >> m_wMainInWindowsDir >> m_strProject >> m_strMainProgram >> m_strExtra;
  }
}
