// CreateFileA and the calls on its handles, over host file descriptors.
//
// Opening follows Windows' order: the disposition decides between the
// existing file and a new one, the attribute byte refuses writers of a
// read-only file (root would otherwise write through any permission bits),
// the share lock is taken, and only then is an existing file truncated, so
// a refused opener never destroys someone else's data.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/host/file_handle.h"
#include "platform/host/file_meta.h"
#include "platform/host/prefix.h"
#include "platform/host/win_error.h"

using namespace sfx::host;

namespace {

constexpr DWORD kWriteAccess = GENERIC_WRITE | GENERIC_ALL;
constexpr DWORD kReadAccess = GENERIC_READ | GENERIC_ALL;

int OpenFlags(DWORD access) {
  bool r = (access & kReadAccess) != 0;
  bool w = (access & kWriteAccess) != 0;
  if (r && w) return O_RDWR;
  if (w) return O_WRONLY;
  return O_RDONLY;
}

// Opens an existing file. Reads do not touch the last-access time (it is
// part of what an installation restores), when the host allows it.
int OpenExisting(const std::string& path, DWORD access) {
  int flags = OpenFlags(access) | O_CLOEXEC | O_NOCTTY | O_NOATIME;
  int fd = open(path.c_str(), flags);
  if (fd < 0 && errno == EPERM) fd = open(path.c_str(), flags & ~O_NOATIME);
  return fd;
}

// Whether the process's new files are writable by their owner (its umask,
// read once), so that they show the archive bit alone without a stored byte.
bool NewFilesWritable() {
  static const bool s_writable = [] {
    FILE* f = fopen("/proc/self/status", "re");
    if (f == nullptr) return false;
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && fgets(line, sizeof line, f) != nullptr) found = sscanf(line, "Umask: %o", &mask) == 1;
    fclose(f);
    return found && !(mask & S_IWUSR);
  }();
  return s_writable;
}

// The state of a new file: archive bit plus the attributes asked for, and
// the creation time now. The archive bit alone is what a file shows without
// a stored byte, so on a device known to take extended attributes (a brand
// new file has none) it is not written, and the creation time then waits
// for the handle's close (*pPending true, the time in *pCreation).
void StampNewFile(int fd, const std::string& path, DWORD flagsAndAttributes, dev_t dev, bool* pPending,
                  uint64_t* pCreation) {
  FileMeta meta;
  meta.attributes = FILE_ATTRIBUTE_ARCHIVE | (flagsAndAttributes & kStoredAttributeMask);
  meta.hasAttributes = !(meta.attributes == FILE_ATTRIBUTE_ARCHIVE && NewFilesWritable() && XattrsKnownOn(dev));
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  *pCreation = TicksFromTimespec(now);
  *pPending = !meta.hasAttributes;
  if (!*pPending) {
    meta.hasCreation = true;
    meta.creation = *pCreation;
    bool inXattrs = false;
    if (WriteMeta(fd, path, meta, &inXattrs) && inXattrs) NoteXattrsOn(dev);
  }
  if (meta.attributes & FILE_ATTRIBUTE_READONLY) {
    struct stat st;
    if (fstat(fd, &st) == 0) fchmod(fd, st.st_mode & ~(mode_t)(S_IWUSR | S_IWGRP | S_IWOTH));
  }
}

HANDLE Fail(DWORD code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

HANDLE Wrap(int fd, DWORD access, const std::string& path, DWORD lastError, bool regular,
            bool creationPending = false, uint64_t pendingCreation = 0) {
  HostFile* file = new HostFile;
  file->fd = fd;
  file->access = access;
  file->hostPath = path;
  file->creationPending = creationPending;
  file->pendingCreation = pendingCreation;
  file->readAhead = regular && (access & kReadAccess) && !(access & kWriteAccess);
  SetLastError(lastError);
  return RegisterFile(file);
}

bool ValidDisposition(DWORD d) { return d >= CREATE_NEW && d <= TRUNCATE_EXISTING; }

// An existing file: refuse what Windows refuses, then lock, then truncate.
HANDLE OpenExistingFile(const std::string& path, const struct stat& st, DWORD access, DWORD share,
                        DWORD disposition, DWORD flagsAndAttributes) {
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (disposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS);
  bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  if (disposition == TRUNCATE_EXISTING && !(access & kWriteAccess)) return Fail(ERROR_INVALID_PARAMETER);
  FileMeta meta = ReadMeta(-1, path, false);
  bool readOnly = (AttributesOf(st, meta) & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly && ((access & kWriteAccess) || truncate)) return Fail(ERROR_ACCESS_DENIED);

  int fd = OpenExisting(path, access);
  if (fd < 0) return Fail(ErrnoToWin32(errno));
  if (access != 0 && !LockForShare(fd, share)) {
    close(fd);
    return Fail(ERROR_SHARING_VIOLATION);
  }
  // An empty file is left alone: ext4 takes a truncation to zero as the
  // start of a rewrite and pushes the file's data to the disk when it is
  // closed, a write-back per file that nothing here asks for.
  struct stat now;
  if (truncate && (fstat(fd, &now) != 0 || now.st_size != 0) && ftruncate(fd, 0) != 0) {
    DWORD err = ErrnoToWin32(errno);
    close(fd);
    return Fail(err);
  }
  if (disposition == CREATE_ALWAYS) {
    // Replacing a file resets its attributes as a new file's; its creation
    // time stays. A file that already shows those attributes (one that
    // GetTempFileNameA has just made, say) is not written to.
    FileMeta attrs;
    attrs.hasAttributes = true;
    attrs.attributes = FILE_ATTRIBUTE_ARCHIVE | (flagsAndAttributes & kStoredAttributeMask);
    if (AttributesOf(st, meta) != attrs.attributes) WriteMeta(fd, path, attrs);
  }
  // Windows tells an "always" opener that the file was there already.
  bool existed = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  return Wrap(fd, access, path, existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS, S_ISREG(st.st_mode));
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE) {
  if (lpFileName == nullptr || lpFileName[0] == '\0') return Fail(ERROR_PATH_NOT_FOUND);
  if (!ValidDisposition(dwCreationDisposition)) return Fail(ERROR_INVALID_PARAMETER);
  MappedPath mapped(lpFileName);
  const std::string& path = mapped.host();
  struct stat st;
  // The first look is the mapping's own.
  int err = mapped.Stat(&st);
  // A file can appear or vanish between the look and the open; a few rounds
  // settle such a race.
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (attempt > 0) err = stat(path.c_str(), &st) == 0 ? 0 : errno;
    if (err == 0)
      return OpenExistingFile(path, st, dwDesiredAccess, dwShareMode, dwCreationDisposition,
                              dwFlagsAndAttributes);
    if (err != ENOENT) return Fail(ErrnoToWin32(err));
    if (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING)
      return Fail(attempt == 0 ? mapped.MissingError() : MissingFileError(path));
    int flags = OpenFlags(dwDesiredAccess) | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY;
    int fd = openat(mapped.AtFd(), mapped.AtName(), flags, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      if (errno == ENOENT || errno == ENOTDIR) return Fail(ERROR_PATH_NOT_FOUND);
      return Fail(ErrnoToWin32(errno));
    }
    if (dwDesiredAccess != 0 && !LockForShare(fd, dwShareMode)) {
      close(fd);
      return Fail(ERROR_SHARING_VIOLATION);
    }
    NoteMade(path, false);
    bool pending = false;
    uint64_t creation = 0;
    StampNewFile(fd, path, dwFlagsAndAttributes, mapped.FolderDevice(), &pending, &creation);
    return Wrap(fd, dwDesiredAccess, path, ERROR_SUCCESS, true, pending, creation);
  }
  return Fail(ERROR_SHARING_VIOLATION);
}

BOOL CloseHandle(HANDLE hObject) {
  HostFile* file = UnregisterFile(hObject);
  if (file == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  if (file->creationPending) {
    FileMeta meta;
    meta.hasCreation = true;
    meta.creation = file->pendingCreation;
    WriteMeta(file->fd, file->hostPath, meta);
  }
  close(file->fd);  // releases the share lock
  delete file;
  return TRUE;
}

namespace {

// Size of one read-ahead: the decoder asks for 4,096 bytes at a time.
constexpr size_t kReadAheadBytes = 256 * 1024;

// read() until count bytes or the end of the file; -1 on an error, with
// *done the bytes read before it.
ssize_t ReadFully(int fd, char* out, size_t count, size_t* done) {
  *done = 0;
  while (*done < count) {
    ssize_t n = read(fd, out + *done, count - *done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;  // end of file
    *done += (size_t)n;
  }
  return (ssize_t)*done;
}

// ReadFile on a read-ahead handle: the same bytes, the same end-of-file and
// the same errors as reading the descriptor directly.
BOOL ReadAhead(HostFile* file, char* out, DWORD count, LPDWORD lpNumberOfBytesRead) {
  DWORD done = 0;
  while (done < count) {
    if (file->aheadOff < file->aheadLen) {
      size_t n = file->aheadLen - file->aheadOff;
      if (n > count - done) n = count - done;
      memcpy(out + done, file->ahead + file->aheadOff, n);
      file->aheadOff += n;
      done += (DWORD)n;
      continue;
    }
    // The buffer is used up: the descriptor stands at the handle's position.
    file->aheadPos += (off_t)file->aheadLen;
    file->aheadLen = file->aheadOff = 0;
    if (file->ahead == nullptr) file->ahead = static_cast<char*>(malloc(kReadAheadBytes));
    size_t got = 0;
    if (file->ahead == nullptr || count - done >= kReadAheadBytes ||
        ReadFully(file->fd, file->ahead, kReadAheadBytes, &got) < 0) {
      // A large request, no buffer, or an error somewhere in the read-ahead
      // (which may lie beyond what was asked for): read just what is asked.
      if (got > 0) {
        file->aheadLen = got;  // what did arrive is served first
        continue;
      }
      size_t direct = 0;
      ssize_t r = ReadFully(file->fd, out + done, count - done, &direct);
      file->aheadPos += (off_t)direct;
      done += (DWORD)direct;
      *lpNumberOfBytesRead = done;
      if (r < 0) return FailErrno();
      return TRUE;
    }
    if (got == 0) break;  // end of file: success with fewer bytes
    file->aheadLen = got;
  }
  *lpNumberOfBytesRead = done;
  return TRUE;
}

}  // namespace

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
  HostFile* file = LookupFile(hFile);
  if (file == nullptr) return FALSE;
  if (lpOverlapped != nullptr || lpNumberOfBytesRead == nullptr ||
      (lpBuffer == nullptr && nNumberOfBytesToRead != 0))
    return FailWith(ERROR_INVALID_PARAMETER);
  if (!(file->access & kReadAccess)) return FailWith(ERROR_ACCESS_DENIED);
  if (file->readAhead)
    return ReadAhead(file, static_cast<char*>(lpBuffer), nNumberOfBytesToRead, lpNumberOfBytesRead);
  DWORD done = 0;
  char* out = static_cast<char*>(lpBuffer);
  while (done < nNumberOfBytesToRead) {
    ssize_t n = read(file->fd, out + done, nNumberOfBytesToRead - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *lpNumberOfBytesRead = done;
      return FailErrno();
    }
    if (n == 0) break;  // end of file: success with fewer bytes
    done += (DWORD)n;
  }
  *lpNumberOfBytesRead = done;
  return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
  HostFile* file = LookupFile(hFile);
  if (file == nullptr) return FALSE;
  if (lpOverlapped != nullptr || lpNumberOfBytesWritten == nullptr ||
      (lpBuffer == nullptr && nNumberOfBytesToWrite != 0))
    return FailWith(ERROR_INVALID_PARAMETER);
  if (!(file->access & kWriteAccess)) return FailWith(ERROR_ACCESS_DENIED);
  DWORD done = 0;
  const char* in = static_cast<const char*>(lpBuffer);
  while (done < nNumberOfBytesToWrite) {
    ssize_t n = write(file->fd, in + done, nNumberOfBytesToWrite - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *lpNumberOfBytesWritten = done;
      return FailErrno();
    }
    if (n == 0) {  // no progress and no error: treat as a full disk
      *lpNumberOfBytesWritten = done;
      return FailWith(ERROR_DISK_FULL);
    }
    done += (DWORD)n;
  }
  *lpNumberOfBytesWritten = done;
  return TRUE;
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                     DWORD dwMoveMethod) {
  HostFile* file = LookupFile(hFile);
  if (file == nullptr) return INVALID_SET_FILE_POINTER;
  int64_t distance = lpDistanceToMoveHigh != nullptr
                         ? (int64_t)(((uint64_t)(uint32_t)*lpDistanceToMoveHigh << 32) | (uint32_t)lDistanceToMove)
                         : (int64_t)lDistanceToMove;
  int whence;
  switch (dwMoveMethod) {
    case FILE_BEGIN: whence = SEEK_SET; break;
    case FILE_CURRENT: whence = SEEK_CUR; break;
    case FILE_END: whence = SEEK_END; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_SET_FILE_POINTER;
  }
  if (file->readAhead) {
    // The handle's position, not the descriptor's, which stands at the end
    // of the read-ahead.
    off_t current = file->aheadPos + (off_t)file->aheadOff;
    if (whence != SEEK_END) {
      int64_t target = whence == SEEK_SET ? distance : (int64_t)current + distance;
      if (target >= (int64_t)file->aheadPos && target <= (int64_t)(file->aheadPos + (off_t)file->aheadLen)) {
        // Inside what is buffered: no system call.
        file->aheadOff = (size_t)(target - file->aheadPos);
        if (lpDistanceToMoveHigh != nullptr) *lpDistanceToMoveHigh = (LONG)((uint64_t)target >> 32);
        SetLastError(ERROR_SUCCESS);
        return (DWORD)target;
      }
    }
    // Elsewhere: the buffer is dropped and the descriptor put back at the
    // handle's position, so the seek below behaves as without read-ahead.
    if (file->aheadLen != file->aheadOff && lseek(file->fd, current, SEEK_SET) < 0) {
      FailErrno();
      return INVALID_SET_FILE_POINTER;
    }
    file->aheadPos = current;
    file->aheadLen = file->aheadOff = 0;
  }
  // lseek accepts a negative target on some files; Windows never does.
  off_t base = 0;
  if (whence == SEEK_CUR) base = lseek(file->fd, 0, SEEK_CUR);
  if (whence == SEEK_END) {
    struct stat st;
    base = fstat(file->fd, &st) == 0 ? st.st_size : 0;
  }
  if (distance < 0 && base + distance < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  off_t pos = lseek(file->fd, (off_t)distance, whence);
  if (pos < 0) {
    FailErrno();
    return INVALID_SET_FILE_POINTER;
  }
  if (file->readAhead) file->aheadPos = pos;
  if (lpDistanceToMoveHigh != nullptr) *lpDistanceToMoveHigh = (LONG)((uint64_t)pos >> 32);
  // A position whose low half is all ones is valid; callers tell it from a
  // failure by the last error.
  SetLastError(ERROR_SUCCESS);
  return (DWORD)pos;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  HostFile* file = LookupFile(hFile);
  if (file == nullptr) return INVALID_FILE_SIZE;
  struct stat st;
  if (fstat(file->fd, &st) != 0) {
    FailErrno();
    return INVALID_FILE_SIZE;
  }
  if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = (DWORD)((uint64_t)st.st_size >> 32);
  SetLastError(ERROR_SUCCESS);
  return (DWORD)st.st_size;
}

BOOL SetEndOfFile(HANDLE hFile) {
  HostFile* file = LookupFile(hFile);
  if (file == nullptr) return FALSE;
  if (!(file->access & kWriteAccess)) return FailWith(ERROR_ACCESS_DENIED);
  off_t pos = lseek(file->fd, 0, SEEK_CUR);
  if (pos < 0 || ftruncate(file->fd, pos) != 0) return FailErrno();
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE hFile) {
  HostFile* file = LookupFile(hFile);
  if (file == nullptr) return FALSE;
  if (!(file->access & kWriteAccess)) return FailWith(ERROR_ACCESS_DENIED);
  if (fsync(file->fd) != 0) return FailErrno();
  return TRUE;
}

namespace {

// A handle's creation time: the one waiting for the close, the stored one,
// or, where none is stored, the oldest time the host knows.
uint64_t CreationOf(const HostFile* file, const struct stat& st, const FileMeta& meta) {
  if (file->creationPending) return file->pendingCreation;
  return meta.hasCreation ? meta.creation : TicksFromTimespec(st.st_mtim);
}

}  // namespace

BOOL GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                 LPFILETIME lpLastWriteTime) {
  HostFile* file = LookupFile(hFile);
  if (file == nullptr) return FALSE;
  struct stat st;
  if (fstat(file->fd, &st) != 0) return FailErrno();
  if (lpCreationTime != nullptr) {
    FileMeta meta = file->creationPending ? FileMeta() : ReadMeta(file->fd, file->hostPath);
    *lpCreationTime = ToFileTime(CreationOf(file, st, meta));
  }
  if (lpLastAccessTime != nullptr) *lpLastAccessTime = ToFileTime(TicksFromTimespec(st.st_atim));
  if (lpLastWriteTime != nullptr) *lpLastWriteTime = ToFileTime(TicksFromTimespec(st.st_mtim));
  return TRUE;
}

// Everything through the descriptor: no look by name.
BOOL GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
  HostFile* file = LookupFile(hFile);
  if (file == nullptr) return FALSE;
  if (lpFileInformation == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  struct stat st;
  if (fstat(file->fd, &st) != 0) return FailErrno();
  FileMeta meta = ReadMeta(file->fd, file->hostPath, !file->creationPending);
  BY_HANDLE_FILE_INFORMATION& info = *lpFileInformation;
  info.dwFileAttributes = AttributesOf(st, meta);
  info.ftCreationTime = ToFileTime(CreationOf(file, st, meta));
  info.ftLastAccessTime = ToFileTime(TicksFromTimespec(st.st_atim));
  info.ftLastWriteTime = ToFileTime(TicksFromTimespec(st.st_mtim));
  info.dwVolumeSerialNumber = (DWORD)st.st_dev;
  info.nFileSizeHigh = (DWORD)((uint64_t)st.st_size >> 32);
  info.nFileSizeLow = (DWORD)(uint64_t)st.st_size;
  info.nNumberOfLinks = (DWORD)st.st_nlink;
  info.nFileIndexHigh = (DWORD)((uint64_t)st.st_ino >> 32);
  info.nFileIndexLow = (DWORD)(uint64_t)st.st_ino;
  return TRUE;
}

BOOL SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime, const FILETIME* lpLastAccessTime,
                 const FILETIME* lpLastWriteTime) {
  HostFile* file = LookupFile(hFile);
  if (file == nullptr) return FALSE;
  if (!(file->access & kWriteAccess)) return FailWith(ERROR_ACCESS_DENIED);
  // A null pointer or a zero time leaves that time as it is.
  auto given = [](const FILETIME* ft) { return ft != nullptr && FromFileTime(*ft) != 0; };
  struct timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_nsec = UTIME_OMIT;
  if (given(lpLastAccessTime)) times[0] = TimespecFromTicks(FromFileTime(*lpLastAccessTime));
  if (given(lpLastWriteTime)) times[1] = TimespecFromTicks(FromFileTime(*lpLastWriteTime));
  if ((given(lpLastAccessTime) || given(lpLastWriteTime)) && futimens(file->fd, times) != 0)
    return FailErrno();
  if (given(lpCreationTime)) {
    FileMeta meta;
    meta.hasCreation = true;
    meta.creation = FromFileTime(*lpCreationTime);
    if (!WriteMeta(file->fd, file->hostPath, meta)) return FailErrno();
    file->creationPending = false;
  }
  return TRUE;
}
