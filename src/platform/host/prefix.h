// Host-only services around the emulated Windows machine: where the prefix
// lives, how Windows paths map onto host paths, and the machine's restart.
// Used by the platform implementation itself, by the tool and by the tests;
// never by the engine, which sees only the Win32 names of win32_api.h.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>

namespace sfx::host {

class FolderFd;

enum class Family { NT, Win95 };

// The prefix folder: $SFX_PREFIX, else ${XDG_DATA_HOME:-$HOME/.local/share}/sfxkit/prefix.
// Created with its standard layout (drive_c/WINDOWS/..., drive_c/TEMP, the
// registry with its standard keys) on first use.
std::string PrefixRoot();

// Points this process at another prefix (tests); the next call creates it
// when it is missing. An empty root goes back to the environment's choice.
void SetPrefixRoot(const std::string& root);

// Creates the prefix's layout if it is missing (idempotent).
void EnsurePrefix();

// The prefix root chosen now ($SFX_PREFIX, ...), without laying it out.
std::string ChosenPrefixRoot();

// A setting of the prefix that `sfx prefix init` keeps in a file of its own
// (<root>/family, <root>/codepage): the file's first word, empty when the
// file is missing.
std::string PrefixSetting(const std::string& root, const char* name);
// Stores such a setting as "<value>\n", written beside the file and renamed
// over it: whole or not at all. false on a write error.
bool WritePrefixSetting(const std::string& root, const char* name, const std::string& value);

// The Windows family this process reports: SFX_WINVER when set (95: the
// 95 family, anything else NT); unset, the prefix's "family" file ("95" or
// "nt", written by `sfx prefix init --family`); else NT.
Family CurrentFamily();

// Windows path -> host path. "C:\X\y" lies below <prefix>/drive_c, "Z:\a"
// is the host's "/a"; a path without a drive letter is taken on C: when it
// starts with "\", else relative to the host's working directory. Existing
// components are found regardless of letter case; missing ones keep the case
// given. ".." never climbs above a drive root. Never fails: another drive
// letter maps below <prefix>/dosdevices/<letter>, and a UNC path
// \\server\share\x to <prefix>/unc/server/share/x. When pExists is given,
// it tells whether the whole path was found on disk during the mapping (a
// root path with no components counts as not found).
std::string MapToHost(const char* windowsPath, bool* pExists = nullptr);

// MapToHost, and stat of the path found: 0 with *pStat filled when it
// exists, else the errno stat gives (ENOENT for a missing file). The common
// answers come from the mapping's own looks, without a second one.
int MapToHostStat(const char* windowsPath, std::string& hostPath, struct stat* pStat);

// A Windows path mapped to the host (as MapToHost), with what the mapping
// saw of it on its way, so that the calls that look at the path next need
// not look again.
class MappedPath {
 public:
  // What the mapping learnt of the final path on its way: known is set when
  // err (0, or the errno of a missing path) and st (when err is 0) are what
  // both stat and lstat of the path would give (it is no link); folderIsDir
  // when the path's folder was found to be a folder, on device folderDev;
  // dir, when the listing of a folder this process made answered, is that
  // folder's descriptor, leaf the name in it, folder its host path and
  // folderSt its status then.
  struct Look {
    bool known = false;
    int err = 0;
    struct stat st;
    bool folderIsDir = false;
    dev_t folderDev = 0;
    std::shared_ptr<const FolderFd> dir;
    std::string leaf;
    std::string folder;
    struct stat folderSt;
  };

  explicit MappedPath(const char* windowsPath);
  // The second path of one call (a move's target): where its folder is the
  // one whose listing answered for first, the look at that folder is used
  // again rather than taken twice within the call.
  MappedPath(const char* windowsPath, const MappedPath& first);
  MappedPath(const MappedPath&) = delete;
  MappedPath& operator=(const MappedPath&) = delete;

  const std::string& host() const { return m_host; }
  // stat / lstat of the host path: 0 with *pStat filled, else the errno.
  int Stat(struct stat* pStat) const { return Status(true, pStat); }
  int Lstat(struct stat* pStat) const { return Status(false, pStat); }
  // What Windows reports for the path when it is missing: ERROR_FILE_NOT_FOUND
  // when its folder exists, else ERROR_PATH_NOT_FOUND.
  uint32_t MissingError() const;
  // The device of the path's folder when the mapping found the folder, else 0.
  dev_t FolderDevice() const;
  // The path for the *at calls (openat, renameat, ...): the folder's
  // descriptor and the name in it when the mapping has them, else AT_FDCWD
  // and the host path. Calls made through them act on the folder the
  // mapping checked, without walking the path again.
  int AtFd() const;
  const char* AtName() const;

 private:
  int Status(bool followLinks, struct stat* pStat) const;
  std::string m_host;
  Look m_look;
};

// Tells the mapping that this process has just made the file or folder at
// hostPath, so that look-ups in a folder it made need not read the folder
// again (see made_folders.h).
void NoteMade(const std::string& hostPath, bool isFolder);
// ... and that the entry at hostPath is gone (removed, or renamed away).
void NoteGone(const std::string& hostPath);
// ... and that it has just renamed the entry at from to to.
void NoteMoved(const std::string& from, const std::string& to);

// Host path -> Windows path: inside <prefix>/drive_c it is "C:\...", inside
// the UNC and other-drive folders the matching Windows form, else "Z:\..."
// with slashes turned into backslashes.
std::string MapToWindows(const std::string& hostPath);

// The machine's restart: performs the delayed renames recorded in
// PendingFileRenameOperations and the [rename] section of WININIT.INI, then
// clears both. Returns the number of renames performed.
int PerformPendingRenames();

}  // namespace sfx::host
