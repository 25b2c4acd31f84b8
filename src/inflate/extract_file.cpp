#include "inflate/extract_file.h"

#include "framework/log_stream.h"
#include "inflate/inflater.h"
#include "payload/catalogue.h"
#include "payload/payload_locator.h"

void ExtractFile(CFile* pPayload, CCompFileInfo* pEntry, CString& strDir, CLogStream* pLog) {
  CString strPath = strDir;
  strPath += pEntry->m_strName;

  // Created (or truncated) before the payload is touched, so a destination
  // that cannot be written fails without reading anything.
  CFile fileOut(strPath, CFile::modeCreate | CFile::modeWrite);

  // An entry without a stream would otherwise decode whatever follows its
  // start (the next entry's stream or the catalogue) under its own name.
  if (pEntry->m_dwStart != pEntry->m_dwEnd) {
    pPayload->Seek((LONG)(pEntry->m_dwStart + GetPayloadOffset()), CFile::begin);
    CInflater inflater;
    inflater.Decode(&fileOut, pPayload);  // result not examined: see the header
  }
  fileOut.Close();

  CFileStatus status;
  status.m_ctime = pEntry->m_ctime;
  status.m_mtime = pEntry->m_mtime;
  status.m_atime = 0;  // leaves the last-access time alone
  status.m_size = 0;
  status.m_attribute = pEntry->m_attribute;
  status.m_szFullName[0] = 0;
  CFile::SetStatus(strPath, status);

  WriteLogLine(pLog, "file:", strPath);
}
