// Installing one catalogue item: a shared file through the platform's
// version-install service, or a plain file unpacked into its destination.
#include "inflate/extract_file.h"
#include "install/font.h"
#include "install/installer.h"
#include "install/logged_paths.h"
#include "install/paths.h"
#include "install/shared_files.h"
#include "payload/catalogue.h"

namespace {

const char kFontDir[] = "%font%";

// TRUE when the installed version (MS, LS) is above the catalogue's.
BOOL InstalledIsNewer(DWORD dwInstMS, DWORD dwInstLS, const CBuildItem* pItem) {
  if (dwInstMS != pItem->m_dwVersionMS) return dwInstMS > pItem->m_dwVersionMS;
  return dwInstLS > pItem->m_dwVersionLS;
}

// The directory part of a destination: the text up to and including its
// last "\"; empty when it has none.
CString DirectoryPart(const CString& strPath) {
  int nSlash = strPath.ReverseFind('\\');
  return nSlash < 0 ? CString() : strPath.Left(nSlash + 1);
}

}  // namespace

void CInstaller::InstallItem(CBuildItem* pItem, int nIndex, CString& strInstallDir) {
  if (!IsItemSelected(pItem, nIndex)) return;

  CString strSourceDir;  // where the item's platform copy lies beside the setup
  CString strDest;       // the expanded destination
  ExpandPath(m_strModuleDir + pItem->m_strPlatformDir, strSourceDir, strInstallDir);
  int bShared = ExpandPath(pItem->m_strDestDir, strDest, strInstallDir);
  CCompFileInfo* pEntry = static_cast<CCompFileInfo*>(m_arrFileTable[nIndex]);
  CLogStream* pLog = &RemovalLog();

  if (bShared) {
    CString strCurrent, strRecommended;
    DWORD dwFlags = FindFileLocation(pItem->m_strName, strInstallDir, strCurrent, strRecommended);
    strRecommended += '\\';
    CString strInstalled = strCurrent + "\\" + pItem->m_strName;
    try {
      // No copy reported means no installed version: "\" + name would
      // otherwise name a file in the root of the current drive, whose
      // version could stop the install and whose path would be counted.
      DWORD dwMS = 0, dwLS = 0;
      if (strCurrent.IsEmpty() || !GetFileVersion(strInstalled, dwMS, dwLS)) {
        ExtractFile(&m_filePayload, pEntry, strRecommended, pLog, m_bWinNT);
        IncrementSharedDllCount(strRecommended + pItem->m_strName);
        return;
      }
      if (InstalledIsNewer(dwMS, dwLS, pItem)) return;
      IncrementSharedDllCount(strInstalled);
      if (dwFlags & VFF_CURNEDEST) {
        ExtractFile(&m_filePayload, pEntry, strRecommended, pLog, m_bWinNT);
      } else if (dwFlags & VFF_FILEINUSE) {
        ScheduleReplacement(pItem->m_strName, strInstalled, strSourceDir);
      } else {
        ExtractFile(&m_filePayload, pEntry, strRecommended, pLog, m_bWinNT);
        IncrementSharedDllCount(strRecommended + pItem->m_strName);
      }
    } catch (CArchiveException*) {
      throw;  // a damaged payload: no later stream can be trusted either
    } catch (CDirectoryException*) {
      throw;  // a directory that cannot be made ends the run
    } catch (CException* e) {
      // A shared file that cannot be installed ends only its own item.
      e->Delete();
    }
    return;
  }

  // Plain installation. The destination may lie in directories below the
  // install directory that do not exist yet ("%data%", "%inst%\sub"): make
  // them first, each with its "directory:" line, or the file could never be
  // written. A directory that cannot be made ends the run.
  CString strDestDir = DirectoryPart(strDest);
  if (!strDestDir.IsEmpty() && strDestDir != m_strChainMade) {
    CreateDirectoryChain(strDestDir, pLog);
    m_strChainMade = strDestDir;
  }

  BOOL bIsFont = pItem->m_strDestDir == kFontDir;
  BOOL bFailed = FALSE;
  try {
    ExtractFile(&m_filePayload, pEntry, strDest, pLog, m_bWinNT);
  } catch (CArchiveException*) {
    throw;  // a damaged payload ends the run, for fonts too
  } catch (CException* e) {
    if (!bIsFont) throw;
    e->Delete();
    bFailed = TRUE;
  }
  if (bIsFont) {
    if (!bFailed) InstallFont(strDest + pItem->m_strName);
    return;
  }
  if (pItem->m_strName == m_pProject->m_strMainProgram) return;
  CString strKey = pItem->m_strSourcePath + pItem->m_strName;
  if (IsPathLogged(strKey)) return;
  AddLoggedPath(strKey);
  WriteLogLine(pLog, "path:", strKey, strDest + pItem->m_strName);
}
