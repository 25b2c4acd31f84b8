// The application's string table: texts looked up by a numeric identifier.
//
// The setup stub defines no entries, so every lookup finds nothing and the
// callers' fallbacks apply (the application name comes from the executable,
// a command formatted from a missing entry stays empty). A program or a test
// can install a table of its own.
#pragma once

#include "framework/cstring.h"

// Identifier of the application's title entry.
const UINT AFX_IDS_APP_TITLE = 0xE000;

struct AFX_STRING_ENTRY {
  UINT nID;
  const char* pszText;
};

// Installs the table (nCount entries, not copied: it must outlive its use);
// NULL or 0 entries removes it.
void AfxSetStringTable(const AFX_STRING_ENTRY* pEntries, int nCount);

// The text of entry nID into rString; FALSE and the empty string when the
// table has no such entry.
BOOL AfxLoadString(UINT nID, CString& rString);

// Entry nIDS with "%1" replaced by psz1; the empty string when the entry is
// missing.
void AfxFormatString1(CString& rString, UINT nIDS, const char* psz1);
