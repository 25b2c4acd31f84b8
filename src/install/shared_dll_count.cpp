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
