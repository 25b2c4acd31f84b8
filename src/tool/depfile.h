// `sfx pack --depfile FILE`: a make-style dependency file naming the setup
// and everything packing it read (the manifest, every packed file, the
// blocks and the stub), so a build system packs again when any of them
// changes.
#pragma once

#include <string>
#include <vector>

#include "pack/manifest.h"

namespace sfx::tool {

// The host files a pack of this manifest reads, as absolute paths.
std::vector<std::string> PackInputs(const pack::Manifest& manifest, const std::string& manifestPath,
                                    const std::string& stubPath);

// "target: dep dep ..." with make's quoting (spaces, '#', '$'); a name
// holding a line feed cannot be written and throws ToolError.
std::string DepfileText(const std::string& target, const std::vector<std::string>& inputs);

// Writes the depfile whole (or not at all).
void WriteDepfile(const std::string& path, const std::string& target, const std::vector<std::string>& inputs);

}  // namespace sfx::tool
