// The path variables that a catalogue destination may start with, as the
// stub expands them: for showing destinations and for mapping them onto
// folders when unpacking without installing.
#pragma once

#include <optional>
#include <string>

namespace sfx::pack {

struct PathVariable {
  std::string name;  // without the percent signs, e.g. "sysdir"
  bool shared = false;  // files below it are installed as shared files
};

struct DestinationParts {
  PathVariable variable;
  std::string rest;  // the text after the variable, unchanged
};

// The variable that starts the destination (exact, case-sensitive, in the
// stub's order), or nothing when it starts with none.
std::optional<DestinationParts> SplitDestination(const std::string& destDir);

// Whether the stub treats an item with this destination as a font.
bool IsFontDestination(const std::string& destDir);

// Whether the stub skips an item with this platform directory.
bool IsWin16PlatformDir(const std::string& platformDir);

// The stub's rule for a name appended to a directory: not empty, not "." or
// "..", without "\", "/" or ":".
bool IsPlainName(const std::string& name);

}  // namespace sfx::pack
