// VerFindFileA: where a file to be installed should go, and where a copy of
// it lies already.
//
// The recommended directory is the system directory for a shared file, else
// the application directory. An existing copy is searched for (letter case
// ignored, through the prefix's path mapping) in the application directory
// (not for a shared file), then the Windows directory, then the system
// directory. A copy is in use when some process holds a lock on it, which
// is how the emulated CreateFileA records its opens.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/host/prefix.h"
#include "platform/host/win32_api.h"

namespace {

// A directory as VerFindFileA reports it: no trailing backslash ("C:\"
// becomes "C:", so that dir + "\" + name still names the file).
std::string TrimDir(const char* dir) {
  std::string d = dir ? dir : "";
  while (!d.empty() && (d.back() == '\\' || d.back() == '/')) d.pop_back();
  return d;
}

std::string SystemDirectory() {
  char buf[MAX_PATH] = {0};
  UINT n = GetSystemDirectoryA(buf, sizeof buf);
  return n > 0 && n < sizeof buf ? TrimDir(buf) : std::string();
}

std::string WindowsDirectory(LPCSTR szWinDir) {
  if (szWinDir != nullptr && *szWinDir != 0) return TrimDir(szWinDir);
  char buf[MAX_PATH] = {0};
  UINT n = GetWindowsDirectoryA(buf, sizeof buf);
  return n > 0 && n < sizeof buf ? TrimDir(buf) : std::string();
}

bool HostStat(const std::string& windowsPath, struct stat& st) {
  std::string host = sfx::host::MapToHost(windowsPath.c_str());
  return stat(host.c_str(), &st) == 0;
}

bool FileExistsIn(const std::string& dir, LPCSTR name) {
  struct stat st;
  return !dir.empty() && HostStat(dir + "\\" + name, st) && S_ISREG(st.st_mode);
}

// Same directory: same inode when both exist, else equal text ignoring case.
bool SameDirectory(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (HostStat(a, sa) && HostStat(b, sb)) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// Another open of the file holds a lock: our fresh descriptor cannot take
// an exclusive one.
bool InUse(const std::string& windowsPath) {
  std::string host = sfx::host::MapToHost(windowsPath.c_str());
  int fd = open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool busy = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return busy;
}

// Copies text into a caller's buffer of *len chars; *len becomes the length
// written or needed, NUL included. False when it did not fit (the buffer
// then holds as much as fits, still terminated).
bool Report(const std::string& text, LPSTR buffer, PUINT len) {
  UINT need = (UINT)text.size() + 1;
  UINT have = (buffer != nullptr && len != nullptr) ? *len : 0;
  if (have > 0) {
    size_t n = need <= have ? text.size() : have - 1;
    memcpy(buffer, text.data(), n);
    buffer[n] = 0;
  }
  if (len != nullptr) *len = need;
  return need <= have;
}

}  // namespace

DWORD VerFindFileA(DWORD uFlags, LPCSTR szFileName, LPCSTR szWinDir, LPCSTR szAppDir,
                   LPSTR szCurDir, PUINT puCurDirLen, LPSTR szDestDir, PUINT puDestDirLen) {
  bool shared = (uFlags & VFFF_ISSHAREDFILE) != 0;
  std::string appDir = TrimDir(szAppDir);
  std::string sysDir = SystemDirectory();
  std::string dest = shared ? sysDir : appDir;

  std::string cur;
  if (szFileName != nullptr && *szFileName != 0) {
    const std::string candidates[] = {shared ? std::string() : appDir, WindowsDirectory(szWinDir),
                                      sysDir};
    for (const std::string& dir : candidates) {
      if (FileExistsIn(dir, szFileName)) {
        cur = dir;
        break;
      }
    }
  }

  DWORD result = 0;
  if (!cur.empty()) {
    if (!SameDirectory(cur, dest)) result |= VFF_CURNEDEST;
    if (InUse(cur + "\\" + szFileName)) result |= VFF_FILEINUSE;
  }
  bool curFits = Report(cur, szCurDir, puCurDirLen);
  bool destFits = Report(dest, szDestDir, puDestDirLen);
  if (!curFits || !destFits) result |= VFF_BUFFTOOSMALL;
  return result;
}
