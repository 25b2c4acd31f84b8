// Decoding one compressed stream with the stub's own decoder, from bytes in
// memory, counting how many input bytes the stream takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace sfx::pack {

struct DecodeOutcome {
  int result = 0;          // the decoder's result: 0 ok, 1 bad data, 2 bad block, 3 no memory
  uint64_t consumed = 0;   // input bytes the stream took, its last partial byte included
  uint64_t written = 0;    // output bytes
};

// Receives the decoded bytes in the decoder's pieces; may throw to stop.
using ByteSink = std::function<void(const uint8_t* data, size_t size)>;

// Decodes the stream that starts at input[offset]. Bytes from there to the
// end of the input are available to the decoder; a stream that needs more
// ends with result 1. A null sink only counts.
DecodeOutcome DecodeStream(const uint8_t* input, size_t size, size_t offset, const ByteSink& sink);

}  // namespace sfx::pack
