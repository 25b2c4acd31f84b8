// Reading a setup from outside: the payload's place in a setup executable,
// a bare payload or a "Data.bin", and the catalogue loaded into
// standard-library types for the tool's listings and checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "pack/authenticode.h"
#include "pack/payload_writer.h"

namespace sfx::pack {

class ReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class PayloadSource {
  Auto,     // a locator if the file has one, else the whole file is a payload
  Payload,  // the whole file is a payload, whatever it holds
};

struct LocatorInfo {
  bool present = false;
  size_t position = 0;  // file offset of the block
  uint16_t word = 0;
  uint32_t offset = 0;
  uint32_t size = 0;
};

// A setup file in memory and where its payload lies in it.
struct SetupFile {
  std::string path;         // the file read
  std::string payloadPath;  // the file that holds the payload (path or its "Data.bin")
  Bytes bytes;              // the whole payload file
  LocatorInfo locator;
  size_t payloadStart = 0;  // in bytes
  // A setup signed after packing: its Authenticode signature, and the bytes
  // it added at the end (the certificate table and its alignment), which
  // are not part of the payload.
  PeSignature signature;
  size_t signatureBytes = 0;
  const uint8_t* payload() const { return bytes.data() + payloadStart; }
  size_t payloadSize() const { return bytes.size() - payloadStart - signatureBytes; }
};

// Reads a whole host file; refuses one of 4 GiB or more (payload positions
// are 32-bit). Throws ReadError.
Bytes ReadHostFile(const std::string& path);

// Reads a setup executable, a bare payload or a "Data.bin".
// Auto: no locator magic at all -> the file is a payload starting at 0. One
// locator with an offset -> the payload starts there (copies of the magic
// inside the payload itself are ignored). One locator without an offset ->
// the payload is "Data.bin" beside the file, as the stub reads it. Two or
// more locators before the payload -> ReadError. An Authenticode
// certificate table after the payload (a setup signed after packing) is
// read into `signature` and left out of the payload.
SetupFile ReadSetupFile(const std::string& path, PayloadSource source = PayloadSource::Auto);

// A file-table entry as loaded.
struct TableEntry {
  uint32_t ctime = 0;
  uint32_t mtime = 0;
  uint8_t attribute = 0;
  std::string name;
  uint32_t versionMS = 0;
  uint32_t versionLS = 0;
  uint32_t start = 0;
  uint32_t end = 0;
};

// The payload's parts, as payload offsets.
struct LoadedLayout {
  uint32_t dataLength = 0;       // L
  uint32_t fileTableField = 0;   // A as written
  uint32_t fileTableOffset = 0;  // 8 + L
  uint32_t fileTableLength = 0;  // bytes archive 1 really takes
  uint32_t projectOffset = 0;
  uint32_t projectLength = 0;    // bytes archive 2 really takes
  uint32_t payloadSize = 0;
};

struct LoadedPayload {
  LoadedLayout layout;
  std::vector<TableEntry> files;
  Project project;
};

// Loads the catalogue with the stub's own archive reader and catalogue
// classes. Throws ReadError for a payload cut short or a damaged catalogue.
LoadedPayload LoadPayload(const uint8_t* payload, size_t size);

}  // namespace sfx::pack
