// Temporary: replaced by move_file.cpp and win_exec.cpp.
#include "platform/host/prefix.h"
#include "platform/host/win_error.h"
BOOL MoveFileExA(LPCSTR, LPCSTR, DWORD) { return sfx::host::FailWith(ERROR_NOT_SUPPORTED); }
UINT WinExec(LPCSTR, UINT) { return 0; }
int AddFontResourceA(LPCSTR) { return 0; }
namespace sfx::host { int PerformPendingRenames() { return 0; } }
