// Decoding of literal/length and distance symbols into the sliding window.
//
// Two paths give the same bytes, results and reads. The fast path runs while
// at least 8 bytes are left in the input buffer: it keeps the bit buffer in a
// 64-bit local that is topped up one 8-byte load per symbol, and hands the
// whole bytes it did not use back to the input buffer when it stops. The
// careful path handles one symbol at a time near the end of the buffer, where
// a read of the input may be needed, and past the input's end.
#include <cstdint>
#include <cstring>

#include "inflate/inflate_alloc.h"
#include "inflate/inflater.h"

namespace {

const BYTE kOpInvalid = 100;
const BYTE kOpLiteral = 16;
const BYTE kOpEndOfBlock = 15;
const UINT kWindowMask = CInflater::kWindowSize - 1;

// Stands in for a code with no symbols: any read from it is an invalid code.
const HuffmanEntry kNoCode = {kOpInvalid, 0, {0}};

inline uint64_t Load64(const BYTE* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; i--) v = (v << 8) | p[i];
  return v;
}

// Copies n bytes forward from src, which lies nDist bytes before dst, so a
// distance shorter than the length repeats the bytes just written.
inline void CopyForward(BYTE* dst, const BYTE* src, UINT n, UINT nDist) {
  if (nDist >= 8) {
    while (n >= 8) {
      memcpy(dst, src, 8);
      dst += 8;
      src += 8;
      n -= 8;
    }
  } else if (nDist == 1) {
    memset(dst, *src, n);
    return;
  }
  while (n-- > 0) *dst++ = *src++;
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
    if (m_nAvail >= 8) {
      int nResult = InflateCodesFast(pLiteral, pDistance, nLiteralBits, nDistanceBits);
      if (nResult >= 0) return nResult;
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

// Decodes symbols while at least 8 bytes are buffered. Returns 0 at end of
// block, 1 on an invalid code, -1 when the buffer runs low.
int CInflater::InflateCodesFast(const HuffmanEntry* pLiteral, const HuffmanEntry* pDistance,
                                int nLiteralBits, int nDistanceBits) {
  const uint64_t kLiteralMask = (1u << nLiteralBits) - 1;
  const uint64_t kDistanceMask = (1u << nDistanceBits) - 1;
  uint64_t bitbuf = m_dwBitBuffer;
  UINT bitcount = m_nBitCount;
  const BYTE* in = m_pNext;
  const BYTE* const inStart = in;
  const BYTE* const inEnd = in + m_nAvail;
  BYTE* const w = m_pWindow;
  UINT pos = m_nWindowPos;
  int nResult = -1;

  while (inEnd - in >= 8) {
    // Top up to at least 56 bits: enough for a length, its extra bits, a
    // distance and its extra bits (at most 48).
    bitbuf |= Load64(in) << bitcount;
    in += (63 - bitcount) >> 3;
    bitcount |= 56;

    const HuffmanEntry* e = pLiteral + (bitbuf & kLiteralMask);
    while (e->op > kOpLiteral) {
      if (e->op == kOpInvalid) {
        nResult = 1;
        goto done;
      }
      bitbuf >>= e->bits;
      bitcount -= e->bits;
      e = e->next + (bitbuf & ((1u << (e->op - 16)) - 1));
    }
    bitbuf >>= e->bits;
    bitcount -= e->bits;
    if (e->op == kOpLiteral) {
      w[pos++] = (BYTE)e->value;
      if (pos == kWindowSize) {
        m_pOutput->Write(w, kWindowSize);
        pos = 0;
      }
      continue;
    }
    if (e->op == kOpEndOfBlock) {
      nResult = 0;
      break;
    }
    UINT nLength = e->value + (UINT)(bitbuf & ((1u << e->op) - 1));
    bitbuf >>= e->op;
    bitcount -= e->op;

    const HuffmanEntry* d = pDistance + (bitbuf & kDistanceMask);
    while (d->op > kOpLiteral) {
      if (d->op == kOpInvalid) {
        nResult = 1;
        goto done;
      }
      bitbuf >>= d->bits;
      bitcount -= d->bits;
      d = d->next + (bitbuf & ((1u << (d->op - 16)) - 1));
    }
    bitbuf >>= d->bits;
    bitcount -= d->bits;
    UINT nDistance = d->value + (UINT)(bitbuf & ((1u << d->op) - 1));
    bitbuf >>= d->op;
    bitcount -= d->op;

    if (nDistance <= pos && nLength < kWindowSize - pos) {
      CopyForward(w + pos, w + pos - nDistance, nLength, nDistance);
      pos += nLength;
    } else {
      pos = CopyMatch(pos, nDistance, nLength);
    }
  }

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
