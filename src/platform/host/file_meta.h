// What a host file system does not keep for us: a file's Windows attribute
// byte and its creation time.
//
// Both live in extended attributes of the file itself ("user.sfxkit.attr",
// "user.sfxkit.ctime", decimal text), so they travel with the file through
// renames and vanish with it. On a file system without user extended
// attributes they go to a side record, <prefix>/metadata/<device>-<inode>,
// which a new file of ours overwrites and a deletion of ours removes.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "platform/host/win32_api.h"

namespace sfx::host {

// The attribute bits a file can carry (the others are derived).
constexpr DWORD kStoredAttributeMask = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                       FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                       FILE_ATTRIBUTE_TEMPORARY;

struct FileMeta {
  bool hasAttributes = false;
  DWORD attributes = 0;  // stored bits only
  bool hasCreation = false;
  uint64_t creation = 0;  // FILETIME ticks
};

// fd may be -1; then path is used. Without withCreation only the attribute
// byte is read.
FileMeta ReadMeta(int fd, const std::string& path, bool withCreation = true);
// Writes the fields marked present. False with errno on failure.
// *pInXattrs, when given, tells whether they went to extended attributes.
bool WriteMeta(int fd, const std::string& path, const FileMeta& meta, bool* pInXattrs = nullptr);

// Whether files on device dev are known to keep their state in extended
// attributes (a write there has gone to them), and the note of it.
bool XattrsKnownOn(dev_t dev);
void NoteXattrsOn(dev_t dev);
// Forgets a side record of a file about to be removed (no-op for xattrs).
void ForgetMeta(const std::string& path);

// The Win32 attributes of a stat'ed file: stored bits, the directory bit,
// read-only from the mode when nothing is stored, NORMAL when none is set.
DWORD AttributesOf(const struct stat& st, const FileMeta& meta);

// FILETIME ticks (100 ns since 1601) <-> timespec.
uint64_t TicksFromTimespec(const struct timespec& ts);
struct timespec TimespecFromTicks(uint64_t ticks);
FILETIME ToFileTime(uint64_t ticks);
uint64_t FromFileTime(const FILETIME& ft);

// Tests: force the side-record store even where xattrs work.
void ForceSideRecordsForTesting(bool force);

}  // namespace sfx::host
