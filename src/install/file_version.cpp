#include "install/shared_files.h"

#include <cstdlib>

#include "framework/exceptions.h"

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
