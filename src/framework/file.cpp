#include "framework/file.h"

#include <cstdlib>
#include <cstring>

namespace {

// Seconds between 1601-01-01 (FILETIME's epoch) and 1970-01-01.
const ULONGLONG kEpochDelta = 11644473600ull;
const ULONGLONG kTicksPerSecond = 10000000ull;

DWORD AccessFor(UINT nOpenFlags) {
  switch (nOpenFlags & 3) {
    case CFile::modeRead: return GENERIC_READ;
    case CFile::modeWrite: return GENERIC_WRITE;
    default: return GENERIC_READ | GENERIC_WRITE;
  }
}

DWORD ShareFor(UINT nOpenFlags) {
  switch (nOpenFlags & 0x70) {
    case CFile::shareDenyWrite: return FILE_SHARE_READ;
    case CFile::shareDenyRead: return FILE_SHARE_WRITE;
    case CFile::shareDenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default: return 0;  // compatibility mode and exclusive: no sharing
  }
}

DWORD DispositionFor(UINT nOpenFlags) {
  if (nOpenFlags & CFile::modeCreate)
    return (nOpenFlags & CFile::modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
  return OPEN_EXISTING;
}

}  // namespace

CFile::CFile() : m_hFile(INVALID_HANDLE_VALUE), m_bCloseOnDelete(FALSE) {}

CFile::CFile(const char* lpszFileName, UINT nOpenFlags) : CFile() {
  CFileException e;
  if (!Open(lpszFileName, nOpenFlags, &e))
    AfxThrowFileException(e.m_cause, e.m_lOsError, e.m_strFileName);
}

CFile::~CFile() {
  if (IsOpen() && m_bCloseOnDelete) Abort();
}

BOOL CFile::Open(const char* lpszFileName, UINT nOpenFlags, CFileException* pError) {
  // Copied first: the name may be this file's own path, which Abort empties.
  CString strName(lpszFileName);
  if (IsOpen()) Abort();
  m_strFileName.Empty();
  HANDLE h = CreateFileA(strName, AccessFor(nOpenFlags), ShareFor(nOpenFlags), nullptr,
                         DispositionFor(nOpenFlags), FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD dwError = GetLastError();
    if (pError != nullptr) {
      pError->m_lOsError = (LONG)dwError;
      pError->m_cause = CFileException::OsErrorToException((LONG)dwError);
      pError->m_strFileName = strName;
    }
    return FALSE;
  }
  m_hFile = h;
  m_bCloseOnDelete = TRUE;
  m_strFileName = static_cast<CString&&>(strName);
  return TRUE;
}

void CFile::CheckOpen() const {
  // An unopened file fails as the platform fails on an invalid handle, the
  // same on every platform: invalidFile, and no name since it has none.
  if (!IsOpen()) ThrowOsError(ERROR_INVALID_HANDLE);
}

void CFile::ThrowOsError(DWORD dwError) const {
  AfxThrowFileException(CFileException::OsErrorToException((LONG)dwError), (LONG)dwError,
                        m_strFileName);
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
  CheckOpen();
  if (nCount == 0) return 0;
  DWORD dwRead = 0;
  if (!ReadFile(m_hFile, lpBuf, nCount, &dwRead, nullptr)) ThrowOsError(GetLastError());
  return dwRead;
}

void CFile::Write(const void* lpBuf, UINT nCount) {
  CheckOpen();
  if (nCount == 0) return;
  DWORD dwWritten = 0;
  if (!WriteFile(m_hFile, lpBuf, nCount, &dwWritten, nullptr)) ThrowOsError(GetLastError());
  // A short write means the medium is full.
  if (dwWritten != nCount)
    AfxThrowFileException(CFileException::diskFull, ERROR_DISK_FULL, m_strFileName);
}

DWORD CFile::Seek(LONG lOff, UINT nFrom) {
  CheckOpen();
  // From the beginning the offset is unsigned; otherwise it is signed.
  LONG lHigh = (nFrom != begin && lOff < 0) ? -1 : 0;
  DWORD dwMethod = nFrom == begin ? FILE_BEGIN : nFrom == current ? FILE_CURRENT : FILE_END;
  SetLastError(NO_ERROR);
  DWORD dwNew = SetFilePointer(m_hFile, lOff, &lHigh, dwMethod);
  if (dwNew == INVALID_SET_FILE_POINTER) {
    DWORD dwError = GetLastError();
    if (dwError != NO_ERROR) ThrowOsError(dwError);
  }
  return dwNew;
}

DWORD CFile::GetPosition() const {
  CheckOpen();
  LONG lHigh = 0;
  SetLastError(NO_ERROR);
  DWORD dwPos = SetFilePointer(m_hFile, 0, &lHigh, FILE_CURRENT);
  if (dwPos == INVALID_SET_FILE_POINTER) {
    DWORD dwError = GetLastError();
    if (dwError != NO_ERROR) ThrowOsError(dwError);
  }
  return dwPos;
}

DWORD CFile::GetLength() const {
  CheckOpen();
  SetLastError(NO_ERROR);
  DWORD dwLen = GetFileSize(m_hFile, nullptr);
  if (dwLen == INVALID_FILE_SIZE) {
    DWORD dwError = GetLastError();
    if (dwError != NO_ERROR) ThrowOsError(dwError);
  }
  return dwLen;
}

void CFile::SetLength(DWORD dwNewLen) {
  CheckOpen();
  Seek((LONG)dwNewLen, begin);
  if (!SetEndOfFile(m_hFile)) ThrowOsError(GetLastError());
}

void CFile::Flush() {
  if (!IsOpen()) return;
  if (!FlushFileBuffers(m_hFile)) ThrowOsError(GetLastError());
}

void CFile::Close() {
  BOOL bError = FALSE;
  DWORD dwError = NO_ERROR;
  if (IsOpen()) {
    bError = !CloseHandle(m_hFile);
    if (bError) dwError = GetLastError();
  }
  m_hFile = INVALID_HANDLE_VALUE;
  m_bCloseOnDelete = FALSE;
  CString name = m_strFileName;
  m_strFileName.Empty();
  if (bError)
    AfxThrowFileException(CFileException::OsErrorToException((LONG)dwError), (LONG)dwError, name);
}

void CFile::Abort() {
  if (IsOpen()) CloseHandle(m_hFile);
  m_hFile = INVALID_HANDLE_VALUE;
  m_bCloseOnDelete = FALSE;
  m_strFileName.Empty();
}

FILETIME CFile::TimeToFileTime(DWORD seconds) {
  ULONGLONG ticks = ((ULONGLONG)seconds + kEpochDelta) * kTicksPerSecond;
  FILETIME ft;
  ft.dwLowDateTime = (DWORD)ticks;
  ft.dwHighDateTime = (DWORD)(ticks >> 32);
  return ft;
}

DWORD CFile::FileTimeToTime(const FILETIME& ft) {
  ULONGLONG ticks = ((ULONGLONG)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
  ULONGLONG seconds = ticks / kTicksPerSecond;
  if (seconds < kEpochDelta) return 0;
  seconds -= kEpochDelta;
  return seconds > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)seconds;
}

void CFile::SetStatus(const char* lpszFileName, const CFileStatus& status) {
  DWORD dwAttr = GetFileAttributesA(lpszFileName);
  if (dwAttr == INVALID_FILE_ATTRIBUTES) {
    DWORD dwError = GetLastError();
    AfxThrowFileException(CFileException::OsErrorToException((LONG)dwError), (LONG)dwError,
                          lpszFileName);
  }
  BOOL bChange = (DWORD)status.m_attribute != dwAttr;
  // A read-only file must lose the attribute before its times can be set.
  if (bChange && (dwAttr & FILE_ATTRIBUTE_READONLY)) {
    if (!SetFileAttributesA(lpszFileName, status.m_attribute)) {
      DWORD dwError = GetLastError();
      AfxThrowFileException(CFileException::OsErrorToException((LONG)dwError), (LONG)dwError,
                            lpszFileName);
    }
  }
  if (status.m_mtime != 0) {
    CFile file;
    CFileException e;
    if (!file.Open(lpszFileName, modeReadWrite | shareDenyWrite, &e))
      AfxThrowFileException(e.m_cause, e.m_lOsError, lpszFileName);
    FILETIME ftCreate = TimeToFileTime(status.m_ctime);
    FILETIME ftAccess = TimeToFileTime(status.m_atime);
    FILETIME ftWrite = TimeToFileTime(status.m_mtime);
    BOOL bOk = SetFileTime(file.m_hFile, status.m_ctime != 0 ? &ftCreate : nullptr,
                           status.m_atime != 0 ? &ftAccess : nullptr, &ftWrite);
    DWORD dwError = bOk ? NO_ERROR : GetLastError();
    file.Close();
    if (!bOk)
      AfxThrowFileException(CFileException::OsErrorToException((LONG)dwError), (LONG)dwError,
                            lpszFileName);
  }
  if (bChange && !(dwAttr & FILE_ATTRIBUTE_READONLY)) {
    if (!SetFileAttributesA(lpszFileName, status.m_attribute)) {
      DWORD dwError = GetLastError();
      AfxThrowFileException(CFileException::OsErrorToException((LONG)dwError), (LONG)dwError,
                            lpszFileName);
    }
  }
}

BOOL CFile::GetStatus(const char* lpszFileName, CFileStatus& rStatus) {
  DWORD dwAttr = GetFileAttributesA(lpszFileName);
  if (dwAttr == INVALID_FILE_ATTRIBUTES) return FALSE;
  // Access 0 asks only for attributes and times: no share conflict.
  HANDLE h = CreateFileA(lpszFileName, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FALSE;
  FILETIME ftCreate, ftAccess, ftWrite;
  BOOL bOk = GetFileTime(h, &ftCreate, &ftAccess, &ftWrite);
  DWORD dwSize = GetFileSize(h, nullptr);
  CloseHandle(h);
  if (!bOk) return FALSE;
  rStatus.m_ctime = FileTimeToTime(ftCreate);
  rStatus.m_atime = FileTimeToTime(ftAccess);
  rStatus.m_mtime = FileTimeToTime(ftWrite);
  rStatus.m_size = (LONG)dwSize;
  rStatus.m_attribute = (BYTE)dwAttr;
  lstrcpynA(rStatus.m_szFullName, lpszFileName, MAX_PATH);
  return TRUE;
}

// ---- CMemFile ---------------------------------------------------------------

CMemFile::CMemFile() : m_pBuffer(nullptr), m_nFileSize(0), m_nCapacity(0), m_nPosition(0) {}

CMemFile::CMemFile(const void* pData, UINT nSize) : CMemFile() {
  GrowTo(nSize);
  if (nSize > 0) memcpy(m_pBuffer, pData, nSize);
  m_nFileSize = nSize;
}

CMemFile::~CMemFile() { free(m_pBuffer); }

void CMemFile::GrowTo(DWORD dwNewCapacity) {
  if (dwNewCapacity <= m_nCapacity) return;
  ULONGLONG nNew = (ULONGLONG)m_nCapacity * 2;
  if (nNew < dwNewCapacity) nNew = dwNewCapacity;
  if (nNew < 1024) nNew = 1024;
  if (nNew > 0xFFFFFFFFull) nNew = 0xFFFFFFFFull;
  BYTE* p = (BYTE*)realloc(m_pBuffer, (size_t)nNew);
  if (p == nullptr) AfxThrowMemoryException();
  m_pBuffer = p;
  m_nCapacity = (DWORD)nNew;
}

UINT CMemFile::Read(void* lpBuf, UINT nCount) {
  if (m_nPosition >= m_nFileSize) return 0;
  DWORD dwLeft = m_nFileSize - m_nPosition;
  if (nCount > dwLeft) nCount = dwLeft;
  memcpy(lpBuf, m_pBuffer + m_nPosition, nCount);
  m_nPosition += nCount;
  return nCount;
}

void CMemFile::Write(const void* lpBuf, UINT nCount) {
  if (nCount == 0) return;
  if ((ULONGLONG)m_nPosition + nCount > 0xFFFFFFFFull)
    AfxThrowFileException(CFileException::diskFull, ERROR_DISK_FULL);
  DWORD dwEnd = m_nPosition + nCount;
  GrowTo(dwEnd);
  if (m_nPosition > m_nFileSize) memset(m_pBuffer + m_nFileSize, 0, m_nPosition - m_nFileSize);
  memcpy(m_pBuffer + m_nPosition, lpBuf, nCount);
  m_nPosition = dwEnd;
  if (dwEnd > m_nFileSize) m_nFileSize = dwEnd;
}

DWORD CMemFile::Seek(LONG lOff, UINT nFrom) {
  LONGLONG base = nFrom == begin ? 0 : nFrom == current ? (LONGLONG)m_nPosition : (LONGLONG)m_nFileSize;
  LONGLONG pos = nFrom == begin ? (LONGLONG)(DWORD)lOff : base + lOff;
  if (pos < 0 || pos > 0xFFFFFFFFll)
    AfxThrowFileException(CFileException::badSeek, ERROR_NEGATIVE_SEEK);
  m_nPosition = (DWORD)pos;
  return m_nPosition;
}

void CMemFile::SetLength(DWORD dwNewLen) {
  GrowTo(dwNewLen);
  if (dwNewLen > m_nFileSize) memset(m_pBuffer + m_nFileSize, 0, dwNewLen - m_nFileSize);
  m_nFileSize = dwNewLen;
  if (m_nPosition > dwNewLen) m_nPosition = dwNewLen;
}

void CMemFile::Close() {
  free(m_pBuffer);
  m_pBuffer = nullptr;
  m_nFileSize = m_nCapacity = m_nPosition = 0;
}

void CMemFile::Abort() { Close(); }

// ---- CStdioFile ---------------------------------------------------------------

void CStdioFile::WriteString(const char* lpsz) {
  if (lpsz != nullptr) WriteText(lpsz, (UINT)strlen(lpsz));
}

void CStdioFile::WriteText(const char* pch, UINT nCount) {
  // Translate in pieces through a small buffer: each LF becomes CR LF.
  char buffer[1024];
  UINT nFill = 0;
  for (UINT i = 0; i < nCount; ++i) {
    if (nFill + 2 > sizeof buffer) {
      Write(buffer, nFill);
      nFill = 0;
    }
    if (pch[i] == '\n') buffer[nFill++] = '\r';
    buffer[nFill++] = pch[i];
  }
  if (nFill > 0) Write(buffer, nFill);
}
