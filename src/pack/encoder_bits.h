// Bit input and output in DEFLATE's order (least-significant bit first), for
// the encoder's block transcoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pack/encoder.h"

namespace sfx::pack::detail {

class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t position() const { return pos_; }
  void Seek(size_t bitPos) { pos_ = bitPos; }
  size_t bitsLeft() const { return size_ * 8 - pos_; }

  // The n (<= 32) bits at bitPos; bits past the end read as zero.
  uint32_t PeekAt(size_t bitPos, int n) const {
    uint64_t v = 0;
    size_t byte = bitPos >> 3;
    for (int i = 0; i < 5 && byte + i < size_; i++) v |= uint64_t(data_[byte + i]) << (8 * i);
    v >>= bitPos & 7;
    return n == 32 ? uint32_t(v) : uint32_t(v & ((uint64_t(1) << n) - 1));
  }
  uint32_t Peek(int n) const { return PeekAt(pos_, n); }
  void Skip(int n) {
    if ((size_t)n > bitsLeft()) throw EncodeError("DEFLATE stream is truncated");
    pos_ += n;
  }
  uint32_t Bits(int n) {
    uint32_t v = Peek(n);
    Skip(n);
    return v;
  }
  void AlignToByte() { Skip((8 - (pos_ & 7)) & 7); }
  const uint8_t* BytePointer() const { return data_ + (pos_ >> 3); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

class BitWriter {
 public:
  // Appends the low n (<= 32) bits of value.
  void Put(uint32_t value, int n) {
    acc_ |= uint64_t(value & (n == 32 ? 0xFFFFFFFFu : ((1u << n) - 1))) << count_;
    count_ += n;
    while (count_ >= 8) {
      out_.push_back(uint8_t(acc_));
      acc_ >>= 8;
      count_ -= 8;
    }
  }
  // Appends a Huffman code given most-significant bit first.
  void PutCode(uint32_t code, int length) {
    uint32_t reversed = 0;
    for (int i = 0; i < length; i++) reversed |= ((code >> i) & 1u) << (length - 1 - i);
    Put(reversed, length);
  }
  void AlignToByte() {
    if (count_ > 0) Put(0, 8 - count_);
  }
  void PutBytes(const uint8_t* p, size_t n) {
    if (count_ == 0) {
      out_.insert(out_.end(), p, p + n);
    } else {
      for (size_t i = 0; i < n; i++) Put(p[i], 8);
    }
  }
  // Copies the reader's bits [from, to) unchanged.
  void CopyBits(const BitReader& in, size_t from, size_t to) {
    while (to - from >= 32) {
      Put(in.PeekAt(from, 32), 32);
      from += 32;
    }
    if (to > from) Put(in.PeekAt(from, int(to - from)), int(to - from));
  }
  std::vector<uint8_t> Finish() {
    AlignToByte();
    return std::move(out_);
  }

 private:
  std::vector<uint8_t> out_;
  uint64_t acc_ = 0;
  int count_ = 0;
};

}  // namespace sfx::pack::detail
