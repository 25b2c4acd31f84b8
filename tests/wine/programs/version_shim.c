/* A stand-in for the version-install service, for the cases that need a
 * copy in use to be reported. Wine's own VerFindFileA never reports
 * VFF_FILEINUSE (and, for a shared file, looks in the system directory only),
 * so this DLL, placed beside the setup executable and preferred to the
 * built-in one, answers as the service is documented to: the recommended
 * directory of a shared file is the system directory; an existing copy is
 * looked for in the Windows directory, then in the system directory;
 * VFF_CURNEDEST when it is not in the recommended directory; VFF_FILEINUSE
 * when it cannot be opened for exclusive use because another process holds
 * it. Every other export of the library goes to the system's own
 * implementation (see version_shim.def; the installing calls, which nothing
 * here uses, are left out). */
#include <string.h>
#include <windows.h>

static int Exists(const char* dir, const char* name, char* path) {
  size_t n = strlen(dir);
  if (n + 1 + strlen(name) + 1 > MAX_PATH) return 0;
  memcpy(path, dir, n + 1);
  if (n > 0 && path[n - 1] != '\\') strcat(path, "\\");
  strcat(path, name);
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

static void Put(char* out, UINT* len, const char* text, DWORD* flags) {
  UINT need = (UINT)strlen(text) + 1;
  if (out != NULL && *len > 0) {
    lstrcpynA(out, text, (int)*len);
  }
  if (need > *len) *flags |= VFF_BUFFTOOSMALL;
  *len = need;
}

/* Declared with the MinGW header's parameter types (non-const strings). */
DWORD WINAPI VerFindFileA(DWORD flags, LPSTR name, LPSTR winDir, LPSTR appDir, LPSTR curDir,
                          PUINT curLen, LPSTR destDir, PUINT destLen) {
  char systemDir[MAX_PATH], path[MAX_PATH];
  const char* dest;
  const char* found = "";
  DWORD result = 0;

  GetSystemDirectoryA(systemDir, MAX_PATH);
  dest = (flags & VFFF_ISSHAREDFILE) ? systemDir : (appDir != NULL ? appDir : "");
  if (name != NULL) {
    if (winDir != NULL && Exists(winDir, name, path)) found = winDir;
    else if (Exists(systemDir, name, path)) found = systemDir;
  }
  if (*found != 0) {
    HANDLE h;
    if (lstrcmpiA(found, dest) != 0) result |= VFF_CURNEDEST;
    h = CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    else if (GetLastError() == ERROR_SHARING_VIOLATION) result |= VFF_FILEINUSE;
  }
  Put(curDir, curLen, found, &result);
  Put(destDir, destLen, dest, &result);
  return result;
}
