/* A Windows program that keeps a file in use, as a running program keeps
 * its DLL: others may still read the file, nobody may write, rename or delete
 * it. It opens the file so, creates the ready flag, and holds the file until
 * the release flag appears (or a minute has passed).
 * Usage: hold_file FILE READY-FLAG RELEASE-FLAG */
#include <windows.h>

int main(int argc, char** argv) {
  HANDLE file, flag;
  int waited;

  if (argc != 4) return 2;
  file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  flag = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (flag == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(flag);
  for (waited = 0; waited < 60000; waited += 20) {
    if (GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(20);
  }
  CloseHandle(file);
  return 0;
}
