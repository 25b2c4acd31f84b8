/* A Windows program that records how it was started: its command line,
 * exactly as the process received it, goes into C:\starts\ under a name made
 * of the process's creation time and id, so that the test can tell the
 * programs of one run apart and put them in the order they were started. A
 * "_Del.log" lying beside the program is copied next to the record as it is
 * at that moment. */
#include <stdio.h>
#include <windows.h>

int main(void) {
  FILETIME created, exited, kernel, user;
  char record[MAX_PATH], module[MAX_PATH], log[MAX_PATH];
  unsigned long long stamp;
  char* slash;
  const char* line = GetCommandLineA();
  HANDLE h;
  DWORD written;

  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  stamp = ((unsigned long long)created.dwHighDateTime << 32) | created.dwLowDateTime;
  CreateDirectoryA("C:\\starts", NULL);

  snprintf(record, sizeof record, "C:\\starts\\%016llx-%08lx.txt", stamp,
           (unsigned long)GetCurrentProcessId());
  h = CreateFileA(record, GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) return 1;
  WriteFile(h, line, (DWORD)lstrlenA(line), &written, NULL);
  CloseHandle(h);

  GetModuleFileNameA(NULL, module, MAX_PATH);
  slash = strrchr(module, '\\');
  if (slash != NULL) {
    slash[1] = 0;
    snprintf(log, sizeof log, "%s_Del.log", module);
    snprintf(record + lstrlenA(record) - 4, 5, ".log");
    CopyFileA(log, record, TRUE);
  }
  return 0;
}
