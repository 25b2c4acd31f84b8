// Checking a setup without running it: every stream decodes and ends where
// the catalogue says, the streams tile the stream area, the catalogue is one
// the stub can install, and the payload ends where the locator says.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pack/integrity_check.h"
#include "pack/setup_reader.h"

namespace sfx::pack {

struct VerifyReport {
  std::vector<std::string> problems;  // one line each, empty when all is well
  size_t streams = 0;                 // streams decoded
  uint64_t decodedBytes = 0;          // their output
  size_t entries = 0;
  IntegrityState integrity = IntegrityState::Absent;  // the integrity record's verdict
  // The Authenticode signature of a setup executable: "none", or its signer
  // and the signed range; empty for a payload or a file that is no PE image.
  std::string signature;
};

// What a caller may watch while a setup is verified; each may be empty.
struct VerifyHooks {
  // Once the catalogue has loaded (not at all when it cannot), before any
  // stream is decoded: the caller sees the catalogue without loading it again.
  std::function<void(const LoadedPayload& payload)> loaded;
  // Before each stream, with its entry index and the entry count.
  std::function<void(size_t index, size_t count)> progress;
  // With the bytes each piece of decoding gives.
  std::function<void(uint64_t bytes)> decoded;
};

VerifyReport VerifySetup(const SetupFile& setup, const VerifyHooks& hooks = {});

}  // namespace sfx::pack
