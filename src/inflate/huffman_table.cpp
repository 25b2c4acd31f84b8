// Decoding tables for canonical Huffman codes.
//
// A code becomes a root table of up to the requested width, plus sub-tables
// for longer codes, each reached through a link entry. Every table is
// allocated with one extra leading entry, the header, whose `next` chains to
// the next table of the same build, so a whole code is released from its
// root pointer.
#include "inflate/inflater.h"
#include "inflate/inflate_alloc.h"

namespace {

const int kMaxCodeBits = 16;
const UINT kMaxSymbols = 288;
const BYTE kOpInvalid = 100;
const BYTE kOpLiteral = 16;
const BYTE kOpEndOfBlock = 15;

// The entry that a code's symbol (or a dummy pattern) puts in its table.
HuffmanEntry SymbolEntry(UINT nSymbol, BOOL bDummy, UINT s, const WORD* pBase,
                         const WORD* pExtra) {
  HuffmanEntry r;
  r.bits = 0;
  if (bDummy) {
    r.op = kOpInvalid;
    r.value = 0;
  } else if (nSymbol < s) {
    r.op = nSymbol < 256 ? kOpLiteral : kOpEndOfBlock;
    r.value = (WORD)nSymbol;
  } else {
    r.op = (BYTE)(pExtra[nSymbol - s] & 0xff);
    r.value = pBase[nSymbol - s];
  }
  return r;
}

// The next code of the same length, in bit-reversed form: an increment that
// carries from the code's first bit (its highest) toward its last.
UINT NextReversedCode(UINT nCode, int k) {
  UINT bit = 1u << (k - 1);
  while (nCode & bit) {
    nCode ^= bit;
    bit >>= 1;
  }
  return nCode ^ bit;
}

}  // namespace

void CInflater::FreeHuffmanTable(HuffmanEntry* pTable) {
  while (pTable != nullptr) {
    HuffmanEntry* pHeader = pTable - 1;
    HuffmanEntry* pNext = pHeader->next;
    InflateFree(pHeader);
    pTable = pNext;
  }
}

int CInflater::BuildHuffmanTable(const DWORD* pLengths, UINT n, UINT s, const WORD* pBase,
                                 const WORD* pExtra, HuffmanEntry** ppTable, int* pnBits) {
  *ppTable = nullptr;
  if (n > kMaxSymbols) return INFLATE_BAD_BLOCK;

  // Codes per length.
  UINT count[kMaxCodeBits + 1] = {};
  for (UINT i = 0; i < n; i++) {
    if (pLengths[i] > (DWORD)kMaxCodeBits) return INFLATE_BAD_BLOCK;
    count[pLengths[i]]++;
  }
  if (count[0] == n) {  // no symbols: no table
    *pnBits = 0;
    return INFLATE_OK;
  }

  int kmin = 1;
  while (count[kmin] == 0) kmin++;
  int g = kMaxCodeBits;
  while (count[g] == 0) g--;
  int nWidth = *pnBits;
  if (nWidth < kmin) nWidth = kmin;
  if (nWidth > g) nWidth = g;

  // Patterns left over after every code is placed; an incomplete code gets
  // that many dummy codes of the longest length.
  int nLeft = 1 << kmin;
  for (int len = kmin; len < g; len++, nLeft <<= 1) {
    nLeft -= (int)count[len];
    if (nLeft < 0) return INFLATE_BAD_BLOCK;
  }
  nLeft -= (int)count[g];
  if (nLeft < 0) return INFLATE_BAD_BLOCK;
  const UINT nDummies = (UINT)nLeft;
  count[g] += nDummies;

  // Symbols sorted by length, then by symbol.
  UINT offset[kMaxCodeBits + 2];
  offset[1] = 0;
  for (int len = 1; len <= kMaxCodeBits; len++) offset[len + 1] = offset[len] + count[len];
  UINT sorted[kMaxSymbols];
  for (UINT i = 0; i < n; i++)
    if (pLengths[i] != 0) sorted[offset[pLengths[i]]++] = i;
  const UINT nReal = n - count[0];

  // The end-of-block code is made to end at a table boundary, so that
  // decoding it needs no bit beyond it.
  const int nEobLength = n > 256 ? (int)pLengths[256] : 0;

  HuffmanEntry* pChain = nullptr;    // the first table (its entry 0)
  HuffmanEntry** ppLink = &pChain;   // where the next table is chained
  HuffmanEntry* tables[kMaxCodeBits];
  int tableBits[kMaxCodeBits + 1];   // tableBits[level + 1]: width at level
  UINT pattern[kMaxCodeBits];        // code bits that led to each table
  tableBits[0] = 0;
  pattern[0] = 0;
  int level = -1;
  int w = 0;  // code bits covered by the tables above the current one
  UINT nCode = 0;
  UINT nNext = 0;  // index into sorted

  for (int k = kmin; k <= g; k++) {
    for (UINT a = count[k]; a > 0; a--) {
      // Open tables down to the level that holds codes of length k.
      while (k > w + tableBits[level + 1]) {
        w += tableBits[level + 1];
        level++;
        int z = g - w < nWidth ? g - w : nWidth;
        int j = k - w;
        UINT f = 1u << j;
        if (f > a) {
          // Too few codes of length k to fill a (k - w)-bit table: widen it
          // while the longer codes would fill the extra patterns.
          f -= a;
          const UINT* pCount = &count[k];
          while (++j < z) {
            f <<= 1;
            if (f <= *++pCount) break;
            f -= *pCount;
          }
        }
        if (w < nEobLength && nEobLength < w + j) j = nEobLength - w;
        tableBits[level + 1] = j;

        HuffmanEntry* pAlloc =
            (HuffmanEntry*)InflateAlloc(((size_t(1) << j) + 1) * sizeof(HuffmanEntry));
        if (pAlloc == nullptr) {
          FreeHuffmanTable(pChain);
          return INFLATE_NO_MEMORY;
        }
        *ppLink = pAlloc + 1;
        ppLink = &pAlloc->next;
        tables[level] = pAlloc + 1;
        if (level > 0) {
          pattern[level] = nCode;
          int nParentBits = tableBits[level];
          HuffmanEntry link;
          link.op = (BYTE)(16 + j);
          link.bits = (BYTE)nParentBits;
          link.next = tables[level];
          tables[level - 1][(nCode & ((1u << w) - 1)) >> (w - nParentBits)] = link;
        }
      }

      // The symbol's entry, repeated over every index that shares its bits.
      BOOL bDummy = nNext >= nReal;
      HuffmanEntry r = SymbolEntry(bDummy ? 0 : sorted[nNext], bDummy, s, pBase, pExtra);
      if (!bDummy) nNext++;
      r.bits = (BYTE)(k - w);
      HuffmanEntry* q = tables[level];
      UINT nSize = 1u << tableBits[level + 1];
      for (UINT j = nCode >> w; j < nSize; j += 1u << (k - w)) q[j] = r;

      nCode = NextReversedCode(nCode, k);
      // Close the tables whose patterns are used up.
      while ((nCode & ((1u << w) - 1)) != pattern[level]) {
        level--;
        w -= tableBits[level + 1];
      }
    }
  }

  *pnBits = tableBits[1];
  *ppTable = pChain;
  return (nDummies != 0 && g != 1) ? INFLATE_BAD_DATA : INFLATE_OK;
}
