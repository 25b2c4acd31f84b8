// The project's data blocks: bytes in locked, moveable global memory,
// archived as a DWORD size and that many raw bytes.
#pragma once

#include "framework/cstring.h"

class CArchive;

// Load: releases the block held, reads the size and, when it is not 0,
// allocates the block and reads its bytes. A size that the rest of the input
// cannot hold raises endOfFile before anything is allocated; an allocation
// that fails raises the memory exception. Store: writes the size (0 when no
// block is held) and the bytes.
void SerializeDataBlock(CArchive& ar, DWORD& dwSize, void*& pBlock);

// When strFile is not empty, replaces the block by the file's whole
// contents (no block for an empty file). File errors raise CFileException.
void ReadDataBlockFile(const CString& strFile, DWORD& dwSize, void*& pBlock);

// Unlocks and frees the block, if one is held, and clears the pointer.
void FreeDataBlock(void*& pBlock);
