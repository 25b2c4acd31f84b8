// Checks of a loaded catalogue that the installation relies on.
//
// The archive encoding can describe catalogues that the installation steps
// would index out of range or use to write outside their destination. These
// checks run once, after both archives are loaded and before anything is
// created, and report such a catalogue as a damaged one. The element classes
// of the arrays are already enforced while loading.
#pragma once

#include "framework/collections.h"
#include "framework/cstring.h"

class CBuildItems;

// TRUE for a name that names a file in the directory it is appended to:
// not empty, not "." or "..", and free of "\", "/" and ":".
BOOL IsPlainFileName(const CString& strName);

// Throws CArchiveException naming pszPayloadPath when the catalogue is not
// usable:
// - badClass: a file-table entry or file item whose name is not a plain
//   file name;
// - badIndex: no component list 0 or no platform list 1, or a list index
//   that names no item or no file-table entry.
void CheckCatalogue(const CObArray& arrFileTable, const CBuildItems& project,
                    const char* pszPayloadPath);
