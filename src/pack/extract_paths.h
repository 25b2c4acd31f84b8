// Where an unpacked entry goes below the folder the user named, decided
// from catalogue strings that may be hostile: every string becomes a list
// of plain path components, or a reason to refuse the entry.
#pragma once

#include <string>
#include <vector>

namespace sfx::pack {

struct MappedFolders {
  std::vector<std::string> folders;  // components below the target folder
  std::string refusal;               // non-empty: the entry is refused, and why
};

// A destination directory as folders: the path variable's name first
// ("%sysdir%\x\" -> sysdir/x), "other" for a destination without one, where
// a drive letter becomes a folder of its letter ("D:\a\" -> other/D/a) and a
// UNC path a folder "unc" ("\\srv\share\" -> other/unc/srv/share). Empty and
// "." components are dropped. Refused: "..", components with ":" or NUL or
// longer than 255 bytes.
MappedFolders MapDestination(const std::string& destDir);

// Empty when the name can be created in a folder as it is, else why not:
// it must be a plain file name of at most 255 bytes without NUL.
std::string CheckEntryName(const std::string& name);

// A name not yet in `used` for --flat: the name itself, else "stem~2.ext",
// "stem~3.ext", ... The result is added to `used`.
std::string UniqueName(const std::string& name, std::vector<std::string>& used);

}  // namespace sfx::pack
