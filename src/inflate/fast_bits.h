// The bit input of the decoder's fast loops: a 64-bit bit buffer in a local
// variable, topped up by 8-byte loads straight from the input buffer while
// enough bytes are buffered, so that no input file is read inside the loop.
#pragma once

#include <cstdint>
#include <cstring>

#include "inflate/inflater.h"

#if defined(__GNUC__)
#define SFX_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define SFX_ALWAYS_INLINE inline
#endif

// The host's fast loops start on a cache line, so that their branches do
// not shift against fetch boundaries with whatever the linker puts before
// them: placement alone moved the bench by a few per cent.
#ifdef SFX_FAST_LOOP_BMI2
#define SFX_HOT_ALIGN __attribute__((aligned(64)))
#else
#define SFX_HOT_ALIGN
#endif

namespace fast_bits {

// Bytes a fast loop needs to start: its first two top-ups read 7 + 8.
const UINT kInputMargin = 16;
// Bytes a further top-up reads.
const UINT kLoadBytes = 8;

// The 8 bytes at p as a little-endian number.
inline uint64_t Load64(const BYTE* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint64_t v;
  memcpy(&v, p, 8);
  return v;
#else
  uint64_t v = 0;
  for (int i = 7; i >= 0; i--) v = (v << 8) | p[i];
  return v;
#endif
}

}  // namespace fast_bits

// Tops the bit buffer up to at least 56 bits with one 8-byte load. The load
// fills every bit above the count, so the buffer's 64 bits are all stream
// bits afterwards, though only whole bytes are counted. Only the low 6 bits
// of bitcount hold the count: a symbol is consumed by subtracting its whole
// table entry, whose bits above the low 6 change only bitcount's upper bits.
#define SFX_REFILL()                                          \
  do {                                                        \
    bitbuf |= fast_bits::Load64(in) << (bitcount & 63);       \
    in += 7 - ((bitcount >> 3) & 7);                          \
    bitcount |= 56;                                           \
  } while (0)

#define SFX_CONSUME(e)              \
  do {                              \
    bitbuf >>= Consumed(e);         \
    bitcount -= (e);                \
  } while (0)
