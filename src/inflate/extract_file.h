// ExtractFile: unpacks one file-table entry from the payload into a file.
#pragma once

#include "framework/cstring.h"
#include "framework/file.h"

class CCompFileInfo;
class CLogStream;

// Writes the entry's stream, decoded, into strDir followed directly by the
// entry's name; gives the file the entry's creation and last-write times and
// attribute byte; and, when pLog is set, logs the "file:" line. The payload
// file may stand anywhere: it is positioned from the PayloadLocator's offset
// and the entry's start. An entry without a stream gives an empty file.
// The file is written whole or not at all (CWholeFile; bWinNT chooses the
// NT family's replacing move): on any failure the destination keeps its old
// content. Throws CFileException naming the destination, and
// CArchiveException (badIndex, naming the payload file) when the stream
// does not decode.
void ExtractFile(CFile* pPayload, CCompFileInfo* pEntry, CString& strDir, CLogStream* pLog,
                 BOOL bWinNT = TRUE);
