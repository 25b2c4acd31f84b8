// Windows path syntax for the host emulation: parsing a Windows path into
// its root and components, and writing it back in canonical form. Pure
// string work: nothing here touches the file system except reading the
// working directory for relative paths.
#pragma once

#include <string>
#include <vector>

#include "platform/host/win32_api.h"

namespace sfx::host {

struct WinPath {
  bool unc = false;          // \\server\share\... instead of a drive
  char drive = 'C';          // upper-case drive letter when !unc
  std::string server;        // UNC only
  std::string share;         // UNC only, may be empty
  std::vector<std::string> parts;  // components below the root; no "." or ".."
  bool trailingSlash = false;      // the text ended in a separator
};

// Parses any Windows path into an absolute one: "C:\a", "\a" (on C:),
// "C:a" (drive-relative), "a\b" (relative to the working directory, seen as
// a Windows path), "\\server\share\a", "\\?\C:\a", "\??\C:\a". "." is
// dropped and ".." removes the previous component but never climbs above
// the root (C:\..\x is C:\x). Both "\" and "/" separate.
WinPath ParseWindowsPath(const char* path);

// "C:\a\b", "C:\" for the root, "\\server\share\a"; with a trailing "\"
// when the parsed text had one and names something below the root.
std::string FormatWindowsPath(const WinPath& path);

// The Win32 buffer convention: when text and its NUL fit in size chars,
// copies them and returns the length without the NUL; otherwise leaves the
// buffer alone and returns the size needed, NUL included.
DWORD CopyToBuffer(const std::string& text, LPSTR buffer, DWORD size);

}  // namespace sfx::host
