// PE headers -> resource directory -> RT_VERSION -> VS_VERSIONINFO.
#include "platform/host/pe_version.h"

#include <cstring>

#include "platform/byte_order.h"

namespace sfx::host {
namespace {

constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr size_t kFixedInfoSize = 52;
constexpr uint32_t kHighBit = 0x80000000u;

// A bounded view of the input; every read checks its range.
using Bytes = ByteView;

struct Section {
  uint32_t va, rawSize, rawOffset;
};

struct Image {
  Bytes file;
  size_t sectionTable = 0;
  uint16_t sections = 0;
  uint32_t resourceRva = 0;
};

// MZ, PE signature, optional header (PE32 or PE32+), resource directory entry.
bool ParseHeaders(const Bytes& f, Image& img) {
  img.file = f;
  if (!f.Has(0, 0x40) || f.data[0] != 'M' || f.data[1] != 'Z') return false;
  uint32_t pe = f.Le32(0x3C);
  if (!f.Has(pe, 24) || memcmp(f.data + pe, "PE\0\0", 4) != 0) return false;
  img.sections = f.Le16(pe + 6);
  uint16_t optSize = f.Le16(pe + 20);
  size_t opt = pe + 24;
  if (!f.Has(opt, optSize) || optSize < 2) return false;
  uint16_t magic = f.Le16(opt);
  size_t countOff, dirsOff;
  if (magic == 0x10B) {
    countOff = 92, dirsOff = 96;
  } else if (magic == 0x20B) {
    countOff = 108, dirsOff = 112;
  } else {
    return false;
  }
  // The resource directory is data directory 2 (8 bytes each).
  if (optSize < dirsOff + 3 * 8 || f.Le32(opt + countOff) < 3) return false;
  img.resourceRva = f.Le32(opt + dirsOff + 2 * 8);
  img.sectionTable = opt + optSize;
  return img.resourceRva != 0 && f.Has(img.sectionTable, (uint64_t)img.sections * 40);
}

// Maps an RVA to a file offset and the file bytes available from there
// within its section.
bool MapRva(const Image& img, uint32_t rva, size_t& offset, size_t& avail) {
  for (uint16_t i = 0; i < img.sections; ++i) {
    size_t s = img.sectionTable + (size_t)i * 40;
    Section sec{img.file.Le32(s + 12), img.file.Le32(s + 16), img.file.Le32(s + 20)};
    if (rva < sec.va || (uint64_t)rva - sec.va >= sec.rawSize) continue;
    uint64_t off = (uint64_t)sec.rawOffset + (rva - sec.va);
    uint64_t end = (uint64_t)sec.rawOffset + sec.rawSize;
    if (end > img.file.size) end = img.file.size;
    if (off >= end) return false;
    offset = (size_t)off;
    avail = (size_t)(end - off);
    return true;
  }
  return false;
}

// The entry of a resource directory at `dir` (relative to the resource
// view) that matches `id`, or its first entry when `id` is 0 (any).
// Returns the entry's raw OffsetToData.
bool FindEntry(const Bytes& res, uint32_t dir, uint32_t id, uint32_t& target) {
  if (!res.Has(dir, 16)) return false;
  uint32_t count = (uint32_t)res.Le16(dir + 12) + res.Le16(dir + 14);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t e = (uint64_t)dir + 16 + (uint64_t)i * 8;
    if (!res.Has(e, 8)) return false;
    uint32_t name = res.Le32((size_t)e);
    if (id == 0 || name == id) {
      target = res.Le32((size_t)e + 4);
      return true;
    }
  }
  return false;
}

// Type -> name -> language: two subdirectories, then a data entry. A
// malicious tree can point anywhere, but the descent is three steps long.
bool FindVersionData(const Image& img, size_t& offset, size_t& size) {
  size_t resOff, resAvail;
  if (!MapRva(img, img.resourceRva, resOff, resAvail)) return false;
  Bytes res{img.file.data + resOff, resAvail};
  uint32_t entry = 0;
  if (!FindEntry(res, 0, kRtVersion, entry) || !(entry & kHighBit)) return false;
  if (!FindEntry(res, entry & ~kHighBit, 0, entry) || !(entry & kHighBit)) return false;
  if (!FindEntry(res, entry & ~kHighBit, 0, entry) || (entry & kHighBit)) return false;
  if (!res.Has(entry, 16)) return false;
  uint32_t dataRva = res.Le32(entry), dataSize = res.Le32(entry + 4);
  size_t avail;
  if (!MapRva(img, dataRva, offset, avail) || dataSize > avail) return false;
  size = dataSize;
  return true;
}

// "VS_VERSION_INFO" in UTF-16, with its terminating NUL.
bool KeyIsVersionInfo(const Bytes& b, size_t off) {
  static const char kKey[] = "VS_VERSION_INFO";
  for (size_t i = 0; i < sizeof kKey; ++i)
    if (b.Le16(off + 2 * i) != (uint8_t)kKey[i]) return false;
  return true;
}

}  // namespace

size_t FixedFileInfoOffset(const uint8_t* block, size_t size) {
  // wLength, wValueLength, wType, the key (32 bytes), padding to 4: 40.
  constexpr size_t kValueOffset = 40;
  Bytes b{block, size};
  if (!b.Has(0, kValueOffset + kFixedInfoSize)) return 0;
  uint16_t length = b.Le16(0), valueLength = b.Le16(2);
  if (length < kValueOffset + kFixedInfoSize || valueLength < kFixedInfoSize) return 0;
  if (!KeyIsVersionInfo(b, 6) || b.Le32(kValueOffset) != kFixedSignature) return 0;
  return kValueOffset;
}

bool ReadVersionResource(const uint8_t* data, size_t size, std::vector<uint8_t>& block) {
  Image img;
  size_t offset = 0, length = 0;
  if (data == nullptr || !ParseHeaders(Bytes{data, size}, img)) return false;
  if (!FindVersionData(img, offset, length)) return false;
  if (FixedFileInfoOffset(data + offset, length) == 0) return false;
  block.assign(data + offset, data + offset + length);
  return true;
}

bool ReadFixedFileInfo(const uint8_t* data, size_t size, VS_FIXEDFILEINFO& out) {
  std::vector<uint8_t> block;
  if (!ReadVersionResource(data, size, block)) return false;
  // Field by field from little-endian bytes, whatever the host's order.
  Bytes b{block.data(), block.size()};
  size_t at = FixedFileInfoOffset(block.data(), block.size());
  DWORD* fields[] = {&out.dwSignature,      &out.dwStrucVersion,     &out.dwFileVersionMS,
                     &out.dwFileVersionLS,  &out.dwProductVersionMS, &out.dwProductVersionLS,
                     &out.dwFileFlagsMask,  &out.dwFileFlags,        &out.dwFileOS,
                     &out.dwFileType,       &out.dwFileSubtype,      &out.dwFileDateMS,
                     &out.dwFileDateLS};
  for (DWORD* f : fields) {
    *f = b.Le32(at);
    at += 4;
  }
  return true;
}

}  // namespace sfx::host
