// Checking a setup without running it: every stream decodes and ends where
// the catalogue says, the streams tile the stream area, the catalogue is one
// the stub can install, and the payload ends where the locator says.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pack/setup_reader.h"

namespace sfx::pack {

struct VerifyReport {
  std::vector<std::string> problems;  // one line each, empty when all is well
  size_t streams = 0;                 // streams decoded
  uint64_t decodedBytes = 0;          // their output
  size_t entries = 0;
  // The Authenticode signature of a setup executable: "none", or its signer
  // and the signed range; empty for a payload or a file that is no PE image.
  std::string signature;
};

// Called before each stream with its entry index and the entry count.
using VerifyProgress = std::function<void(size_t index, size_t count)>;

VerifyReport VerifySetup(const SetupFile& setup, const VerifyProgress& progress = nullptr);

}  // namespace sfx::pack
