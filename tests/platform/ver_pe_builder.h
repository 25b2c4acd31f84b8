// Builds a minimal PE image with a version resource, with the offsets of
// its structures known, so that tests can damage exactly one of them.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace sfx::test {

struct BuiltPe {
  std::vector<uint8_t> bytes;
  size_t pe = 0x40;        // "PE\0\0"
  size_t opt = 0;          // optional header
  size_t resourceDir = 0;  // data directory entry 2 (rva, size)
  size_t section = 0;      // the one section header
  size_t rsrc = 0x200;     // file offset of the resource section
  // Offsets within the resource section:
  size_t rootDir = 0, typeDir = 0x18, nameDir = 0x30, dataEntry = 0x48, block = 0x58;

  void Put16(size_t off, uint16_t v) {
    bytes[off] = (uint8_t)v;
    bytes[off + 1] = (uint8_t)(v >> 8);
  }
  void Put32(size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[off + i] = (uint8_t)(v >> (8 * i));
  }
  // Offsets relative to the resource section, as the directory uses them.
  void PutRes32(size_t off, uint32_t v) { Put32(rsrc + off, v); }
  void PutRes16(size_t off, uint16_t v) { Put16(rsrc + off, v); }
};

// fileVersion/productVersion are (MS, LS) pairs.
inline BuiltPe BuildPe(bool pe32Plus, uint32_t fileMS, uint32_t fileLS) {
  constexpr uint32_t kSectionRva = 0x1000;
  BuiltPe p;
  p.bytes.assign(0x200 + 0x200, 0);
  p.bytes[0] = 'M';
  p.bytes[1] = 'Z';
  p.Put32(0x3C, (uint32_t)p.pe);
  memcpy(&p.bytes[p.pe], "PE\0\0", 4);
  uint16_t optSize = pe32Plus ? 240 : 224;
  p.Put16(p.pe + 4, pe32Plus ? 0x8664 : 0x14C);
  p.Put16(p.pe + 6, 1);  // sections
  p.Put16(p.pe + 20, optSize);
  p.opt = p.pe + 24;
  p.Put16(p.opt, pe32Plus ? 0x20B : 0x10B);
  p.Put32(p.opt + (pe32Plus ? 108 : 92), 16);  // data directories
  p.resourceDir = p.opt + (pe32Plus ? 112 : 96) + 2 * 8;
  p.Put32(p.resourceDir, kSectionRva);
  p.Put32(p.resourceDir + 4, 0x100);
  p.section = p.opt + optSize;
  memcpy(&p.bytes[p.section], ".rsrc", 5);
  p.Put32(p.section + 8, 0x200);          // virtual size
  p.Put32(p.section + 12, kSectionRva);   // virtual address
  p.Put32(p.section + 16, 0x200);         // raw size
  p.Put32(p.section + 20, (uint32_t)p.rsrc);

  // root -> type 16 -> name 1 -> language 0x409 -> data entry
  p.PutRes16(p.rootDir + 14, 1);
  p.PutRes32(p.rootDir + 16, 16);
  p.PutRes32(p.rootDir + 20, 0x80000000u | (uint32_t)p.typeDir);
  p.PutRes16(p.typeDir + 14, 1);
  p.PutRes32(p.typeDir + 16, 1);
  p.PutRes32(p.typeDir + 20, 0x80000000u | (uint32_t)p.nameDir);
  p.PutRes16(p.nameDir + 14, 1);
  p.PutRes32(p.nameDir + 16, 0x409);
  p.PutRes32(p.nameDir + 20, (uint32_t)p.dataEntry);
  p.PutRes32(p.dataEntry, kSectionRva + (uint32_t)p.block);
  p.PutRes32(p.dataEntry + 4, 92);

  // VS_VERSIONINFO: lengths, type, key, padding, VS_FIXEDFILEINFO.
  size_t b = p.rsrc + p.block;
  p.Put16(b, 92);
  p.Put16(b + 2, 52);
  const char key[] = "VS_VERSION_INFO";
  for (size_t i = 0; i < sizeof key; ++i) p.Put16(b + 6 + 2 * i, (uint8_t)key[i]);
  p.Put32(b + 40, 0xFEEF04BD);
  p.Put32(b + 44, 0x00010000);
  p.Put32(b + 48, fileMS);
  p.Put32(b + 52, fileLS);
  p.Put32(b + 56, 0x00070000);  // product version, not the file version
  p.Put32(b + 60, 0x00000001);
  return p;
}

}  // namespace sfx::test
