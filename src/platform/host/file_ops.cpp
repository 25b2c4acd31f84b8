// Calls on files and folders by name: attributes, deletion, folders, short
// names, and the C run-time's _mkdir/_unlink/_rmdir.
//
// The attribute byte is authoritative for read-only: the tests and the tool
// run as root, whom permission bits do not stop, so deletion and writing
// check the byte themselves. Setting read-only also clears the write bits,
// so other host programs see it too.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/host/file_handle.h"
#include "platform/host/file_meta.h"
#include "platform/host/prefix.h"
#include "platform/host/win_error.h"
#include "platform/host/win_path.h"

using namespace sfx::host;

namespace {

// Why a name cannot be deleted as a file; ERROR_SUCCESS when it can. On
// success fd holds an exclusive lock on it (closed by the caller after the
// unlink), so no opener slips in between the check and the removal.
DWORD CheckDeletable(const std::string& path, int& fd) {
  fd = -1;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT ? MissingFileError(path) : ErrnoToWin32(errno);
  if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  if (S_ISLNK(st.st_mode)) return ERROR_SUCCESS;  // removing a link touches no file
  if (AttributesOf(st, ReadMeta(-1, path, false)) & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
  fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd >= 0 && !LockForShare(fd, 0)) {
    close(fd);
    fd = -1;
    return ERROR_SHARING_VIOLATION;
  }
  return ERROR_SUCCESS;
}

DWORD DeleteHostFile(const std::string& path) {
  int fd;
  DWORD err = CheckDeletable(path, fd);
  if (err != ERROR_SUCCESS) return err;
  ForgetMeta(path);
  int rc = unlink(path.c_str());
  int saved = errno;
  if (rc == 0) NoteGone(path);
  if (fd >= 0) close(fd);
  return rc == 0 ? ERROR_SUCCESS : ErrnoToWin32(saved);
}

int ErrnoForWin32(DWORD err) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    default: return EACCES;  // the C run-time's answer for refusals
  }
}

}  // namespace

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  if (lpFileName == nullptr || lpFileName[0] == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  MappedPath mapped(lpFileName);
  struct stat st;
  int err = mapped.Stat(&st);
  if (err != 0) {
    SetLastError(err == ENOENT ? mapped.MissingError() : ErrnoToWin32(err));
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(st, ReadMeta(-1, mapped.host(), false));
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  if (lpFileName == nullptr || lpFileName[0] == '\0') return FailWith(ERROR_PATH_NOT_FOUND);
  std::string path = MapToHost(lpFileName);
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    return FailWith(errno == ENOENT ? MissingFileError(path) : ErrnoToWin32(errno));
  FileMeta meta;
  meta.hasAttributes = true;
  meta.attributes = dwFileAttributes & kStoredAttributeMask;
  if (!WriteMeta(-1, path, meta)) return FailErrno();
  // Folders keep their mode: read-only on a Windows folder is only a flag.
  if (S_ISREG(st.st_mode)) {
    mode_t mode = st.st_mode & 07777;
    if (meta.attributes & FILE_ATTRIBUTE_READONLY)
      mode &= ~(mode_t)(S_IWUSR | S_IWGRP | S_IWOTH);
    else if (!(mode & S_IWUSR))
      mode |= S_IWUSR;
    if (mode != (st.st_mode & 07777) && chmod(path.c_str(), mode) != 0) return FailErrno();
  }
  return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  if (lpFileName == nullptr || lpFileName[0] == '\0') return FailWith(ERROR_PATH_NOT_FOUND);
  DWORD err = DeleteHostFile(MapToHost(lpFileName));
  if (err != ERROR_SUCCESS) return FailWith(err);
  return TRUE;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  if (lpPathName == nullptr || lpPathName[0] == '\0') return FailWith(ERROR_PATH_NOT_FOUND);
  std::string path = MapToHost(lpPathName);
  if (mkdir(path.c_str(), 0777) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return FailWith(ERROR_PATH_NOT_FOUND);
    return FailErrno();  // EEXIST -> ERROR_ALREADY_EXISTS
  }
  NoteMade(path, true);
  return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
  if (lpPathName == nullptr || lpPathName[0] == '\0') return FailWith(ERROR_PATH_NOT_FOUND);
  std::string path = MapToHost(lpPathName);
  if (rmdir(path.c_str()) != 0) {
    if (errno == ENOTDIR) return FailWith(ERROR_DIRECTORY);
    if (errno == ENOENT) return FailWith(MissingFileError(path));
    return FailErrno();
  }
  return TRUE;
}

DWORD GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
  if (lpszLongPath == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // The host keeps no 8.3 names: the short form is the path as given. As on
  // Windows, the file must exist.
  std::string path = MapToHost(lpszLongPath);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    SetLastError(errno == ENOENT ? MissingFileError(path) : ErrnoToWin32(errno));
    return 0;
  }
  SetLastError(ERROR_SUCCESS);
  return CopyToBuffer(lpszLongPath, lpszShortPath, cchBuffer);
}

int _mkdir(const char* dirname) {
  if (dirname == nullptr || dirname[0] == '\0') {
    errno = ENOENT;
    return -1;
  }
  // A path that the mapping has just found needs no mkdir to learn that it
  // exists: mkdir would refuse it with EEXIST (17).
  bool exists = false;
  std::string path = MapToHost(dirname, &exists);
  // As the Windows run-time does, a failure leaves the platform's error
  // behind for GetLastError as well as errno.
  if (exists) {
    SetLastError(ERROR_ALREADY_EXISTS);
    errno = EEXIST;
    return -1;
  }
  if (mkdir(path.c_str(), 0777) != 0) {  // errno EEXIST (17) kept
    int saved = errno;
    SetLastError(saved == ENOENT || saved == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrnoToWin32(saved));
    errno = saved;
    return -1;
  }
  NoteMade(path, true);
  return 0;
}

int _unlink(const char* filename) {
  if (filename == nullptr || filename[0] == '\0') {
    errno = ENOENT;
    return -1;
  }
  DWORD err = DeleteHostFile(MapToHost(filename));
  if (err == ERROR_SUCCESS) return 0;
  errno = ErrnoForWin32(err);
  return -1;
}

int _rmdir(const char* dirname) {
  if (dirname == nullptr || dirname[0] == '\0') {
    errno = ENOENT;
    return -1;
  }
  return rmdir(MapToHost(dirname).c_str()) == 0 ? 0 : -1;
}
