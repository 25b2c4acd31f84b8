// Decoding of literal/length and distance symbols into the sliding window.
//
// Two paths give the same bytes, results and reads. The fast path runs while
// enough bytes are left in the input buffer: it keeps the bit buffer in a
// 64-bit local topped up by 8-byte loads, never reads the input file, and
// hands the whole bytes it did not use back to the input buffer when it
// stops. The careful path handles one symbol at a time near the end of the
// buffer, where a read of the input may be needed, and past the input's end;
// it fetches a byte only when the symbol in hand needs its bits.
#include <cstdint>
#include <cstring>

#include "inflate/fast_bits.h"
#include "inflate/inflate_alloc.h"
#include "inflate/inflater.h"

using namespace fast_bits;
using namespace huffman_entry;

namespace {

// The fast loop stopped for want of input or because the window is full.
const int kFastStopped = -1;

// Stands in for a code with no symbols: any read from it is an invalid code.
const HuffmanEntry kNoCode[1] = {kInvalid};

// Copies a match of n bytes (3 to 258) from nDist (1 to 32,768) bytes back,
// front to back, so that a distance shorter than the length repeats the
// bytes just written. Whole words are moved, so up to 39 bytes past the
// match's end are overwritten with bytes that later output replaces. Every
// byte up to the match's end is copied from a byte already final.
const UINT kCopyOverrun = 39;
static_assert(CInflater::kWindowSlack >= 258 + kCopyOverrun,
              "a match that starts just before a piece's end stays inside the window");

inline void CopyMatchFast(BYTE* dst, UINT n, UINT nDist) {
  const BYTE* src = dst - nDist;
  BYTE* const end = dst + n;
  if (nDist >= 8) {
    // Five words cover most matches without a test; longer ones go on five
    // words at a time.
    do {
      memcpy(dst, src, 8);
      memcpy(dst + 8, src + 8, 8);
      memcpy(dst + 16, src + 16, 8);
      memcpy(dst + 24, src + 24, 8);
      memcpy(dst + 32, src + 32, 8);
      dst += 40;
      src += 40;
    } while (dst < end);
  } else if (nDist == 1) {
    uint64_t v = *src * 0x0101010101010101ull;
    for (; dst < end; dst += 8) memcpy(dst, &v, 8);
  } else {
    // Each word stored makes nDist more bytes final, and the next word is
    // loaded from exactly where the last one was stored.
    do {
      memcpy(dst, src, 8);
      dst += nDist;
      src += nDist;
    } while (dst < end);
  }
}

// The extra bits of a length or distance entry, from the bit buffer as it
// was before the entry was consumed. Such an entry is neither link nor end,
// so its bits 8-13 are the code's length.
SFX_ALWAYS_INLINE UINT ExtraValue(uint64_t saved, HuffmanEntry e) {
  return (UINT)((saved & ((uint64_t(1) << Consumed(e)) - 1)) >> ((e >> 8) & 63));
}

}  // namespace

// The table entry the bits in hand select, fetching input bytes until the
// entry's code (for a link: the table's width) is wholly in hand.
HuffmanEntry CInflater::PeekEntry(const HuffmanEntry* pTable, UINT nBits) {
  for (;;) {
    HuffmanEntry e = pTable[m_dwBitBuffer & ((1u << nBits) - 1)];
    UINT nNeed = (e & kLink) ? nBits : CodeLength(e);
    if (nNeed <= m_nBitCount) return e;
    NeedBits(m_nBitCount + 1);
  }
}

// The entry of the next symbol with its code consumed (its extra bits not),
// or an invalid entry for an invalid code or a code with no symbols.
HuffmanEntry CInflater::DecodeSymbol(const HuffmanEntry* pTable, int nBits) {
  if (pTable == nullptr) return kInvalid;
  HuffmanEntry e = PeekEntry(pTable, (UINT)nBits);
  if (e & kLink) {
    DropBits(Consumed(e));
    e = PeekEntry(pTable + Value(e), CodeLength(e));
  }
  if (!IsInvalid(e)) DropBits(CodeLength(e));
  return e;
}

// Copies a match byte by byte, writing the window out whenever it fills.
void CInflater::CopyMatch(UINT nDistance, UINT nLength) {
  while (nLength > 0) {
    UINT nChunk = PieceEnd() - m_nWindowPos;
    if (nChunk > nLength) nChunk = nLength;
    BYTE* dst = m_pWindow + m_nWindowPos;
    const BYTE* src = dst - nDistance;
    for (UINT i = 0; i < nChunk; i++) dst[i] = src[i];
    nLength -= nChunk;
    m_nWindowPos += nChunk;
    if (m_nWindowPos == PieceEnd()) FlushWindow();
  }
}

int CInflater::InflateCodes(const HuffmanEntry* pLiteral, const HuffmanEntry* pDistance,
                            int nLiteralBits, int nDistanceBits) {
  if (pLiteral == nullptr) {
    pLiteral = kNoCode;
    nLiteralBits = 0;
  }
  if (pDistance == nullptr) {
    pDistance = kNoCode;
    nDistanceBits = 0;
  }
  for (;;) {
    if (m_nAvail >= kInputMargin) {
#ifdef SFX_FAST_LOOP_BMI2
      int nResult = HasBmi2() ? InflateCodesFastBmi2(pLiteral, pDistance, nLiteralBits, nDistanceBits)
                              : InflateCodesFast(pLiteral, pDistance, nLiteralBits, nDistanceBits);
#else
      int nResult = InflateCodesFast(pLiteral, pDistance, nLiteralBits, nDistanceBits);
#endif
      if (m_nWindowPos >= PieceEnd()) FlushWindow();
      if (nResult != kFastStopped) return nResult;
      if (m_nAvail >= kInputMargin) continue;
    }
    // One symbol the careful way.
    HuffmanEntry e = DecodeSymbol(pLiteral, nLiteralBits);
    if (e & kLiteral) {
      if (PastEnd()) return 1;
      PutByte((BYTE)Value(e));
      continue;
    }
    if (e & kSpecial) return (e & kEnd) && !PastEnd() ? 0 : 1;
    UINT nLength = Value(e) + GetBits(ExtraBits(e));
    HuffmanEntry d = DecodeSymbol(pDistance, nDistanceBits);
    if (d & kSpecial) return 1;
    UINT nDistance = Value(d) + GetBits(ExtraBits(d));
    if (PastEnd()) return 1;
    CopyMatch(nDistance, nLength);
  }
}

// Decodes symbols while enough bytes are buffered and the window is not
// full. The loop makes no calls, which keeps its state in registers; the
// entry of the next symbol is looked up before the current match is copied.
// Returns 0 at end of block, 1 on an invalid code, or kFastStopped.
SFX_ALWAYS_INLINE int CInflater::FastLoop(const HuffmanEntry* pLiteral, const HuffmanEntry* pDistance,
                                          int nLiteralBits, int nDistanceBits) {
  const uint64_t kLiteralMask = (1u << nLiteralBits) - 1;
  const uint64_t kDistanceMask = (1u << nDistanceBits) - 1;
  uint64_t bitbuf = m_dwBitBuffer;
  UINT bitcount = m_nBitCount;
  const BYTE* in = m_pNext;
  const BYTE* const inStart = in;
  const BYTE* const inLimit = in + m_nAvail - kLoadBytes;
  BYTE* out = m_pWindow + m_nWindowPos;
  BYTE* const outLimit = m_pWindow + PieceEnd();
  int nResult = kFastStopped;

  // The caller saw room for a first round: its two top-ups read at most
  // 7 + 8 bytes.
  SFX_REFILL();
  HuffmanEntry e = pLiteral[bitbuf & kLiteralMask];
  do {
    // After a top-up at least 56 bits are counted and 64 are in hand: room
    // for three literals of up to 15 bits and the next lookup, or for a
    // length (up to 15 + 5 bits), a distance (up to 15 + 13) and the next
    // lookup. The window's slack takes what runs past its end.
    SFX_REFILL();
    if (e & kLiteral) {
      SFX_CONSUME(e);
      *out++ = (BYTE)Value(e);
      e = pLiteral[bitbuf & kLiteralMask];
      if (e & kLiteral) {
        SFX_CONSUME(e);
        *out++ = (BYTE)Value(e);
        e = pLiteral[bitbuf & kLiteralMask];
        if (e & kLiteral) {
          SFX_CONSUME(e);
          *out++ = (BYTE)Value(e);
          e = pLiteral[bitbuf & kLiteralMask];
        }
      }
      continue;  // to the loop's test
    }
    if (e & kSpecial) {
      if (e & kLink) {
        SFX_CONSUME(e);
        e = pLiteral[Value(e) + (bitbuf & ((1u << CodeLength(e)) - 1))];
        if (e & kLiteral) {
          SFX_CONSUME(e);
          *out++ = (BYTE)Value(e);
          e = pLiteral[bitbuf & kLiteralMask];
          continue;
        }
      }
      if (e & kSpecial) {
        if (e & kEnd) {
          SFX_CONSUME(e);
          nResult = 0;
        } else {
          nResult = 1;
        }
        break;
      }
    }
    // A length, then its distance.
    uint64_t saved = bitbuf;
    SFX_CONSUME(e);
    UINT nLength = Value(e) + ExtraValue(saved, e);
    e = pDistance[bitbuf & kDistanceMask];
    if (e & kSpecial) {
      if (!(e & kLink)) {
        nResult = 1;
        break;
      }
      SFX_CONSUME(e);
      e = pDistance[Value(e) + (bitbuf & ((1u << CodeLength(e)) - 1))];
      if (e & kSpecial) {
        nResult = 1;
        break;
      }
    }
    saved = bitbuf;
    SFX_CONSUME(e);
    UINT nDistance = Value(e) + ExtraValue(saved, e);
    e = pLiteral[bitbuf & kLiteralMask];
    // The position is at least 32,768 and a distance at most that much, so
    // the source lies inside the window.
    CopyMatchFast(out, nLength, nDistance);
    out += nLength;
  } while (in <= inLimit && out < outLimit);

  EndFastBits(bitbuf, bitcount, in, inStart);
  m_nWindowPos = (UINT)(out - m_pWindow);
  return nResult;
}

SFX_HOT_ALIGN int CInflater::InflateCodesFast(const HuffmanEntry* pLiteral, const HuffmanEntry* pDistance,
                                int nLiteralBits, int nDistanceBits) {
  return FastLoop(pLiteral, pDistance, nLiteralBits, nDistanceBits);
}

#ifdef SFX_FAST_LOOP_BMI2
// The same loop with BMI2's shifts, which take their count from any
// register and leave the flags alone: fewer moves on the symbols' path.
__attribute__((target("bmi2"))) SFX_HOT_ALIGN int CInflater::InflateCodesFastBmi2(
    const HuffmanEntry* pLiteral, const HuffmanEntry* pDistance, int nLiteralBits, int nDistanceBits) {
  return FastLoop(pLiteral, pDistance, nLiteralBits, nDistanceBits);
}

bool CInflater::HasBmi2() {
  static const bool bHas = __builtin_cpu_supports("bmi2");
  return bHas;
}
#endif

// Ends a fast loop: hands back the whole bytes it loaded but did not
// consume, so that the input position and the bit buffer are where the
// careful path expects them.
void CInflater::EndFastBits(uint64_t bitbuf, UINT bitcount, const BYTE* in, const BYTE* inStart) {
  bitcount &= 63;
  UINT nBack = bitcount >> 3;
  if (nBack > (UINT)(in - inStart)) nBack = (UINT)(in - inStart);
  in -= nBack;
  bitcount -= nBack * 8;
  m_dwBitBuffer = (DWORD)(bitbuf & ((uint64_t(1) << bitcount) - 1));
  m_nBitCount = bitcount;
  m_nAvail = m_nAvail - (UINT)(in - inStart);
  m_pNext = in;
}
