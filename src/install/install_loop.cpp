// The installation of one component, entry by entry: which catalogue items
// belong to it, and the finishing work ("_Del.log" and the programs).
#include "install/installer.h"
#include "install/logged_paths.h"
#include "install/paths.h"
#include "payload/catalogue.h"

namespace {

BOOL ListContains(const CIndexArray* pList, DWORD dwIndex) {
  const CDWordArray& indices = pList->m_dwIndices;
  for (int i = 0; i < indices.GetSize(); ++i)
    if (indices[i] == dwIndex) return TRUE;
  return FALSE;
}

// Starts a program: the command line goes to the platform as formed, and
// nobody waits for the program. The result is not looked at: a program that
// cannot be started is skipped.
void RunProgram(const CString& strCommand) { WinExec(strCommand, SW_SHOWNORMAL); }

}  // namespace

BOOL CInstaller::IsItemSelected(CBuildItem* pItem, int nIndex) {
  // 16-bit files are never installed: the first six characters decide,
  // compared exactly (a "Win16\" in other case is not excluded).
  if (pItem->m_strPlatformDir.Left(6) == Win16PlatformDir()) return FALSE;
  if (pItem->m_bPlatformSpecific == 0) return TRUE;
  // A project without a list for this platform selects no platform-specific
  // item (loading refuses such catalogues; this keeps the filter safe alone).
  if (m_nPlatformIndex < 0 || m_nPlatformIndex >= m_pProject->m_arrPlatforms.GetSize())
    return FALSE;
  const CIndexArray* pList =
      static_cast<const CIndexArray*>(m_pProject->m_arrPlatforms[m_nPlatformIndex]);
  return pList != nullptr && ListContains(pList, (DWORD)nIndex);
}

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
  if (!AfxEndsInBackslash(strPath)) strPath += '\\';
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
