// Deferred replacement of a file in use (CInstaller::ScheduleReplacement):
// the copy that waits under a temporary name, and its name.
#pragma once

#include "framework/cstring.h"
#include "framework/log_stream.h"

// The name the new copy waits under: strName cut before its last "." (when
// it has one), followed by ".tmp". SHARED.DLL -> SHARED.tmp, README ->
// README.tmp, a.b.c -> a.b.tmp, .x -> .tmp.
CString TemporaryName(const CString& strName);

// Copies strSourceDir + strSourceName to strTargetDir + strTargetName (both
// directories end in "\"), creating the missing directories of the target
// directory first, and writes "file:" with the target's path into pLog (when
// given). The target is written whole or not at all (CWholeFile; bWinNT
// chooses the NT family's replacing move). Throws CFileException when either
// file cannot be opened, read or written (the target then keeps its old
// content), the memory exception, or CDirectoryException from the directory
// creation.
void CopyInstallFile(const CString& strSourceDir, const CString& strTargetDir,
                     const CString& strSourceName, const CString& strTargetName,
                     CLogStream* pLog, BOOL bWinNT = TRUE);
