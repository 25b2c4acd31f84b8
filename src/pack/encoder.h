// The encoder of the compressed-stream format.
//
// Data is compressed to raw DEFLATE (RFC 1951) with libdeflate, and each
// block is then rewritten into the stream format: a 4-bit header (type 5
// fixed, 6 dynamic, 7 stored, then the last-block flag), the code-length code
// in the order 18, 17, 16, 0, 1, ..., 15, stored blocks with LEN only. The
// Huffman-coded bits of a block are identical in both formats and are copied
// through. A block whose codes the stub's decoder would refuse is re-encoded
// with the fixed codes instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace sfx::pack {

class EncodeError : public std::runtime_error {
 public:
  explicit EncodeError(const std::string& what) : std::runtime_error(what) {}
};

struct TranscodeStats {
  size_t storedBlocks = 0;
  size_t fixedBlocks = 0;
  size_t dynamicBlocks = 0;
  size_t reencodedBlocks = 0;  // dynamic blocks rewritten with fixed codes
};

// Compresses size bytes at level 0 (stored only) to 12 (smallest). Throws
// std::invalid_argument for another level, EncodeError if compression fails.
std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, int level);

// Rewrites a raw DEFLATE stream into the stream format. Bytes after the last
// block are ignored. Throws EncodeError on a malformed or truncated stream.
std::vector<uint8_t> TranscodeDeflate(const uint8_t* raw, size_t size,
                                      TranscodeStats* stats = nullptr);

// True when the stub's decoder turns the stream into exactly these bytes.
bool VerifyStream(const std::vector<uint8_t>& stream, const uint8_t* expected, size_t size);

}  // namespace sfx::pack
