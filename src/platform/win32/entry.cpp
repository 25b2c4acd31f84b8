// Process entry of a Windows GUI executable built on the framework.
#include "platform/platform.h"

int AfxWinMain();

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  SfxRestrictLibrarySearch();
  return AfxWinMain();
}
