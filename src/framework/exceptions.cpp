#include "framework/exceptions.h"

#include <cstring>

#include "framework/winapp.h"

namespace {

const char kNoMessage[] = "No error message is available.";

// Copies the message into the caller's buffer, cut to fit.
BOOL CopyMessage(const char* pszText, char* lpszError, UINT nMaxError) {
  if (lpszError == nullptr || nMaxError == 0) return TRUE;
  size_t n = strlen(pszText);
  if (n >= nMaxError) n = nMaxError - 1;
  memcpy(lpszError, pszText, n);
  lpszError[n] = 0;
  return TRUE;
}

BOOL FormatWithName(const char* pszTemplate, const char* pszName, char* lpszError,
                    UINT nMaxError) {
  CString text;
  AfxFormatString1(text, pszTemplate, pszName);
  return CopyMessage(text, lpszError, nMaxError);
}

CMemoryException g_memoryException;

}  // namespace

BOOL CException::GetErrorMessage(char* lpszError, UINT nMaxError) const {
  if (lpszError != nullptr && nMaxError > 0) lpszError[0] = 0;
  return FALSE;
}

CString CException::GetErrorMessage() const {
  // The message's length is not known in advance (it holds a file name):
  // retry with a larger buffer while the text fills the whole of it.
  CString text;
  for (int nSize = 512;; nSize *= 2) {
    char* p = text.GetBuffer(nSize);
    BOOL bHasMessage = GetErrorMessage(p, (UINT)nSize + 1);
    text.ReleaseBuffer(-1);
    if (!bHasMessage) return CString(kNoMessage);
    if (text.GetLength() < nSize || nSize >= 0x100000) return text;
  }
}

int CException::ReportError(UINT nType, UINT /*nMessageID*/) const {
  CString message = GetErrorMessage();
  const char* title = AfxGetAppName();
  return MessageBoxA(nullptr, message, title != nullptr ? title : "", nType);
}

void CException::Delete() {
  if (m_bAutoDelete) delete this;
}

BOOL CMemoryException::GetErrorMessage(char* lpszError, UINT nMaxError) const {
  return CopyMessage("Out of memory.", lpszError, nMaxError);
}

BOOL CNotSupportedException::GetErrorMessage(char* lpszError, UINT nMaxError) const {
  return CopyMessage("An unsupported operation was attempted.", lpszError, nMaxError);
}

const char* AfxFileExceptionTemplate(int cause) {
  switch (cause) {
    case CFileException::none: return "No error occurred.";
    case CFileException::fileNotFound: return "%1 was not found.";
    case CFileException::badPath: return "%1 contains an invalid path.";
    case CFileException::tooManyOpenFiles:
      return "%1 could not be opened because there are too many open files.";
    case CFileException::accessDenied: return "Access to %1 was denied.";
    case CFileException::invalidFile: return "An invalid file handle was associated with %1.";
    case CFileException::removeCurrentDir:
      return "%1 could not be removed because it is the current directory.";
    case CFileException::directoryFull:
      return "%1 could not be created because the directory is full.";
    case CFileException::badSeek: return "Seek failed on %1.";
    case CFileException::hardIO: return "A hardware I/O error was reported while accessing %1.";
    case CFileException::sharingViolation: return "A sharing violation occurred while accessing %1.";
    case CFileException::lockViolation:
      return "A locking violation occurred while accessing %1.";
    case CFileException::diskFull: return "The disk is full while accessing %1.";
    case CFileException::endOfFile: return "An attempt was made to access %1 past its end.";
    default: return "An unexpected error occurred while accessing %1.";
  }
}

BOOL CFileException::GetErrorMessage(char* lpszError, UINT nMaxError) const {
  // A file exception without a name puts nothing in place of %1.
  return FormatWithName(AfxFileExceptionTemplate(m_cause), m_strFileName, lpszError, nMaxError);
}

int CFileException::OsErrorToException(LONG lOsError) {
  switch (lOsError) {
    case NO_ERROR: return none;
    case ERROR_FILE_NOT_FOUND: return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY: return badPath;
    case ERROR_TOO_MANY_OPEN_FILES: return tooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
    case ERROR_CANNOT_MAKE: return accessDenied;
    case ERROR_INVALID_HANDLE: return invalidFile;
    case ERROR_CURRENT_DIRECTORY: return removeCurrentDir;
    case ERROR_NO_MORE_FILES: return directoryFull;
    case ERROR_SEEK:
    case ERROR_NEGATIVE_SEEK: return badSeek;
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
    case ERROR_GEN_FAILURE: return hardIO;
    case ERROR_SHARING_VIOLATION: return sharingViolation;
    case ERROR_LOCK_VIOLATION: return lockViolation;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL: return diskFull;
    case ERROR_HANDLE_EOF: return endOfFile;
    default: return generic;
  }
}

const char* AfxArchiveExceptionTemplate(int cause) {
  switch (cause) {
    case CArchiveException::none: return "No error occurred.";
    case CArchiveException::readOnly: return "An attempt was made to write to the reading %1.";
    case CArchiveException::endOfFile: return "An attempt was made to access %1 past its end.";
    case CArchiveException::writeOnly: return "An attempt was made to read from the writing %1.";
    case CArchiveException::badIndex: return "%1 has a bad format.";
    case CArchiveException::badClass: return "%1 contained an unexpected object.";
    case CArchiveException::badSchema: return "%1 contains an incorrect schema.";
    case CArchiveException::generic:
    default: return "An unknown error occurred while accessing %1.";
  }
}

BOOL CArchiveException::GetErrorMessage(char* lpszError, UINT nMaxError) const {
  const char* name = m_strFileName.IsEmpty() ? "an unnamed file" : (const char*)m_strFileName;
  return FormatWithName(AfxArchiveExceptionTemplate(m_cause), name, lpszError, nMaxError);
}

void AfxThrowMemoryException() { throw &g_memoryException; }

void AfxThrowNotSupportedException() {
  throw new CNotSupportedException;
}

void AfxThrowFileException(int cause, LONG lOsError, const char* lpszFileName) {
  throw new CFileException(cause, lOsError, lpszFileName);
}

void AfxThrowArchiveException(int cause, const char* lpszArchiveName) {
  throw new CArchiveException(cause, lpszArchiveName);
}
