// AddFontResourceA: accepts a readable TrueType/OpenType file and records
// it, one Windows path a line, in <prefix>/fontresources.txt (the host has
// no font table of its own to add it to).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/host/prefix.h"
#include "platform/host/win_error.h"
#include "platform/host/win_path.h"

namespace {

// TrueType 1.0, OpenType with CFF, Apple TrueType, TrueType collection.
bool IsFontSignature(const unsigned char* head) {
  static const unsigned char kSignatures[][4] = {
      {0x00, 0x01, 0x00, 0x00}, {'O', 'T', 'T', 'O'}, {'t', 'r', 'u', 'e'}, {'t', 't', 'c', 'f'}};
  for (const auto& sig : kSignatures)
    if (memcmp(head, sig, 4) == 0) return true;
  return false;
}

}  // namespace

int AddFontResourceA(LPCSTR lpszFilename) {
  if (lpszFilename == nullptr || lpszFilename[0] == '\0') return 0;
  // A bare name is a file of the Fonts folder, as Windows takes it.
  std::string windowsPath = lpszFilename;
  if (windowsPath.find_first_of("\\/:") == std::string::npos) windowsPath = "C:\\WINDOWS\\FONTS\\" + windowsPath;
  windowsPath = sfx::host::FormatWindowsPath(sfx::host::ParseWindowsPath(windowsPath.c_str()));
  int fd = open(sfx::host::MapToHost(windowsPath.c_str()).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  unsigned char head[4];
  ssize_t n = read(fd, head, sizeof head);
  close(fd);
  if (n != (ssize_t)sizeof head || !IsFontSignature(head)) return 0;
  std::string record = sfx::host::PrefixRoot() + "/fontresources.txt";
  FILE* f = fopen(record.c_str(), "ae");
  if (f == nullptr) return 0;
  // One write of the whole line, so lines of concurrent setups never mix.
  std::string line = windowsPath + "\n";
  bool ok = fwrite(line.data(), 1, line.size(), f) == line.size();
  ok = fclose(f) == 0 && ok;
  return ok ? 1 : 0;
}
