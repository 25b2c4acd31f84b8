#include "install/paths.h"

#include <cerrno>
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
    if (!AfxEndsInBackslash(strResult)) strResult += '\\';
    return var.nSharedFlag;
  }
  strResult = strSource;
  return 0;
}

namespace {

// The part of the path that is never created, as a length: "C:" of
// "C:\a\", "\\server\share\" of a UNC path. 0 when there is no root to
// start from (a single leading "\", or no "\" at all).
int RootLength(const CString& strPath) {
  int nFirst = strPath.Find('\\');
  if (nFirst > 0) return nFirst;
  if (nFirst < 0 || strPath.GetLength() < 2 || strPath[1] != '\\') return 0;
  // "\\server\share\": the backslash after the server, then the one that
  // ends the share name. Both names must be there.
  int nServerEnd = strPath.Find('\\', 2);
  if (nServerEnd <= 2) return 0;
  int nShareEnd = strPath.Find('\\', nServerEnd + 1);
  if (nShareEnd <= nServerEnd + 1) return 0;
  return nShareEnd + 1;
}

void MakeOneDirectory(const CString& strDir, CLogStream* pLog) {
  if (_mkdir(strDir) == 0) {
    WriteLogLine(pLog, "directory:", strDir);
    return;
  }
  // EEXIST is 17 on both platforms: an existing directory is not an error.
  if (errno == EEXIST) return;
  // The run-time call leaves the platform's own error behind.
  DWORD dwError = GetLastError();
  int nCause = dwError == 0 ? CFileException::generic : CFileException::OsErrorToException((LONG)dwError);
  throw new CDirectoryException(nCause, (LONG)dwError, strDir);
}

}  // namespace

void CreateDirectoryChain(const CString& strPath, CLogStream* pLog) {
  int nLength = strPath.GetLength();
  if (!AfxEndsInBackslash(strPath)) return;
  int nPrefix = RootLength(strPath);
  // Nothing to create: no root, or the root is (all but) the whole path.
  if (nPrefix == 0 || nPrefix >= nLength - 1) return;

  // Each step skips the character at the prefix's end (the separator, or the
  // first character of a UNC component) and extends the prefix to the next
  // "\". The last "\" is the path's own, so the loop ends there.
  while (nPrefix < nLength - 1) {
    int nNext = strPath.Find('\\', nPrefix + 1);
    if (nNext < 0) nNext = nLength - 1;  // cannot happen: the path ends in "\"
    nPrefix = nNext;
    MakeOneDirectory(strPath.Left(nPrefix), pLog);
  }
}
