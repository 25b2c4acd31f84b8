#include "install/shared_files.h"

namespace {

const char kSharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

}  // namespace

void IncrementSharedDllCount(const char* pszPath) {
  HKEY hKey = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS)
    return;
  DWORD dwCount = 0;
  DWORD dwType = 0;
  DWORD cbData = sizeof dwCount;
  LONG lResult = RegQueryValueExA(hKey, pszPath, nullptr, &dwType, (LPBYTE)&dwCount, &cbData);
  // Only a well-formed count is raised: a value of another type or size
  // would otherwise be rewritten as a mangled copy of itself.
  if (lResult == ERROR_SUCCESS && dwType == REG_DWORD && cbData == sizeof dwCount) {
    if (dwCount != 0xFFFFFFFFu) ++dwCount;  // never wrap round to "unused"
  } else {
    dwCount = 1;
  }
  RegSetValueExA(hKey, pszPath, 0, REG_DWORD, (const BYTE*)&dwCount, sizeof dwCount);
  RegCloseKey(hKey);
}
