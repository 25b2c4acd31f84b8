// The integrity record: SHA-256 digests of a payload and of each of its
// regions (the stream-area length, every stream, the file-table length and
// both archives), written right after the payload where the stub never
// reads. A signed setup keeps it: signing appends its certificate table
// after it, and the record is found at the payload's end, not the file's.
//
// Layout (integers 32-bit little-endian), 96 + 44 * R bytes:
//   0         8   magic "SFXKITIR"
//   8         4   version, 1
//   12        4   payload size the record covers
//   16        32  SHA-256 of the whole payload
//   48        4   R, the number of regions
//   52        44R regions, in payload order: kind, start, end (payload
//                 offsets, end exclusive), SHA-256 of bytes [start, end)
//   52+44R    32  SHA-256 of the record's bytes before this field
//   84+44R    4   the record's length, 96 + 44R
//   88+44R    8   magic "SFXKITIR"
// The closing length and magic let a reader find the record at the end of a
// "Data.bin" or bare payload, which has no locator to give the payload's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/payload_writer.h"
#include "pack/sha256.h"

namespace sfx::pack {

enum class RegionKind : uint32_t {
  StreamAreaLength = 1,  // L
  Stream = 2,            // one per file-table entry, in entry order
  FileTableLength = 3,   // A
  FileTable = 4,         // archive 1
  Project = 5,           // archive 2
};

struct RecordRegion {
  RegionKind kind = RegionKind::Stream;
  uint32_t start = 0;
  uint32_t end = 0;
  Sha256Digest digest{};
};

struct IntegrityRecord {
  uint32_t payloadSize = 0;
  Sha256Digest payloadDigest{};
  std::vector<RecordRegion> regions;
};

// The record of a payload laid out as `layout` says.
Bytes MakeIntegrityRecord(const Bytes& payload, const PayloadLayout& layout);

// Whether a record starts at data (its opening magic).
bool StartsIntegrityRecord(const uint8_t* data, size_t size);
// The length of a record that ends exactly at data + size (closing length and
// magic, and the opening magic where the length puts it); 0 for none.
size_t TrailingRecordLength(const uint8_t* data, size_t size);

// Reads a record starting at data; `length` is set to the bytes it takes.
// Throws ReadError for a damaged or cut-short record.
IntegrityRecord ParseIntegrityRecord(const uint8_t* data, size_t size, size_t* length);

// Compares a payload with its record: one line per region whose bytes
// differ, naming it (entries by their names when given). Empty: intact.
std::vector<std::string> CheckIntegrity(const IntegrityRecord& record, const uint8_t* payload, size_t size,
                                        const std::vector<std::string>& entryNames);

}  // namespace sfx::pack
