// Where the emulated Windows machine lives: the prefix folder, its layout,
// and the Windows family this process reports.
//
// The root follows the environment on every call (an override set by
// SetPrefixRoot, else SFX_PREFIX and its fallbacks), so a changed SFX_PREFIX
// is never served from a stale cache; what is remembered is the absolute
// form of the values last seen, "this root has been laid out" and the
// root's family. Each is worked out once per root and process, not on every
// path mapping: an installation maps several paths per file, and a stat of
// the root each time was a fifth of its system calls.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/host/made_folders.h"
#include "platform/host/prefix.h"
#include "platform/host/registry_db.h"

namespace sfx::host {
namespace {

std::mutex g_mutex;
std::string g_override;      // set by SetPrefixRoot; empty = environment
std::string g_preparedRoot;  // the root whose layout EnsurePrefix made
std::string g_familyRoot;    // the root whose family g_family holds
Family g_family = Family::NT;

std::string HomeDirectory() {
  const char* home = getenv("HOME");
  if (home != nullptr && home[0] != '\0') return home;
  struct passwd* pw = getpwuid(getuid());
  if (pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return "/tmp";
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char buf[4096];
  if (getcwd(buf, sizeof buf) == nullptr) return "/" + path;
  return std::string(buf) + "/" + path;
}

std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string ChosenRootUncached() {
  const char* env = getenv("SFX_PREFIX");
  if (env != nullptr && env[0] != '\0') return StripTrailingSlashes(Absolute(env));
  const char* xdg = getenv("XDG_DATA_HOME");
  std::string data = (xdg != nullptr && xdg[0] != '\0') ? Absolute(xdg) : HomeDirectory() + "/.local/share";
  return StripTrailingSlashes(data) + "/sfxkit/prefix";
}

// The root for the environment as it stands. A relative SFX_PREFIX is taken
// from the working directory once, when that value is first seen: the
// machine does not move when the process changes its directory, and every
// path mapping asks for the root. Callers hold g_mutex, which guards the
// values remembered here.
std::string ChosenRoot() {
  if (!g_override.empty()) return g_override;
  static std::string s_env, s_xdg, s_home, s_root;
  const char* env = getenv("SFX_PREFIX");
  const char* xdg = getenv("XDG_DATA_HOME");
  const char* home = getenv("HOME");
  auto same = [](const std::string& seen, const char* now) { return seen == (now != nullptr ? now : ""); };
  if (s_root.empty() || !same(s_env, env) || !same(s_xdg, xdg) || !same(s_home, home)) {
    s_env = env != nullptr ? env : "";
    s_xdg = xdg != nullptr ? xdg : "";
    s_home = home != nullptr ? home : "";
    s_root = ChosenRootUncached();
  }
  return s_root;
}

// mkdir -p; existing directories are fine. Failures surface later as
// path-not-found errors of the calls that need the folders.
void MakeDirs(const std::string& path) {
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (!partial.empty()) mkdir(partial.c_str(), 0777);
  }
}

void LayOut(const std::string& root) {
  static const char* const kFolders[] = {
      "/drive_c/WINDOWS/SYSTEM", "/drive_c/WINDOWS/SYSTEM32", "/drive_c/WINDOWS/FONTS",
      "/drive_c/TEMP"};
  for (const char* folder : kFolders) MakeDirs(root + folder);
  EnsureRegistry(root);
}

}  // namespace

std::string PrefixRoot() {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::string root = ChosenRoot();
  if (root != g_preparedRoot) {
    LayOut(root);
    g_preparedRoot = root;
  }
  return root;
}

void SetPrefixRoot(const std::string& root) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_override = root.empty() ? std::string() : StripTrailingSlashes(Absolute(root));
  g_preparedRoot.clear();
  g_familyRoot.clear();
  ForgetMadeFolders();
}

void EnsurePrefix() { (void)PrefixRoot(); }

std::string ChosenPrefixRoot() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return ChosenRoot();
}

std::string PrefixSetting(const std::string& root, const char* name) {
  char text[32] = {};
  FILE* f = fopen((root + "/" + name).c_str(), "re");
  if (f == nullptr) return std::string();
  size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  size_t end = 0;
  while (end < n && text[end] != '\n' && text[end] != '\r' && text[end] != ' ') ++end;
  return std::string(text, end);
}

bool WritePrefixSetting(const std::string& root, const char* name, const std::string& value) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_familyRoot.clear();
  }
  std::string path = root + "/" + name, temp = path + ".XXXXXX";
  int fd = mkstemp(&temp[0]);
  if (fd < 0) return false;
  std::string text = value + "\n";
  bool ok = write(fd, text.data(), text.size()) == (ssize_t)text.size() && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

Family CurrentFamily() {
  const char* v = getenv("SFX_WINVER");
  if (v != nullptr && v[0] != '\0') return strcmp(v, "95") == 0 ? Family::Win95 : Family::NT;
  // Unset: the family the prefix was made for ("sfx prefix init --family"),
  // read once per root (a machine does not change family while a setup
  // runs on it; this process's own WritePrefixSetting forgets it). Read
  // without laying the prefix out, since laying out may itself ask for the
  // family.
  std::lock_guard<std::mutex> lock(g_mutex);
  std::string root = ChosenRoot();
  if (root != g_familyRoot) {
    g_family = PrefixSetting(root, "family") == "95" ? Family::Win95 : Family::NT;
    g_familyRoot = root;
  }
  return g_family;
}

}  // namespace sfx::host
