// The payload writer: turns a description of a catalogue and the bytes of
// its files into the payload that a setup stub installs from.
//
// Layout of the result (all integers 32-bit little-endian):
//   L, the stream area's length
//   the stream area: one compressed stream per file, in file order
//   A, archive 1's length
//   archive 1: the file table (an object array of CCompFileInfo)
//   archive 2: the project (one CBuildItems)
// The archives are written by the catalogue classes' own Serialize, so the
// stub reads back exactly what is described here.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sfx::pack {

using Bytes = std::vector<uint8_t>;

// A file-table entry and the file it unpacks to.
struct FileEntry {
  std::string name;  // the name it is unpacked under
  Bytes data;        // the file's bytes, compressed by the writer
  uint32_t ctime = 0;  // creation time, seconds since 1970 (UTC); 0: not set
  uint32_t mtime = 0;  // last-write time; 0: no time is set
  uint8_t attribute = 0;
  uint32_t versionMS = 0;
  uint32_t versionLS = 0;
  // When set, these bytes go into the stream area as they are and data is
  // ignored; an empty stream makes an entry without a stream (start ==
  // end). The packer never needs this; it builds damaged payloads.
  std::optional<Bytes> stream;
};

// A file to install (CBuildItem). Item i belongs to file entry i.
struct Item {
  std::string name;
  std::string destDir;      // e.g. "%inst%"
  std::string platformDir;  // "win32\", "win16\" or ""
  std::string sourcePath;   // where the file lay when the catalogue was made
  uint32_t platformSpecific = 0;
  uint32_t versionMS = 0;
  uint32_t versionLS = 0;
  uint32_t size = 0;
};

// A program to start after a component (CExecutableItem).
struct Program {
  std::string name;
  std::string dir;
  uint32_t reserved = 0;
  uint32_t component = 0;
};

// The project (CBuildItems).
struct Project {
  std::string project;
  std::string mainProgram;
  std::string extra;
  std::vector<std::string> installDirs;
  uint16_t mainInWindowsDir = 0;
  std::vector<Program> programs;
  std::vector<Item> items;
  std::vector<std::vector<uint32_t>> components;  // item indices per component
  std::vector<std::vector<uint32_t>> platforms;   // item indices per platform
  Bytes block1;
  Bytes block2;
};

struct Catalogue {
  std::vector<FileEntry> files;
  Project project;
};

struct PayloadOptions {
  int level = 6;  // compression level, 0 (stored) to 12
  // Written as A instead of archive 1's true length; the stub ignores A.
  std::optional<uint32_t> fileTableLength;
};

// Where each part landed, as payload offsets.
struct PayloadLayout {
  uint32_t dataLength = 0;          // L
  uint32_t fileTableOffset = 0;     // archive 1's first byte
  uint32_t fileTableLength = 0;     // archive 1's true length
  uint32_t projectOffset = 0;       // archive 2's first byte
  uint32_t projectLength = 0;
  std::vector<uint32_t> starts;     // each entry's m_dwStart
  std::vector<uint32_t> ends;       // each entry's m_dwEnd
};

struct Payload {
  Bytes bytes;
  PayloadLayout layout;
};

class PayloadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Compresses every file (each stream is decoded back and compared before
// it is used), lays out the payload and returns it. Throws PayloadError when
// the catalogue cannot be written (a payload of 4 GiB or more, a string or
// list too long for the archive encoding, a stream that does not decode
// back to its file).
Payload WritePayload(const Catalogue& catalogue, const PayloadOptions& options = {});

// The two archives alone, in the encoding the stub loads (for tools and
// tests that look at one of them).
Bytes WriteFileTableArchive(const Catalogue& catalogue, const std::vector<uint32_t>& starts,
                            const std::vector<uint32_t>& ends);
Bytes WriteProjectArchive(const Project& project);

// Appends v as four little-endian bytes.
void AppendDword(Bytes& out, uint32_t v);

}  // namespace sfx::pack
