#include "install/expand_path.h"

#include <cstring>

namespace {

enum Replacement { kWindowsDir, kFontsDir, kBasePlus, kBaseTrimmed };

struct PathVariable {
  const char* pszName;
  Replacement replacement;
  const char* pszBaseSuffix;  // for kBasePlus
  int nSharedFlag;
};

// Tested in this order; the first match wins.
const PathVariable kVariables[] = {
    {"%sysdir%", kWindowsDir, nullptr, 1},
    {"%font%", kFontsDir, nullptr, 0},
    {"%prefs%", kWindowsDir, nullptr, 0},
    {"%data%", kBasePlus, "data", 0},
    {"%win16%", kBasePlus, "win16", 1},
    {"%win32%", kBasePlus, "win32", 1},
    {"%macppc%", kBasePlus, "macppc", 1},
    {"%inst%", kBaseTrimmed, nullptr, 0},
    {"%root%", kBaseTrimmed, nullptr, 0},
};

// The Windows directory, or FALSE when the platform cannot give it whole.
BOOL ReadWindowsDirectory(CString& strDir) {
  char szDir[MAX_PATH + 1] = {};
  UINT n = GetWindowsDirectoryA(szDir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return FALSE;
  strDir = szDir;
  return TRUE;
}

// The Fonts folder from the shell, or FALSE when the shell cannot say.
BOOL ReadFontsDirectory(CString& strDir) {
  LPITEMIDLIST pidl = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_FONTS, &pidl)) || pidl == nullptr)
    return FALSE;
  char szDir[MAX_PATH + 1] = {};
  BOOL bOk = SHGetPathFromIDListA(pidl, szDir);
  CoTaskMemFree(pidl);
  if (!bOk || szDir[0] == 0) return FALSE;
  strDir = szDir;
  return TRUE;
}

}  // namespace

int ExpandPath(const CString& strSource, CString& strResult, const CString& strBase) {
  // Both platform directories are read on every call: nothing is cached.
  CString strWindows, strFonts;
  BOOL bWindows = ReadWindowsDirectory(strWindows);
  BOOL bFonts = ReadFontsDirectory(strFonts);

  for (const PathVariable& var : kVariables) {
    int nLen = (int)strlen(var.pszName);
    // Exact, case-sensitive prefix match. The names end in "%", which is
    // never part of a double-byte character, so a byte match is a match.
    if (strncmp(strSource, var.pszName, (size_t)nLen) != 0) continue;

    switch (var.replacement) {
      case kWindowsDir:
        if (!bWindows) continue;
        strResult = strWindows;
        break;
      case kFontsDir:
        if (!bFonts) continue;
        strResult = strFonts;
        break;
      case kBasePlus:
        strResult = strBase + var.pszBaseSuffix;
        break;
      case kBaseTrimmed:
        strResult = strBase.Left(strBase.GetLength() - 1);
        break;
    }
    strResult += strSource.Mid(nLen);
    if (strResult.IsEmpty() || strResult[strResult.GetLength() - 1] != '\\') strResult += '\\';
    return var.nSharedFlag;
  }
  strResult = strSource;
  return 0;
}
