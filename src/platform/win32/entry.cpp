// Process entry of a Windows GUI executable built on the framework.
#include <windows.h>

int AfxWinMain();

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return AfxWinMain(); }
