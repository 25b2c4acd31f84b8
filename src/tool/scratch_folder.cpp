#include "tool/scratch_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "tool/tool_error.h"

namespace sfx::tool {

std::string MakeTempFolder(const char* stem) {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/" + stem + "-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr)
    throw ToolError("cannot make a temporary folder " + pattern + ": " + strerror(errno));
  return buf.data();
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace sfx::tool
