#include "install/logged_paths.h"

CStringArray& LoggedPaths() {
  static CStringArray s_arrLoggedPaths;
  return s_arrLoggedPaths;
}

BOOL IsPathLogged(const char* pszPath) {
  const CStringArray& arr = LoggedPaths();
  for (int i = 0; i < arr.GetSize(); ++i)
    if (arr[i].CompareNoCase(pszPath) == 0) return TRUE;
  return FALSE;
}

void AddLoggedPath(const char* pszPath) {
  if (!IsPathLogged(pszPath)) LoggedPaths().Add(CString(pszPath));
}

const CString& Win16PlatformDir() {
  static const CString s_strWin16("win16\\");
  return s_strWin16;
}
