// Temporary folders for tests, removed with everything in them at scope end.
#pragma once

#include <string>
#include <vector>

namespace sfx::test {

class TempDir {
 public:
  TempDir();
  // In `parent` rather than the temporary-files folder (none: the same).
  explicit TempDir(const std::string& parent);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// The family of Windows a test machine plays: NT, or 95 (98, Me).
enum class Family { NT, Win95 };

// A fresh emulated Windows machine for the length of a test: a temporary
// prefix folder that this process (and, through SFX_PREFIX, the processes it
// starts) uses until the scope ends.
class ScopedPrefix {
 public:
  ScopedPrefix();
  ~ScopedPrefix();
  const std::string& root() const { return dir_.path(); }
  // Host path of a Windows path in this prefix.
  std::string Host(const char* windowsPath) const;

 private:
  TempDir dir_;
  std::string saved_env_;
  bool had_env_;
};

// Whether a name has the form of the stub's install directory in the
// temporary folder, cc<hex digits>.tmp (GetTempFileNameA with prefix "cc").
bool IsInstallDirName(const std::string& name);

// Whole-file helpers. ReadFile throws when the file cannot be read;
// ReadFileIfPresent gives an empty string instead (output a child may not
// have written).
std::string ReadFile(const std::string& hostPath);
std::string ReadFileIfPresent(const std::string& hostPath);
void WriteFile(const std::string& hostPath, const std::string& bytes);
// The lines of a text, without their line ends (LF or CR LF).
std::vector<std::string> Lines(const std::string& text);

// Bytes of a sample file: a small PE file of tests/platform/data by name, or
// any host file by path. Throws when it is missing or empty.
std::string TestDll(const std::string& name);

// Every entry below a host folder as a relative path, folders with a
// trailing "/" (links listed as themselves, not followed), sorted.
std::vector<std::string> ListTree(const std::string& hostDir);

}  // namespace sfx::test
