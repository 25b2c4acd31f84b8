// MoveFileExA, immediate and delayed, MoveFileA, and the emulated machine's restart
// (PerformPendingRenames).
//
// A delayed move is recorded as Windows records it: the pair is appended to
// the REG_MULTI_SZ value PendingFileRenameOperations of the Session Manager
// key, "\??\source" then "!\??\target" (replace allowed) or "\??\target",
// or an empty target for a deletion. The key is held open for writing
// across the read-modify-write; the registry makes that a write
// transaction, so concurrent setups lose no entry. The restart also
// performs the [rename] section of C:\WINDOWS\WININIT.INI ("target=source",
// target NUL deletes), then renames that file to WININIT.BAK, as the 95
// family does.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/host/file_handle.h"
#include "platform/host/file_meta.h"
#include "platform/host/prefix.h"
#include "platform/host/win_error.h"
#include "platform/host/win_path.h"

using namespace sfx::host;

namespace {

const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";
constexpr DWORD kMaxPendingBytes = 16u << 20;  // refuse absurd values rather than allocate them

std::string FullWindowsPath(const char* path) { return FormatWindowsPath(ParseWindowsPath(path)); }

// The key, opened for writing (which holds the registry's write lock).
HKEY OpenSessionManager() {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return rc == ERROR_SUCCESS ? key : nullptr;
}

// The value's strings; empty when absent. Bounded by the size the
// registry reports, whatever the bytes hold.
std::vector<std::string> ReadPending(HKEY key) {
  std::vector<std::string> out;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, kPendingValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return out;
  if (size == 0 || size > kMaxPendingBytes) return out;
  std::vector<BYTE> data(size);
  if (RegQueryValueExA(key, kPendingValue, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return out;
  if (type != REG_MULTI_SZ && type != REG_SZ) return out;
  // Strings are NUL-separated; the final empty string ends the list. An
  // empty string inside the list is a deletion's target, so the list is
  // read in pairs up to the last NUL rather than to the first empty one.
  std::string cur;
  for (DWORD i = 0; i < size; ++i) {
    if (data[i] == 0) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += (char)data[i];
    }
  }
  if (!cur.empty()) out.push_back(cur);
  if (out.size() % 2 == 1 && out.back().empty()) out.pop_back();  // the list terminator
  // Keep whole pairs that name a source; anything else is damage that must
  // not turn into an operation on an empty (that is, the current) path.
  std::vector<std::string> pairs;
  for (size_t i = 0; i + 1 < out.size(); i += 2) {
    if (out[i].empty()) continue;
    pairs.push_back(out[i]);
    pairs.push_back(out[i + 1]);
  }
  return pairs;
}

bool WritePending(HKEY key, const std::vector<std::string>& strings) {
  std::string blob;
  for (const std::string& s : strings) {
    blob += s;
    blob += '\0';
  }
  blob += '\0';
  return RegSetValueExA(key, kPendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(blob.data()),
                        (DWORD)blob.size()) == ERROR_SUCCESS;
}

BOOL RecordDelayedMove(LPCSTR source, LPCSTR target, DWORD flags) {
  HKEY key = OpenSessionManager();
  if (key == nullptr) return FailWith(ERROR_ACCESS_DENIED);
  std::vector<std::string> pending = ReadPending(key);
  pending.push_back("\\??\\" + FullWindowsPath(source));
  if (target == nullptr || target[0] == '\0')
    pending.push_back("");
  else
    pending.push_back(std::string((flags & MOVEFILE_REPLACE_EXISTING) ? "!" : "") + "\\??\\" +
                      FullWindowsPath(target));
  bool ok = WritePending(key, pending);
  RegCloseKey(key);
  return ok ? TRUE : FailWith(ERROR_CANTWRITE);
}

// Copies source over target (for moves between file systems).
bool CopyHostFile(const std::string& source, const std::string& target) {
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  int out = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  bool ok = out >= 0;
  char buf[65536];
  while (ok) {
    ssize_t n = read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t off = 0; ok && off < n;) {
      ssize_t w = write(out, buf + off, (size_t)(n - off));
      if (w < 0 && errno == EINTR) continue;
      ok = w > 0;
      off += w > 0 ? w : 0;
    }
  }
  int err = errno;
  close(in);
  if (out >= 0 && close(out) != 0) ok = false;
  errno = err;
  return ok;
}

BOOL MoveNow(LPCSTR sourceName, LPCSTR targetName, DWORD flags) {
  MappedPath mappedSource(sourceName);
  MappedPath mappedTarget(targetName, mappedSource);
  const std::string& source = mappedSource.host();
  const std::string& target = mappedTarget.host();
  struct stat st;
  if (int err = mappedSource.Lstat(&st))
    return FailWith(err == ENOENT ? mappedSource.MissingError() : ErrnoToWin32(err));
  if (S_ISREG(st.st_mode) && FileInUse(mappedSource.AtFd(), mappedSource.AtName()))
    return FailWith(ERROR_SHARING_VIOLATION);
  struct stat tst;
  bool targetExists = mappedTarget.Lstat(&tst) == 0;
  if (targetExists && !(st.st_ino == tst.st_ino && st.st_dev == tst.st_dev)) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) return FailWith(ERROR_ALREADY_EXISTS);
    if (S_ISDIR(tst.st_mode)) return FailWith(ERROR_ACCESS_DENIED);
    if (AttributesOf(tst, ReadMeta(-1, target, false)) & FILE_ATTRIBUTE_READONLY) return FailWith(ERROR_ACCESS_DENIED);
    if (FileInUse(mappedTarget.AtFd(), mappedTarget.AtName())) return FailWith(ERROR_SHARING_VIOLATION);
  }
  // Without replacement, a target that appears meanwhile must survive.
  int from = mappedSource.AtFd();
  int to = mappedTarget.AtFd();
  int rc = (flags & MOVEFILE_REPLACE_EXISTING)
               ? renameat(from, mappedSource.AtName(), to, mappedTarget.AtName())
               : renameat2(from, mappedSource.AtName(), to, mappedTarget.AtName(), RENAME_NOREPLACE);
  if (rc != 0 && errno == EINVAL && !(flags & MOVEFILE_REPLACE_EXISTING))
    rc = renameat(from, mappedSource.AtName(), to, mappedTarget.AtName());  // file system without RENAME_NOREPLACE
  if (rc == 0) {
    NoteMoved(source, target);
    return TRUE;
  }
  if (errno == EEXIST) return FailWith(ERROR_ALREADY_EXISTS);
  if (errno == ENOENT) return FailWith(ERROR_PATH_NOT_FOUND);
  if (errno != EXDEV || !(flags & MOVEFILE_COPY_ALLOWED) || !S_ISREG(st.st_mode)) return FailErrno();
  if (!CopyHostFile(source, target)) return FailErrno();
  unlink(source.c_str());
  return TRUE;
}

// ---- the restart -------------------------------------------------------------

std::string StripNtPrefix(std::string path) {
  if (path.compare(0, 4, "\\??\\") == 0) path.erase(0, 4);
  return path;
}

// Performs one rename of the restart: nothing holds files then, so the
// host rename replaces whatever lies at the target. An empty target
// deletes the source.
bool RenameAtRestart(const std::string& sourceWin, const std::string& targetWin) {
  if (sourceWin.empty()) return false;
  std::string source = MapToHost(sourceWin.c_str());
  if (targetWin.empty()) {
    ForgetMeta(source);
    return unlink(source.c_str()) == 0;
  }
  return rename(source.c_str(), MapToHost(targetWin.c_str()).c_str()) == 0;
}

int PerformRegistryRenames() {
  HKEY key = OpenSessionManager();
  if (key == nullptr) return 0;
  std::vector<std::string> pending = ReadPending(key);
  int done = 0;
  for (size_t i = 0; i + 1 < pending.size(); i += 2) {
    std::string target = pending[i + 1];
    if (!target.empty() && target[0] == '!') target.erase(0, 1);
    if (RenameAtRestart(StripNtPrefix(pending[i]), StripNtPrefix(target))) ++done;
  }
  RegDeleteValueA(key, kPendingValue);
  RegCloseKey(key);
  return done;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

int PerformWininitRenames() {
  std::string ini = MapToHost("C:\\WINDOWS\\WININIT.INI");
  FILE* f = fopen(ini.c_str(), "re");
  if (f == nullptr) return 0;
  int done = 0;
  bool inRename = false;
  char line[4096];
  while (fgets(line, sizeof line, f) != nullptr) {
    size_t len = strlen(line);
    if (len == sizeof line - 1 && line[len - 1] != '\n') {
      // Longer than any path pair can be: skip the whole line, so that no
      // piece of it is read as an instruction of its own.
      int c;
      while ((c = fgetc(f)) != EOF && c != '\n') {
      }
      continue;
    }
    std::string text = Trim(line);
    if (text.empty() || text[0] == ';') continue;
    if (text[0] == '[') {
      inRename = strcasecmp(text.c_str(), "[rename]") == 0;
      continue;
    }
    size_t eq = text.find('=');
    if (!inRename || eq == std::string::npos) continue;
    std::string target = Trim(text.substr(0, eq));
    std::string source = Trim(text.substr(eq + 1));
    if (source.empty()) continue;
    if (strcasecmp(target.c_str(), "NUL") == 0) target.clear();
    if (RenameAtRestart(source, target)) ++done;
  }
  fclose(f);
  rename(ini.c_str(), MapToHost("C:\\WINDOWS\\WININIT.BAK").c_str());
  return done;
}

}  // namespace

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  // The 95 family exports the function but does not implement it; setups
  // there use MoveFileA and WININIT.INI.
  if (CurrentFamily() == Family::Win95) return FailWith(ERROR_CALL_NOT_IMPLEMENTED);
  if (lpExistingFileName == nullptr || lpExistingFileName[0] == '\0') return FailWith(ERROR_INVALID_PARAMETER);
  if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) return RecordDelayedMove(lpExistingFileName, lpNewFileName, dwFlags);
  if (lpNewFileName == nullptr || lpNewFileName[0] == '\0') return FailWith(ERROR_INVALID_PARAMETER);
  return MoveNow(lpExistingFileName, lpNewFileName, dwFlags);
}

BOOL MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
  if (lpExistingFileName == nullptr || lpExistingFileName[0] == '\0') return FailWith(ERROR_INVALID_PARAMETER);
  if (lpNewFileName == nullptr || lpNewFileName[0] == '\0') return FailWith(ERROR_INVALID_PARAMETER);
  return MoveNow(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

namespace sfx::host {

int PerformPendingRenames() { return PerformRegistryRenames() + PerformWininitRenames(); }

}  // namespace sfx::host
