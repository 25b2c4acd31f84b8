// The "[rename]" instructions of WININIT.INI, which the Windows 95 family
// carries out at its next start.
#pragma once

#include "framework/cstring.h"

// Where a new "[rename]" line goes into the text of an existing file.
struct RenameInsertion {
  DWORD dwOffset;       // insert here; the bytes before and after stay as they are
  BOOL bNeedHeader;     // no "[rename]" section yet: start one
  BOOL bNeedLineBreak;  // the byte before dwOffset does not end a line
};

// Finds the first "[rename]" section (its header compared without regard to
// letter case, blanks around it ignored) and places the new line after its
// last non-blank line, so instructions keep their order. Without a section,
// a new one goes at the end of the text.
RenameInsertion FindRenameInsertion(const char* pText, DWORD dwLength);

// The file is not parsed above this size; a new section is appended instead.
const DWORD kMaxParsedIniSize = 1024 * 1024;

// Adds "strTarget=strSource" to the "[rename]" section of the file at
// pszIniPath, creating the file or the section when missing. Everything the
// file held before stays, byte for byte. Lines end in CR LF. Throws
// CFileException when the file cannot be read or written.
void AddWininitRename(const char* pszIniPath, const char* pszTarget, const char* pszSource);

// The instruction file: the Windows directory, "\" unless it ends in one,
// and "WININIT.INI".
CString WininitPath();
