// Parsing and canonical formatting of Windows paths (see win_path.h), and
// GetFullPathNameA, which is exactly that work exposed as an API.
#include "platform/host/win_path.h"

#include <unistd.h>

#include <cctype>
#include <cstring>

#include "platform/host/code_page.h"
#include "platform/host/prefix.h"

namespace sfx::host {
namespace {

bool IsSep(char c) { return c == '\\' || c == '/'; }

// Splits text into components and applies them to parts: "." vanishes,
// ".." pops (never below the root).
void AppendComponents(const char* text, WinPath& out) {
  const char* p = text;
  while (*p) {
    while (IsSep(*p)) ++p;
    const char* start = p;
    while (*p && !IsSep(*p)) ++p;
    std::string comp(start, (size_t)(p - start));
    if (comp.empty() || comp == ".") continue;
    if (comp == "..") {
      if (!out.parts.empty()) out.parts.pop_back();
      continue;
    }
    out.parts.push_back(comp);
  }
}

std::string CurrentDirectoryAsWindows() {
  char buf[4096];
  if (getcwd(buf, sizeof buf) == nullptr) return "Z:\\";
  return MapToWindows(buf);
}

void ParseUnc(const char* rest, WinPath& out) {
  out.unc = true;
  const char* p = rest;
  const char* s = p;
  while (*p && !IsSep(*p)) ++p;
  out.server.assign(s, (size_t)(p - s));
  while (IsSep(*p)) ++p;
  s = p;
  while (*p && !IsSep(*p)) ++p;
  out.share.assign(s, (size_t)(p - s));
  AppendComponents(p, out);
}

}  // namespace

WinPath ParseWindowsPath(const char* windowsPath) {
  WinPath out;
  // Parsed in the host's form of the names: on a double-byte code page a
  // second byte 0x5C is part of its character, not a "\", and UTF-8 holds no
  // such byte.
  std::string hostText = HostName(windowsPath != nullptr ? windowsPath : "");
  const char* path = hostText.c_str();
  size_t len = strlen(path);
  out.trailingSlash = len > 0 && IsSep(path[len - 1]);

  // Namespace prefixes: "\\?\" and "\??\" wrap an ordinary path, and
  // "\\?\UNC\server\share" a UNC one; "\\.\" is treated the same way.
  if ((strncmp(path, "\\\\?\\", 4) == 0 || strncmp(path, "\\??\\", 4) == 0 ||
       strncmp(path, "\\\\.\\", 4) == 0)) {
    path += 4;
    if (strncasecmp(path, "UNC\\", 4) == 0) {
      ParseUnc(path + 4, out);
      return out;
    }
  }
  if (IsSep(path[0]) && IsSep(path[1])) {
    ParseUnc(path + 2, out);
    return out;
  }
  if (isalpha((unsigned char)path[0]) && path[1] == ':') {
    out.drive = (char)toupper((unsigned char)path[0]);
    const char* rest = path + 2;
    if (!IsSep(rest[0])) {
      // Drive-relative: against the working directory when it lies on that
      // drive, else against the drive's root.
      WinPath cwd = ParseWindowsPath(CurrentDirectoryAsWindows().c_str());
      if (!cwd.unc && cwd.drive == out.drive) out.parts = cwd.parts;
    }
    AppendComponents(rest, out);
    return out;
  }
  if (IsSep(path[0])) {
    out.drive = 'C';
    AppendComponents(path, out);
    return out;
  }
  WinPath cwd = ParseWindowsPath(CurrentDirectoryAsWindows().c_str());
  cwd.trailingSlash = out.trailingSlash;
  AppendComponents(path, cwd);
  return cwd;
}

std::string FormatWindowsPath(const WinPath& path) {
  std::string s;
  if (path.unc) {
    s = "\\\\" + path.server;
    if (!path.share.empty()) s += "\\" + path.share;
  } else {
    s += path.drive;
    s += ':';
  }
  for (const std::string& part : path.parts) s += "\\" + part;
  if (!path.unc && path.parts.empty())
    s += "\\";
  else if (path.trailingSlash && !path.parts.empty())
    s += "\\";
  return WindowsName(s);
}

DWORD CopyToBuffer(const std::string& text, LPSTR buffer, DWORD size) {
  if (buffer == nullptr || text.size() + 1 > size) return (DWORD)text.size() + 1;
  memcpy(buffer, text.c_str(), text.size() + 1);
  return (DWORD)text.size();
}

}  // namespace sfx::host

using namespace sfx::host;

DWORD GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer,
                       LPSTR* lpFilePart) {
  if (lpFileName == nullptr || lpFileName[0] == '\0') {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  std::string full = FormatWindowsPath(ParseWindowsPath(lpFileName));
  DWORD n = CopyToBuffer(full, lpBuffer, nBufferLength);
  if (n < nBufferLength && lpFilePart != nullptr) {
    // The file part is the last component, none when the path ends in "\".
    char* slash = strrchr(lpBuffer, '\\');
    *lpFilePart = (slash != nullptr && slash[1] != '\0') ? slash + 1 : nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return n;
}
