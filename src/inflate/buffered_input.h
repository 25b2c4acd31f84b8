// CBufferedInput: the decoder's byte source, a 4,096-byte buffer over the
// input file.
#pragma once

#include "framework/file.h"

class CBufferedInput {
 public:
  enum { kBufferSize = 4096 };

  CBufferedInput();
  ~CBufferedInput();
  CBufferedInput(const CBufferedInput&) = delete;
  CBufferedInput& operator=(const CBufferedInput&) = delete;

  // Takes the input file (not owned) and allocates the zero-filled buffer.
  // FALSE when the file is null or the buffer cannot be allocated.
  BOOL Attach(CFile* pFile);
  // Releases the buffer and clears every field.
  void Detach();

  // Refills the empty buffer with the next 4,096-byte read of the input.
  // FALSE when the input has ended; an input that once returned 0 bytes is
  // not read again, so bits supplied past its end stay past its end.
  BOOL Refill();

  BYTE* m_pBuffer;
  const BYTE* m_pNext;
  UINT m_nAvail;
  CFile* m_pFile;
  BOOL m_bEnded;  // a read returned 0 bytes
};
