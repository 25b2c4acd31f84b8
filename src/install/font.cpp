#include "install/font.h"

#include <cstring>

#include "framework/file.h"
#include "install/font_name.h"

namespace {

const char kFontsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

// Reads the full name into szName; any file error just ends the reading.
void ReadNameOf(const char* pszPath, char* pszName) {
  try {
    CFile file;
    if (!file.Open(pszPath, CFile::modeRead | CFile::shareDenyNone)) return;
    ReadFontFullName(file, pszName);
    file.Close();
  } catch (CException* e) {
    e->Delete();
  }
}

void RegisterFontName(char* pszName, const char* pszPath) {
  // The value's data is the file name: the text after the last "\" byte.
  const char* pszFile = strrchr(pszPath, '\\');
  pszFile = pszFile != nullptr ? pszFile + 1 : pszPath;
  lstrcatA(pszName, " (TrueType)");
  HKEY hKey = nullptr;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kFontsKey, &hKey) != ERROR_SUCCESS) return;
  RegSetValueExA(hKey, pszName, 0, REG_SZ, (const BYTE*)pszFile, (DWORD)strlen(pszFile));
  RegCloseKey(hKey);
}

}  // namespace

void InstallFont(const char* pszPath) {
  // Room for the longest accepted name and the " (TrueType)" suffix.
  char szName[kFontNameBufferSize] = {};
  ReadNameOf(pszPath, szName);

  if (AddFontResourceA(pszPath) != 0) SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);

  if (szName[0] == 0) return;
  RegisterFontName(szName, pszPath);
}
