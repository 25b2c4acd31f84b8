// OpenPayload: finds the running setup program's payload, opens it and loads
// the catalogue's two archives from it.
#pragma once

#include "framework/collections.h"
#include "framework/cstring.h"
#include "framework/file.h"

class CBuildItems;

// Opens filePayload on the payload: the running executable at the
// PayloadLocator's offset when one is set, else "Data.bin" in strModuleDir
// (the executable's directory, ending in "\"). Loads archive 1 into
// arrFileTable (CCompFileInfo entries, owned by the caller) and archive 2
// into project, then checks the pair (payload_checks.h). The file stays open
// for extraction. Throws CFileException or CArchiveException.
void OpenPayload(CFile& filePayload, const CString& strModuleDir, CObArray& arrFileTable,
                 CBuildItems& project);
