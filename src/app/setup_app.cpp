// The setup program: one application object whose InitInstance performs the
// whole installation and lets the process end with exit code 0.
#include <new>

#include "framework/framework.h"
#include "install/installer.h"

class CSetupApp : public CWinApp {
 public:
  BOOL InitInstance() override;
};

namespace {

// The fresh install directory, with its trailing "\": a unique name from the
// platform (prefix "cc", reserved as an empty file), replaced by a directory.
CString MakeInstallDirectory() {
  char szTempPath[MAX_PATH] = {};
  DWORD n = GetTempPathA(MAX_PATH, szTempPath);
  CString strDir;
  char* p = strDir.GetBuffer(MAX_PATH);
  p[0] = 0;
  UINT uUnique = (n > 0 && n < MAX_PATH) ? GetTempFileNameA(szTempPath, "cc", 0, p) : 0;
  strDir.ReleaseBuffer();
  // Without a temporary name the directory would become the root of the
  // drive; end the run with an error instead.
  if (uUnique == 0 || strDir.IsEmpty()) {
    DWORD dwError = GetLastError();
    AfxThrowFileException(dwError == NO_ERROR ? CFileException::badPath
                                              : CFileException::OsErrorToException((LONG)dwError),
                          (LONG)dwError, szTempPath);
  }
  _unlink(strDir);
  _mkdir(strDir);
  strDir += '\\';
  return strDir;
}

}  // namespace

BOOL CSetupApp::InitInstance() {
  Enable3dControlsStatic();
  BeginWaitCursor();
  CInstaller* pInstaller = nullptr;
  try {
    pInstaller = new CInstaller;
    pInstaller->OpenPayload();
    CString strInstallDir = MakeInstallDirectory();
    pInstaller->Install(0, strInstallDir);
  } catch (CException* e) {
    e->ReportError(MB_OK | MB_ICONEXCLAMATION);
    e->Delete();
  } catch (const std::bad_alloc&) {
    CMemoryException e;
    e.ReportError(MB_OK | MB_ICONEXCLAMATION);
  } catch (...) {
    // The engine throws nothing else; should anything else come, the run
    // still ends and the process exits normally.
  }
  // The engine is released whether or not the run ended early; nothing it
  // did is undone.
  delete pInstaller;
  EndWaitCursor();
  return TRUE;
}

CSetupApp theApp;
