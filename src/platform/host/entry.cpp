// Process entry on the host: the stub reads no command line, as on Windows.
// An emulated machine set to a code page it does not have is refused before
// anything runs.
#include <cstdio>
#include <string>

#include "platform/host/code_page.h"

int AfxWinMain();

int main() {
  unsigned codePage = 0;
  std::string source, error;
  if (!sfx::host::ReadCodePageSetting(codePage, source, error)) {
    fprintf(stderr, "sfx-stub: %s\n", error.c_str());
    return 1;
  }
  return AfxWinMain();
}
