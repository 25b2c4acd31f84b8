#include "install/file_copy.h"

#include <cstdlib>

#include "framework/file.h"
#include "framework/whole_file.h"
#include "install/directory_chain.h"

namespace {

const UINT kCopyBufferSize = 0x4000;

// Copies until the source's position reaches its length. A read that yields
// nothing ends the copy too: a source that shrinks while it is read would
// otherwise keep the loop going for ever.
void CopyContents(CFile& source, CFile& target, BYTE* pBuffer) {
  while (source.GetPosition() != source.GetLength()) {
    UINT nRead = source.Read(pBuffer, kCopyBufferSize);
    if (nRead == 0) break;
    target.Write(pBuffer, nRead);
  }
}

}  // namespace

void CopyInstallFile(const CString& strSourceDir, const CString& strTargetDir,
                     const CString& strSourceName, const CString& strTargetName,
                     CLogStream* pLog, BOOL bWinNT) {
  CreateDirectoryChain(strTargetDir, pLog);
  CString strTarget = strTargetDir + strTargetName;
  CFile source(strSourceDir + strSourceName, CFile::modeRead);
  CWholeFile target(strTarget, bWinNT);

  BYTE* pBuffer = (BYTE*)malloc(kCopyBufferSize);
  if (pBuffer == nullptr) AfxThrowMemoryException();
  try {
    CopyContents(source, target, pBuffer);
  } catch (CException* e) {
    free(pBuffer);
    throw e;  // the same object, for the caller to report or delete
  }
  free(pBuffer);

  target.Commit(nullptr);
  WriteLogLine(pLog, "file:", strTarget);
  source.Close();
}
