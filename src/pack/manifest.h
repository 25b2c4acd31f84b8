// The packer's input: a JSON manifest naming the project, its files with
// their destinations and the programs to start. Reading checks every key
// and type and refuses what the stub could not install, naming the key.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sfx::pack {

class ManifestError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ManifestFile {
  std::string source;      // host path, relative to the manifest's folder; may be a folder or pattern
  std::string name;        // default: the source's last component
  bool nameGiven = false;  // `name` was in the manifest (refused on a folder or pattern)
  std::vector<std::string> exclude;  // patterns left out of a folder or pattern source
  std::string dest = "%inst%";
  std::string platformDir;
  std::optional<std::string> sourcePath;  // default: the source's folder relative to the manifest (.\\sub\\)
  bool platformSpecific = false;
  std::vector<uint32_t> components{0};
  std::vector<uint32_t> platforms;  // lists that allow it; default [1] when platform-specific
  std::optional<uint64_t> version;  // MS << 32 | LS; default: the PE version resource
  std::optional<uint8_t> attribute; // default: archive, plus read-only from the write bits
  std::optional<bool> readOnly;
  std::optional<uint32_t> ctime;    // default: the file's birth time, else its mtime
  std::optional<uint32_t> mtime;    // default: the file's mtime
};

struct ManifestProgram {
  std::string name;
  std::string dir = "%inst%";
  uint32_t component = 0;
  uint32_t reserved = 0;
};

struct Manifest {
  std::string baseDir;  // the manifest's folder: relative sources start here
  std::string project;
  std::optional<std::string> mainProgram;  // required with more than one file; default: the only file
  bool mainInWindowsDir = false;
  std::optional<std::vector<std::string>> installDirs;  // default: "", "<project>\", ""
  std::string extra;
  std::vector<ManifestFile> files;
  std::vector<ManifestProgram> programs;
  std::optional<std::string> block1File;
  std::optional<std::string> block2File;
  // Recorded times later than this are clamped to it (SOURCE_DATE_EPOCH).
  std::optional<uint32_t> latestTime;
};

// Lists and indices above this are refused.
constexpr uint32_t kMaxListIndex = 255;

// Parses manifest text; baseDir is where relative paths start.
Manifest ParseManifest(const std::string& text, const std::string& baseDir);
// Reads and parses a manifest file (at most 16 MiB).
Manifest ReadManifest(const std::string& path);

// The manifest `sfx pack DIR` stands for: every file below dir, installed
// in the install folder with its subfolders, the project named after the
// folder, and the given main program (needed when it holds several files).
// Checked as a manifest file is.
Manifest FolderManifest(const std::string& dir, const std::optional<std::string>& mainProgram);

// A path the manifest names (a source, a block file) as the host finds it:
// an absolute one as it is, a relative one below the manifest's folder.
std::string HostPathOf(const Manifest& m, const std::string& path);

// "1.2.3.4" -> 0x0001000200030004; nothing for another form.
std::optional<uint64_t> ParseVersion(const std::string& text);

}  // namespace sfx::pack
