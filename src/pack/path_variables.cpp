#include "pack/path_variables.h"

namespace sfx::pack {
namespace {

// Tested in this order; the first whose text starts the destination wins.
const PathVariable kVariables[] = {
    {"sysdir", true}, {"font", false},  {"prefs", false}, {"data", false}, {"win16", true},
    {"win32", true},  {"macppc", true}, {"inst", false},  {"root", false},
};

}  // namespace

std::optional<DestinationParts> SplitDestination(const std::string& destDir) {
  for (const PathVariable& v : kVariables) {
    std::string token = "%" + v.name + "%";
    if (destDir.compare(0, token.size(), token) == 0)
      return DestinationParts{v, destDir.substr(token.size())};
  }
  return std::nullopt;
}

bool IsFontDestination(const std::string& destDir) { return destDir == "%font%"; }

bool IsWin16PlatformDir(const std::string& platformDir) {
  return platformDir.compare(0, 6, "win16\\") == 0;
}

bool IsPlainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of("\\/:") == std::string::npos;
}

}  // namespace sfx::pack
