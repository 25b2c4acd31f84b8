// TrueType fonts: reading a font's full name from its naming table, and
// registering an installed font.
#pragma once

#include "framework/file.h"

// Size of the font name buffer, the terminating NUL included.
const int kFontNameBufferSize = 260;
// Longest name that still fits the buffer with " (TrueType)" and the NUL.
const int kMaxFontNameLength = kFontNameBufferSize - 11 - 1;  // 248

// Reads the Macintosh (platform 1) full name (name ID 4) of the font in
// file, from the first "name" table among the first 40 table records; when
// several records match, the last one wins. Writes the name, NUL-terminated,
// into pszName (kFontNameBufferSize bytes) and returns TRUE when there is one.
//
// Every count read and every offset is checked against the file's length:
// parsing stops at the first structure that is short or lies outside the
// file, keeping a name completed before that point (as it would be kept
// before a read error). A matching name longer than kMaxFontNameLength bytes
// replaces the earlier one with nothing, so the font gets no registry value
// rather than a cut name. Read errors of the file class are thrown on; the
// buffer then holds the last name completed.
BOOL ReadFontFullName(CFile& file, char* pszName);

// Adds the font file at pszPath as a font resource, tells the top-level
// windows that the fonts changed, and records it under the machine's Fonts
// key as "<full name> (TrueType)" = file name. Throws nothing: a font whose
// name cannot be read is still added, but gets no registry value.
void InstallFont(const char* pszPath);
