#include "install/installer.h"

#include <cstring>

#include "payload/catalogue.h"
#include "payload/open_payload.h"

CInstaller::CInstaller()
    : m_pProject(new CBuildItems), m_nPlatformIndex(1), m_bWinNT(0), m_nNextEntry(0) {
  // The executable's directory: its path up to and including the last "\".
  // Its copy is the one step that can fail (for lack of memory); the
  // destructor does not run for an engine that was never made, so the
  // project goes here.
  // The last "\" is found by character, so a double-byte character whose
  // second byte is 0x5C does not cut the path.
  char szModule[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, szModule, MAX_PATH);
  try {
    CString strModule(szModule);
    m_strModuleDir = strModule.Left(strModule.ReverseFind('\\') + 1);
  } catch (...) {
    delete m_pProject;
    throw;
  }

  // A failed query leaves the record zeroed: not the NT family.
  static_assert(sizeof(OSVERSIONINFOA) == 148, "the record the platform expects");
  OSVERSIONINFOA info;
  memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  GetVersionExA(&info);
  m_bWinNT = info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
}

CInstaller::~CInstaller() {
  delete m_pProject;
  m_pProject = nullptr;
  for (int i = 0; i < m_arrFileTable.GetSize(); ++i) delete m_arrFileTable[i];
  m_arrFileTable.RemoveAll();
  // Abort, not Close: a destructor must not throw.
  m_filePayload.Abort();
}

void CInstaller::OpenPayload() {
  ::OpenPayload(m_filePayload, m_strModuleDir, m_arrFileTable, *m_pProject);
}

CLogStream& RemovalLog() {
  // Constructed on first use and kept until the process ends. Nothing reads
  // or writes it before the run's first line, so that moment serves as well
  // as one before the application object: no line can be lost or come early.
  static CLogStream log;
  return log;
}
