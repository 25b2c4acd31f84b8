// CArchive: construction, the buffer, primitives, strings and counts.
// Object references and the map are in archive_objects.cpp.
#include "payload/archive.h"

#include <cstdlib>
#include <cstring>

#include "framework/exceptions.h"
#include "platform/byte_order.h"

namespace {

// A string length prefix says 0xFF, then this WORD: a 16-bit-character
// string follows (its own length prefix comes next).
const WORD kWideMarker = 0xFFFE;

}  // namespace

CArchive::CArchive(CFile* pFile, UINT nMode)
    : m_pFile(pFile),
      m_bLoading(nMode == load),
      m_pBuf(nullptr),
      m_nCur(0),
      m_nMax(0),
      m_nMapCount(1),
      m_pLoadMap(nullptr),
      m_nLoadCapacity(0) {
  m_pBuf = (BYTE*)malloc(kBufSize);
  if (m_pBuf == nullptr) AfxThrowMemoryException();
}

CArchive::~CArchive() {
  Abort();
  free(m_pBuf);
  free(m_pLoadMap);
}

void CArchive::Abort() { m_pFile = nullptr; }

void CArchive::Close() {
  if (m_pFile == nullptr) return;
  // Detach first: should the seek or write fail, the archive is closed
  // anyway and its destructor does not try again.
  CFile* pFile = m_pFile;
  m_pFile = nullptr;
  if (m_bLoading) {
    UINT nUnconsumed = m_nMax - m_nCur;
    m_nCur = m_nMax = 0;
    if (nUnconsumed > 0) pFile->Seek(-(LONG)nUnconsumed, CFile::current);
  } else {
    UINT nPending = m_nCur;
    m_nCur = 0;
    if (nPending > 0) pFile->Write(m_pBuf, nPending);
  }
}

void CArchive::ThrowException(int cause) const {
  // An end of file is reported without a name, as the framework does.
  if (cause == CArchiveException::endOfFile || m_pFile == nullptr)
    AfxThrowArchiveException(cause);
  AfxThrowArchiveException(cause, m_pFile->GetFilePath());
}

void CArchive::CheckLoading() const {
  if (m_pFile == nullptr) AfxThrowNotSupportedException();
  if (!m_bLoading) ThrowException(CArchiveException::writeOnly);
}

void CArchive::CheckStoring() const {
  if (m_pFile == nullptr) AfxThrowNotSupportedException();
  if (m_bLoading) ThrowException(CArchiveException::readOnly);
}

ULONGLONG CArchive::GetAvailable() const {
  if (m_pFile == nullptr || !m_bLoading) return 0;
  DWORD dwPos = m_pFile->GetPosition();
  DWORD dwLen = m_pFile->GetLength();
  ULONGLONG nRest = dwLen > dwPos ? (ULONGLONG)(dwLen - dwPos) : 0;
  return (ULONGLONG)(m_nMax - m_nCur) + nRest;
}

void CArchive::CheckAvailable(ULONGLONG nBytes) {
  // Most strings lie in the buffer already; only longer claims ask the file.
  if (m_bLoading && nBytes <= (ULONGLONG)(m_nMax - m_nCur)) return;
  if (nBytes > GetAvailable()) ThrowException(CArchiveException::endOfFile);
}

// ---- Buffer ----------------------------------------------------------------

void CArchive::FillBuffer(UINT nBytes) {
  UINT nHave = m_nMax - m_nCur;
  if (nHave >= nBytes) return;
  // Keep the unconsumed bytes, moved to the front, and read behind them
  // until the need is met or the file gives nothing more.
  memmove(m_pBuf, m_pBuf + m_nCur, nHave);
  m_nCur = 0;
  m_nMax = nHave;
  while (m_nMax < nBytes) {
    UINT nRead = m_pFile->Read(m_pBuf + m_nMax, kBufSize - m_nMax);
    if (nRead == 0) break;
    m_nMax += nRead;
  }
  if (m_nMax < nBytes) ThrowException(CArchiveException::endOfFile);
}

void CArchive::FlushBuffer() {
  if (m_nCur == 0) return;
  UINT n = m_nCur;
  m_nCur = 0;
  m_pFile->Write(m_pBuf, n);
}

UINT CArchive::Read(void* lpBuf, UINT nMax) {
  CheckLoading();
  BYTE* pDst = (BYTE*)lpBuf;
  UINT nLeft = nMax;
  UINT nCopy = m_nMax - m_nCur < nLeft ? m_nMax - m_nCur : nLeft;
  memcpy(pDst, m_pBuf + m_nCur, nCopy);
  m_nCur += nCopy;
  pDst += nCopy;
  nLeft -= nCopy;
  if (nLeft == 0) return nMax;
  // The buffer is empty now. Large reads go straight to the caller's memory;
  // small ones refill the buffer, so that later primitives find bytes there.
  m_nCur = m_nMax = 0;
  if (nLeft >= (UINT)kBufSize) {
    while (nLeft > 0) {
      UINT nRead = m_pFile->Read(pDst, nLeft);
      if (nRead == 0) break;
      pDst += nRead;
      nLeft -= nRead;
    }
    return nMax - nLeft;
  }
  while (m_nMax < nLeft) {
    UINT nRead = m_pFile->Read(m_pBuf + m_nMax, kBufSize - m_nMax);
    if (nRead == 0) break;
    m_nMax += nRead;
  }
  nCopy = m_nMax < nLeft ? m_nMax : nLeft;
  memcpy(pDst, m_pBuf, nCopy);
  m_nCur = nCopy;
  return nMax - nLeft + nCopy;
}

void CArchive::Write(const void* lpBuf, UINT nMax) {
  CheckStoring();
  WriteBytes(lpBuf, nMax);
}

void CArchive::WriteBytes(const void* p, UINT n) {
  if (n <= (UINT)kBufSize - m_nCur) {
    memcpy(m_pBuf + m_nCur, p, n);
    m_nCur += n;
    return;
  }
  FlushBuffer();
  if (n >= (UINT)kBufSize) {
    m_pFile->Write(p, n);
    return;
  }
  memcpy(m_pBuf, p, n);
  m_nCur = n;
}

void CArchive::ReadBytes(void* p, UINT n) {
  if (n <= (UINT)kBufSize) {
    FillBuffer(n);
    memcpy(p, m_pBuf + m_nCur, n);
    m_nCur += n;
    return;
  }
  if (Read(p, n) != n) ThrowException(CArchiveException::endOfFile);
}

// ---- Primitives --------------------------------------------------------------

CArchive& CArchive::operator<<(BYTE by) {
  CheckStoring();
  WriteBytes(&by, 1);
  return *this;
}

CArchive& CArchive::operator<<(WORD w) {
  CheckStoring();
  BYTE b[2];
  sfx::StoreLe16(b, w);
  WriteBytes(b, 2);
  return *this;
}

CArchive& CArchive::operator<<(DWORD dw) {
  CheckStoring();
  BYTE b[4];
  sfx::StoreLe32(b, dw);
  WriteBytes(b, 4);
  return *this;
}

CArchive& CArchive::operator<<(LONG l) { return *this << (DWORD)l; }

CArchive& CArchive::operator>>(BYTE& by) {
  CheckLoading();
  ReadBytes(&by, 1);
  return *this;
}

CArchive& CArchive::operator>>(WORD& w) {
  CheckLoading();
  BYTE b[2];
  ReadBytes(b, 2);
  w = sfx::LoadLe16(b);
  return *this;
}

CArchive& CArchive::operator>>(DWORD& dw) {
  CheckLoading();
  BYTE b[4];
  ReadBytes(b, 4);
  dw = sfx::LoadLe32(b);
  return *this;
}

CArchive& CArchive::operator>>(LONG& l) {
  DWORD dw;
  *this >> dw;
  l = (LONG)dw;
  return *this;
}

// ---- Counts ------------------------------------------------------------------

DWORD CArchive::ReadCount() {
  WORD w;
  *this >> w;
  if (w != 0xFFFF) return w;
  DWORD dw;
  *this >> dw;
  return dw;
}

int CArchive::ReadArrayCount(UINT nMinBytes) {
  DWORD nCount = ReadCount();
  ULONGLONG nBytes = (ULONGLONG)nCount * nMinBytes;
  CheckAvailable(nBytes);
  if (nBytes > 0x7FFFFFFFu) AfxThrowMemoryException();  // beyond any array
  return (int)nCount;
}

void CArchive::WriteCount(DWORD dwCount) {
  if (dwCount < 0xFFFF) {
    *this << (WORD)dwCount;
  } else {
    *this << (WORD)0xFFFF;
    *this << dwCount;
  }
}

// ---- Strings -----------------------------------------------------------------

// Reads a length prefix: BYTE, then WORD when the byte is 0xFF, then DWORD
// when the word is 0xFFFF. The wide marker is only taken as such in the first
// prefix; in the second it is a plain length, so markers cannot repeat.
DWORD CArchive::ReadLengthPrefix(BOOL* pbWide) {
  *pbWide = FALSE;
  for (int nPrefix = 0;; ++nPrefix) {
    BYTE by;
    *this >> by;
    if (by < 0xFF) return by;
    WORD w;
    *this >> w;
    if (w == kWideMarker && nPrefix == 0) {
      *pbWide = TRUE;
      continue;
    }
    if (w != 0xFFFF) return w;
    DWORD dw;
    *this >> dw;
    return dw;
  }
}

CArchive& CArchive::operator>>(CString& str) {
  CheckLoading();
  str.Empty();
  BOOL bWide;
  DWORD nLength = ReadLengthPrefix(&bWide);
  // Nothing is allocated for characters that the input cannot hold.
  CheckAvailable(bWide ? (ULONGLONG)nLength * 2 : (ULONGLONG)nLength);
  if (nLength == 0) return *this;
  if (nLength > 0x7FFFFFFEu) AfxThrowMemoryException();
  if (bWide) {
    ReadWideChars(str, nLength);
    return *this;
  }
  char* p = str.GetBuffer((int)nLength);
  UINT nRead = Read(p, nLength);
  if (nRead != nLength) {
    str.ReleaseBuffer(0);
    ThrowException(CArchiveException::endOfFile);
  }
  str.ReleaseBuffer((int)nLength);
  return *this;
}

// 16-bit characters become text of the platform's code page
// (WideCharToMultiByte with CP_ACP): a double-byte character takes two bytes,
// a character the code page lacks becomes its default character ('?').
void CArchive::ReadWideChars(CString& str, DWORD nChars) {
  // At most two bytes a character in every code page the platform has.
  if (nChars > 0x3FFFFFFFu) AfxThrowMemoryException();
  WCHAR* pwch = (WCHAR*)malloc((size_t)nChars * sizeof(WCHAR));
  if (pwch == nullptr) AfxThrowMemoryException();
  try {
    for (DWORD i = 0; i < nChars; ++i) {
      WORD wch;
      *this >> wch;
      pwch[i] = (WCHAR)wch;
    }
    char* p = str.GetBuffer((int)nChars * 2);
    // No best-fit look-alikes ("l" for U+0142): '?' as on every platform.
    // Systems before 2000 refuse the flag; they get the plain conversion.
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, pwch, (int)nChars, p, (int)nChars * 2, nullptr,
                                nullptr);
    if (n <= 0) n = WideCharToMultiByte(CP_ACP, 0, pwch, (int)nChars, p, (int)nChars * 2, nullptr, nullptr);
    str.ReleaseBuffer(n > 0 ? n : 0);
  } catch (...) {
    free(pwch);
    str.Empty();
    throw;
  }
  free(pwch);
}

CArchive& CArchive::operator<<(const CString& str) {
  CheckStoring();
  DWORD n = (DWORD)str.GetLength();
  if (n < 0xFF) {
    *this << (BYTE)n;
  } else if (n < 0xFFFE) {
    *this << (BYTE)0xFF;
    *this << (WORD)n;
  } else {
    *this << (BYTE)0xFF;
    *this << (WORD)0xFFFF;
    *this << n;
  }
  WriteBytes(str.GetString(), n);
  return *this;
}
