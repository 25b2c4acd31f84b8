#include "pack/integrity_record.h"

#include <cstring>

#include "pack/setup_reader.h"
#include "platform/byte_order.h"

namespace sfx::pack {
namespace {

const char kMagic[8] = {'S', 'F', 'X', 'K', 'I', 'T', 'I', 'R'};
const uint32_t kVersion = 1;
const size_t kFixed = 96;      // the record without its regions
const size_t kRegionSize = 44;
// A payload holds fewer regions than this (every stream takes a catalogue
// entry of at least 20 bytes); more is a damaged count, not an allocation.
const uint32_t kMaxRegions = 1u << 24;

void PutDigest(Bytes& out, const Sha256Digest& d) { out.insert(out.end(), d.begin(), d.end()); }

RecordRegion Region(const Bytes& payload, RegionKind kind, uint64_t start, uint64_t end) {
  if (end < start || end > payload.size()) throw PayloadError("integrity record: a region lies outside the payload");
  return {kind, (uint32_t)start, (uint32_t)end, Sha256Of(payload.data() + start, (size_t)(end - start))};
}

std::string Range(const RecordRegion& r) {
  return "bytes " + std::to_string(r.start) + "-" + std::to_string(r.end == r.start ? r.end : r.end - 1);
}

std::string RegionName(const RecordRegion& r, size_t stream, const std::vector<std::string>& names) {
  switch (r.kind) {
    case RegionKind::StreamAreaLength: return "stream-area length L (" + Range(r) + ")";
    case RegionKind::FileTableLength: return "file-table length A (" + Range(r) + ")";
    case RegionKind::FileTable: return "file table (archive 1, " + Range(r) + ")";
    case RegionKind::Project: return "project (archive 2, " + Range(r) + ")";
    case RegionKind::Stream: break;
  }
  std::string label = "entry " + std::to_string(stream);
  if (stream < names.size()) label += " (\"" + names[stream] + "\")";
  return label + ": stream (" + Range(r) + ")";
}

}  // namespace

Bytes MakeIntegrityRecord(const Bytes& payload, const PayloadLayout& layout) {
  std::vector<RecordRegion> regions;
  const uint64_t areaEnd = 4 + (uint64_t)layout.dataLength;
  regions.push_back(Region(payload, RegionKind::StreamAreaLength, 0, 4));
  for (size_t i = 0; i < layout.starts.size() && i < layout.ends.size(); ++i)
    regions.push_back(Region(payload, RegionKind::Stream, layout.starts[i], layout.ends[i]));
  regions.push_back(Region(payload, RegionKind::FileTableLength, areaEnd, areaEnd + 4));
  regions.push_back(Region(payload, RegionKind::FileTable, layout.fileTableOffset,
                           (uint64_t)layout.fileTableOffset + layout.fileTableLength));
  regions.push_back(Region(payload, RegionKind::Project, layout.projectOffset,
                           (uint64_t)layout.projectOffset + layout.projectLength));

  Bytes out(kMagic, kMagic + 8);
  AppendDword(out, kVersion);
  AppendDword(out, (uint32_t)payload.size());
  PutDigest(out, Sha256Of(payload.data(), payload.size()));
  AppendDword(out, (uint32_t)regions.size());
  for (const RecordRegion& r : regions) {
    AppendDword(out, (uint32_t)r.kind);
    AppendDword(out, r.start);
    AppendDword(out, r.end);
    PutDigest(out, r.digest);
  }
  PutDigest(out, Sha256Of(out.data(), out.size()));
  AppendDword(out, (uint32_t)(out.size() + 12));
  out.insert(out.end(), kMagic, kMagic + 8);
  return out;
}

bool StartsIntegrityRecord(const uint8_t* data, size_t size) { return size >= 8 && memcmp(data, kMagic, 8) == 0; }

size_t TrailingRecordLength(const uint8_t* data, size_t size) {
  if (size < kFixed || memcmp(data + size - 8, kMagic, 8) != 0) return 0;
  uint32_t length = LoadLe32(data + size - 12);
  if (length < kFixed || length > size || (length - kFixed) % kRegionSize != 0) return 0;
  return StartsIntegrityRecord(data + size - length, length) ? length : 0;
}

IntegrityRecord ParseIntegrityRecord(const uint8_t* data, size_t size, size_t* length) {
  if (!StartsIntegrityRecord(data, size)) throw ReadError("no integrity record");
  if (size < kFixed) throw ReadError("integrity record: cut short");
  uint32_t count = LoadLe32(data + 48);
  if (count > kMaxRegions || !Fits(kFixed, (uint64_t)count * kRegionSize, size))
    throw ReadError("integrity record: damaged (its region count " + std::to_string(count) + " runs past the file)");
  const size_t body = 52 + count * kRegionSize;
  const size_t total = body + 44;
  Sha256Digest self = Sha256Of(data, body);
  if (memcmp(self.data(), data + body, 32) != 0 || LoadLe32(data + body + 32) != total ||
      memcmp(data + body + 36, kMagic, 8) != 0)
    throw ReadError("integrity record: damaged (its own digest or closing fields differ)");
  if (LoadLe32(data + 8) != kVersion)
    throw ReadError("integrity record: version " + std::to_string(LoadLe32(data + 8)) + " is not known");
  IntegrityRecord record;
  record.payloadSize = LoadLe32(data + 12);
  memcpy(record.payloadDigest.data(), data + 16, 32);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* p = data + 52 + i * kRegionSize;
    RecordRegion r;
    r.kind = (RegionKind)LoadLe32(p);
    r.start = LoadLe32(p + 4);
    r.end = LoadLe32(p + 8);
    memcpy(r.digest.data(), p + 12, 32);
    record.regions.push_back(r);
  }
  if (length) *length = total;
  return record;
}

std::vector<std::string> CheckIntegrity(const IntegrityRecord& record, const uint8_t* payload, size_t size,
                                        const std::vector<std::string>& entryNames) {
  std::vector<std::string> problems;
  if (record.payloadSize != size)
    problems.push_back("integrity record: covers a payload of " + std::to_string(record.payloadSize) +
                       " bytes, the payload has " + std::to_string(size));
  size_t stream = 0;
  uint64_t tiled = 0;  // how far the regions, in order and without gaps, cover the payload
  for (const RecordRegion& r : record.regions) {
    std::string name = RegionName(r, stream, entryNames);
    if (r.kind == RegionKind::Stream) ++stream;
    if (r.end < r.start || !Fits(r.start, r.end - r.start, size)) {
      problems.push_back(name + ": lies outside the payload");
      continue;
    }
    if (r.start == tiled) tiled = r.end;
    Sha256Digest d = Sha256Of(payload + r.start, r.end - r.start);
    if (d != r.digest) problems.push_back(name + ": damaged (SHA-256 differs from the integrity record)");
  }
  // Regions that tile the whole payload have checked every byte; only when
  // some bytes lie outside them is the payload hashed a second time.
  if (problems.empty() && tiled != size && Sha256Of(payload, size) != record.payloadDigest)
    problems.push_back("payload: damaged (SHA-256 of the whole payload differs from the integrity record)");
  return problems;
}

}  // namespace sfx::pack
