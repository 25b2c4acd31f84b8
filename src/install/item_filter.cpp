// The item filter: which catalogue items belong to this installation.
#include "install/installer.h"
#include "install/logged_paths.h"
#include "payload/catalogue.h"

namespace {

BOOL ListContains(const CIndexArray* pList, DWORD dwIndex) {
  const CDWordArray& indices = pList->m_dwIndices;
  for (int i = 0; i < indices.GetSize(); ++i)
    if (indices[i] == dwIndex) return TRUE;
  return FALSE;
}

}  // namespace

BOOL CInstaller::IsItemSelected(CBuildItem* pItem, int nIndex) {
  // 16-bit files are never installed: the first six characters decide,
  // compared exactly (a "Win16\" in other case is not excluded).
  if (pItem->m_strPlatformDir.Left(6) == Win16PlatformDir()) return FALSE;
  if (pItem->m_bPlatformSpecific == 0) return TRUE;
  // A project without a list for this platform selects no platform-specific
  // item (loading refuses such catalogues; this keeps the filter safe alone).
  if (m_nPlatformIndex < 0 || m_nPlatformIndex >= m_pProject->m_arrPlatforms.GetSize())
    return FALSE;
  const CIndexArray* pList =
      static_cast<const CIndexArray*>(m_pProject->m_arrPlatforms[m_nPlatformIndex]);
  return pList != nullptr && ListContains(pList, (DWORD)nIndex);
}
