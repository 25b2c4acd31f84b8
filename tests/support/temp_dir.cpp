#include "support/temp_dir.h"

#include <algorithm>
#include <cctype>
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

bool IsInstallDirName(const std::string& name) {
  if (name.size() < 7 || name.compare(0, 2, "cc") != 0) return false;
  if (name.compare(name.size() - 4, 4, ".tmp") != 0) return false;
  for (size_t i = 2; i < name.size() - 4; ++i)
    if (!std::isxdigit((unsigned char)name[i])) return false;
  return true;
}

std::string ReadFile(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + hostPath);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
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

std::string TestDll(const std::string& name) {
  std::string path = name.find('/') != std::string::npos ? name : std::string(SFX_TEST_DLL_DIR) + "/" + name;
  std::string bytes = ReadFileIfPresent(path);
  if (bytes.empty()) throw std::runtime_error("missing sample file " + path);
  return bytes;
}

std::vector<std::string> ListTree(const std::string& hostDir) {
  std::vector<std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(hostDir)) {
    std::string rel = entry.path().lexically_relative(hostDir).string();
    out.push_back(entry.is_directory() && !entry.is_symlink() ? rel + "/" : rel);
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace sfx::test
