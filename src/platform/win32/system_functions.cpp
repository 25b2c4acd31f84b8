// Loading the system libraries that the executable does not import (see
// system_functions.h): each by its full path in the system directory, never
// through the search that starts in the program's folder.
#include "platform/platform.h"

namespace sfx_win32 {

void* g_systemFunctions[kSystemFunctionCount];

namespace {

const char* const kLibraryFiles[kSystemLibraryCount] = {"VERSION.dll", "ADVAPI32.dll",
                                                        "SHELL32.dll", "OLE32.dll"};

struct FunctionEntry {
  SystemLibrary library;
  const char* name;
};

#define SFX_SYSTEM_FUNCTION_ENTRY(library, name) {library, #name},
const FunctionEntry kFunctions[kSystemFunctionCount] = {
    SFX_SYSTEM_FUNCTIONS(SFX_SYSTEM_FUNCTION_ENTRY)};
#undef SFX_SYSTEM_FUNCTION_ENTRY

// Whether SetDefaultDllDirectories took effect: the libraries that a system
// library loads in turn then come from the system directory only.
bool g_bSystem32Only = false;

// The full path of a library in the system directory; FALSE when the system
// gives no directory (a bare name would be looked for in the program's folder).
BOOL SystemPath(const char* pszName, char* pszPath) {
  UINT n = GetSystemDirectoryA(pszPath, MAX_PATH);
  if (n == 0 || n + 1 + (UINT)lstrlenA(pszName) >= MAX_PATH) return FALSE;
  if (pszPath[n - 1] != '\\') lstrcatA(pszPath, "\\");
  lstrcatA(pszPath, pszName);
  return TRUE;
}

// Appends text to the NUL-terminated contents of a buffer, cut to fit.
void Append(char* pszOut, UINT cchOut, const char* pszText) {
  if (pszOut == nullptr || cchOut == 0) return;
  UINT n = (UINT)lstrlenA(pszOut);
  if (n + 1 < cchOut) lstrcpynA(pszOut + n, pszText, (int)(cchOut - n));
}

}  // namespace
}  // namespace sfx_win32

using namespace sfx_win32;

void SfxRestrictLibrarySearch() {
  // Absent on the 95 family and on NT before the 2011 updates: then only the
  // libraries loaded here come from a fixed place, by their full paths.
  HMODULE hKernel = GetModuleHandleA("KERNEL32.dll");
  if (hKernel == nullptr) return;
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
  typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCSTR);
  auto pSetDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(hKernel, "SetDefaultDllDirectories")));
  auto pSetDllDirectory = reinterpret_cast<SetDllDirectoryFn>(
      reinterpret_cast<void*>(GetProcAddress(hKernel, "SetDllDirectoryA")));
  // Libraries that the system loads for the program later on (the shell's,
  // the font engine's) then come from the system directory, not its folder.
  if (pSetDefault != nullptr && pSetDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) g_bSystem32Only = true;
  // The empty string takes the current directory out of the search.
  if (pSetDllDirectory != nullptr) pSetDllDirectory("");
}

BOOL SfxLoadSystemLibraries(char* pszMissing, UINT cchMissing) {
  if (pszMissing != nullptr && cchMissing > 0) pszMissing[0] = 0;
  HMODULE hLibraries[kSystemLibraryCount];
  char szPath[kSystemLibraryCount][MAX_PATH];
  for (int i = 0; i < kSystemLibraryCount; ++i) {
    // A full path loads that very file; the altered search looks for the
    // libraries it imports in its own folder (the system directory) first.
    hLibraries[i] = nullptr;
    if (SystemPath(kLibraryFiles[i], szPath[i]))
      hLibraries[i] =
          LoadLibraryExA(szPath[i], nullptr, g_bSystem32Only ? 0 : LOAD_WITH_ALTERED_SEARCH_PATH);
    else
      lstrcpynA(szPath[i], kLibraryFiles[i], MAX_PATH);
    if (hLibraries[i] == nullptr) {
      DWORD dwError = GetLastError();
      Append(pszMissing, cchMissing, szPath[i]);
      SetLastError(dwError != NO_ERROR ? dwError : ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
  }
  for (int i = 0; i < kSystemFunctionCount; ++i) {
    const FunctionEntry& f = kFunctions[i];
    g_systemFunctions[i] = reinterpret_cast<void*>(GetProcAddress(hLibraries[f.library], f.name));
    if (g_systemFunctions[i] == nullptr) {
      Append(pszMissing, cchMissing, f.name);
      Append(pszMissing, cchMissing, " in ");
      Append(pszMissing, cchMissing, szPath[f.library]);
      SetLastError(ERROR_PROC_NOT_FOUND);
      return FALSE;
    }
  }
  return TRUE;
}
