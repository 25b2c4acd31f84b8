#include "framework/whole_file.h"

CWholeFile::CWholeFile(const char* pszDest, BOOL bReplacingMove)
    : m_strDest(pszDest), m_bReplacingMove(bReplacingMove), m_bExisted(FALSE) {
  m_strFolder = m_strDest.Left(m_strDest.ReverseFind('\\') + 1);

  // Opening the destination for writing, neither creating nor truncating
  // it, fails when and as writing it in place would (read-only, held open,
  // no such folder), and changes nothing.
  FILETIME ftCreated = {0, 0};
  CFileException error;
  {
    CFile probe;
    if (probe.Open(m_strDest, modeWrite, &error)) {
      m_bExisted = TRUE;
      GetFileTime(probe.m_hFile, &ftCreated, nullptr, nullptr);
      probe.Abort();
    } else if (error.m_cause != CFileException::fileNotFound) {
      AfxThrowFileException(error.m_cause, error.m_lOsError, m_strDest);
    }
  }
  DWORD dwError = CreateTemp();
  if (dwError != ERROR_SUCCESS) ThrowForDest(dwError);
  // An overwritten file keeps its creation time where the new content
  // brings none (the status may set only the last-write time, or none).
  if (ftCreated.dwLowDateTime != 0 || ftCreated.dwHighDateTime != 0) SetFileTime(m_hFile, &ftCreated, nullptr, nullptr);
  m_strFileName = m_strDest;  // errors of writing and closing name the destination
}

CWholeFile::~CWholeFile() { Discard(); }

DWORD CWholeFile::CreateTemp() {
  // Numbers start apart for each file of a run, so that a name is seldom
  // tried twice.
  static UINT s_nFiles = 0;
  UINT nStart = ++s_nFiles * 40503u;
  for (int i = 0; i < m_strDest.GetLength(); ++i) nStart = nStart * 31u + (BYTE)m_strDest[i];
  for (UINT i = 0; i < 0x10000; ++i) {
    UINT n = (nStart + i) & 0xFFFF;
    if (n == 0) continue;
    CString strName = m_strFolder + "sfx";
    int nShift = n > 0xFFF ? 12 : n > 0xFF ? 8 : n > 0xF ? 4 : 0;  // no leading zeros
    for (; nShift >= 0; nShift -= 4) strName += "0123456789ABCDEF"[(n >> nShift) & 0xF];
    strName += ".tmp";
    HANDLE h = CreateFileA(strName, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      m_hFile = h;
      m_bCloseOnDelete = TRUE;
      m_strTemp = strName;
      return ERROR_SUCCESS;
    }
    DWORD dwError = GetLastError();
    // Taken: by a file, or by a folder of that name.
    BOOL bTaken = dwError == ERROR_FILE_EXISTS || dwError == ERROR_ALREADY_EXISTS ||
                  (dwError == ERROR_ACCESS_DENIED && GetFileAttributesA(strName) != INVALID_FILE_ATTRIBUTES);
    if (!bTaken) return dwError == ERROR_SUCCESS ? (DWORD)ERROR_CANNOT_MAKE : dwError;
  }
  return ERROR_FILE_EXISTS;
}

CString CWholeFile::NewTempName() const {
  CString strName;
  char* p = strName.GetBuffer(MAX_PATH);
  p[0] = 0;
  UINT uUnique = GetTempFileNameA(m_strFolder, "sfx", 0, p);
  strName.ReleaseBuffer();
  if (uUnique == 0) strName.Empty();
  return strName;
}

void CWholeFile::ThrowForDest(DWORD dwError) const {
  int nCause = dwError == 0 ? CFileException::generic : CFileException::OsErrorToException((LONG)dwError);
  AfxThrowFileException(nCause, (LONG)dwError, m_strDest);
}

void CWholeFile::Discard() {
  Abort();
  if (m_strTemp.IsEmpty()) return;
  // A read-only attribute from the status would stop the deletion.
  SetFileAttributesA(m_strTemp, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(m_strTemp);
  m_strTemp.Empty();
}

void CWholeFile::Commit(const CFileStatus* pStatus) {
  // The times go on through the handle, after the last write and before the
  // close, as SetStatus would set them by name: the file is not opened a
  // second time. The attributes follow once it is closed, so a read-only
  // attribute cannot stop the times.
  if (pStatus != nullptr && pStatus->m_mtime != 0) {
    FILETIME ftCreate = TimeToFileTime(pStatus->m_ctime);
    FILETIME ftAccess = TimeToFileTime(pStatus->m_atime);
    FILETIME ftWrite = TimeToFileTime(pStatus->m_mtime);
    if (!SetFileTime(m_hFile, pStatus->m_ctime != 0 ? &ftCreate : nullptr,
                     pStatus->m_atime != 0 ? &ftAccess : nullptr, &ftWrite))
      ThrowForDest(GetLastError());
  }
  // The attributes the file has now are read through the handle, which
  // needs no look-up by name.
  BY_HANDLE_FILE_INFORMATION info;
  if (pStatus != nullptr && !GetFileInformationByHandle(m_hFile, &info)) ThrowForDest(GetLastError());
  Close();
  if (pStatus != nullptr && (DWORD)pStatus->m_attribute != info.dwFileAttributes &&
      !SetFileAttributesA(m_strTemp, pStatus->m_attribute))
    ThrowForDest(GetLastError());
  if (m_bReplacingMove) {
    if (!MoveFileExA(m_strTemp, m_strDest, MOVEFILE_REPLACE_EXISTING)) ThrowForDest(GetLastError());
  } else {
    ReplaceByRenames();
  }
  m_strTemp.Empty();
}

void CWholeFile::ReplaceByRenames() {
  if (!m_bExisted) {
    if (!MoveFileA(m_strTemp, m_strDest)) ThrowForDest(GetLastError());
    return;
  }
  // The platform reserves the aside name by creating it; the rename needs
  // the name free.
  CString strAside = NewTempName();
  if (strAside.IsEmpty()) ThrowForDest(GetLastError());
  DeleteFileA(strAside);
  if (!MoveFileA(m_strDest, strAside)) ThrowForDest(GetLastError());
  // From here to the next rename the destination's name is free.
  if (!MoveFileA(m_strTemp, m_strDest)) {
    DWORD dwError = GetLastError();
    MoveFileA(strAside, m_strDest);
    ThrowForDest(dwError);
  }
  SetFileAttributesA(strAside, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(strAside);
}
