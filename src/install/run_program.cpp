#include "install/run_program.h"

void RunProgram(const CString& strCommand) {
  // The result is not looked at: a program that cannot be started is skipped.
  WinExec(strCommand, SW_SHOWNORMAL);
}
