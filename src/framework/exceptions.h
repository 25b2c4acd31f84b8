// The framework's exceptions.
//
// As in the application framework, exceptions are heap objects thrown by
// pointer (throw new CFileException(...) through the AfxThrow* helpers) and
// caught as CException*. Whoever catches one either throws the same pointer on
// or releases it once with Delete(). The memory exception is a single static
// object, so raising it needs no memory; its Delete does nothing.
#pragma once

#include "framework/cstring.h"
#include "framework/object.h"

class CException : public CObject {
 public:
  // Writes the message, at most nMaxError bytes including the NUL, and
  // returns FALSE when the exception has none ("No error message is available."
  // is then what ReportError shows).
  virtual BOOL GetErrorMessage(char* lpszError, UINT nMaxError) const;
  CString GetErrorMessage() const;

  // Shows the message in a box titled with the application's name, with an
  // OK button and the exclamation icon. Returns the box's result.
  virtual int ReportError(UINT nType = MB_OK | MB_ICONEXCLAMATION, UINT nMessageID = 0) const;

  // Releases a heap-allocated exception; does nothing for a static one.
  void Delete();

 protected:
  constexpr explicit CException(BOOL bAutoDelete = TRUE) : m_bAutoDelete(bAutoDelete) {}
  BOOL m_bAutoDelete;
};

class CMemoryException : public CException {
 public:
  // constexpr: the static instance is ready before any constructor runs,
  // so memory can run out even while global objects are being made.
  constexpr CMemoryException() : CException(FALSE) {}
  using CException::GetErrorMessage;  // keeps the CString form visible
  BOOL GetErrorMessage(char* lpszError, UINT nMaxError) const override;
};

class CNotSupportedException : public CException {
 public:
  using CException::GetErrorMessage;  // keeps the CString form visible
  BOOL GetErrorMessage(char* lpszError, UINT nMaxError) const override;
};

class CFileException : public CException {
 public:
  enum {
    none = 0,
    generic = 1,
    fileNotFound = 2,
    badPath = 3,
    tooManyOpenFiles = 4,
    accessDenied = 5,
    invalidFile = 6,
    removeCurrentDir = 7,
    directoryFull = 8,
    badSeek = 9,
    hardIO = 10,
    sharingViolation = 11,
    lockViolation = 12,
    diskFull = 13,
    endOfFile = 14,
  };

  explicit CFileException(int cause = none, LONG lOsError = -1, const char* lpszFileName = nullptr)
      : m_cause(cause), m_lOsError(lOsError), m_strFileName(lpszFileName) {}

  using CException::GetErrorMessage;  // keeps the CString form visible
  BOOL GetErrorMessage(char* lpszError, UINT nMaxError) const override;

  // The cause for a platform error number (GetLastError).
  static int OsErrorToException(LONG lOsError);

  int m_cause;
  LONG m_lOsError;
  CString m_strFileName;
};

class CArchiveException : public CException {
 public:
  enum {
    none = 0,
    generic = 1,
    readOnly = 2,
    endOfFile = 3,
    writeOnly = 4,
    badIndex = 5,
    badClass = 6,
    badSchema = 7,
  };

  explicit CArchiveException(int cause = none, const char* lpszArchiveName = nullptr)
      : m_cause(cause), m_strFileName(lpszArchiveName) {}

  using CException::GetErrorMessage;  // keeps the CString form visible
  BOOL GetErrorMessage(char* lpszError, UINT nMaxError) const override;

  int m_cause;
  CString m_strFileName;
};

[[noreturn]] void AfxThrowMemoryException();
[[noreturn]] void AfxThrowNotSupportedException();
[[noreturn]] void AfxThrowFileException(int cause, LONG lOsError = -1,
                                        const char* lpszFileName = nullptr);
[[noreturn]] void AfxThrowArchiveException(int cause, const char* lpszArchiveName = nullptr);

// The message template of each cause, with "%1" where the file name goes.
const char* AfxFileExceptionTemplate(int cause);
const char* AfxArchiveExceptionTemplate(int cause);
