/* The program the setup installs and starts: it greets and ends. */
#include <string.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)show;
  /* Started by the setup with " /UNS": nothing to show then. */
  if (strstr(commandLine, "/UNS") != NULL) return 0;
  MessageBoxA(NULL, "Hello from a setup built with sfxkit_add_setup().", "Hello", MB_OK);
  return 0;
}
