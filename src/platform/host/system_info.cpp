// Facts about the emulated machine: the Windows version and family, the
// running module's path, the Windows, system and temporary folders, and
// unique temporary file names.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/host/made_folders.h"
#include "platform/host/prefix.h"
#include "platform/platform.h"
#include "platform/host/win_error.h"
#include "platform/host/win_path.h"

using namespace sfx::host;

namespace {

// The value GetModuleHandleA(NULL) gives: Windows' customary image base.
HMODULE const kMainModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000));

constexpr DWORD kVersionInfoSize = sizeof(OSVERSIONINFOA);  // 148
constexpr DWORD kVersionInfoExSize = 156;                   // OSVERSIONINFOEXA

std::string SystemDirectory() {
  return CurrentFamily() == Family::NT ? "C:\\WINDOWS\\SYSTEM32" : "C:\\WINDOWS\\SYSTEM";
}

std::string ModulePath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  buf[n] = '\0';
  return MapToWindows(buf);
}

}  // namespace

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  if (info == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  DWORD size = info->dwOSVersionInfoSize;
  if (size != kVersionInfoSize && size != kVersionInfoExSize) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  memset(reinterpret_cast<char*>(info) + sizeof(DWORD), 0, sizeof(OSVERSIONINFOA) - sizeof(DWORD));
  if (CurrentFamily() == Family::NT) {
    // Windows XP, Service Pack 3.
    info->dwMajorVersion = 5;
    info->dwMinorVersion = 1;
    info->dwBuildNumber = 2600;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    strcpy(info->szCSDVersion, "Service Pack 3");
  } else {
    // Windows 95: the family keeps the version in the build number's high word.
    info->dwMajorVersion = 4;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = 0x040003B6;
    info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
  }
  return TRUE;
}

HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
  if (lpModuleName == nullptr) return kMainModule;
  SetLastError(ERROR_FILE_NOT_FOUND);
  return nullptr;
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  if (hModule != nullptr && hModule != kMainModule) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  std::string path = ModulePath();
  if (path.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  if (lpFilename == nullptr || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() + 1 > nSize) {
    // Truncated and terminated, the result the size of the buffer.
    memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  memcpy(lpFilename, path.c_str(), path.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return (DWORD)path.size();
}

DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  return CopyToBuffer("C:\\TEMP\\", lpBuffer, nBufferLength);
}

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return CopyToBuffer("C:\\WINDOWS", lpBuffer, uSize);
}

UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return CopyToBuffer(SystemDirectory(), lpBuffer, uSize);
}

void Sleep(DWORD dwMilliseconds) {
  struct timespec delay;
  delay.tv_sec = (time_t)(dwMilliseconds / 1000);
  delay.tv_nsec = (long)(dwMilliseconds % 1000) * 1000000L;
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName) {
  if (lpPathName == nullptr || lpTempFileName == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  std::string base = lpPathName;
  if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '\\';
  size_t folderLen = base.size();
  if (lpPrefixString != nullptr) base.append(lpPrefixString, strnlen(lpPrefixString, 3));
  // The names lie straight in the folder unless the prefix holds a separator.
  bool plainLeaf = base.find_first_of("\\/", folderLen) == std::string::npos;
  // Longest result: base, four hex digits, ".tmp" and the NUL.
  if (base.size() + 4 + 4 + 1 > MAX_PATH) return FailWith(ERROR_FILENAME_EXCED_RANGE);
  MappedPath folder(lpPathName);
  struct stat folderSt;
  if (folder.Stat(&folderSt) != 0 || !S_ISDIR(folderSt.st_mode)) return FailWith(ERROR_DIRECTORY);

  auto nameFor = [&](unsigned n) {
    char hex[16];
    snprintf(hex, sizeof hex, "%X", n);
    return base + hex + ".tmp";
  };
  if (uUnique != 0) {
    // A given number only forms the name; nothing is created.
    std::string name = nameFor(uUnique & 0xFFFF);
    memcpy(lpTempFileName, name.c_str(), name.size() + 1);
    return uUnique;
  }
  // Start somewhere that differs between processes and moments, then walk
  // the numbers; O_EXCL makes the first free name ours even against other
  // processes doing the same.
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  static const unsigned s_pidMix = (unsigned)getpid() * 2654435761u;
  unsigned start = (unsigned)((now.tv_nsec / 1000) ^ s_pidMix) & 0xFFFF;
  for (unsigned i = 0; i < 0x10000; ++i) {
    unsigned n = (start + i) & 0xFFFF;
    if (n == 0) continue;
    std::string name = nameFor(n);
    // A name in another letter case is taken too. In a folder this process
    // made, its listing tells that without a look at the disk.
    std::string host, match;
    std::string leaf = name.substr(folderLen);
    if (plainLeaf && LookUpMadeFolder(folder.host(), folderSt, leaf, match)) {
      if (!match.empty()) continue;
      host = folder.host() + "/" + leaf;
    } else {
      host = MapToHost(name.c_str());
    }
    int fd = open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      NoteMade(host, false);
      memcpy(lpTempFileName, name.c_str(), name.size() + 1);
      SetLastError(ERROR_SUCCESS);
      return n;
    }
    if (errno != EEXIST) return FailErrno();
    // Someone else was there first: the folder has changed since it was
    // looked at.
    if (stat(folder.host().c_str(), &folderSt) != 0) return FailErrno();
  }
  return FailWith(ERROR_FILE_EXISTS);
}

// The emulation implements the system libraries' functions itself.
BOOL SfxLoadSystemLibraries(char* pszMissing, UINT cchMissing) {
  if (pszMissing != nullptr && cchMissing > 0) pszMissing[0] = 0;
  return TRUE;
}
