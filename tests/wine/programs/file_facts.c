/* A Windows program that prints what the platform reports for a file: its
 * attributes and its creation and last-write times in seconds since 1970.
 * Usage: file_facts FILE  (prints "ATTRIBUTES CREATED WRITTEN", hex and
 * decimal; exits 1 when the file cannot be opened). */
#include <stdio.h>
#include <windows.h>

static long long Seconds(const FILETIME* t) {
  unsigned long long v = ((unsigned long long)t->dwHighDateTime << 32) | t->dwLowDateTime;
  return (long long)(v / 10000000ULL) - 11644473600LL;
}

int main(int argc, char** argv) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (argc != 2 || !GetFileAttributesExA(argv[1], GetFileExInfoStandard, &data)) return 1;
  printf("%lx %lld %lld\n", (unsigned long)data.dwFileAttributes, Seconds(&data.ftCreationTime),
         Seconds(&data.ftLastWriteTime));
  return 0;
}
