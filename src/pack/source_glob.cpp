#include "pack/source_glob.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

namespace sfx::pack {
namespace {

// Deeper folders than this are refused (a Windows path could not hold them).
const int kMaxDepth = 64;

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= path.size()) {
    size_t slash = path.find('/', at);
    if (slash == std::string::npos) slash = path.size();
    if (slash > at) parts.push_back(path.substr(at, slash - at));
    at = slash + 1;
  }
  return parts;
}

// `*` and `?` within one component; iterative, with one backtrack point.
bool MatchComponent(const char* p, const char* s) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*s) {
    if (*p == '?' || (*p == *s && *p != '*')) {
      ++p;
      ++s;
    } else if (*p == '*') {
      star = p++;
      resume = s;
    } else if (star) {
      p = star + 1;
      s = ++resume;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == 0;
}

bool MatchParts(const std::vector<std::string>& pat, size_t pi, const std::vector<std::string>& path, size_t si) {
  while (pi < pat.size()) {
    if (pat[pi] == "**") {
      // Skip repeated `**`, then try every suffix of the path.
      while (pi < pat.size() && pat[pi] == "**") ++pi;
      if (pi == pat.size()) return true;
      for (size_t k = si; k < path.size(); ++k)
        if (MatchParts(pat, pi, path, k)) return true;
      return false;
    }
    if (si == path.size() || !MatchComponent(pat[pi].c_str(), path[si].c_str())) return false;
    ++pi;
    ++si;
  }
  return si == path.size();
}

int CompareIgnoringCase(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int ca = (unsigned char)a[i], cb = (unsigned char)b[i];
    if (ca >= 'a' && ca <= 'z') ca -= 32;
    if (cb >= 'a' && cb <= 'z') cb -= 32;
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int ComparePaths(const std::string& a, const std::string& b) {
  std::vector<std::string> pa = Split(a), pb = Split(b);
  for (size_t i = 0; i < pa.size() && i < pb.size(); ++i)
    if (int c = CompareIgnoringCase(pa[i], pb[i])) return c;
  if (pa.size() != pb.size()) return pa.size() < pb.size() ? -1 : 1;
  return 0;
}

std::string Join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a.back() == '/' ? a + b : a + "/" + b;
}

std::string Canonical(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool Inside(const std::string& path, const std::string& root) {
  if (root == "/") return true;
  return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                          path[root.size()] == '/');
}

// Walks a folder; `rel` paths are relative to the walk's root.
class Walker {
 public:
  Walker(std::string rootHost, std::string key) : rootHost_(std::move(rootHost)), key_(std::move(key)) {
    rootReal_ = Canonical(rootHost_);
  }

  std::vector<std::string> Files() {
    Walk(rootHost_, "", 0);
    return files_;
  }

 private:
  void Walk(const std::string& hostDir, const std::string& rel, int depth) {
    if (depth > kMaxDepth) Fail("folders nest deeper than " + std::to_string(kMaxDepth) + " levels at " + hostDir);
    struct stat dirStat;
    if (stat(hostDir.c_str(), &dirStat) != 0) Fail("cannot read " + hostDir + ": " + strerror(errno));
    auto id = std::make_pair(dirStat.st_dev, dirStat.st_ino);
    if (!onPath_.insert(id).second) return;  // a link back to a folder being walked
    DIR* d = opendir(hostDir.c_str());
    if (d == nullptr) Fail("cannot read folder " + hostDir + ": " + strerror(errno));
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
    for (const std::string& name : names) Visit(Join(hostDir, name), Join(rel, name), depth);
    onPath_.erase(id);
  }

  void Visit(const std::string& host, const std::string& rel, int depth) {
    struct stat st;
    if (lstat(host.c_str(), &st) != 0) Fail("cannot read " + host + ": " + strerror(errno));
    if (S_ISLNK(st.st_mode)) {
      // Followed only when it stays inside the walked folder: a link out of
      // it would pack files the folder does not hold.
      std::string target = Canonical(host);
      if (target.empty() || rootReal_.empty() || !Inside(target, rootReal_)) return;
      if (stat(host.c_str(), &st) != 0) return;
    }
    if (S_ISDIR(st.st_mode))
      Walk(host, rel, depth + 1);
    else if (S_ISREG(st.st_mode))
      files_.push_back(rel);
  }

  [[noreturn]] void Fail(const std::string& what) const { throw ManifestError("manifest: " + key_ + ": " + what); }

  std::string rootHost_;
  std::string rootReal_;
  std::string key_;
  std::set<std::pair<dev_t, ino_t>> onPath_;
  std::vector<std::string> files_;
};

// An exclude pattern with a `/` is matched against the path as the manifest
// names it and each folder above it; one without, against each component.
bool Excluded(const std::vector<std::string>& exclude, const std::string& rootRel, const std::string& rel) {
  std::vector<std::string> parts = Split(rel);
  for (const std::string& pattern : exclude) {
    bool whole = pattern.find('/') != std::string::npos;
    std::string prefix = rootRel;
    for (const std::string& part : parts) {
      prefix = Join(prefix, part);
      if (whole ? MatchPath(pattern, prefix) : MatchComponent(pattern.c_str(), part.c_str())) return true;
    }
  }
  return false;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string HostPath(const std::string& baseDir, const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  return path.empty() ? baseDir : Join(baseDir, path);
}

}  // namespace

bool HasWildcard(const std::string& pattern) { return pattern.find_first_of("*?") != std::string::npos; }

bool MatchPath(const std::string& pattern, const std::string& path) {
  return MatchParts(Split(pattern), 0, Split(path), 0);
}

bool WindowsPathLess(const std::string& a, const std::string& b) {
  int c = ComparePaths(a, b);
  return c != 0 ? c < 0 : a < b;
}

std::vector<FoundFile> FindSourceFiles(const std::string& baseDir, const std::string& source,
                                       const std::vector<std::string>& exclude, const std::string& key) {
  // The walk starts at the folder the pattern names before its first wildcard.
  std::string rootRel = source;
  bool pattern = HasWildcard(source);
  if (pattern) {
    size_t wild = source.find_first_of("*?");
    size_t slash = source.rfind('/', wild);
    rootRel = slash == std::string::npos ? "" : source.substr(0, slash == 0 ? 1 : slash);
  }
  while (rootRel.size() > 1 && rootRel.back() == '/') rootRel.pop_back();
  if (rootRel == ".") rootRel.clear();
  std::string rootHost = HostPath(baseDir, rootRel);
  if (!IsFolder(rootHost))
    throw ManifestError("manifest: " + key + ": " + (pattern ? "the folder of pattern \"" + source + "\"" : "\"" + source + "\"") +
                        " is not a folder");
  std::vector<FoundFile> found;
  for (const std::string& rel : Walker(rootHost, key).Files()) {
    std::string named = Join(rootRel, rel);
    if (pattern && !MatchPath(source, named)) continue;
    if (Excluded(exclude, rootRel, rel)) continue;
    size_t slash = rel.rfind('/');
    found.push_back({named, slash == std::string::npos ? "" : rel.substr(0, slash)});
  }
  if (found.empty())
    throw ManifestError("manifest: " + key + ": \"" + source + "\" matches no file" +
                        (exclude.empty() ? "" : " (after the excludes)"));
  std::sort(found.begin(), found.end(),
            [](const FoundFile& a, const FoundFile& b) { return WindowsPathLess(a.source, b.source); });
  // Windows sees names that differ only in case as one file.
  for (size_t i = 1; i < found.size(); ++i)
    if (ComparePaths(found[i - 1].source, found[i].source) == 0)
      throw ManifestError("manifest: " + key + ": \"" + found[i - 1].source + "\" and \"" + found[i].source +
                          "\" differ only in case; Windows would install them as one file");
  return found;
}

void AppendFileSources(const std::string& baseDir, const ManifestFile& entry, size_t index,
                       std::vector<ManifestFile>& out) {
  const std::string where = "files[" + std::to_string(index) + "]";
  bool many = HasWildcard(entry.source) || IsFolder(HostPath(baseDir, entry.source));
  if (!many) {
    if (!entry.exclude.empty())
      throw ManifestError("manifest: " + where + ".exclude: only a folder or pattern source has excludes");
    out.push_back(entry);
    return;
  }
  if (entry.nameGiven)
    throw ManifestError("manifest: " + where + ".name: not allowed on a folder or pattern source (\"" +
                        entry.source + "\"); each file keeps its own name");
  std::string dest = entry.dest;
  while (!dest.empty() && dest.back() == '\\') dest.pop_back();
  for (const FoundFile& f : FindSourceFiles(baseDir, entry.source, entry.exclude, where + ".source")) {
    ManifestFile one = entry;
    one.source = f.source;
    one.exclude.clear();
    size_t slash = f.source.rfind('/');
    one.name = slash == std::string::npos ? f.source : f.source.substr(slash + 1);
    if (!f.subdir.empty()) {
      std::string sub = f.subdir;
      std::replace(sub.begin(), sub.end(), '/', '\\');
      one.dest = dest + "\\" + sub + "\\";
    }
    out.push_back(std::move(one));
  }
}

}  // namespace sfx::pack
