// CWinApp: the application object and the process's run.
//
// One static object of a class derived from CWinApp exists per program. The
// process entry (WinMain on Windows, main on the host, both in platform/)
// calls AfxWinMain, which names the application after the string table's
// title entry or, without one, after the executable (its file name without
// extension), calls InitInstance and then Run. With no
// main window Run ends at once and the process exits with ExitInstance's code.
#pragma once

#include "framework/cstring.h"
#include "framework/object.h"

class CWinApp : public CObject {
 public:
  // lpszAppName NULL: the name is taken from the executable's file name.
  explicit CWinApp(const char* lpszAppName = nullptr);
  ~CWinApp() override;

  virtual BOOL InitInstance();
  // The message loop: with no main window it quits at once with code 0.
  virtual int Run();
  virtual int ExitInstance();

  // The hourglass while the run lasts.
  void BeginWaitCursor();
  void EndWaitCursor();
  // The three-dimensional look of dialogs; nothing to do on today's systems.
  BOOL Enable3dControlsStatic() { return TRUE; }

  const char* m_pszAppName;
  void* m_pMainWnd;

 protected:
  int m_nExitCode;  // the quit message's code

 private:
  CString m_strAppName;
  HCURSOR m_hcurWaitCursorRestore;
  int m_nWaitCursorCount;
  friend int AfxWinMain();
};

CWinApp* AfxGetApp();
// The application's name, or the empty string before there is one.
const char* AfxGetAppName();
// The body of the process entry; returns the exit code.
int AfxWinMain();
