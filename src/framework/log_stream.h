// CLogStream: an in-memory text stream that is only ever appended to, and
// the line writer of the removal log.
//
// The engine keeps one (RemovalLog in install/installer.h). Every step that
// changes the system appends one line: the kind word with its colon
// ("project:", "source:", "directory:", "file:", "path:"), the text, and a
// line feed. Finish writes the whole text into "_Del.log" (with CR LF line
// ends).
#pragma once

#include "framework/cstring.h"

class CLogStream {
 public:
  CLogStream();
  ~CLogStream();
  CLogStream(const CLogStream&) = delete;
  CLogStream& operator=(const CLogStream&) = delete;

  // Appends bytes; throws the framework's memory exception when the buffer
  // cannot grow.
  void Write(const char* pch, int nCount);
  void Write(const char* psz);
  // Nothing to do for a memory stream; kept so writers read like the steps.
  void Flush() {}

  // Everything written so far, NUL-terminated.
  const char* GetText() const { return m_pBuffer != nullptr ? m_pBuffer : ""; }
  int GetLength() const { return m_nLength; }

 private:
  char* m_pBuffer;
  int m_nLength;
  int m_nCapacity;
};

// Writes one line: pszKind (with its colon), the text, a line feed; then
// flushes. A null log writes nothing.
void WriteLogLine(CLogStream* pLog, const char* pszKind, const char* pszText);
// A "path:" line: the two texts separated by one tab.
void WriteLogLine(CLogStream* pLog, const char* pszKind, const char* pszText1,
                  const char* pszText2);
