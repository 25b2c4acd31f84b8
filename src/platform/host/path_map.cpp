// Windows paths <-> host paths.
//
// C: is <prefix>/drive_c, Z: is the host's "/", any other drive letter is
// <prefix>/dosdevices/<letter>, and a UNC path \\server\share\x is
// <prefix>/unc/server/share/x. Existing components are found regardless of
// letter case, as Windows does; a missing component keeps the case given,
// so a new file or folder is created under the name the caller wrote.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/host/code_page.h"
#include "platform/host/file_handle.h"
#include "platform/host/made_folders.h"
#include "platform/host/prefix.h"
#include "platform/host/win_path.h"

namespace sfx::host {
namespace {

// The first entry of dir whose name equals name ignoring ASCII case; empty
// when there is none.
std::string ScanEntry(const std::string& dir, const std::string& name) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return std::string();
  std::string found;
  while (struct dirent* e = readdir(d)) {
    if (strcasecmp(e->d_name, name.c_str()) == 0) {
      found = e->d_name;
      break;
    }
  }
  closedir(d);
  return found;
}

// The entry of dir whose name equals name ignoring ASCII case; exact
// matches win. Empty when there is none.
std::string FindEntry(const std::string& dir, const std::string& name) {
  struct stat st;
  std::string exact = dir + (dir == "/" ? "" : "/") + name;
  if (lstat(exact.c_str(), &st) == 0) return name;
  return ScanEntry(dir, name);
}

std::string Join(const std::string& dir, const std::string& name) {
  return dir == "/" ? "/" + name : dir + "/" + name;
}

std::string JoinAll(std::string base, const std::vector<std::string>& parts, size_t count) {
  for (size_t i = 0; i < count; ++i) base = Join(base, parts[i]);
  return base;
}

using Seen = MappedPath::Look;

// Appends components below base, each matched case-insensitively while the
// folders exist.
//
// A component spelled exactly as on disk is taken as it is, so when the
// whole path exists as written it is the answer, and when its folder does,
// only the last component needs a look. Those two checks come first: they
// give the same result as matching every component in turn with one or two
// lookups instead of one per component.
// *pExists tells whether every component was found (the whole path exists).
// seen records the two answers that need no further look: the path exists
// as written and is no symbolic link, or its folder exists and holds no
// entry of that name in any case.
// A folder whose listing answered keeps its descriptor in seen, with the
// name in it and the status the answer was checked against.
void KeepFolder(Seen& seen, const std::string& folder, const struct stat& folderSt, const std::string& leaf) {
  if (!seen.dir) return;
  seen.folder = folder;
  seen.folderSt = folderSt;
  seen.leaf = leaf;
}

// sameCall, when given, is an earlier path of the same call: where its
// folder is this one and its listing answered, its look at the folder
// serves again.
std::string Resolve(std::string base, const std::vector<std::string>& parts, bool* pExists, Seen& seen,
                    const Seen* sameCall) {
  if (!parts.empty()) {
    std::string folder = JoinAll(base, parts, parts.size() - 1);
    std::string whole = Join(folder, parts.back());
    // A folder with a listing: one look at the folder confirms the name
    // missing, or finds it and the folder's descriptor, through which the
    // name is looked at.
    struct stat folderSt;
    std::string match;
    bool listed = parts.size() > 1 && ListedName(folder, parts.back()) != Listed::kNoListing;
    bool looked = listed && sameCall != nullptr && sameCall->dir && sameCall->folder == folder;
    if (looked) folderSt = sameCall->folderSt;
    if (listed && (looked || lstat(folder.c_str(), &folderSt) == 0) &&
        LookUpMadeFolder(folder, folderSt, parts.back(), match, &seen.dir)) {
      seen.folderIsDir = S_ISDIR(folderSt.st_mode);
      seen.folderDev = folderSt.st_dev;
      KeepFolder(seen, folder, folderSt, match.empty() ? parts.back() : match);
      if (match.empty()) {
        seen.known = true;
        seen.err = ENOENT;
        *pExists = false;
        return whole;
      }
      if (seen.dir && fstatat(seen.dir->fd(), match.c_str(), &seen.st, AT_SYMLINK_NOFOLLOW) == 0) {
        seen.known = !S_ISLNK(seen.st.st_mode);
        *pExists = true;
        return Join(folder, match);
      }
      // No descriptor, or the name gone meanwhile: looked for as below.
      seen.dir.reset();
    }
    if (lstat(whole.c_str(), &seen.st) == 0) {
      seen.known = !S_ISLNK(seen.st.st_mode);
      *pExists = true;
      return whole;
    }
    bool missing = errno == ENOENT;
    bool top = parts.size() == 1;
    if (top || lstat(folder.c_str(), &folderSt) == 0) {
      seen.folderIsDir = !top && S_ISDIR(folderSt.st_mode);
      if (seen.folderIsDir) seen.folderDev = folderSt.st_dev;
      if (top || !LookUpMadeFolder(folder, folderSt, parts.back(), match, &seen.dir))
        match = ScanEntry(folder, parts.back());
      KeepFolder(seen, folder, folderSt, match.empty() ? parts.back() : match);
      *pExists = !match.empty();
      if (match.empty() && missing) {
        seen.known = true;
        seen.err = ENOENT;
      }
      return Join(folder, match.empty() ? parts.back() : match);
    }
  }
  bool exists = true;
  for (const std::string& part : parts) {
    if (exists) {
      std::string match = FindEntry(base, part);
      if (match.empty()) {
        exists = false;
        base = Join(base, part);
      } else {
        base = Join(base, match);
      }
    } else {
      base = Join(base, part);
    }
  }
  *pExists = exists && !parts.empty();
  return base;
}

// "/a/./b//c/../d" -> "/a/b/d"; relative paths are taken from the working
// directory first.
std::string NormalizeHost(const std::string& path) {
  std::string abs = path;
  if (abs.empty() || abs[0] != '/') {
    char buf[4096];
    abs = std::string(getcwd(buf, sizeof buf) != nullptr ? buf : "") + "/" + abs;
  }
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= abs.size()) {
    size_t next = abs.find('/', pos);
    if (next == std::string::npos) next = abs.size();
    std::string comp = abs.substr(pos, next - pos);
    if (comp == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!comp.empty() && comp != ".") {
      parts.push_back(comp);
    }
    pos = next + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

// When path lies at or below dir, the rest ("" or "/x/y") goes to rest.
bool Below(const std::string& path, const std::string& dir, std::string& rest) {
  if (path.compare(0, dir.size(), dir) != 0) return false;
  if (path.size() != dir.size() && path[dir.size()] != '/') return false;
  rest = path.substr(dir.size());
  return true;
}

std::string Backslashes(std::string s) {
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

// The Windows name of a normalised host path, when it lies in one of the
// prefix's drive folders.
bool InPrefix(const std::string& path, const std::string& root, std::string& out) {
  std::string rest;
  if (Below(path, root + "/drive_c", rest)) {
    out = "C:" + (rest.empty() ? std::string("\\") : Backslashes(rest));
    return true;
  }
  if (Below(path, root + "/unc", rest) && rest.size() > 1) {
    out = "\\" + Backslashes(rest);
    return true;
  }
  if (Below(path, root + "/dosdevices", rest) && rest.size() >= 2 && isalpha((unsigned char)rest[1]) &&
      (rest.size() == 2 || rest[2] == '/')) {
    std::string tail = rest.substr(2);
    out = std::string(1, (char)toupper((unsigned char)rest[1])) + ":" +
          (tail.empty() ? std::string("\\") : Backslashes(tail));
    return true;
  }
  return false;
}

std::string Map(const char* windowsPath, bool* pExists, Seen& seen, const Seen* sameCall = nullptr) {
  WinPath wp = ParseWindowsPath(windowsPath);
  if (wp.unc) {
    std::vector<std::string> parts;
    parts.push_back(wp.server);
    if (!wp.share.empty()) parts.push_back(wp.share);
    parts.insert(parts.end(), wp.parts.begin(), wp.parts.end());
    return Resolve(PrefixRoot() + "/unc", parts, pExists, seen, sameCall);
  }
  if (wp.drive == 'Z') return Resolve("/", wp.parts, pExists, seen, sameCall);
  if (wp.drive == 'C') return Resolve(PrefixRoot() + "/drive_c", wp.parts, pExists, seen, sameCall);
  std::string letter(1, (char)tolower((unsigned char)wp.drive));
  return Resolve(PrefixRoot() + "/dosdevices/" + letter, wp.parts, pExists, seen, sameCall);
}

}  // namespace

void NoteMade(const std::string& hostPath, bool isFolder) {
  size_t slash = hostPath.rfind('/');
  if (slash != std::string::npos && slash > 0)
    NoteEntryMade(hostPath.substr(0, slash), hostPath.substr(slash + 1));
  if (isFolder) NoteFolderMade(hostPath);
}

void NoteGone(const std::string& hostPath) {
  size_t slash = hostPath.rfind('/');
  if (slash != std::string::npos && slash > 0)
    NoteEntryGone(hostPath.substr(0, slash), hostPath.substr(slash + 1));
}

void NoteMoved(const std::string& from, const std::string& to) {
  size_t a = from.rfind('/');
  size_t b = to.rfind('/');
  if (a != std::string::npos && a > 0 && a == b && from.compare(0, a, to, 0, b) == 0) {
    NoteEntryRenamed(from.substr(0, a), from.substr(a + 1), to.substr(b + 1));
    return;
  }
  NoteGone(from);
  NoteMade(to, false);
}

std::string MapToHost(const char* windowsPath, bool* pExists) {
  bool exists = false;
  Seen seen;
  return Map(windowsPath, pExists != nullptr ? pExists : &exists, seen);
}

int MapToHostStat(const char* windowsPath, std::string& hostPath, struct stat* pStat) {
  MappedPath mapped(windowsPath);
  hostPath = mapped.host();
  return mapped.Stat(pStat);
}

MappedPath::MappedPath(const char* windowsPath) {
  bool exists = false;
  m_host = Map(windowsPath, &exists, m_look);
}

MappedPath::MappedPath(const char* windowsPath, const MappedPath& first) {
  bool exists = false;
  m_host = Map(windowsPath, &exists, m_look, &first.m_look);
}

int MappedPath::Status(bool followLinks, struct stat* pStat) const {
  // The mapping's look is an lstat: it stands for stat too unless it found
  // a link, and then it is not kept.
  if (m_look.known) {
    if (m_look.err == 0) *pStat = m_look.st;
    return m_look.err;
  }
  int rc = followLinks ? stat(m_host.c_str(), pStat) : lstat(m_host.c_str(), pStat);
  return rc == 0 ? 0 : errno;
}

dev_t MappedPath::FolderDevice() const { return m_look.folderIsDir ? m_look.folderDev : 0; }

int MappedPath::AtFd() const { return m_look.dir ? m_look.dir->fd() : AT_FDCWD; }

const char* MappedPath::AtName() const { return m_look.dir ? m_look.leaf.c_str() : m_host.c_str(); }

uint32_t MappedPath::MissingError() const {
  return m_look.folderIsDir ? (DWORD)ERROR_FILE_NOT_FOUND : MissingFileError(m_host);
}

std::string MapToWindows(const std::string& hostPath) {
  // Built in the host's form of the names, then turned into the code page's.
  std::string path = NormalizeHost(hostPath);
  std::string root = PrefixRoot();
  std::string out;
  if (InPrefix(path, root, out)) return WindowsName(out);
  // The prefix may have been named through a symbolic link: compare the
  // resolved forms too.
  char real[PATH_MAX];
  char realRoot[PATH_MAX];
  if (realpath(path.c_str(), real) != nullptr && realpath(root.c_str(), realRoot) != nullptr &&
      InPrefix(real, realRoot, out))
    return WindowsName(out);
  return WindowsName("Z:" + Backslashes(path == "/" ? std::string("/") : path));
}

}  // namespace sfx::host
