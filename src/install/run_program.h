// Starting a program: the command line goes to the platform as formed, and
// nobody waits for the program.
#pragma once

#include "framework/cstring.h"

void RunProgram(const CString& strCommand);
