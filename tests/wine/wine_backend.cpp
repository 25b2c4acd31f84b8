#include "wine/wine_backend.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace sfx::wine {

#ifdef SFX_WINE_I686
// Inside the namespaces of "i686-env.sh exec", which names the root.
static Backend MakeBackend() {
  const char* root = std::getenv("SFX_I686_ROOT");
  if (root == nullptr || *root == '\0')
    throw std::runtime_error("SFX_I686_ROOT is not set: run through scripts/i686-env.sh exec");
  Backend b;
  b.root = root;
  b.wine = {"/usr/sbin/chroot", b.root, "/usr/lib/wine/wine"};
  b.server = {"/usr/sbin/chroot", b.root, "/usr/lib/wine/wineserver32"};
  b.templateDir = b.root + "/sfx/template";
  b.casesDir = b.root + "/sfx/cases";
  std::filesystem::create_directories(b.casesDir);
  // The root holds no shell: Wine must not go through its shell wrappers.
  b.env = {"WINESERVER=/usr/lib/wine/wineserver32", "WINELOADER=/usr/lib/wine/wine"};
  return b;
}
#else
static Backend MakeBackend() {
  Backend b;
  b.wine = {SFX_WINE64};
  b.server = {SFX_WINESERVER};
  b.templateDir = SFX_WINE_TEMPLATE;
  return b;
}
#endif

const Backend& TheBackend() {
  static const Backend backend = MakeBackend();
  return backend;
}

std::string GuestPath(const std::string& hostPath) {
  const std::string& root = TheBackend().root;
  if (root.empty()) return hostPath;
  if (hostPath.compare(0, root.size(), root) != 0 ||
      (hostPath.size() > root.size() && hostPath[root.size()] != '/'))
    throw std::runtime_error(hostPath + " is outside Wine's root " + root);
  std::string guest = hostPath.substr(root.size());
  return guest.empty() ? "/" : guest;
}

}  // namespace sfx::wine
