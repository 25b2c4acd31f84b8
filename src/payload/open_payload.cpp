#include "payload/open_payload.h"

#include "framework/exceptions.h"
#include "payload/archive.h"
#include "payload/catalogue.h"
#include "payload/payload_checks.h"
#include "payload/payload_locator.h"

namespace {

// One of the payload's two 32-bit lengths. A payload that ends inside it is
// reported as a damaged catalogue, naming the payload file. (A payload file
// that never opened fails in Read itself, with the invalid-handle error.)
DWORD ReadLength(CFile& file) {
  BYTE b[4] = {0, 0, 0, 0};
  if (file.Read(b, 4) != 4)
    AfxThrowArchiveException(CArchiveException::endOfFile, file.GetFilePath());
  return (DWORD)b[0] | ((DWORD)b[1] << 8) | ((DWORD)b[2] << 16) | ((DWORD)b[3] << 24);
}

// Moves forward by an unsigned 32-bit count: Seek's offset from the current
// position is signed, so a count of 2 GiB or more goes in two steps.
void SkipForward(CFile& file, DWORD dwCount) {
  const DWORD dwMaxStep = 0x7FFFFFFF;
  if (dwCount > dwMaxStep) {
    file.Seek((LONG)dwMaxStep, CFile::current);
    dwCount -= dwMaxStep;
  }
  file.Seek((LONG)dwCount, CFile::current);
}

}  // namespace

void OpenPayload(CFile& filePayload, const CString& strModuleDir, CObArray& arrFileTable,
                 CBuildItems& project) {
  DWORD dwPayloadOffset = GetPayloadOffset();
  if (dwPayloadOffset != 0) {
    // Appended to the running executable. Open failures are not tested
    // here: the file stays unopened and the Seek below throws the
    // invalid-handle error.
    char szModule[MAX_PATH];
    szModule[0] = 0;
    GetModuleFileNameA(nullptr, szModule, MAX_PATH);
    szModule[MAX_PATH - 1] = 0;
    filePayload.Open(szModule, CFile::modeRead | CFile::shareDenyNone);
    filePayload.Seek((LONG)dwPayloadOffset, CFile::begin);
  } else {
    // The side file, opened exclusively; the payload starts at offset 0.
    CString strPath = strModuleDir;
    strPath += "Data.bin";
    filePayload.Open(strPath, CFile::modeRead | CFile::shareCompat);
  }

  DWORD dwDataLength = ReadLength(filePayload);
  if (dwDataLength != 0) SkipForward(filePayload, dwDataLength);
  ReadLength(filePayload);  // archive 1's length: its end is found by reading it

  // Each archive reads through its own 4,096-byte buffer.
  CArchive arFileTable(&filePayload, CArchive::load);
  SerializeFileTable(arFileTable, arrFileTable);  // CCompFileInfo entries only
  arFileTable.Close();  // gives back the read-ahead: the file stands at archive 2

  CArchive arProject(&filePayload, CArchive::load);
  project.Serialize(arProject);
  arProject.Close();

  CheckCatalogue(arrFileTable, project, filePayload.GetFilePath());
}
