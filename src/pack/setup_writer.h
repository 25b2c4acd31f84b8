// The setup writer: puts a payload where a stub finds it, either appended
// to a copy of the stub with its PayloadLocator patched, or as the side file
// "Data.bin".
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace sfx::pack {

class SetupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The 6 bytes that open a PayloadLocator: four letters and the word 0x5498.
std::vector<uint8_t> PayloadLocatorMagic();

// Byte position of the stub's PayloadLocator. Throws SetupError unless the
// magic occurs exactly once, with room for the whole block after it.
size_t FindPayloadLocator(const std::vector<uint8_t>& stub);

// The payload offset and size a locator in an image holds.
struct LocatorFields {
  uint32_t offset = 0;
  uint32_t size = 0;
};
LocatorFields ReadPayloadLocator(const std::vector<uint8_t>& image, size_t position);

// The stub followed by the payload, with the locator's offset set to the
// stub's size and its size to the payload's. Throws SetupError for a stub
// whose locator is missing or ambiguous or that already carries a payload,
// and for a result of 4 GiB or more (payload positions are 32-bit).
std::vector<uint8_t> MakeSetupImage(const std::vector<uint8_t>& stub,
                                    const std::vector<uint8_t>& payload);

// Reads the stub at stubPath and writes MakeSetupImage's result to outPath,
// executable. Throws SetupError on any failure.
void WriteSetupExecutable(const std::string& stubPath, const std::vector<uint8_t>& payload,
                          const std::string& outPath);

// The name of the side file the stub reads when its locator holds no offset.
extern const char kDataFileName[];

// Writes the payload as "Data.bin" in the given (host) directory and
// returns the file's path.
std::string WriteDataFile(const std::string& directory, const std::vector<uint8_t>& payload);

}  // namespace sfx::pack
