// A bit writer for hand-made streams: fields least-significant bit first,
// Huffman codes most-significant bit first, as the stream format packs them.
#pragma once

#include <cstdint>
#include <vector>

namespace sfx::test {

class BitWriter {
 public:
  BitWriter& Bits(uint32_t value, int n) {
    for (int i = 0; i < n; i++) Bit((value >> i) & 1u);
    return *this;
  }
  BitWriter& Code(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; i--) Bit((code >> i) & 1u);
    return *this;
  }
  // The 4-bit block header: type 5 fixed, 6 dynamic, 7 stored.
  BitWriter& Header(int type, bool last) { return Bits(uint32_t(type) | (last ? 8u : 0u), 4); }
  BitWriter& Align() {
    while (count_ % 8 != 0) Bit(0);
    return *this;
  }
  BitWriter& Byte(uint8_t b) { return Bits(b, 8); }

  // Fixed-code symbols of RFC 1951 section 3.2.6.
  BitWriter& FixedSymbol(int sym) {
    if (sym < 144) return Code(0x30 + sym, 8);
    if (sym < 256) return Code(0x190 + (sym - 144), 9);
    if (sym < 280) return Code(sym - 256, 7);
    return Code(0xC0 + (sym - 280), 8);
  }
  BitWriter& FixedDistance(int sym) { return Code(uint32_t(sym), 5); }

  std::vector<uint8_t> Bytes() const { return bytes_; }
  size_t bitCount() const { return count_; }

 private:
  void Bit(uint32_t b) {
    if (count_ % 8 == 0) bytes_.push_back(0);
    bytes_.back() |= uint8_t(b << (count_ % 8));
    count_++;
  }
  std::vector<uint8_t> bytes_;
  size_t count_ = 0;
};

}  // namespace sfx::test
