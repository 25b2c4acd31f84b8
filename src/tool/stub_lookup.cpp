#include "tool/stub_lookup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tool/tool_error.h"

namespace sfx::tool {
namespace {

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> Candidates(const std::string& target) {
  std::vector<std::string> paths;
  // A variable that is set is the user's choice: it is used or it fails,
  // never passed over for a stub found elsewhere.
  const char* env = getenv(target == "win32" ? "SFX_STUB_WIN32" : "SFX_STUB");
  if (env != nullptr && env[0] != '\0') return {env};
  std::string dir = ExecutableFolder();
  // Beside sfx, then an installation (PREFIX/bin/sfx with the stubs in
  // PREFIX/lib/sfxkit and PREFIX/share/sfxkit), then the build tree.
  if (target == "win32") {
    paths.push_back(dir + "/sfx-stub.exe");
    paths.push_back(dir + "/../share/sfxkit/sfx-stub.exe");
    paths.push_back(dir + "/../../win32-stub/src/app/sfx-stub.exe");
    paths.push_back(dir + "/../../../win32/src/app/sfx-stub.exe");
  } else {
    paths.push_back(dir + "/sfx-stub");
    paths.push_back(dir + "/../lib/sfxkit/sfx-stub");
    paths.push_back(dir + "/../app/sfx-stub");
  }
  return paths;
}

}  // namespace

std::string ExecutableFolder() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, (size_t)n);
  size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

std::string FindStub(const std::string& target, const std::string& explicitPath) {
  if (!explicitPath.empty()) {
    if (!IsFile(explicitPath)) throw ToolError("stub " + explicitPath + " is not a file");
    return explicitPath;
  }
  std::string tried;
  for (const std::string& path : Candidates(target)) {
    if (IsFile(path)) {
      std::error_code ec;
      std::string clean = std::filesystem::weakly_canonical(path, ec).string();
      return ec ? path : clean;
    }
    tried += (tried.empty() ? "" : ", ") + path;
  }
  throw ToolError("no " + target + " stub found (tried " + tried + "); give --stub PATH or set " +
                  (target == "win32" ? "SFX_STUB_WIN32" : "SFX_STUB"));
}

}  // namespace sfx::tool
