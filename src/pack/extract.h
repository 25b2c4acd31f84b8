// Unpacking a setup's files into a folder without installing them, safely:
// nothing is ever created outside that folder, whatever the catalogue says.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "pack/setup_reader.h"

namespace sfx::pack {

class ExtractError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ExtractOptions {
  bool flat = false;   // every file directly in the folder, names made unique
  bool force = false;  // replace existing files (never folders or links' targets)
};

struct ExtractedFile {
  size_t index = 0;
  std::string path;  // relative to the folder, "/"-separated
  uint64_t size = 0;
};

struct ExtractReport {
  std::vector<ExtractedFile> files;
  std::vector<std::string> refusals;  // one line per entry not unpacked
  // False when the file system keeps no extended attributes, so creation
  // times and attribute bytes could not be recorded.
  bool metadataKept = true;
};

using ExtractProgress = std::function<void(size_t index, size_t count)>;

// Unpacks every file-table entry into dir (created if missing, its parent
// must exist). Files get the entry's last-write time; a read-only attribute
// clears their write bits; the creation time and the attribute byte go into
// the extended attributes "user.sfxkit.ctime" and "user.sfxkit.attr" that
// the emulated machine reads. Folders are entered with O_NOFOLLOW, files
// created with O_EXCL | O_NOFOLLOW, so links inside dir are never followed.
// Throws ExtractError when dir itself cannot be used.
ExtractReport ExtractSetup(const SetupFile& setup, const LoadedPayload& payload, const std::string& dir,
                           const ExtractOptions& options, const ExtractProgress& progress = nullptr,
                           const std::function<void(uint64_t bytes)>& decoded = nullptr);

}  // namespace sfx::pack
