// The handle table and the share-mode locks.
//
// Share modes are flock locks on the handle's own open file description, so
// two handles conflict whether they belong to one process or to two: an
// unshared opener takes LOCK_EX, a sharing one LOCK_SH, both without
// waiting. A query handle (access 0) takes no lock, as on Windows.
#include "platform/host/file_handle.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <unordered_set>

namespace sfx::host {

HostFile::~HostFile() { free(ahead); }

namespace {
std::mutex g_mutex;
std::unordered_set<HostFile*>& Table() {
  static auto* table = new std::unordered_set<HostFile*>();  // lives to process end
  return *table;
}
}  // namespace

HostFile* LookupFile(HANDLE h) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = Table().find(static_cast<HostFile*>(h));
  if (it == Table().end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return *it;
}

HANDLE RegisterFile(HostFile* file) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Table().insert(file);
  return file;
}

HostFile* UnregisterFile(HANDLE h) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = Table().find(static_cast<HostFile*>(h));
  if (it == Table().end()) return nullptr;
  HostFile* file = *it;
  Table().erase(it);
  return file;
}

bool LockForShare(int fd, DWORD shareMode) {
  int op = (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB;
  while (flock(fd, op) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool FileInUse(int dirFd, const char* name) {
  int fd = openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  bool inUse = !LockForShare(fd, 0);
  close(fd);
  return inUse;
}

DWORD MissingFileError(const std::string& hostPath) {
  size_t slash = hostPath.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : hostPath.substr(0, slash));
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
  return ERROR_FILE_NOT_FOUND;
}

}  // namespace sfx::host
