// The C library's memory and string functions, for the stub linked without
// the C runtime DLL (startup.cpp).
//
// The compiler itself emits calls to memcpy, memmove, memset and memcmp (for
// copies and clears of objects), so this file is built outside link-time
// optimisation, where such late calls could find no definition, and with
// the recognition of these loops as library calls off, which would make each
// function call itself (src/platform/CMakeLists.txt).
#include <stddef.h>

extern "C" {

void* __cdecl memcpy(void* pDest, const void* pSrc, size_t cb) {
  unsigned char* d = static_cast<unsigned char*>(pDest);
  const unsigned char* s = static_cast<const unsigned char*>(pSrc);
  while (cb-- != 0) *d++ = *s++;
  return pDest;
}

void* __cdecl memmove(void* pDest, const void* pSrc, size_t cb) {
  unsigned char* d = static_cast<unsigned char*>(pDest);
  const unsigned char* s = static_cast<const unsigned char*>(pSrc);
  if (d < s) {
    while (cb-- != 0) *d++ = *s++;
  } else if (d > s) {
    d += cb;
    s += cb;
    while (cb-- != 0) *--d = *--s;
  }
  return pDest;
}

void* __cdecl memset(void* pDest, int c, size_t cb) {
  unsigned char* d = static_cast<unsigned char*>(pDest);
  while (cb-- != 0) *d++ = (unsigned char)c;
  return pDest;
}

int __cdecl memcmp(const void* p1, const void* p2, size_t cb) {
  const unsigned char* a = static_cast<const unsigned char*>(p1);
  const unsigned char* b = static_cast<const unsigned char*>(p2);
  for (; cb != 0; --cb, ++a, ++b)
    if (*a != *b) return *a < *b ? -1 : 1;
  return 0;
}

void* __cdecl memchr(const void* p, int c, size_t cb) {
  const unsigned char* s = static_cast<const unsigned char*>(p);
  for (; cb != 0; --cb, ++s)
    if (*s == (unsigned char)c) return const_cast<unsigned char*>(s);
  return nullptr;
}

size_t __cdecl strlen(const char* psz) {
  const char* p = psz;
  while (*p != '\0') ++p;
  return (size_t)(p - psz);
}

int __cdecl strcmp(const char* psz1, const char* psz2) {
  const unsigned char* a = reinterpret_cast<const unsigned char*>(psz1);
  const unsigned char* b = reinterpret_cast<const unsigned char*>(psz2);
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a < *b ? -1 : *a > *b ? 1 : 0;
}

int __cdecl strncmp(const char* psz1, const char* psz2, size_t cch) {
  const unsigned char* a = reinterpret_cast<const unsigned char*>(psz1);
  const unsigned char* b = reinterpret_cast<const unsigned char*>(psz2);
  for (; cch != 0; --cch, ++a, ++b) {
    if (*a != *b) return *a < *b ? -1 : 1;
    if (*a == 0) break;
  }
  return 0;
}

// The last occurrence of c; c == 0 finds the terminating null.
char* __cdecl strrchr(const char* psz, int c) {
  const char* pFound = nullptr;
  for (;; ++psz) {
    if (*psz == (char)c) pFound = psz;
    if (*psz == '\0') return const_cast<char*>(pFound);
  }
}

}  // extern "C"
