// The setup program's application object.
#include "framework/framework.h"

class CSetupApp : public CWinApp {
 public:
  BOOL InitInstance() override;
};

BOOL CSetupApp::InitInstance() {
  Enable3dControlsStatic();
  BeginWaitCursor();
  EndWaitCursor();
  return TRUE;
}

CSetupApp theApp;
