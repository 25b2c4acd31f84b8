// The installation of one component, entry by entry, and the finishing work:
// "_Del.log" and the programs.
#include "install/expand_path.h"
#include "install/installer.h"
#include "install/run_program.h"
#include "payload/catalogue.h"

void CInstaller::Install(int nComponent, CString& strInstallDir) {
  BeginInstall();
  while (InstallNext(nComponent, strInstallDir) != 0) {
  }
}

void CInstaller::BeginInstall() {
  WriteLogLine(&RemovalLog(), "project:", m_pProject->m_strProject);
  WriteLogLine(&RemovalLog(), "source:", m_strModuleDir);
  m_nNextEntry = 0;
}

int CInstaller::InstallNext(int nComponent, CString& strInstallDir) {
  const CIndexArray* pList = static_cast<const CIndexArray*>(m_pProject->m_arrComponents[nComponent]);
  int n = pList != nullptr ? pList->m_dwIndices.GetSize() : 0;
  // One step installs at most one file; rejected entries before it are
  // skipped in the same step.
  while (m_nNextEntry < n) {
    DWORD dwIndex = pList->m_dwIndices[m_nNextEntry];
    CBuildItem* pItem = static_cast<CBuildItem*>(m_pProject->m_arrItems[(int)dwIndex]);
    ++m_nNextEntry;
    if (IsItemSelected(pItem, (int)dwIndex)) {
      InstallItem(pItem, (int)dwIndex, strInstallDir);
      break;
    }
  }
  if (m_nNextEntry < n) return 1;
  Finish(nComponent, strInstallDir);
  return 0;
}

namespace {

// The main program's path: in the Windows directory or the install directory.
CString MainProgramPath(const CBuildItems* pProject, const CString& strInstallDir) {
  if (pProject->m_wMainInWindowsDir == 0) return strInstallDir + pProject->m_strMainProgram;
  CString strPath;
  char* p = strPath.GetBuffer(MAX_PATH);
  UINT n = GetWindowsDirectoryA(p, MAX_PATH);
  strPath.ReleaseBuffer(n < MAX_PATH ? (int)n : 0);
  if (strPath.IsEmpty() || strPath[strPath.GetLength() - 1] != '\\') strPath += '\\';
  return strPath + pProject->m_strMainProgram;
}

}  // namespace

void CInstaller::Finish(int nComponent, CString& strInstallDir) {
  CString strMain = MainProgramPath(m_pProject, strInstallDir);
  CLogStream* pLog = &RemovalLog();
  WriteLogLine(pLog, "directory:", strInstallDir);

  // The whole log goes to disk before the first program starts: each Write
  // hands its bytes to the system, so the starting programs can read them.
  // A log file that cannot be created or written is not reported.
  CString strLogPath = strInstallDir + "_Del.log";
  CStdioFile file;
  if (file.Open(strLogPath, CFile::modeCreate | CFile::modeWrite | CFile::shareDenyNone)) {
    try {
      file.WriteText(pLog->GetText(), (UINT)pLog->GetLength());
    } catch (CException* e) {
      e->Delete();
    }
  }

  // Programs of this component, from the front of the list, until the first
  // of another component.
  const CObArray& programs = m_pProject->m_arrPrograms;
  for (int i = 0; i < programs.GetSize(); ++i) {
    const CExecutableItem* pProgram = static_cast<const CExecutableItem*>(programs[i]);
    if (pProgram->m_nComponent != (DWORD)nComponent) break;
    CString strDir;
    ExpandPath(pProgram->m_strDir, strDir, m_strModuleDir);
    RunProgram(strDir + pProgram->m_strName);
  }

  // A further command from a message template would be started here when the
  // main program lies in the Windows directory; the setup defines no such
  // template, so nothing is started for it.
  RunProgram(strMain + " /UNS");
  file.Abort();
}
