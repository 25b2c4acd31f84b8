#include "install/replacement.h"

#include <cstdlib>

#include "framework/file.h"
#include "framework/whole_file.h"
#include "install/installer.h"
#include "install/paths.h"
#include "install/wininit.h"

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

// The short form of a path, or the path itself when the platform gives none:
// an empty side would turn the rename line into a different instruction.
CString ShortPathOf(const CString& strPath) {
  char szShort[MAX_PATH + 1] = {};
  DWORD n = GetShortPathNameA(strPath, szShort, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return strPath;
  return CString(szShort);
}

// The 95 family's way: a "[rename]" line in WININIT.INI. Failures are not
// reported; the run goes on as if the line had been written.
void ScheduleWithWininit(const CString& strInstalled, const CString& strTempCopy) {
  CString strShortInstalled = ShortPathOf(strInstalled);
  CString strShortTemp = ShortPathOf(strTempCopy);
  try {
    AddWininitRename(WininitPath(), strShortInstalled, strShortTemp);
  } catch (CException* e) {
    e->Delete();
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

CString TemporaryName(const CString& strName) {
  int nDot = strName.ReverseFind('.');
  return (nDot >= 0 ? strName.Left(nDot) : strName) + ".tmp";
}

void CInstaller::ScheduleReplacement(const CString& strName, const CString& strInstalled,
                                     const CString& strSourceDir) {
  CString strTargetDir = strInstalled.Left(strInstalled.ReverseFind('\\') + 1);
  CString strTempName = TemporaryName(strName);
  CString strTempCopy = strTargetDir + strTempName;

  // Exceptions of the copy go on to the caller: then nothing is scheduled.
  CopyInstallFile(strSourceDir, strTargetDir, strName, strTempName, &RemovalLog(), m_bWinNT);

  if (m_bWinNT == 1)
    MoveFileExA(strTempCopy, strInstalled, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
  else
    ScheduleWithWininit(strInstalled, strTempCopy);

  WriteLogLine(&RemovalLog(), "file:", strInstalled);
}
