#include "inflate/extract_file.h"

#include "framework/log_stream.h"
#include "framework/whole_file.h"
#include "inflate/inflater.h"
#include "payload/catalogue.h"
#include "payload/payload_locator.h"

void ExtractFile(CFile* pPayload, CCompFileInfo* pEntry, CString& strDir, CLogStream* pLog, BOOL bWinNT) {
  CString strPath = strDir;
  strPath += pEntry->m_strName;

  // Checked and begun before the payload is touched, so a destination that
  // cannot be written fails without reading anything.
  CWholeFile fileOut(strPath, bWinNT);

  // An entry without a stream would otherwise decode whatever follows its
  // start (the next entry's stream or the catalogue) under its own name.
  if (pEntry->m_dwStart != pEntry->m_dwEnd) {
    pPayload->Seek((LONG)(pEntry->m_dwStart + GetPayloadOffset()), CFile::begin);
    CInflater inflater;
    // A stream that does not decode means a damaged payload: the file is
    // not put in place, and nothing later in the payload can be trusted.
    if (!inflater.Decode(&fileOut, pPayload))
      AfxThrowArchiveException(CArchiveException::badIndex, pPayload->GetFilePath());
  }

  CFileStatus status;
  status.m_ctime = pEntry->m_ctime;
  status.m_mtime = pEntry->m_mtime;
  status.m_atime = 0;  // leaves the last-access time alone
  status.m_size = 0;
  status.m_attribute = pEntry->m_attribute;
  status.m_szFullName[0] = 0;
  fileOut.Commit(&status);

  WriteLogLine(pLog, "file:", strPath);
}
