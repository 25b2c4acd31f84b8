#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/host/prefix.h"

namespace fs = std::filesystem;

namespace sfx::test {

TempDir::TempDir() : TempDir(std::string()) {}

TempDir::TempDir(const std::string& parent) {
  fs::path in = parent.empty() ? fs::temp_directory_path() : fs::path(parent);
  std::string pattern = (in / "sfxkit-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only files and folders must be made writable before removal.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

ScopedPrefix::ScopedPrefix() {
  const char* env = getenv("SFX_PREFIX");
  had_env_ = env != nullptr;
  if (had_env_) saved_env_ = env;
  setenv("SFX_PREFIX", dir_.path().c_str(), 1);
  sfx::host::SetPrefixRoot(dir_.path());
  sfx::host::EnsurePrefix();
}

ScopedPrefix::~ScopedPrefix() {
  if (had_env_)
    setenv("SFX_PREFIX", saved_env_.c_str(), 1);
  else
    unsetenv("SFX_PREFIX");
  sfx::host::SetPrefixRoot("");
}

std::string ScopedPrefix::Host(const char* windowsPath) const {
  return sfx::host::MapToHost(windowsPath);
}

std::string ReadFile(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + hostPath);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string ReadFileIfPresent(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  if (!in) return std::string();
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::string& hostPath, const std::string& bytes) {
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + hostPath);
  out.write(bytes.data(), (std::streamsize)bytes.size());
}

}  // namespace sfx::test
