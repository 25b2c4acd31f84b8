// Process entry of a Windows GUI executable built on the framework; called
// by the start-up code (startup.cpp).
#include "platform/platform.h"

int AfxWinMain();

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return AfxWinMain(); }
