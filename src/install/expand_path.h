// Path variables of catalogue directory strings ("%sysdir%", "%inst%", ...).
#pragma once

#include "framework/cstring.h"

// Expands a leading path variable of strSource into strResult (always
// assigned). strBase is the caller's base directory, ending in "\".
// Returns 1 when the variable marks a place for shared files, else 0.
//
// A variable that matches gets its replacement, the rest of the source
// unchanged, and a trailing "\" when the result lacks one; without a match the
// source comes back as it is. A directory the platform cannot report (the
// Windows directory or the Fonts folder) makes its variables match nothing,
// so nothing is ever redirected to the root of the current drive.
int ExpandPath(const CString& strSource, CString& strResult, const CString& strBase);
