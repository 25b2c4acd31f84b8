// Deferred replacement of a file in use (CInstaller::ScheduleReplacement).
#pragma once

#include "framework/cstring.h"

// The name the new copy waits under: strName cut before its last "." (when
// it has one), followed by ".tmp". SHARED.DLL -> SHARED.tmp, README ->
// README.tmp, a.b.c -> a.b.tmp, .x -> .tmp.
CString TemporaryName(const CString& strName);
