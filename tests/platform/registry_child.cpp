// The second process of the registry's locking tests: raises the SharedDLLs
// value named by its first argument ROUNDS times (second argument, default
// 1) with the sequence a setup uses: open with all access, query, +1, set,
// close. Works on the prefix named by SFX_PREFIX; the exit code tells which
// step failed.
#include <cstdlib>

#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc < 2) return 9;
  const int rounds = argc > 2 ? atoi(argv[2]) : 1;
  for (int i = 0; i < rounds; ++i) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                      0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
      return 1;
    DWORD v = 0, size = sizeof v, type = 0;
    if (RegQueryValueExA(key, argv[1], nullptr, &type, (BYTE*)&v, &size) != ERROR_SUCCESS) v = 0;
    ++v;
    if (RegSetValueExA(key, argv[1], 0, REG_DWORD, (const BYTE*)&v, sizeof v) != ERROR_SUCCESS)
      return 2;
    if (RegCloseKey(key) != ERROR_SUCCESS) return 3;
  }
  return 0;
}
