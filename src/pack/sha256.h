// SHA-256 (FIPS 180-4), for the integrity record of a payload.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sfx::pack {

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  void Update(const uint8_t* data, size_t size);
  Sha256Digest Finish();  // the object is spent afterwards

 private:
  void Block(const uint8_t* block);

  uint32_t h_[8];
  uint8_t buffer_[64];
  size_t buffered_ = 0;
  uint64_t total_ = 0;
};

Sha256Digest Sha256Of(const uint8_t* data, size_t size);

}  // namespace sfx::pack
