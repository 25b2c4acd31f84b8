// Decoding of literal/length and distance symbols into the sliding window.
//
// Two paths give the same bytes, results and reads. The fast path runs while
// at least 16 bytes are left in the input buffer: it keeps the bit buffer in
// a 64-bit local topped up by 8-byte loads, never reads the input file, and
// hands the whole bytes it did not use back to the input buffer when it
// stops. The careful path handles one symbol at a time near the end of the buffer, where
// a read of the input may be needed, and past the input's end.
#include <cstdint>
#include <cstring>

#include "inflate/inflate_alloc.h"
#include "inflate/inflater.h"

namespace {

// Why the fast loop stopped, besides 0 (end of block) and 1 (invalid code).
enum {
  kFastInputLow = -1,    // fewer than 16 bytes buffered
  kFastWindowFull = -2,  // the window is to be written out
  kFastFarMatch = -3,    // a match that wraps the window is to be copied
};

const BYTE kOpInvalid = 100;
const BYTE kOpLiteral = 16;
const BYTE kOpEndOfBlock = 15;
const UINT kWindowMask = CInflater::kWindowSize - 1;

// Stands in for a code with no symbols: any read from it is an invalid code.
const HuffmanEntry kNoCode = {kOpInvalid, 0, {0}};

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

// Copies n bytes forward from src, which lies nDist bytes before dst, so a
// distance shorter than the length repeats the bytes just written. Words
// are moved only where their source bytes are already final; the last word
// is placed to end exactly at dst + n (re-writing a few bytes with the same
// values), so nothing past the match is touched: the window ahead still
// holds bytes that later matches may reach.
inline void CopyForward(BYTE* dst, const BYTE* src, UINT n, UINT nDist) {
  if (nDist >= 8 && n >= 8) {
    for (UINT i = 0; i + 8 < n; i += 8) memcpy(dst + i, src + i, 8);
    memcpy(dst + n - 8, src + n - 8, 8);
  } else if (nDist >= 4 && n >= 4) {
    for (UINT i = 0; i + 4 < n; i += 4) memcpy(dst + i, src + i, 4);
    memcpy(dst + n - 4, src + n - 4, 4);
  } else if (nDist == 1 && n >= 8) {
    uint64_t v = *src * 0x0101010101010101ull;
    for (UINT i = 0; i + 8 < n; i += 8) memcpy(dst + i, &v, 8);
    memcpy(dst + n - 8, &v, 8);
  } else {
    while (n-- > 0) *dst++ = *src++;
  }
}

}  // namespace

// The entry of the next symbol, or null for an invalid code or a code with
// no symbols.
const HuffmanEntry* CInflater::DecodeSymbol(const HuffmanEntry* pTable, int nBits) {
  if (pTable == nullptr) return nullptr;
  NeedBits((UINT)nBits);
  const HuffmanEntry* e = pTable + (m_dwBitBuffer & ((1u << nBits) - 1));
  while (e->op > kOpLiteral) {
    if (e->op == kOpInvalid) return nullptr;
    DropBits(e->bits);
    UINT w = e->op - 16u;
    NeedBits(w);
    e = e->next + (m_dwBitBuffer & ((1u << w) - 1));
  }
  DropBits(e->bits);
  return e;
}

// Copies a match of nLength bytes from nDistance back, in pieces that stop
// at the window's end, flushing the window whenever it fills. Returns the new
// window position.
UINT CInflater::CopyMatch(UINT nPos, UINT nDistance, UINT nLength) {
  BYTE* w = m_pWindow;
  UINT nSource = (nPos - nDistance) & kWindowMask;
  while (nLength > 0) {
    UINT nChunk = kWindowSize - (nSource > nPos ? nSource : nPos);
    if (nChunk > nLength) nChunk = nLength;
    nLength -= nChunk;
    if (nSource > nPos) {
      // The source lies ahead of the position (older bytes of the window);
      // the two ranges may still overlap, and memmove reads each source
      // byte before it is overwritten, as a forward copy does.
      memmove(w + nPos, w + nSource, nChunk);
    } else if (nSource < nPos) {
      CopyForward(w + nPos, w + nSource, nChunk, nPos - nSource);
    }
    // nSource == nPos: a distance of 32,768 copies each byte onto itself.
    nPos += nChunk;
    nSource = (nSource + nChunk) & kWindowMask;
    if (nPos == kWindowSize) {
      m_pOutput->Write(w, kWindowSize);
      nPos = 0;
    }
  }
  return nPos;
}

int CInflater::InflateCodes(const HuffmanEntry* pLiteral, const HuffmanEntry* pDistance,
                            int nLiteralBits, int nDistanceBits) {
  if (pLiteral == nullptr) {
    pLiteral = &kNoCode;
    nLiteralBits = 0;
  }
  if (pDistance == nullptr) {
    pDistance = &kNoCode;
    nDistanceBits = 0;
  }
  for (;;) {
    if (m_nAvail >= 16) {
      UINT nDistance, nLength;
      int nResult = InflateCodesFast(pLiteral, pDistance, nLiteralBits, nDistanceBits, &nDistance,
                                     &nLength);
      if (nResult >= 0) return nResult;
      if (nResult == kFastWindowFull) {
        FlushWindow();
        continue;
      }
      if (nResult == kFastFarMatch) {
        m_nWindowPos = CopyMatch(m_nWindowPos, nDistance, nLength);
        continue;
      }
    }
    // One symbol the careful way.
    const HuffmanEntry* e = DecodeSymbol(pLiteral, nLiteralBits);
    if (e == nullptr) return 1;
    if (e->op == kOpLiteral) {
      if (PastEnd()) return 1;
      PutByte((BYTE)e->value);
      continue;
    }
    if (e->op == kOpEndOfBlock) return PastEnd() ? 1 : 0;
    UINT nLength = e->value + GetBits(e->op);
    const HuffmanEntry* d = DecodeSymbol(pDistance, nDistanceBits);
    if (d == nullptr) return 1;
    UINT nDistance = d->value + GetBits(d->op);
    if (PastEnd()) return 1;
    m_nWindowPos = CopyMatch(m_nWindowPos, nDistance, nLength);
  }
}

// Takes the entry of the next symbol from a table, following links to
// sub-tables, and consumes its bits; jumps to `invalid` on an invalid code.
#define SFX_DECODE_ENTRY(e, table, mask)                 \
  do {                                                   \
    e = (table) + (bitbuf & (mask));                     \
    while (e->op > kOpLiteral) {                         \
      if (e->op == kOpInvalid) goto invalid;             \
      bitbuf >>= e->bits;                                \
      bitcount -= e->bits;                               \
      e = e->next + (bitbuf & ((1u << (e->op - 16)) - 1)); \
    }                                                    \
    bitbuf >>= e->bits;                                  \
    bitcount -= e->bits;                                 \
  } while (0)

// Tops the bit buffer up to at least 56 bits with one 8-byte load.
#define SFX_REFILL()                  \
  do {                                \
    bitbuf |= Load64(in) << bitcount; \
    in += (63 - bitcount) >> 3;       \
    bitcount |= 56;                   \
  } while (0)

// Stores a literal; a full window ends the loop so that the caller writes it.
#define SFX_PUT_LITERAL(e)            \
  do {                                \
    w[pos++] = (BYTE)(e)->value;      \
    if (pos == kWindowSize) {         \
      nResult = kFastWindowFull;      \
      goto done;                      \
    }                                 \
  } while (0)

// Decodes symbols while at least 16 bytes are buffered, enough for the two
// top-ups of one round. The loop makes no calls, which keeps its state in
// registers: a full window, and a match that would run across the window's
// end, go back to the caller (the match through *pnDistance, *pnLength).
// Returns 0 at end of block, 1 on an invalid code, or one of the kFast
// reasons.
int CInflater::InflateCodesFast(const HuffmanEntry* pLiteral, const HuffmanEntry* pDistance,
                                int nLiteralBits, int nDistanceBits, UINT* pnDistance,
                                UINT* pnLength) {
  const uint64_t kLiteralMask = (1u << nLiteralBits) - 1;
  const uint64_t kDistanceMask = (1u << nDistanceBits) - 1;
  uint64_t bitbuf = m_dwBitBuffer;
  UINT bitcount = m_nBitCount;
  const BYTE* in = m_pNext;
  const BYTE* const inStart = in;
  const BYTE* const inEnd = in + m_nAvail;
  BYTE* const w = m_pWindow;
  UINT pos = m_nWindowPos;
  int nResult = kFastInputLow;
  const HuffmanEntry* e;

  while (inEnd - in >= 16) {
    // A code takes at most 16 bits: after a top-up, three literals fit.
    SFX_REFILL();
    SFX_DECODE_ENTRY(e, pLiteral, kLiteralMask);
    if (e->op == kOpLiteral) {
      if (pos >= kWindowSize - 3) {  // near the window's end: one at a time
        SFX_PUT_LITERAL(e);
        continue;
      }
      // Room for three literals, and the window position stays below its
      // end for a match that follows.
      w[pos++] = (BYTE)e->value;
      SFX_DECODE_ENTRY(e, pLiteral, kLiteralMask);
      if (e->op == kOpLiteral) {
        w[pos++] = (BYTE)e->value;
        SFX_DECODE_ENTRY(e, pLiteral, kLiteralMask);
        if (e->op == kOpLiteral) {
          w[pos++] = (BYTE)e->value;
          continue;
        }
      }
    }
    if (e->op == kOpEndOfBlock) {
      nResult = 0;
      break;
    }
    // Length extra bits, distance and its extra bits: at most 5 + 16 + 13.
    SFX_REFILL();
    UINT nLength = e->value + (UINT)(bitbuf & ((1u << e->op) - 1));
    bitbuf >>= e->op;
    bitcount -= e->op;
    SFX_DECODE_ENTRY(e, pDistance, kDistanceMask);
    UINT nDistance = e->value + (UINT)(bitbuf & ((1u << e->op) - 1));
    bitbuf >>= e->op;
    bitcount -= e->op;

    if (nDistance > pos || nLength >= kWindowSize - pos) {
      *pnDistance = nDistance;
      *pnLength = nLength;
      nResult = kFastFarMatch;
      break;
    }
    CopyForward(w + pos, w + pos - nDistance, nLength, nDistance);
    pos += nLength;
  }
  goto done;

invalid:
  nResult = 1;
done:
  // Hand back the whole bytes loaded during this call but not consumed, so
  // the input position is where the careful path expects it.
  UINT nBack = bitcount >> 3;
  if (nBack > (UINT)(in - inStart)) nBack = (UINT)(in - inStart);
  in -= nBack;
  bitcount -= nBack * 8;
  m_dwBitBuffer = (DWORD)(bitbuf & ((uint64_t(1) << bitcount) - 1));
  m_nBitCount = bitcount;
  m_pNext = in;
  m_nAvail = (UINT)(inEnd - in);
  m_nWindowPos = pos;
  return nResult;
}
