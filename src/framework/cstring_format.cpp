// CString::Format, in a file of its own: it needs the C library's formatted
// output, which a static link then pulls in whole. Programs that never format
// (the setup stub) do not load this object and so carry none of it.
#include <cstdarg>
#include <cstdio>

#include "framework/cstring.h"

void CString::Format(const char* pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(nullptr, 0, pszFormat, copy);
  va_end(copy);
  if (n < 0) n = 0;
  // Format into a new string: an argument may be this string's own text.
  CString result;
  char* p = result.GetBuffer(n);
  vsnprintf(p, (size_t)n + 1, pszFormat, args);
  va_end(args);
  result.ReleaseBuffer(n);
  *this = static_cast<CString&&>(result);
}
