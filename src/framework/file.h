// CFile: the framework's binary file over the platform's file handles, and
// CFileStatus, the record that CFile::SetStatus applies.
//
// Every failure throws a CFileException carrying the cause, the platform
// error and the file's full path (empty when the file was never opened).
// Read/Write/Seek are virtual so that CMemFile can stand in for a file.
#pragma once

#include "framework/cstring.h"
#include "framework/exceptions.h"
#include "framework/object.h"

// Times are seconds since 1970-01-01 00:00:00 UTC; 0 means "not given".
struct CFileStatus {
  DWORD m_ctime = 0;      // creation
  DWORD m_mtime = 0;      // last write
  DWORD m_atime = 0;      // last access
  LONG m_size = 0;
  BYTE m_attribute = 0;
  BYTE m_padding = 0;
  char m_szFullName[MAX_PATH] = {};
};

class CFile : public CObject {
 public:
  enum OpenFlags {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,  // opened as exclusive, like shareExclusive
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    typeText = 0x4000,
    typeBinary = 0x8000,
  };
  enum Attribute {
    normal = 0x00,
    readOnly = 0x01,
    hidden = 0x02,
    system = 0x04,
    volume = 0x08,
    directory = 0x10,
    archive = 0x20,
  };
  enum SeekPosition { begin = 0x0, current = 0x1, end = 0x2 };

  CFile();
  // Opens or throws CFileException.
  CFile(const char* lpszFileName, UINT nOpenFlags);
  // Closes the handle if open; never throws.
  ~CFile() override;

  // Opens without throwing: FALSE on failure, with the cause in *pError when
  // one is given. On failure the file stays unopened and nameless.
  virtual BOOL Open(const char* lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr);

  // Reads up to nCount bytes; returns the number read, 0 at the end.
  virtual UINT Read(void* lpBuf, UINT nCount);
  // Writes all nCount bytes or throws.
  virtual void Write(const void* lpBuf, UINT nCount);
  // Moves the position; for begin the offset is an unsigned 32-bit position
  // (payloads reach 4 GiB). Returns the new position.
  virtual DWORD Seek(LONG lOff, UINT nFrom);
  DWORD SeekToBegin() { return Seek(0, begin); }
  DWORD SeekToEnd() { return Seek(0, end); }
  virtual DWORD GetPosition() const;
  virtual DWORD GetLength() const;
  virtual void SetLength(DWORD dwNewLen);
  virtual void Flush();
  // Closes or throws; the object is closed afterwards either way.
  virtual void Close();
  // Closes and ignores errors.
  virtual void Abort();

  BOOL IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }
  const CString& GetFilePath() const { return m_strFileName; }

  // Applies times and attribute to the named file:
  // - m_mtime 0: no time is set; else last-write = m_mtime and, when
  //   m_ctime is not 0, creation = m_ctime; m_atime 0 leaves last access.
  // - The attribute is applied when it differs from the file's; on a file
  //   that is not read-only the times go first, so a read-only attribute
  //   does not stop them.
  // Throws CFileException on any failure.
  static void SetStatus(const char* lpszFileName, const CFileStatus& status);
  // Reads the named file's times, size and attribute; FALSE if it cannot.
  static BOOL GetStatus(const char* lpszFileName, CFileStatus& rStatus);

  // Seconds since 1970 (UTC) <-> the platform's FILETIME.
  static FILETIME TimeToFileTime(DWORD seconds);
  static DWORD FileTimeToTime(const FILETIME& ft);

  HANDLE m_hFile;

 protected:
  // Throws invalidFile when the file is not open.
  void CheckOpen() const;
  [[noreturn]] void ThrowOsError(DWORD dwError) const;
  CString m_strFileName;
  BOOL m_bCloseOnDelete;
};

// A file in memory: a growing buffer with the CFile interface. Used where a
// stream of bytes is needed without the file system (tests, the tool).
class CMemFile : public CFile {
 public:
  CMemFile();
  // Reads from (and may write over) a copy of the given bytes.
  CMemFile(const void* pData, UINT nSize);
  ~CMemFile() override;

  UINT Read(void* lpBuf, UINT nCount) override;
  void Write(const void* lpBuf, UINT nCount) override;
  DWORD Seek(LONG lOff, UINT nFrom) override;
  DWORD GetPosition() const override { return m_nPosition; }
  DWORD GetLength() const override { return m_nFileSize; }
  void SetLength(DWORD dwNewLen) override;
  void Flush() override {}
  void Close() override;
  void Abort() override;

  const BYTE* GetData() const { return m_pBuffer; }

 private:
  void GrowTo(DWORD dwNewCapacity);
  BYTE* m_pBuffer;
  DWORD m_nFileSize;
  DWORD m_nCapacity;
  DWORD m_nPosition;
};

// A CFile that writes text: every line feed is stored as carriage return and
// line feed, as a text-mode stream of the C run-time does.
class CStdioFile : public CFile {
 public:
  CStdioFile() = default;
  CStdioFile(const char* lpszFileName, UINT nOpenFlags) : CFile(lpszFileName, nOpenFlags) {}
  void WriteString(const char* lpsz);
  void WriteText(const char* pch, UINT nCount);
};
