// CString: the framework's 8-bit string.
//
// Text in the platform's ANSI code page. The buffer is owned and always
// NUL-terminated; GetLength counts bytes (a double-byte character is two
// bytes). Searches and the case-blind comparison step by character: a lead
// byte of the code page and the byte after it are one unit, so a second byte
// 0x5C is never taken for a "\". No standard-library strings: the stub
// links this.
#pragma once

#include "platform/platform.h"

class CString {
 public:
  CString();
  CString(const CString& other);
  CString(CString&& other) noexcept;
  CString(const char* psz);            // NULL gives the empty string
  CString(const char* pch, int nLength);
  CString(char ch, int nRepeat = 1);
  ~CString();

  CString& operator=(const CString& other);
  CString& operator=(CString&& other) noexcept;
  CString& operator=(const char* psz);
  CString& operator=(char ch);

  int GetLength() const { return m_nLength; }
  bool IsEmpty() const { return m_nLength == 0; }
  void Empty();

  operator const char*() const { return m_pchData; }
  const char* GetString() const { return m_pchData; }
  char GetAt(int nIndex) const;
  char operator[](int nIndex) const { return GetAt(nIndex); }
  void SetAt(int nIndex, char ch);

  CString& operator+=(const CString& s) { return Append(s.m_pchData, s.m_nLength); }
  CString& operator+=(const char* psz);
  CString& operator+=(char ch) { return Append(&ch, 1); }
  CString& Append(const char* pch, int nLength);

  // Byte-exact comparison, strcmp-like result.
  int Compare(const char* psz) const;
  // Letters compare without regard to case (ASCII letters, and the code
  // page's full-width Latin letters); every other character exactly.
  int CompareNoCase(const char* psz) const;

  CString Left(int nCount) const;
  CString Mid(int nFirst) const;
  CString Mid(int nFirst, int nCount) const;
  CString Right(int nCount) const;

  // Index of the first / last occurrence, or -1.
  int Find(char ch) const;
  int Find(char ch, int nStart) const;
  int Find(const char* pszSub) const;
  int Find(const char* pszSub, int nStart) const;
  int ReverseFind(char ch) const;
  // Index of the first character that is one of the set's characters, or -1.
  int FindOneOf(const char* pszCharSet) const;

  void MakeUpper();
  void MakeLower();

  // Buffer access for platform calls that fill a buffer: GetBuffer gives at
  // least nMinBufLength + 1 writable bytes holding the current text;
  // ReleaseBuffer(-1) takes the length up to the first NUL, which is found
  // within the buffer even when the caller filled all of it. Allocation
  // failure or a length beyond the largest string throws CMemoryException.
  char* GetBuffer(int nMinBufLength);
  void ReleaseBuffer(int nNewLength = -1);

  // printf-style formatting (the C library's vsnprintf).
  void Format(const char* pszFormat, ...);

 private:
  void Reserve(int nCapacity);  // capacity excludes the terminating NUL
  bool Owns(const char* pch) const;  // pch points into this string's buffer

  char* m_pchData;
  int m_nLength;
  int m_nCapacity;
};

// TRUE when the last character, not merely the last byte, is "\\" (a
// double-byte character may end in 0x5C).
BOOL AfxEndsInBackslash(const CString& str);

// The size in bytes (1 or 2) of the character at pch, of which nLeft bytes
// remain: 2 for a lead byte of the code page followed by a byte that can be
// a second byte (0x40 and above). A lone lead byte at the end is a character
// of its own.
int AfxCharSize(const char* pch, int nLeft);

// The character at pch (nLeft bytes remain) as one number, lead byte in the
// high byte, with letter case folded: ASCII letters and the code page's
// full-width Latin letters to lower case. *pnSize gets its size in bytes.
UINT AfxFoldedChar(const char* pch, int nLeft, int* pnSize);

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, const char* b);
CString operator+(const char* a, const CString& b);
CString operator+(const CString& a, char b);

bool operator==(const CString& a, const CString& b);
bool operator==(const CString& a, const char* b);
bool operator==(const char* a, const CString& b);
bool operator!=(const CString& a, const CString& b);
bool operator!=(const CString& a, const char* b);
bool operator!=(const char* a, const CString& b);
bool operator<(const CString& a, const CString& b);

// Replaces "%1" in the format with the argument (the framework's
// AfxFormatString1; a missing argument puts nothing in its place).
void AfxFormatString1(CString& rString, const char* pszFormat, const char* psz1);
