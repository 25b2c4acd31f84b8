// The Win32 services the engine calls, under their Win32 names.
//
// On Windows this is <windows.h> itself. On a POSIX host the same names are
// implemented over a prefix, a folder that holds one emulated Windows machine
// (see platform/host/). Nothing above this header tells the two apart.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#include <winver.h>
#include <direct.h>
#include <io.h>
#include <errno.h>
#include "platform/win32/system_functions.h"
#else
#include "platform/host/win32_api.h"
#endif

// Makes the system libraries that the program calls ready before the run: on
// Windows it loads those the executable does not import, each from the system
// directory only (platform/win32/system_functions.h); the host has nothing to
// load. FALSE when a library or one of its functions is missing: pszMissing
// then names it and GetLastError() tells why.
BOOL SfxLoadSystemLibraries(char* pszMissing, UINT cchMissing);
