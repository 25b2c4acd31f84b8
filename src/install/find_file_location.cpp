#include "install/shared_files.h"

DWORD FindFileLocation(const char* pszName, const char* pszAppDir, CString& strCurDir,
                       CString& strDestDir) {
  char szWinDir[MAX_PATH + 1] = {};
  UINT nWin = GetWindowsDirectoryA(szWinDir, MAX_PATH);
  if (nWin >= MAX_PATH) szWinDir[0] = 0;  // too long to be whole: report none

  strCurDir.Empty();
  strDestDir.Empty();
  UINT nCurLen = MAX_PATH;
  UINT nDestLen = MAX_PATH;
  char* pszCur = strCurDir.GetBuffer(MAX_PATH);
  char* pszDest = strDestDir.GetBuffer(MAX_PATH);
  // Some SDK headers declare the three input strings without const; the
  // service does not write to them.
  DWORD dwFlags = VerFindFileA(VFFF_ISSHAREDFILE, (LPSTR)pszName, szWinDir, (LPSTR)pszAppDir,
                               pszCur, &nCurLen, pszDest, &nDestLen);
  // ReleaseBuffer(-1) terminates at the buffer's end should the platform
  // have filled all 260 bytes.
  strCurDir.ReleaseBuffer(-1);
  strDestDir.ReleaseBuffer(-1);
  return dwFlags;
}
