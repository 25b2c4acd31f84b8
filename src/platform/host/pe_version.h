// Reads the version resource of a PE file (PE32 or PE32+) held in memory.
//
// Bounded for untrusted bytes: every offset and size is checked against the
// input, the resource tree is descended exactly three levels (type, name,
// language), so a directory that points at itself or an ancestor ends the
// search instead of looping. Used by GetFileVersionInfo* and by the packer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace sfx::host {

// Copies the VS_VERSIONINFO block of the file's first RT_VERSION resource
// (first name, first language) into `block`. False when the file has none,
// or the block is malformed, or it carries no valid VS_FIXEDFILEINFO.
bool ReadVersionResource(const uint8_t* data, size_t size, std::vector<uint8_t>& block);

// The VS_FIXEDFILEINFO of the file's version resource.
bool ReadFixedFileInfo(const uint8_t* data, size_t size, VS_FIXEDFILEINFO& out);

// Locates the VS_FIXEDFILEINFO inside a VS_VERSIONINFO block of `size`
// bytes (the block's own length field bounds it further). Returns its offset
// in the block, or 0 when there is none.
size_t FixedFileInfoOffset(const uint8_t* block, size_t size);

}  // namespace sfx::host
