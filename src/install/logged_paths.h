// Process-wide state of file installation: the source paths already written
// as "path:" lines, and the platform directory prefix that is never installed.
//
// Both live in function-local statics, made on first use and kept until the
// process ends. That is earlier than any use, whatever order the globals of
// the program's files are constructed in, so the application object and
// anything it runs may rely on them.
#pragma once

#include "framework/collections.h"
#include "framework/cstring.h"

// The logged-path list, empty at start; entries are never removed.
CStringArray& LoggedPaths();

// TRUE when an entry equal to pszPath without regard to letter case is in
// the list.
BOOL IsPathLogged(const char* pszPath);
// Adds pszPath unless IsPathLogged(pszPath).
void AddLoggedPath(const char* pszPath);

// "win16\": items whose platform directory starts with it are never installed.
const CString& Win16PlatformDir();
