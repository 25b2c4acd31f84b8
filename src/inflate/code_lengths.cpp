// The code lengths of a dynamic block, coded with the code-length code.
//
// As with the symbols of a block, a fast loop reads them while enough bytes
// are buffered and a careful one reads the rest; both consume the same bits
// and give the same lengths and results.
#include "inflate/fast_bits.h"
#include "inflate/inflater.h"

using namespace fast_bits;
using namespace huffman_entry;

namespace {

// The fast loop stopped for want of input or before a symbol it leaves to
// the careful loop.
const int kFastStopped = -1;

// Extra bits and least repeat count of the repeat symbols 16, 17 and 18.
const UINT kRepeatBits[3] = {2, 3, 7};
const UINT kRepeatBase[3] = {3, 3, 11};

// Stores nRepeat copies of symbol nSymbol's length (16 repeats the previous
// length, 17 and 18 repeat zero) from pLengths[*pi] on; FALSE when they
// would run past nCount.
BOOL Repeat(UINT nSymbol, UINT nRepeat, DWORD* pLengths, UINT nCount, UINT* pi) {
  UINT i = *pi;
  if (i + nRepeat > nCount) return FALSE;
  DWORD dwLength = nSymbol == 16 && i > 0 ? pLengths[i - 1] : 0;
  while (nRepeat-- > 0) pLengths[i++] = dwLength;
  *pi = i;
  return TRUE;
}

}  // namespace

int CInflater::ReadCodeLengths(const HuffmanEntry* pTable, int nBits, DWORD* pLengths,
                               UINT nCount) {
  UINT i = 0;
  while (i < nCount) {
    if (pTable != nullptr && m_nAvail >= kInputMargin) {
      int nResult = ReadCodeLengthsFast(pTable, nBits, pLengths, nCount, &i);
      if (nResult != kFastStopped) return nResult;
    }
    // One symbol the careful way.
    HuffmanEntry e = DecodeSymbol(pTable, nBits);
    if (!(e & kLiteral)) return INFLATE_BAD_DATA;
    UINT nSymbol = Value(e);
    if (nSymbol < 16) {
      pLengths[i++] = nSymbol;
      continue;
    }
    UINT nRepeat = kRepeatBase[nSymbol - 16] + GetBits(kRepeatBits[nSymbol - 16]);
    if (!Repeat(nSymbol, nRepeat, pLengths, nCount, &i)) return INFLATE_BAD_DATA;
  }
  return PastEnd() ? INFLATE_BAD_DATA : INFLATE_OK;
}

// Reads lengths from pLengths[*pnRead] on while enough bytes are buffered.
// Returns 0 when all nCount are read, 1 on a repeat past them, or
// kFastStopped for want of input or at a code that is not a symbol.
int CInflater::ReadCodeLengthsFast(const HuffmanEntry* pTable, int nBits, DWORD* pLengths,
                                   UINT nCount, UINT* pnRead) {
  const uint64_t kMask = (1u << nBits) - 1;
  uint64_t bitbuf = m_dwBitBuffer;
  UINT bitcount = m_nBitCount;
  const BYTE* in = m_pNext;
  const BYTE* const inStart = in;
  const BYTE* const inLimit = in + m_nAvail - kLoadBytes;
  UINT i = *pnRead;
  int nResult = kFastStopped;
  // A top-up leaves at least 56 bits: enough for a symbol (up to 15 bits)
  // and its extra bits (up to 7).
  do {
    SFX_REFILL();
    HuffmanEntry e = pTable[bitbuf & kMask];
    if ((e & (kLiteral | kSpecial)) != kLiteral) break;
    SFX_CONSUME(e);
    UINT nSymbol = Value(e);
    if (nSymbol < 16) {
      pLengths[i++] = nSymbol;
      continue;
    }
    UINT nExtra = kRepeatBits[nSymbol - 16];
    UINT nRepeat = kRepeatBase[nSymbol - 16] + (UINT)(bitbuf & ((1u << nExtra) - 1));
    bitbuf >>= nExtra;
    bitcount -= nExtra;
    if (!Repeat(nSymbol, nRepeat, pLengths, nCount, &i)) {
      nResult = INFLATE_BAD_DATA;
      break;
    }
  } while (i < nCount && in <= inLimit);
  if (nResult == kFastStopped && i == nCount) nResult = INFLATE_OK;
  EndFastBits(bitbuf, bitcount, in, inStart);
  *pnRead = i;
  return nResult;
}
