// Byte order and range helpers for every reader of bytes from outside: the
// payload and its archives, fonts, PE files, setup files.
//
// Values are assembled byte by byte, so they read the same on any host. The
// range check is written once, in a form that cannot overflow: a reader asks
// Fits(offset, size, total) before it touches [offset, offset + size).
// Header-only and free of the standard library's containers, so the stub's
// code may use it as well as the tool.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sfx {

// TRUE when the range of `size` bytes at `offset` lies inside `total` bytes.
// No sum is formed, so no choice of values can wrap round.
constexpr bool Fits(uint64_t offset, uint64_t size, uint64_t total) {
  return offset <= total && size <= total - offset;
}

// Little-endian values at p.
inline uint16_t LoadLe16(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return (uint16_t)(b[0] | (b[1] << 8));
}
inline uint32_t LoadLe32(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return (uint32_t)b[0] | ((uint32_t)b[1] << 8) | ((uint32_t)b[2] << 16) | ((uint32_t)b[3] << 24);
}
inline uint64_t LoadLe64(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return (uint64_t)LoadLe32(b) | ((uint64_t)LoadLe32(b + 4) << 32);
}

// Big-endian values at p (font tables).
inline uint16_t LoadBe16(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return (uint16_t)((b[0] << 8) | b[1]);
}
inline uint32_t LoadBe32(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return ((uint32_t)b[0] << 24) | ((uint32_t)b[1] << 16) | ((uint32_t)b[2] << 8) | b[3];
}

// Little-endian values stored at p.
inline void StoreLe16(void* p, uint16_t v) {
  uint8_t* b = static_cast<uint8_t*>(p);
  b[0] = (uint8_t)v;
  b[1] = (uint8_t)(v >> 8);
}
inline void StoreLe32(void* p, uint32_t v) {
  uint8_t* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 4; ++i) b[i] = (uint8_t)(v >> (8 * i));
}

// A bounded view of bytes in memory. Has() is the range check; each read
// checks its own range too and gives 0 for bytes outside the view, so a
// reader that forgot a check reads zeros, never past the input.
struct ByteView {
  const uint8_t* data;
  size_t size;

  bool Has(uint64_t offset, uint64_t count) const { return Fits(offset, count, size); }
  uint16_t Le16(uint64_t offset) const { return Has(offset, 2) ? LoadLe16(data + offset) : 0; }
  uint32_t Le32(uint64_t offset) const { return Has(offset, 4) ? LoadLe32(data + offset) : 0; }
  uint64_t Le64(uint64_t offset) const { return Has(offset, 8) ? LoadLe64(data + offset) : 0; }
};

}  // namespace sfx
