// Functions of system libraries that the executable does not import.
//
// Windows looks for an imported library that is not a "known DLL" in the
// program's own folder first, and a setup program usually runs from a folder
// of downloads. So the executable imports only kernel32, which is in every
// process before the program's imports (its C library functions are its own:
// startup.cpp, c_runtime.cpp). The libraries below are loaded when the
// program starts, by their full path in the system directory
// (system_functions.cpp), and every call goes through the address found
// there. Those that a library imports in turn are then loaded already. The
// macros keep the Win32 names for the code above the platform, which calls
// them as it would call the imported functions.
//
// Included by platform/platform.h after the system headers.
#pragma once

#include <windows.h>

// The libraries, each with the functions taken from it: X(library, name).
#define SFX_SYSTEM_FUNCTIONS(X)              \
  X(kVersionDll, VerFindFileA)               \
  X(kVersionDll, GetFileVersionInfoSizeA)    \
  X(kVersionDll, GetFileVersionInfoA)        \
  X(kVersionDll, VerQueryValueA)             \
  X(kAdvapi32Dll, RegOpenKeyExA)             \
  X(kAdvapi32Dll, RegOpenKeyA)               \
  X(kAdvapi32Dll, RegQueryValueExA)          \
  X(kAdvapi32Dll, RegSetValueExA)            \
  X(kAdvapi32Dll, RegCloseKey)               \
  X(kUser32Dll, MessageBoxA)                 \
  X(kUser32Dll, LoadCursorA)                 \
  X(kUser32Dll, SetCursor)                   \
  X(kUser32Dll, SendMessageA)                \
  X(kGdi32Dll, AddFontResourceA)             \
  X(kShell32Dll, SHGetSpecialFolderLocation) \
  X(kShell32Dll, SHGetPathFromIDListA)       \
  X(kOle32Dll, CoTaskMemFree)

namespace sfx_win32 {

// In the order of loading: a library that another one imports comes first.
enum SystemLibrary {
  kVersionDll,
  kAdvapi32Dll,
  kUser32Dll,
  kGdi32Dll,
  kShell32Dll,
  kOle32Dll,
  kSystemLibraryCount
};

#define SFX_SYSTEM_FUNCTION_INDEX(library, name) k##name,
enum SystemFunction { SFX_SYSTEM_FUNCTIONS(SFX_SYSTEM_FUNCTION_INDEX) kSystemFunctionCount };
#undef SFX_SYSTEM_FUNCTION_INDEX

// The addresses, filled in by SfxLoadSystemLibraries before the run starts
// (MessageBoxA at least with a stand-in that shows nothing).
extern void* g_systemFunctions[kSystemFunctionCount];

}  // namespace sfx_win32

// Keeps the program's folder and the current directory out of the search for
// the libraries loaded from now on, where the system can do so. Called first
// thing at start-up.
void SfxRestrictLibrarySearch();

// The address of a system function, with the type of its declaration.
#define SFX_SYSTEM_FUNCTION(name) \
  (reinterpret_cast<decltype(&::name)>(::sfx_win32::g_systemFunctions[::sfx_win32::k##name]))

#define VerFindFileA SFX_SYSTEM_FUNCTION(VerFindFileA)
#define GetFileVersionInfoSizeA SFX_SYSTEM_FUNCTION(GetFileVersionInfoSizeA)
#define GetFileVersionInfoA SFX_SYSTEM_FUNCTION(GetFileVersionInfoA)
#define VerQueryValueA SFX_SYSTEM_FUNCTION(VerQueryValueA)
#define RegOpenKeyExA SFX_SYSTEM_FUNCTION(RegOpenKeyExA)
#define RegOpenKeyA SFX_SYSTEM_FUNCTION(RegOpenKeyA)
#define RegQueryValueExA SFX_SYSTEM_FUNCTION(RegQueryValueExA)
#define RegSetValueExA SFX_SYSTEM_FUNCTION(RegSetValueExA)
#define RegCloseKey SFX_SYSTEM_FUNCTION(RegCloseKey)
#define SHGetSpecialFolderLocation SFX_SYSTEM_FUNCTION(SHGetSpecialFolderLocation)
#define SHGetPathFromIDListA SFX_SYSTEM_FUNCTION(SHGetPathFromIDListA)
#define MessageBoxA SFX_SYSTEM_FUNCTION(MessageBoxA)
#define LoadCursorA SFX_SYSTEM_FUNCTION(LoadCursorA)
#define SetCursor SFX_SYSTEM_FUNCTION(SetCursor)
#define SendMessageA SFX_SYSTEM_FUNCTION(SendMessageA)
#define AddFontResourceA SFX_SYSTEM_FUNCTION(AddFontResourceA)
#define CoTaskMemFree SFX_SYSTEM_FUNCTION(CoTaskMemFree)
