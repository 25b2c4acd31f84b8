/* A library that must never be loaded: the test lays it beside a setup under
 * the names of system libraries. Loaded, it leaves its mark, a file named
 * after itself with ".loaded" appended (C:\setup\VERSION.dll.loaded), and
 * exports nothing, so that calls meant for the system library would fail. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  char path[MAX_PATH + 8];
  DWORD n;
  HANDLE h;
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  n = GetModuleFileNameA(instance, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  lstrcatA(path, ".loaded");
  h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return TRUE;
}
