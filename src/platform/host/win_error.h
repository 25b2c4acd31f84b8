// Last-error bookkeeping and errno translation for the host emulation.
//
// Every emulated call reports failure the Win32 way: a per-thread last-error
// code. These helpers turn the host's errno into the Win32 code a caller on
// Windows would see for the same situation.
#pragma once

#include "platform/host/win32_api.h"

namespace sfx::host {

// Win32 code for an errno value of a file-system call.
DWORD ErrnoToWin32(int err);

// Sets the last error from errno and returns false, for one-line failures.
bool FailErrno();
bool FailWith(DWORD code);

}  // namespace sfx::host
