// Registration of an installed TrueType font.
#pragma once

// Adds the font file at pszPath as a font resource, tells the top-level
// windows that the fonts changed, and records it under the machine's Fonts
// key as "<full name> (TrueType)" = file name. Throws nothing: a font whose
// name cannot be read is still added, but gets no registry value.
void InstallFont(const char* pszPath);
