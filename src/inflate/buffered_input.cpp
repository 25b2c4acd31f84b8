#include "inflate/buffered_input.h"

#include "inflate/inflate_alloc.h"

CBufferedInput::CBufferedInput()
    : m_pBuffer(nullptr), m_pNext(nullptr), m_nAvail(0), m_pFile(nullptr), m_bEnded(FALSE) {}

CBufferedInput::~CBufferedInput() { Detach(); }

BOOL CBufferedInput::Attach(CFile* pFile) {
  if (pFile == nullptr) return FALSE;
  BYTE* pBuffer = (BYTE*)InflateAlloc(kBufferSize);
  if (pBuffer == nullptr) return FALSE;
  InflateFree(m_pBuffer);  // a second Attach replaces the first
  m_pBuffer = pBuffer;
  m_pNext = pBuffer;
  m_nAvail = 0;
  m_pFile = pFile;
  m_bEnded = FALSE;
  return TRUE;
}

void CBufferedInput::Detach() {
  InflateFree(m_pBuffer);
  m_pBuffer = nullptr;
  m_pNext = nullptr;
  m_nAvail = 0;
  m_pFile = nullptr;
  m_bEnded = FALSE;
}

BOOL CBufferedInput::Refill() {
  if (m_bEnded) return FALSE;
  m_pNext = m_pBuffer;
  UINT nRead = m_pFile->Read(m_pBuffer, kBufferSize);
  // A file that claims more than was asked for is held to the buffer's size.
  m_nAvail = nRead > kBufferSize ? (UINT)kBufferSize : nRead;
  if (m_nAvail == 0) m_bEnded = TRUE;
  return m_nAvail != 0;
}
