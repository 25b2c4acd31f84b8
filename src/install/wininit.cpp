#include "install/wininit.h"

#include <cstdlib>
#include <cstring>

#include "framework/file.h"

namespace {

bool IsBlank(char ch) { return ch == ' ' || ch == '\t' || ch == '\r'; }

char AsciiLower(char ch) { return (ch >= 'A' && ch <= 'Z') ? (char)(ch - 'A' + 'a') : ch; }

// The line [nStart, nEnd) without the blanks (and CR) around it.
void TrimLine(const char* pText, DWORD& nStart, DWORD& nEnd) {
  while (nStart < nEnd && IsBlank(pText[nStart])) ++nStart;
  while (nEnd > nStart && IsBlank(pText[nEnd - 1])) --nEnd;
}

bool IsRenameHeader(const char* pch, DWORD nLength) {
  static const char kHeader[] = "[rename]";
  if (nLength != sizeof kHeader - 1) return false;
  for (DWORD i = 0; i < nLength; ++i)
    if (AsciiLower(pch[i]) != kHeader[i]) return false;
  return true;
}

// Reads the whole file into a new buffer (freed by the caller), or returns
// null when it is too big to parse or shorter than it claimed.
char* ReadSmallFile(CFile& file, DWORD dwLength) {
  if (dwLength > kMaxParsedIniSize) return nullptr;
  char* pText = (char*)malloc(dwLength + 1);
  if (pText == nullptr) AfxThrowMemoryException();
  UINT nRead = 0;
  try {
    file.SeekToBegin();
    nRead = file.Read(pText, dwLength);
  } catch (CException*) {
    free(pText);
    throw;
  }
  if (nRead != dwLength) {
    free(pText);
    return nullptr;
  }
  return pText;
}

CString InsertionText(const RenameInsertion& at, const char* pszTarget, const char* pszSource) {
  CString strInsert;
  if (at.bNeedLineBreak) strInsert += "\r\n";
  if (at.bNeedHeader) strInsert += "[rename]\r\n";
  strInsert += pszTarget;
  strInsert += '=';
  strInsert += pszSource;
  strInsert += "\r\n";
  return strInsert;
}

// Places the new text at the end of a file too big to parse, after a line
// break when its last byte does not end a line.
RenameInsertion AppendAtEnd(CFile& file, DWORD dwLength) {
  RenameInsertion at = {dwLength, TRUE, FALSE};
  if (dwLength > 0) {
    char chLast = 0;
    file.Seek((LONG)(dwLength - 1), CFile::begin);
    at.bNeedLineBreak = file.Read(&chLast, 1) != 1 || chLast != '\n';
  }
  return at;
}

// Another setup may be adding its own line at this moment, holding the file
// alone for as long as that takes: wait for it (about two seconds at most)
// rather than lose this instruction. Any other failure throws at once.
void OpenAlone(CFile& file, const char* pszIniPath) {
  const int kAttempts = 50;
  const DWORD kDelay = 40;  // milliseconds between attempts
  for (int nAttempt = 1;; ++nAttempt) {
    CFileException e;
    if (file.Open(pszIniPath,
                  CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite |
                      CFile::shareExclusive,
                  &e))
      return;
    if (e.m_cause != CFileException::sharingViolation || nAttempt == kAttempts)
      AfxThrowFileException(e.m_cause, e.m_lOsError, e.m_strFileName);
    Sleep(kDelay);
  }
}

}  // namespace

RenameInsertion FindRenameInsertion(const char* pText, DWORD dwLength) {
  BOOL bFound = FALSE;
  DWORD dwInsert = dwLength;
  for (DWORD nLine = 0; nLine < dwLength;) {
    const char* pNewline = (const char*)memchr(pText + nLine, '\n', dwLength - nLine);
    DWORD nEnd = pNewline != nullptr ? (DWORD)(pNewline - pText) : dwLength;
    DWORD nNext = pNewline != nullptr ? nEnd + 1 : dwLength;
    DWORD nStart = nLine;
    TrimLine(pText, nStart, nEnd);
    if (!bFound) {
      if (IsRenameHeader(pText + nStart, nEnd - nStart)) {
        bFound = TRUE;
        dwInsert = nNext;
      }
    } else if (nEnd > nStart) {
      if (pText[nStart] == '[') break;  // the next section
      dwInsert = nNext;
    }
    nLine = nNext;
  }
  RenameInsertion at;
  at.dwOffset = dwInsert;
  at.bNeedHeader = !bFound;
  at.bNeedLineBreak = dwInsert > 0 && pText[dwInsert - 1] != '\n';
  return at;
}

void AddWininitRename(const char* pszIniPath, const char* pszTarget, const char* pszSource) {
  CFile file;
  OpenAlone(file, pszIniPath);
  DWORD dwLength = file.GetLength();
  char* pText = ReadSmallFile(file, dwLength);
  RenameInsertion at =
      pText != nullptr ? FindRenameInsertion(pText, dwLength) : AppendAtEnd(file, dwLength);
  try {
    CString strInsert = InsertionText(at, pszTarget, pszSource);
    // Growing the file first makes a full disk fail before any byte of the
    // old text has moved.
    DWORD dwTail = dwLength - at.dwOffset;
    file.SetLength(dwLength + (DWORD)strInsert.GetLength());
    file.Seek((LONG)at.dwOffset, CFile::begin);
    file.Write(strInsert, (UINT)strInsert.GetLength());
    if (dwTail > 0) file.Write(pText + at.dwOffset, dwTail);
  } catch (CException*) {
    free(pText);
    throw;
  }
  free(pText);
  file.Close();
}

CString WininitPath() {
  char szDir[MAX_PATH + 1] = {};
  UINT n = GetWindowsDirectoryA(szDir, MAX_PATH);
  if (n >= MAX_PATH) szDir[0] = 0;
  CString strPath(szDir);
  if (!strPath.IsEmpty() && !AfxEndsInBackslash(strPath)) strPath += '\\';
  strPath += "WININIT.INI";
  return strPath;
}
