#include "framework/winapp.h"

#include "framework/exceptions.h"
#include "framework/string_table.h"

namespace {

CWinApp* g_pApp = nullptr;

// The executable's file name without directory and extension.
CString ModuleBaseName() {
  CString path;
  char* p = path.GetBuffer(MAX_PATH);
  DWORD n = GetModuleFileNameA(nullptr, p, MAX_PATH);
  path.ReleaseBuffer(n < MAX_PATH ? (int)n : MAX_PATH);
  int slash = path.ReverseFind('\\');
  CString name = path.Mid(slash + 1);
  int dot = name.ReverseFind('.');
  return dot >= 0 ? name.Left(dot) : name;
}

}  // namespace

CWinApp::CWinApp(const char* lpszAppName)
    : m_pszAppName(lpszAppName),
      m_pMainWnd(nullptr),
      m_nExitCode(0),
      m_hcurWaitCursorRestore(nullptr),
      m_nWaitCursorCount(0) {
  g_pApp = this;
}

CWinApp::~CWinApp() {
  if (g_pApp == this) g_pApp = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::Run() {
  // No main window: the framework posts the quit message (code 0) and the
  // loop ends on it at once.
  if (m_pMainWnd == nullptr) m_nExitCode = 0;
  return ExitInstance();
}

int CWinApp::ExitInstance() { return m_nExitCode; }

void CWinApp::BeginWaitCursor() {
  HCURSOR hcur = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  if (m_nWaitCursorCount++ == 0) m_hcurWaitCursorRestore = hcur;
}

void CWinApp::EndWaitCursor() {
  if (m_nWaitCursorCount == 0) return;
  if (--m_nWaitCursorCount == 0) SetCursor(m_hcurWaitCursorRestore);
}

CWinApp* AfxGetApp() { return g_pApp; }

const char* AfxGetAppName() {
  return (g_pApp != nullptr && g_pApp->m_pszAppName != nullptr) ? g_pApp->m_pszAppName : "";
}

int AfxWinMain() {
  CWinApp* pApp = AfxGetApp();
  if (pApp == nullptr) return -1;
  if (pApp->m_pszAppName == nullptr) {
    // The string table's title entry, else the executable's name.
    if (!AfxLoadString(AFX_IDS_APP_TITLE, pApp->m_strAppName))
      pApp->m_strAppName = ModuleBaseName();
    pApp->m_pszAppName = pApp->m_strAppName;
  }
  // The system libraries first: without one of them nothing is done and the
  // file error box names what is missing.
  char szMissing[MAX_PATH + 64];
  if (!SfxLoadSystemLibraries(szMissing, sizeof szMissing)) {
    CFileException e(CFileException::fileNotFound, (LONG)GetLastError(), szMissing);
    e.ReportError(MB_OK | MB_ICONEXCLAMATION);
    return pApp->ExitInstance();
  }
  if (!pApp->InitInstance()) return pApp->ExitInstance();
  return pApp->Run();
}
