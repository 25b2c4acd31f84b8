#include "payload/payload_checks.h"

#include "framework/exceptions.h"
#include "payload/catalogue.h"

namespace {

// The component the run installs and the platform list the item filter
// consults; a catalogue must hold both.
const int kInstalledComponent = 0;
const int kPlatformList = 1;

BOOL IndicesBelow(const CObArray& arrLists, DWORD dwLimit) {
  for (int i = 0; i < arrLists.GetSize(); ++i) {
    const CDWordArray& indices = static_cast<CIndexArray*>(arrLists.GetAt(i))->m_dwIndices;
    for (int j = 0; j < indices.GetSize(); ++j)
      if (indices.GetAt(j) >= dwLimit) return FALSE;
  }
  return TRUE;
}

// Extraction appends the entry's name to the destination directory, and the
// shared-file steps append the item's name to the directories they find; a
// name with a separator or a dot-dot would leave that directory.
void CheckNames(const CObArray& arrFileTable, const CBuildItems& project, const char* pszPath) {
  for (int i = 0; i < arrFileTable.GetSize(); ++i)
    if (!IsPlainFileName(static_cast<CCompFileInfo*>(arrFileTable.GetAt(i))->m_strName))
      AfxThrowArchiveException(CArchiveException::badClass, pszPath);
  for (int i = 0; i < project.m_arrItems.GetSize(); ++i)
    if (!IsPlainFileName(static_cast<CBuildItem*>(project.m_arrItems.GetAt(i))->m_strName))
      AfxThrowArchiveException(CArchiveException::badClass, pszPath);
}

// An index is used both in the project's items and in the file table, so it
// must lie below both sizes. Sizes that differ are harmless as such.
void CheckIndices(const CObArray& arrFileTable, const CBuildItems& project, const char* pszPath) {
  if (project.m_arrComponents.GetSize() <= kInstalledComponent ||
      project.m_arrPlatforms.GetSize() <= kPlatformList)
    AfxThrowArchiveException(CArchiveException::badIndex, pszPath);
  int nLimit = project.m_arrItems.GetSize();
  if (arrFileTable.GetSize() < nLimit) nLimit = arrFileTable.GetSize();
  if (!IndicesBelow(project.m_arrComponents, (DWORD)nLimit) ||
      !IndicesBelow(project.m_arrPlatforms, (DWORD)nLimit))
    AfxThrowArchiveException(CArchiveException::badIndex, pszPath);
}

}  // namespace

BOOL IsPlainFileName(const CString& strName) {
  if (strName.IsEmpty() || strName.Compare(".") == 0 || strName.Compare("..") == 0) return FALSE;
  return strName.Find('\\') < 0 && strName.Find('/') < 0 && strName.Find(':') < 0;
}

void CheckCatalogue(const CObArray& arrFileTable, const CBuildItems& project,
                    const char* pszPayloadPath) {
  CheckNames(arrFileTable, project, pszPayloadPath);
  CheckIndices(arrFileTable, project, pszPayloadPath);
}
