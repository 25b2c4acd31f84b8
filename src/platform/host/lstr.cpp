// The kernel's lstr* string calls. Like Windows, a null string reads as
// empty and a null destination is refused rather than written.
#include <strings.h>

#include <cstring>

#include "platform/host/win32_api.h"

LPSTR lstrcatA(LPSTR lpString1, LPCSTR lpString2) {
  if (lpString1 == nullptr) return nullptr;
  if (lpString2 != nullptr) strcat(lpString1, lpString2);
  return lpString1;
}

LPSTR lstrcpyA(LPSTR lpString1, LPCSTR lpString2) {
  if (lpString1 == nullptr) return nullptr;
  strcpy(lpString1, lpString2 != nullptr ? lpString2 : "");
  return lpString1;
}

LPSTR lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength) {
  if (lpString1 == nullptr) return nullptr;
  if (iMaxLength <= 0) return lpString1;
  // At most iMaxLength - 1 characters, always terminated.
  size_t max = (size_t)iMaxLength - 1;
  size_t len = lpString2 != nullptr ? strnlen(lpString2, max) : 0;
  if (len > 0) memmove(lpString1, lpString2, len);
  lpString1[len] = '\0';
  return lpString1;
}

int lstrlenA(LPCSTR lpString) { return lpString != nullptr ? (int)strlen(lpString) : 0; }

int lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
  int r = strcasecmp(lpString1 != nullptr ? lpString1 : "", lpString2 != nullptr ? lpString2 : "");
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}
