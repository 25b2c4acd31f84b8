#include "install/shared_files.h"

#include <cstdlib>

#include "framework/exceptions.h"

namespace {

const char kSharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

}  // namespace

BOOL GetFileVersion(const char* pszPath, DWORD& dwVersionMS, DWORD& dwVersionLS) {
  DWORD dwHandle = 0;
  DWORD dwSize = GetFileVersionInfoSizeA(pszPath, &dwHandle);
  if (dwSize == 0) return FALSE;
  void* pInfo = malloc(dwSize);
  if (pInfo == nullptr) AfxThrowMemoryException();

  // The fixed information is used only when the platform filled the block
  // and found a whole VS_FIXEDFILEINFO in it.
  BOOL bOk = FALSE;
  if (GetFileVersionInfoA(pszPath, 0, dwSize, pInfo)) {
    LPVOID pFixed = nullptr;
    UINT nLen = 0;
    if (VerQueryValueA(pInfo, "\\", &pFixed, &nLen) && pFixed != nullptr &&
        nLen >= sizeof(VS_FIXEDFILEINFO)) {
      const VS_FIXEDFILEINFO* pFfi = (const VS_FIXEDFILEINFO*)pFixed;
      dwVersionMS = pFfi->dwFileVersionMS;
      dwVersionLS = pFfi->dwFileVersionLS;
      bOk = TRUE;
    }
  }
  free(pInfo);
  return bOk;
}

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

void IncrementSharedDllCount(const char* pszPath) {
  HKEY hKey = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS)
    return;
  DWORD dwCount = 0;
  DWORD dwType = 0;
  DWORD cbData = sizeof dwCount;
  LONG lResult = RegQueryValueExA(hKey, pszPath, nullptr, &dwType, (LPBYTE)&dwCount, &cbData);
  // A count of four bytes is raised and written back as it was found, a
  // binary one included: resetting it would forget the other users of the
  // file. A value of another type or size (a string, a short number) would
  // be rewritten as a mangled copy of itself, so it starts again at 1.
  if (lResult == ERROR_SUCCESS && cbData == sizeof dwCount &&
      (dwType == REG_DWORD || dwType == REG_BINARY)) {
    if (dwCount != 0xFFFFFFFFu) ++dwCount;  // never wrap round to "unused"
  } else {
    dwType = REG_DWORD;
    dwCount = 1;
  }
  RegSetValueExA(hKey, pszPath, 0, dwType, (const BYTE*)&dwCount, sizeof dwCount);
  RegCloseKey(hKey);
}
