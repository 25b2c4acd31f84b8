#include "framework/string_table.h"

namespace {

// Plain pointers, zero before any constructor runs.
const AFX_STRING_ENTRY* g_pStringTable = nullptr;
int g_nStringTableSize = 0;

}  // namespace

void AfxSetStringTable(const AFX_STRING_ENTRY* pEntries, int nCount) {
  bool bNone = pEntries == nullptr || nCount <= 0;
  g_pStringTable = bNone ? nullptr : pEntries;
  g_nStringTableSize = bNone ? 0 : nCount;
}

BOOL AfxLoadString(UINT nID, CString& rString) {
  for (int i = 0; i < g_nStringTableSize; ++i) {
    if (g_pStringTable[i].nID == nID && g_pStringTable[i].pszText != nullptr) {
      rString = g_pStringTable[i].pszText;
      return TRUE;
    }
  }
  rString.Empty();
  return FALSE;
}

void AfxFormatString1(CString& rString, UINT nIDS, const char* psz1) {
  CString strFormat;
  if (!AfxLoadString(nIDS, strFormat)) {
    rString.Empty();
    return;
  }
  AfxFormatString1(rString, strFormat, psz1);
}
