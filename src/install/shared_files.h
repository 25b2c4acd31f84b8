// Platform services around shared files: where the version-install service
// puts one, which version an installed copy carries, and the machine-wide
// usage count of shared DLLs.
#pragma once

#include "framework/cstring.h"

// Raises the usage count of pszPath under HKLM's SharedDLLs key by one. A
// 4-byte REG_DWORD or REG_BINARY count keeps its type; a missing value, or
// any other, becomes REG_DWORD 1; a count at its maximum stays there.
// Nothing is written when the key cannot be opened.
void IncrementSharedDllCount(const char* pszPath);

// The file version of pszPath: TRUE with both halves, or FALSE when the file
// is missing or carries no usable version information. Throws the memory
// exception when the information cannot be held.
BOOL GetFileVersion(const char* pszPath, DWORD& dwVersionMS, DWORD& dwVersionLS);

// Asks the version-install service where the shared file pszName belongs:
// strCurDir receives the directory of the copy already installed (empty when
// there is none) and strDestDir the recommended directory, both as the
// platform reports them (without a trailing "\"). Returns the service's
// flags (VFF_CURNEDEST, VFF_FILEINUSE, ...).
DWORD FindFileLocation(const char* pszName, const char* pszAppDir, CString& strCurDir,
                       CString& strDestDir);
