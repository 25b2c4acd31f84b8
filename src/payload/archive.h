// CArchive: the framework's object archive over a CFile, in one direction.
//
// Loading reads the file through a 4,096-byte buffer; Close gives back the
// bytes buffered beyond the last one consumed, so the file then stands right
// after the archive. Storing collects bytes in the buffer and writes them out
// when it fills and on Close.
//
// Objects are numbered per archive in one sequence shared by classes and
// objects (index 0 is null); ReadObject/WriteObject keep that map. Faults in
// the bytes raise CArchiveException: endOfFile without a file name, every
// other cause with the path of the archive's file. Nothing read from the
// input makes the archive allocate more than the input could hold.
#pragma once

#include "framework/cstring.h"
#include "framework/file.h"
#include "framework/object.h"
#include "payload/ptr_index_map.h"

class CArchive {
 public:
  enum Mode { store = 0, load = 1 };
  enum { kBufSize = 4096 };

  // The file must stay open, and be positioned at the archive's first byte
  // (load) or where the archive goes (store), until Close.
  CArchive(CFile* pFile, UINT nMode);
  // An archive still open is abandoned as by Abort: nothing is written or
  // given back, since a destructor must not throw.
  ~CArchive();
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;

  BOOL IsLoading() const { return m_bLoading; }
  BOOL IsStoring() const { return !m_bLoading; }
  CFile* GetFile() const { return m_pFile; }

  // Load: seeks back over the unconsumed buffered bytes. Store: writes out
  // the buffer. Either way the file is detached afterwards.
  void Close();
  // Detaches the file without touching it.
  void Abort();

  // Raw bytes. Read returns the number read; a short count at the end of the
  // file is no error. Write writes all of them.
  UINT Read(void* lpBuf, UINT nMax);
  void Write(const void* lpBuf, UINT nMax);

  CArchive& operator<<(BYTE by);
  CArchive& operator<<(WORD w);
  CArchive& operator<<(DWORD dw);
  CArchive& operator<<(LONG l);
  CArchive& operator<<(const CString& str);
  CArchive& operator>>(BYTE& by);
  CArchive& operator>>(WORD& w);
  CArchive& operator>>(DWORD& dw);
  CArchive& operator>>(LONG& l);
  CArchive& operator>>(CString& str);

  // Array element counts: WORD, or WORD 0xFFFF then DWORD.
  DWORD ReadCount();
  void WriteCount(DWORD dwCount);
  // A count of elements that take at least nMinBytes each in the input:
  // endOfFile when the rest of the input cannot hold them, so that arrays
  // are never sized from a count the input cannot back.
  int ReadArrayCount(UINT nMinBytes);

  // An object reference. pRequired, when given, is the class the object
  // must be of (or derive from); otherwise badClass.
  CObject* ReadObject(const CRuntimeClass* pRequired);
  void WriteObject(const CObject* pOb);

  // Raises endOfFile unless the rest of the input holds at least nBytes:
  // loaders call it before sizing anything from a count they read.
  void CheckAvailable(ULONGLONG nBytes);
  // Bytes left to load: unconsumed buffered bytes plus the rest of the file.
  ULONGLONG GetAvailable() const;
  // Classes and objects numbered so far, index 0 included (1 before the
  // first reference). A new object always raises it; a back-reference never.
  DWORD GetMapCount() const { return m_nMapCount; }

  // Raises the exception of that cause: endOfFile without a file name, the
  // others with the path of the archive's file.
  [[noreturn]] void ThrowException(int cause) const;

 private:
  struct LoadEntry {
    const void* p;
    BOOL bClass;
  };

  // Makes at least nBytes readable in the buffer, or raises endOfFile.
  void FillBuffer(UINT nBytes);
  void FlushBuffer();
  void CheckLoading() const;
  void CheckStoring() const;
  void ReadBytes(void* p, UINT n);   // all n, or endOfFile
  void WriteBytes(const void* p, UINT n);
  DWORD ReadLengthPrefix(BOOL* pbWide);
  void ReadWideChars(CString& str, DWORD nChars);

  // The class-and-object map.
  const CRuntimeClass* ReadClassDescriptor();
  const CRuntimeClass* LookUpClass(DWORD nIndex) const;
  CObject* LookUpObject(DWORD nIndex) const;
  void EnterLoad(const void* p, BOOL bClass);
  DWORD EnterStore(const void* p);
  void WriteClass(const CRuntimeClass* pClass);
  void WriteIndexTag(DWORD nIndex, DWORD dwBigFlag);

  CFile* m_pFile;
  BOOL m_bLoading;
  BYTE* m_pBuf;
  UINT m_nCur;  // next byte to consume (load) or to fill (store)
  UINT m_nMax;  // end of the valid bytes (load)
  DWORD m_nMapCount;
  LoadEntry* m_pLoadMap;
  DWORD m_nLoadCapacity;
  CPtrIndexMap m_storeMap;
};
