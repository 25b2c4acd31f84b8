// Folder and pattern sources: a manifest file entry whose source is a folder
// or holds `*`, `?` or `**` stands for every file it finds, each installed
// below the entry's destination in the subfolder it lies in.
#pragma once

#include <string>
#include <vector>

#include "pack/manifest.h"

namespace sfx::pack {

// Whether a source path holds a wildcard (`*` or `?`).
bool HasWildcard(const std::string& pattern);

// Matches a `/`-separated path against a pattern: `*` and `?` stay within
// one path component, a component `**` matches any number of them.
bool MatchPath(const std::string& pattern, const std::string& path);

// Windows' order of paths: component by component, ignoring case (ties,
// names that differ only in case, in byte order so the result is stable).
bool WindowsPathLess(const std::string& a, const std::string& b);

// One file found below a folder or by a pattern.
struct FoundFile {
  std::string source;  // as the manifest would name it (relative to its folder, or absolute)
  std::string subdir;  // the folders between the walked root and the file, `/`-separated, or ""
};

// Every file a folder or pattern source names, in Windows' order, without
// those an exclude pattern matches. Symbolic links are followed only when
// they lead to a place inside the walked folder. Throws ManifestError
// (naming `key`) for a pattern that matches nothing or a missing folder.
std::vector<FoundFile> FindSourceFiles(const std::string& baseDir, const std::string& source,
                                       const std::vector<std::string>& exclude, const std::string& key);

// Appends the entry to `out`: a plain file source as it is, a folder or
// pattern source as one entry per file found, each with the entry's other
// keys and its subfolder added to `dest`. `index` names the entry in
// messages. Refuses `name` on a folder or pattern and `exclude` on a file.
void AppendFileSources(const std::string& baseDir, const ManifestFile& entry, size_t index,
                       std::vector<ManifestFile>& out);

}  // namespace sfx::pack
