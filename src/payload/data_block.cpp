#include "payload/data_block.h"

#include "framework/exceptions.h"
#include "framework/file.h"
#include "payload/archive.h"

namespace {

// A locked block of moveable global memory, or the memory exception.
void* AllocDataBlock(DWORD dwSize) {
  HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE, dwSize);
  if (hMem == nullptr) AfxThrowMemoryException();
  void* p = GlobalLock(hMem);
  if (p == nullptr) {
    GlobalFree(hMem);
    AfxThrowMemoryException();
  }
  return p;
}

}  // namespace

void FreeDataBlock(void*& pBlock) {
  if (pBlock == nullptr) return;
  HGLOBAL hMem = GlobalHandle(pBlock);
  pBlock = nullptr;
  GlobalUnlock(hMem);
  GlobalFree(hMem);
}

void SerializeDataBlock(CArchive& ar, DWORD& dwSize, void*& pBlock) {
  if (ar.IsStoring()) {
    if (pBlock == nullptr) dwSize = 0;
    ar << dwSize;
    if (dwSize != 0) ar.Write(pBlock, dwSize);
    return;
  }
  FreeDataBlock(pBlock);
  ar >> dwSize;
  if (dwSize == 0) return;
  // Fail the load rather than allocate for bytes that are not there; the
  // fields behind the block are then never read from the wrong place.
  ar.CheckAvailable(dwSize);
  pBlock = AllocDataBlock(dwSize);
  ar.Read(pBlock, dwSize);  // a short count is no error here
}

void ReadDataBlockFile(const CString& strFile, DWORD& dwSize, void*& pBlock) {
  if (strFile.IsEmpty()) return;
  CFile file(strFile, CFile::modeRead);
  FreeDataBlock(pBlock);
  dwSize = file.GetLength();
  if (dwSize != 0) {
    pBlock = AllocDataBlock(dwSize);
    // The block holds what the file gave, should it have shrunk meanwhile.
    DWORD dwRead = 0;
    while (dwRead < dwSize) {
      UINT n = file.Read((BYTE*)pBlock + dwRead, dwSize - dwRead);
      if (n == 0) break;
      dwRead += n;
    }
    dwSize = dwRead;
  }
  file.Close();
}
