// From a manifest to a catalogue: reads each file, takes its times,
// attribute and version from the file system and the file itself (unless
// the manifest gives them), and compresses it, checking every stream by
// decoding it back.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "pack/manifest.h"
#include "pack/payload_writer.h"

namespace sfx::pack {

// Called before each file is compressed.
using PackProgress = std::function<void(size_t index, size_t count, const std::string& name)>;

// Throws ManifestError for a missing or unreadable input file, PayloadError
// when a stream cannot be made.
Catalogue BuildCatalogue(const Manifest& manifest, int level, const PackProgress& progress = nullptr);

// "Z:\dir\" for a host folder: how the emulated machine sees host paths.
std::string HostFolderAsWindows(const std::string& hostDir);

}  // namespace sfx::pack
