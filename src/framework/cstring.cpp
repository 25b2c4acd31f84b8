#include "framework/cstring.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "framework/exceptions.h"

namespace {

// Every empty CString points here, so no allocation is needed for "".
char g_chNil = 0;

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

}  // namespace

CString::CString() : m_pchData(&g_chNil), m_nLength(0), m_nCapacity(0) {}

CString::CString(const CString& other) : CString() {
  Append(other.m_pchData, other.m_nLength);
}

CString::CString(CString&& other) noexcept
    : m_pchData(other.m_pchData), m_nLength(other.m_nLength), m_nCapacity(other.m_nCapacity) {
  other.m_pchData = &g_chNil;
  other.m_nLength = 0;
  other.m_nCapacity = 0;
}

CString::CString(const char* psz) : CString() {
  if (psz != nullptr) Append(psz, (int)strlen(psz));
}

CString::CString(const char* pch, int nLength) : CString() {
  if (pch != nullptr && nLength > 0) Append(pch, nLength);
}

CString::CString(char ch, int nRepeat) : CString() {
  if (nRepeat <= 0) return;
  Reserve(nRepeat);
  memset(m_pchData, ch, (size_t)nRepeat);
  m_nLength = nRepeat;
  m_pchData[m_nLength] = 0;
}

CString::~CString() {
  if (m_pchData != &g_chNil) free(m_pchData);
}

CString& CString::operator=(const CString& other) {
  if (this != &other) {
    m_nLength = 0;
    m_pchData[0] = 0;
    Append(other.m_pchData, other.m_nLength);
  }
  return *this;
}

CString& CString::operator=(CString&& other) noexcept {
  if (this != &other) {
    if (m_pchData != &g_chNil) free(m_pchData);
    m_pchData = other.m_pchData;
    m_nLength = other.m_nLength;
    m_nCapacity = other.m_nCapacity;
    other.m_pchData = &g_chNil;
    other.m_nLength = 0;
    other.m_nCapacity = 0;
  }
  return *this;
}

CString& CString::operator=(const char* psz) {
  if (psz == nullptr) {
    Empty();
    return *this;
  }
  // psz may point into this string's own buffer.
  CString copy(psz);
  return *this = static_cast<CString&&>(copy);
}

CString& CString::operator=(char ch) {
  Empty();
  return Append(&ch, 1);
}

void CString::Empty() {
  if (m_pchData != &g_chNil) free(m_pchData);
  m_pchData = &g_chNil;
  m_nLength = 0;
  m_nCapacity = 0;
}

// The largest length a CString can hold: its size, with the NUL, must fit
// in an int.
const int kMaxLength = 0x7FFFFFFE;

void CString::Reserve(int nCapacity) {
  if (nCapacity <= m_nCapacity) return;
  if (nCapacity > kMaxLength) AfxThrowMemoryException();
  // Grow geometrically so repeated appends stay linear; the sum is done in a
  // wider type and capped, so a large string never overflows the size.
  long long nNew = (long long)m_nCapacity + m_nCapacity / 2;
  if (nNew < nCapacity) nNew = nCapacity;
  if (nNew < 15) nNew = 15;
  if (nNew > kMaxLength) nNew = kMaxLength;
  char* p = (char*)malloc((size_t)nNew + 1);
  if (p == nullptr) AfxThrowMemoryException();
  memcpy(p, m_pchData, (size_t)m_nLength + 1);
  if (m_pchData != &g_chNil) free(m_pchData);
  m_pchData = p;
  m_nCapacity = (int)nNew;
}

bool CString::Owns(const char* pch) const {
  // Compared as addresses: pch may belong to any other object.
  uintptr_t p = (uintptr_t)pch;
  uintptr_t first = (uintptr_t)m_pchData;
  return m_pchData != &g_chNil && p >= first && p <= first + (uintptr_t)m_nCapacity;
}

CString& CString::Append(const char* pch, int nLength) {
  if (nLength <= 0) return *this;
  if (nLength > kMaxLength - m_nLength) AfxThrowMemoryException();
  if (m_nLength + nLength > m_nCapacity) {
    // pch may point into our own buffer, which Reserve frees.
    if (Owns(pch)) {
      CString copy(pch, nLength);
      return Append(copy.m_pchData, nLength);
    }
    Reserve(m_nLength + nLength);
  }
  memmove(m_pchData + m_nLength, pch, (size_t)nLength);
  m_nLength += nLength;
  m_pchData[m_nLength] = 0;
  return *this;
}

CString& CString::operator+=(const char* psz) {
  if (psz != nullptr) Append(psz, (int)strlen(psz));
  return *this;
}

char CString::GetAt(int nIndex) const {
  return (nIndex >= 0 && nIndex < m_nLength) ? m_pchData[nIndex] : 0;
}

void CString::SetAt(int nIndex, char ch) {
  if (nIndex >= 0 && nIndex < m_nLength) m_pchData[nIndex] = ch;
}

int CString::Compare(const char* psz) const {
  return strcmp(m_pchData, psz != nullptr ? psz : "");
}

int CString::CompareNoCase(const char* psz) const {
  const char* b = psz != nullptr ? psz : "";
  int nLeftA = m_nLength, nLeftB = (int)strlen(b);
  const char* a = m_pchData;
  for (;;) {
    int nSizeA, nSizeB;
    UINT ca = AfxFoldedChar(a, nLeftA, &nSizeA);
    UINT cb = AfxFoldedChar(b, nLeftB, &nSizeB);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;  // both ended (or both hold a null)
    a += nSizeA;
    b += nSizeB;
    nLeftA -= nSizeA;
    nLeftB -= nSizeB;
  }
}

CString CString::Left(int nCount) const {
  if (nCount < 0) nCount = 0;
  if (nCount > m_nLength) nCount = m_nLength;
  return CString(m_pchData, nCount);
}

CString CString::Mid(int nFirst) const { return Mid(nFirst, m_nLength); }

CString CString::Mid(int nFirst, int nCount) const {
  if (nFirst < 0) nFirst = 0;
  if (nFirst > m_nLength) nFirst = m_nLength;
  if (nCount < 0) nCount = 0;
  if (nCount > m_nLength - nFirst) nCount = m_nLength - nFirst;
  return CString(m_pchData + nFirst, nCount);
}

CString CString::Right(int nCount) const {
  if (nCount < 0) nCount = 0;
  if (nCount > m_nLength) nCount = m_nLength;
  return CString(m_pchData + m_nLength - nCount, nCount);
}

int CString::Find(char ch) const { return Find(ch, 0); }

int CString::Find(char ch, int nStart) const {
  if (nStart < 0) nStart = 0;
  for (int i = nStart; i < m_nLength; i += AfxCharSize(m_pchData + i, m_nLength - i))
    if (m_pchData[i] == ch) return i;
  return -1;
}

int CString::Find(const char* pszSub) const { return Find(pszSub, 0); }

int CString::Find(const char* pszSub, int nStart) const {
  if (pszSub == nullptr) return -1;
  if (nStart < 0) nStart = 0;
  if (nStart > m_nLength) return -1;
  int nSub = (int)strlen(pszSub);
  // Only where a character starts: a match beginning on a second byte is none.
  for (int i = nStart; i + nSub <= m_nLength; i += AfxCharSize(m_pchData + i, m_nLength - i)) {
    if (memcmp(m_pchData + i, pszSub, (size_t)nSub) == 0) return i;
    if (i == m_nLength) break;
  }
  return -1;
}

int CString::ReverseFind(char ch) const {
  int nFound = -1;
  for (int i = 0; i < m_nLength; i += AfxCharSize(m_pchData + i, m_nLength - i))
    if (m_pchData[i] == ch) nFound = i;
  return nFound;
}

int CString::FindOneOf(const char* pszCharSet) const {
  if (pszCharSet == nullptr) return -1;
  int nSet = (int)strlen(pszCharSet);
  for (int i = 0; i < m_nLength;) {
    int nSize = AfxCharSize(m_pchData + i, m_nLength - i);
    for (int k = 0; k < nSet;) {
      int nSetSize = AfxCharSize(pszCharSet + k, nSet - k);
      if (nSetSize == nSize && memcmp(m_pchData + i, pszCharSet + k, (size_t)nSize) == 0) return i;
      k += nSetSize;
    }
    i += nSize;
  }
  return -1;
}

// Letters inside a double-byte character are not letters: they are left as
// they are.
void CString::MakeUpper() {
  for (int i = 0; i < m_nLength; i += AfxCharSize(m_pchData + i, m_nLength - i))
    m_pchData[i] = AsciiUpper(m_pchData[i]);
}

void CString::MakeLower() {
  for (int i = 0; i < m_nLength; i += AfxCharSize(m_pchData + i, m_nLength - i))
    m_pchData[i] = AsciiLower(m_pchData[i]);
}

char* CString::GetBuffer(int nMinBufLength) {
  if (nMinBufLength < m_nLength) nMinBufLength = m_nLength;
  if (nMinBufLength < 1) nMinBufLength = 1;  // never hand out the shared nil byte
  Reserve(nMinBufLength);
  // Zero the slack, so ReleaseBuffer(-1) finds the end of what the caller
  // wrote, not of whatever the allocator left there.
  memset(m_pchData + m_nLength + 1, 0, (size_t)(m_nCapacity - m_nLength));
  return m_pchData;
}

void CString::ReleaseBuffer(int nNewLength) {
  if (m_pchData == &g_chNil) return;
  if (nNewLength < 0) {
    // The caller may have filled the whole buffer without a terminator.
    m_pchData[m_nCapacity] = 0;
    nNewLength = (int)strlen(m_pchData);
  }
  if (nNewLength > m_nCapacity) nNewLength = m_nCapacity;
  m_nLength = nNewLength;
  m_pchData[m_nLength] = 0;
}

CString operator+(const CString& a, const CString& b) {
  CString s(a);
  s += b;
  return s;
}
CString operator+(const CString& a, const char* b) {
  CString s(a);
  s += b;
  return s;
}
CString operator+(const char* a, const CString& b) {
  CString s(a);
  s += b;
  return s;
}
CString operator+(const CString& a, char b) {
  CString s(a);
  s += b;
  return s;
}

bool operator==(const CString& a, const CString& b) {
  return a.GetLength() == b.GetLength() && memcmp((const char*)a, (const char*)b, (size_t)a.GetLength()) == 0;
}
bool operator==(const CString& a, const char* b) { return a.Compare(b) == 0; }
bool operator==(const char* a, const CString& b) { return b.Compare(a) == 0; }
bool operator!=(const CString& a, const CString& b) { return !(a == b); }
bool operator!=(const CString& a, const char* b) { return !(a == b); }
bool operator!=(const char* a, const CString& b) { return !(b == a); }
bool operator<(const CString& a, const CString& b) { return a.Compare(b) < 0; }

void AfxFormatString1(CString& rString, const char* pszFormat, const char* psz1) {
  // Built aside and moved in last: the format or the argument may be the
  // text of rString itself.
  CString result;
  if (pszFormat != nullptr) {
    for (const char* p = pszFormat; *p != 0; ++p) {
      if (p[0] == '%' && p[1] == '1') {
        result += psz1;
        ++p;
      } else {
        result += *p;
      }
    }
  }
  rString = static_cast<CString&&>(result);
}
