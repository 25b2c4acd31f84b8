#include "install/directory_chain.h"

#include <cerrno>

namespace {

// The part of the path that is never created, as a length: "C:" of
// "C:\a\", "\\server\share\" of a UNC path. 0 when there is no root to
// start from (a single leading "\", or no "\" at all).
int RootLength(const CString& strPath) {
  int nFirst = strPath.Find('\\');
  if (nFirst > 0) return nFirst;
  if (nFirst < 0 || strPath.GetLength() < 2 || strPath[1] != '\\') return 0;
  // "\\server\share\": the backslash after the server, then the one that
  // ends the share name. Both names must be there.
  int nServerEnd = strPath.Find('\\', 2);
  if (nServerEnd <= 2) return 0;
  int nShareEnd = strPath.Find('\\', nServerEnd + 1);
  if (nShareEnd <= nServerEnd + 1) return 0;
  return nShareEnd + 1;
}

void MakeOneDirectory(const CString& strDir, CLogStream* pLog) {
  if (_mkdir(strDir) == 0) {
    WriteLogLine(pLog, "directory:", strDir);
    return;
  }
  // EEXIST is 17 on both platforms: an existing directory is not an error.
  if (errno == EEXIST) return;
  // The run-time call leaves the platform's own error behind.
  DWORD dwError = GetLastError();
  int nCause = dwError == 0 ? CFileException::generic : CFileException::OsErrorToException((LONG)dwError);
  throw new CDirectoryException(nCause, (LONG)dwError, strDir);
}

}  // namespace

void CreateDirectoryChain(const CString& strPath, CLogStream* pLog) {
  int nLength = strPath.GetLength();
  if (nLength == 0 || strPath[nLength - 1] != '\\') return;
  int nPrefix = RootLength(strPath);
  // Nothing to create: no root, or the root is (all but) the whole path.
  if (nPrefix == 0 || nPrefix >= nLength - 1) return;

  // Each step skips the character at the prefix's end (the separator, or the
  // first character of a UNC component) and extends the prefix to the next
  // "\". The last "\" is the path's own, so the loop ends there.
  while (nPrefix < nLength - 1) {
    int nNext = strPath.Find('\\', nPrefix + 1);
    if (nNext < 0) nNext = nLength - 1;  // cannot happen: the path ends in "\"
    nPrefix = nNext;
    MakeOneDirectory(strPath.Left(nPrefix), pLog);
  }
}
