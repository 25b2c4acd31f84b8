// Attribute byte and creation time of host files (see file_meta.h).
#include "platform/host/file_meta.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/host/prefix.h"

namespace sfx::host {
namespace {

const char kAttrName[] = "user.sfxkit.attr";
const char kCtimeName[] = "user.sfxkit.ctime";
constexpr uint64_t kEpochTicks = 116444736000000000ull;  // 1970-01-01 in FILETIME ticks

std::atomic<bool> g_forceSide{false};

bool XattrUnsupported(int err) { return err == ENOTSUP || err == EOPNOTSUPP || err == EPERM; }

// Reads one decimal xattr. 1 found, 0 absent, -1 unsupported here.
int GetNumber(int fd, const std::string& path, const char* name, uint64_t& value) {
  char buf[32];
  ssize_t n = fd >= 0 ? fgetxattr(fd, name, buf, sizeof buf - 1)
                      : getxattr(path.c_str(), name, buf, sizeof buf - 1);
  if (n < 0) return XattrUnsupported(errno) ? -1 : 0;
  buf[n] = '\0';
  char* end = nullptr;
  unsigned long long v = strtoull(buf, &end, 10);
  if (end == buf) return 0;
  value = v;
  return 1;
}

int SetNumber(int fd, const std::string& path, const char* name, uint64_t value) {
  char buf[32];
  int len = snprintf(buf, sizeof buf, "%llu", (unsigned long long)value);
  return fd >= 0 ? fsetxattr(fd, name, buf, (size_t)len, 0)
                 : setxattr(path.c_str(), name, buf, (size_t)len, 0);
}

// ---- side records -----------------------------------------------------------

std::string SideRecordPath(int fd, const std::string& path) {
  struct stat st;
  int rc = fd >= 0 ? fstat(fd, &st) : stat(path.c_str(), &st);
  if (rc != 0) return std::string();
  char name[64];
  snprintf(name, sizeof name, "/metadata/%llx-%llx", (unsigned long long)st.st_dev,
           (unsigned long long)st.st_ino);
  return PrefixRoot() + name;
}

FileMeta ReadSide(int fd, const std::string& path) {
  FileMeta meta;
  std::string rec = SideRecordPath(fd, path);
  FILE* f = rec.empty() ? nullptr : fopen(rec.c_str(), "re");
  if (f == nullptr) return meta;
  unsigned hasA = 0, hasC = 0, attr = 0;
  unsigned long long ctime = 0;
  if (fscanf(f, "%u %u %u %llu", &hasA, &attr, &hasC, &ctime) == 4) {
    meta.hasAttributes = hasA != 0;
    meta.attributes = attr & kStoredAttributeMask;
    meta.hasCreation = hasC != 0;
    meta.creation = ctime;
  }
  fclose(f);
  return meta;
}

bool WriteSide(int fd, const std::string& path, const FileMeta& update) {
  FileMeta meta = ReadSide(fd, path);
  if (update.hasAttributes) {
    meta.hasAttributes = true;
    meta.attributes = update.attributes;
  }
  if (update.hasCreation) {
    meta.hasCreation = true;
    meta.creation = update.creation;
  }
  std::string rec = SideRecordPath(fd, path);
  if (rec.empty()) return false;
  mkdir((PrefixRoot() + "/metadata").c_str(), 0777);
  // Written aside and renamed, so a reader never sees half a record.
  std::string tmp = rec + ".new" + std::to_string(getpid());
  FILE* f = fopen(tmp.c_str(), "we");
  if (f == nullptr) return false;
  fprintf(f, "%u %u %u %llu\n", meta.hasAttributes ? 1u : 0u, (unsigned)meta.attributes,
          meta.hasCreation ? 1u : 0u, (unsigned long long)meta.creation);
  if (fclose(f) != 0 || rename(tmp.c_str(), rec.c_str()) != 0) {
    int err = errno;
    unlink(tmp.c_str());
    errno = err;
    return false;
  }
  return true;
}

bool UseSide(int fd, const std::string& path) {
  if (g_forceSide) return true;
  uint64_t dummy;
  return GetNumber(fd, path, kAttrName, dummy) < 0;
}

}  // namespace

FileMeta ReadMeta(int fd, const std::string& path, bool withCreation) {
  if (g_forceSide) return ReadSide(fd, path);
  // The attribute read doubles as the test for xattr support.
  FileMeta meta;
  uint64_t v = 0;
  int found = GetNumber(fd, path, kAttrName, v);
  if (found < 0) return ReadSide(fd, path);
  if (found == 1) {
    meta.hasAttributes = true;
    meta.attributes = (DWORD)v & kStoredAttributeMask;
  }
  if (withCreation && GetNumber(fd, path, kCtimeName, v) == 1) {
    meta.hasCreation = true;
    meta.creation = v;
  }
  return meta;
}

bool WriteMeta(int fd, const std::string& path, const FileMeta& meta, bool* pInXattrs) {
  if (pInXattrs != nullptr) *pInXattrs = false;
  // Nothing to write: only a store without xattrs leaves a trace (an empty
  // side record), as before.
  if (g_forceSide || (!meta.hasAttributes && !meta.hasCreation)) {
    if (UseSide(fd, path)) return WriteSide(fd, path, meta);
    return true;
  }
  // Written straight away: a store without xattr support refuses the first
  // write, and the side record takes over.
  if (meta.hasAttributes && SetNumber(fd, path, kAttrName, meta.attributes & kStoredAttributeMask) != 0) {
    if (XattrUnsupported(errno)) return WriteSide(fd, path, meta);
    return false;
  }
  if (meta.hasCreation && SetNumber(fd, path, kCtimeName, meta.creation) != 0) {
    if (XattrUnsupported(errno)) return WriteSide(fd, path, meta);
    return false;
  }
  if (pInXattrs != nullptr) *pInXattrs = true;
  return true;
}

namespace {
std::mutex g_devMutex;
dev_t g_xattrDevs[8] = {};  // devices known to take xattrs; 0 = free slot
}  // namespace

bool XattrsKnownOn(dev_t dev) {
  if (dev == 0 || g_forceSide) return false;
  std::lock_guard<std::mutex> lock(g_devMutex);
  for (dev_t known : g_xattrDevs)
    if (known == dev) return true;
  return false;
}

void NoteXattrsOn(dev_t dev) {
  if (dev == 0) return;
  std::lock_guard<std::mutex> lock(g_devMutex);
  for (dev_t& slot : g_xattrDevs) {
    if (slot == dev) return;
    if (slot == 0) {
      slot = dev;
      return;
    }
  }
}

void ForgetMeta(const std::string& path) {
  if (!UseSide(-1, path)) return;
  std::string rec = SideRecordPath(-1, path);
  if (!rec.empty()) unlink(rec.c_str());
}

DWORD AttributesOf(const struct stat& st, const FileMeta& meta) {
  DWORD attr = 0;
  if (meta.hasAttributes)
    attr = meta.attributes;
  else if (S_ISREG(st.st_mode))
    attr = FILE_ATTRIBUTE_ARCHIVE | ((st.st_mode & S_IWUSR) ? 0 : FILE_ATTRIBUTE_READONLY);
  if (S_ISDIR(st.st_mode)) attr |= FILE_ATTRIBUTE_DIRECTORY;
  return attr == 0 ? (DWORD)FILE_ATTRIBUTE_NORMAL : attr;
}

uint64_t TicksFromTimespec(const struct timespec& ts) {
  int64_t ticks = (int64_t)ts.tv_sec * 10000000 + ts.tv_nsec / 100 + (int64_t)kEpochTicks;
  return ticks < 0 ? 0 : (uint64_t)ticks;
}

struct timespec TimespecFromTicks(uint64_t ticks) {
  int64_t rel = (int64_t)(ticks - kEpochTicks);  // may be negative: before 1970
  struct timespec ts;
  int64_t sec = rel / 10000000;
  int64_t rem = rel % 10000000;
  if (rem < 0) {
    rem += 10000000;
    --sec;
  }
  ts.tv_sec = (time_t)sec;
  ts.tv_nsec = (long)(rem * 100);
  return ts;
}

FILETIME ToFileTime(uint64_t ticks) {
  FILETIME ft;
  ft.dwLowDateTime = (DWORD)ticks;
  ft.dwHighDateTime = (DWORD)(ticks >> 32);
  return ft;
}

uint64_t FromFileTime(const FILETIME& ft) {
  return ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
}

void ForceSideRecordsForTesting(bool force) { g_forceSide = force; }

}  // namespace sfx::host
