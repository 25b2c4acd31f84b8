#include "framework/log_stream.h"

#include <cstdlib>
#include <cstring>

#include "framework/exceptions.h"

CLogStream::CLogStream() : m_pBuffer(nullptr), m_nLength(0), m_nCapacity(0) {}

CLogStream::~CLogStream() { free(m_pBuffer); }

void CLogStream::Write(const char* pch, int nCount) {
  if (nCount <= 0) return;
  if (nCount > 0x7FFFFFFE - m_nLength) AfxThrowMemoryException();
  if (m_nLength + nCount + 1 > m_nCapacity) {
    long long nNew = (long long)m_nCapacity * 2;
    if (nNew < m_nLength + nCount + 1) nNew = m_nLength + nCount + 1;
    if (nNew < 4096) nNew = 4096;
    if (nNew > 0x7FFFFFFF) nNew = 0x7FFFFFFF;
    char* p = (char*)realloc(m_pBuffer, (size_t)nNew);
    if (p == nullptr) AfxThrowMemoryException();
    m_pBuffer = p;
    m_nCapacity = (int)nNew;
  }
  memcpy(m_pBuffer + m_nLength, pch, (size_t)nCount);
  m_nLength += nCount;
  m_pBuffer[m_nLength] = 0;
}

void CLogStream::Write(const char* psz) {
  if (psz != nullptr) Write(psz, (int)strlen(psz));
}

void WriteLogLine(CLogStream* pLog, const char* pszKind, const char* pszText) {
  if (pLog == nullptr) return;
  pLog->Write(pszKind);
  pLog->Write(pszText);
  pLog->Write("\n", 1);
  pLog->Flush();
}

void WriteLogLine(CLogStream* pLog, const char* pszKind, const char* pszText1,
                  const char* pszText2) {
  if (pLog == nullptr) return;
  pLog->Write(pszKind);
  pLog->Write(pszText1);
  pLog->Write("\t", 1);
  pLog->Write(pszText2);
  pLog->Write("\n", 1);
  pLog->Flush();
}
