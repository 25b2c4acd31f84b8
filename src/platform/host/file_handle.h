// The objects behind the HANDLEs that CreateFileA returns, and the checks
// the other file calls share.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host/win32_api.h"

namespace sfx::host {

struct HostFile {
  HostFile() = default;
  HostFile(const HostFile&) = delete;
  HostFile& operator=(const HostFile&) = delete;
  ~HostFile();

  int fd = -1;
  DWORD access = 0;  // GENERIC_READ / GENERIC_WRITE bits as asked
  std::string hostPath;
  // A new file's creation time, stored when the handle closes unless
  // SetFileTime stores one first: a file whose times are set before it is
  // closed (as an installer's are) then costs one write of it, not two.
  bool creationPending = false;
  uint64_t pendingCreation = 0;  // FILETIME ticks

  // Read-ahead of a regular file opened for reading only: ReadFile fills
  // ahead[] with one large read and serves small requests from it, and a
  // seek that lands inside it costs no system call. The descriptor's own
  // position is always aheadPos + aheadLen; the handle's position is
  // aheadPos + aheadOff.
  bool readAhead = false;
  char* ahead = nullptr;  // allocated on first use
  off_t aheadPos = 0;     // file offset of ahead[0]
  size_t aheadLen = 0;    // bytes held
  size_t aheadOff = 0;    // bytes of them already read
};

// The live file behind h, or nullptr (last error ERROR_INVALID_HANDLE).
// Handles are checked against a table, so a stale or foreign value is an
// error rather than a wild pointer.
HostFile* LookupFile(HANDLE h);
HANDLE RegisterFile(HostFile* file);
// Removes h from the table; returns the file for the caller to close.
HostFile* UnregisterFile(HANDLE h);

// Tries to lock fd as an opener with the given share mode would: share 0
// exclusive, any sharing shared, never blocking. False when someone else
// holds a conflicting lock.
bool LockForShare(int fd, DWORD shareMode);

// True when another opener holds the file name, taken from the folder
// dirFd as openat takes it (AT_FDCWD and a host path too), by any lock.
bool FileInUse(int dirFd, const char* name);

// ERROR_PATH_NOT_FOUND when the folder of hostPath is missing, else
// ERROR_FILE_NOT_FOUND: what Windows reports for a missing file.
DWORD MissingFileError(const std::string& hostPath);

}  // namespace sfx::host
