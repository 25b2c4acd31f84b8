// Decoding tables for canonical Huffman codes.
//
// A code becomes one array: a root table indexed by the first root-width
// bits of the stream, then one sub-table for each group of longer codes that
// share their first root-width bits, reached through a link entry that holds
// the sub-table's offset. A sub-table is as wide as the longest code of its
// group needs, so every entry of every table is filled. Codes are held
// bit-reversed, as the stream's first code bit is the index's lowest bit.
#include <cstring>

#include "inflate/inflate_alloc.h"
#include "inflate/inflater.h"

using namespace huffman_entry;

namespace {

const UINT kMaxCodeBits = 16;
const UINT kMaxSymbols = 288;
const WORD kInvalidExtra = 100;  // extra-bit count that marks an invalid symbol

// The entry of symbol nSymbol (or, for nSymbol = n and above, of a pattern
// no symbol uses) for a code of nLength bits in its table.
HuffmanEntry SymbolEntry(UINT nSymbol, UINT n, UINT nLength, UINT s, const WORD* pBase,
                         const WORD* pExtra) {
  HuffmanEntry e = (nLength << 8) | nLength;
  if (nSymbol >= n) return e | kInvalid;
  if (nSymbol < s) {
    return nSymbol < 256 ? (e | kLiteral | (HuffmanEntry(nSymbol) << 16))
                         : (e | kSpecial | kEnd | (HuffmanEntry(nSymbol) << 16));
  }
  UINT nExtra = pExtra[nSymbol - s] & 0xff;
  if (nExtra == kInvalidExtra) return e | kInvalid;
  return (e + nExtra) | (HuffmanEntry(pBase[nSymbol - s]) << 16);
}

// The next code of length k after nCode, both held bit-reversed: an
// increment that carries from the code's first bit (its lowest here) on.
// The carry clears the run of ones from the top and sets the highest zero
// below it; the last code of a length (all ones) is followed by 0.
UINT NextReversedCode(UINT nCode, UINT k) {
  UINT nZeros = nCode ^ ((1u << k) - 1);
  if (nZeros == 0) return 0;
#if defined(__GNUC__)
  UINT bit = 1u << (31 - __builtin_clz(nZeros));
#else
  UINT bit = 1u << (k - 1);
  while (!(nZeros & bit)) bit >>= 1;
#endif
  return (nCode & (bit - 1)) | bit;
}

// Places every code of a checked set of lengths, from the shortest on.
class CTablePlacer {
 public:
  CTablePlacer(const UINT* pCount, const UINT* pSorted, UINT nSorted, UINT nRoot, UINT g)
      : m_pCount(pCount), m_pSorted(pSorted), m_nSorted(nSorted), m_nRoot(nRoot), m_g(g) {}

  // The entries the table needs: the root and every sub-table.
  UINT Size() const { return Place(nullptr, 0, 0, nullptr, nullptr); }

  // Fills every entry of a table of Size() entries. The root is filled a
  // length at a time: its first 2^k entries hold every code of up to k bits,
  // and doubling them makes room for the codes of k + 1 bits, so each entry
  // is written by a block copy or by one code, not by a stride per code.
  void Fill(HuffmanEntry* pTable, UINT n, UINT s, const WORD* pBase, const WORD* pExtra) const {
    UINT nReversed = 0;  // the next code, first bit lowest
    UINT i = 0;
    const UINT nTop = m_g < m_nRoot ? m_g : m_nRoot;
    UINT k = 1;
    while (k < nTop && m_pCount[k] == 0) k++;  // the shortest code's length
    const UINT nFirst = k;
    for (; k <= nTop; k++) {
      if (k > nFirst) memcpy(pTable + (1u << (k - 1)), pTable, (sizeof(HuffmanEntry) << (k - 1)));
      for (UINT a = m_pCount[k]; a > 0; a--, i++) {
        pTable[nReversed] = SymbolEntry(i < m_nSorted ? m_pSorted[i] : n, n, k, s, pBase, pExtra);
        nReversed = NextReversedCode(nReversed, k);
      }
    }
    for (; k <= m_nRoot; k++) memcpy(pTable + (1u << (k - 1)), pTable, (sizeof(HuffmanEntry) << (k - 1)));
    Place(pTable, n, s, pBase, pExtra);
  }

 private:
  // Counts (pTable null) or fills the sub-tables of the codes longer than
  // the root, and the root's links to them; returns the table's size.
  UINT Place(HuffmanEntry* pTable, UINT n, UINT s, const WORD* pBase, const WORD* pExtra) const {
    UINT left[kMaxCodeBits + 1];  // codes of each length not yet placed
    for (UINT k = 0; k <= kMaxCodeBits; k++) left[k] = m_pCount[k];
    const UINT nRootSize = 1u << m_nRoot;
    UINT nSize = nRootSize;
    UINT nCode = 0;  // canonical code, first bit highest
    UINT i = 0;
    UINT k = 1;
    for (; k <= m_g && k <= m_nRoot; k++) {
      nCode = (nCode + m_pCount[k]) << 1;
      i += m_pCount[k];
    }
    if (k > m_g) return nSize;
    // The first code longer than the root, first bit lowest.
    UINT nReversed = 0;
    for (UINT b = 0; b < k; b++) nReversed |= ((nCode >> b) & 1u) << (k - 1 - b);
    // One sub-table for each run of codes that share their first root-width
    // bits, as wide as the run needs to fill it.
    UINT nPrefix = ~0u, nSubOffset = 0, nSubBits = 0;
    for (; k <= m_g; k++) {
      for (UINT a = m_pCount[k]; a > 0; a--, i++, nCode++) {
        UINT nHead = nCode >> (k - m_nRoot);
        if (nHead != nPrefix) {
          nPrefix = nHead;
          nSubBits = k - m_nRoot;
          int nFree = 1 << nSubBits;
          while (nSubBits + m_nRoot < m_g) {
            nFree -= (int)left[nSubBits + m_nRoot];
            if (nFree <= 0) break;
            nSubBits++;
            nFree <<= 1;
          }
          nSubOffset = nSize;
          nSize += 1u << nSubBits;
          if (pTable != nullptr)
            pTable[nReversed & (nRootSize - 1)] =
                (nSubOffset << 16) | (nSubBits << 8) | kSpecial | kLink | m_nRoot;
        }
        if (pTable != nullptr) {
          UINT nLength = k - m_nRoot;
          HuffmanEntry e = SymbolEntry(i < m_nSorted ? m_pSorted[i] : n, n, nLength, s, pBase, pExtra);
          HuffmanEntry* pSub = pTable + nSubOffset;
          for (UINT j = nReversed >> m_nRoot; j < (1u << nSubBits); j += 1u << nLength) pSub[j] = e;
        }
        left[k]--;
        nReversed = NextReversedCode(nReversed, k);
      }
      nCode <<= 1;
    }
    return nSize;
  }

 private:
  const UINT* m_pCount;
  const UINT* m_pSorted;
  UINT m_nSorted;
  UINT m_nRoot;
  UINT m_g;
};

}  // namespace

void CInflater::FreeHuffmanTable(HuffmanEntry* pTable) { InflateFree(pTable); }

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

  UINT kmin = 1;
  while (count[kmin] == 0) kmin++;
  UINT g = kMaxCodeBits;
  while (count[g] == 0) g--;
  UINT nRoot = *pnBits < (int)kmin ? kmin : (UINT)*pnBits;
  if (nRoot > g) nRoot = g;

  // Patterns left over after every code is placed; an incomplete code gets
  // that many unused codes of the longest length, which decode as invalid.
  int nLeft = 1 << kmin;
  for (UINT len = kmin; len < g; len++, nLeft <<= 1) {
    nLeft -= (int)count[len];
    if (nLeft < 0) return INFLATE_BAD_BLOCK;
  }
  nLeft -= (int)count[g];
  if (nLeft < 0) return INFLATE_BAD_BLOCK;
  const UINT nUnused = (UINT)nLeft;
  count[0] = 0;
  count[g] += nUnused;

  // Symbols sorted by length, then by symbol.
  UINT offset[kMaxCodeBits + 2];
  offset[1] = 0;
  for (UINT len = 1; len <= kMaxCodeBits; len++) offset[len + 1] = offset[len] + count[len];
  UINT sorted[kMaxSymbols];
  UINT nSorted = 0;
  for (UINT i = 0; i < n; i++)
    if (pLengths[i] != 0) {
      sorted[offset[pLengths[i]]++] = i;
      nSorted++;
    }
  // The unused patterns are the last codes of length g: the placer takes
  // every code past the sorted symbols as unused.

  CTablePlacer placer(count, sorted, nSorted, nRoot, g);
  // Every entry is written below, so the table needs no clearing.
  HuffmanEntry* pTable = (HuffmanEntry*)InflateAllocUncleared(placer.Size() * sizeof(HuffmanEntry));
  if (pTable == nullptr) return INFLATE_NO_MEMORY;
  placer.Fill(pTable, n, s, pBase, pExtra);

  *pnBits = (int)nRoot;
  *ppTable = pTable;
  return (nUnused != 0 && g != 1) ? INFLATE_BAD_DATA : INFLATE_OK;
}
