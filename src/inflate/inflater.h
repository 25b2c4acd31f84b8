// CInflater: decodes one compressed stream from an input file into an output
// file.
//
// The stream format is DEFLATE with its own block header (3-bit type 5 fixed,
// 6 dynamic, 7 stored, then the last-block flag), its own code-length order
// (18, 17, 16, 0, 1, ..., 15) and stored blocks that carry LEN only. Input is
// read in 4,096-byte pieces; output is written in 32,768-byte pieces from the
// sliding window, then a final remainder of 0 to 32,767 bytes.
//
// Results: 0 success, 1 bad data (invalid code, bad counts, incomplete code,
// input that ends before the stream), 2 bad block type or over-subscribed
// code, 3 out of memory. On failure only whole 32,768-byte windows have been
// written. Exceptions from the files' Read and Write pass through unchanged;
// every buffer is still released by the destructor.
#pragma once

#include <cstdint>

#include "inflate/buffered_input.h"

// On x86-64 hosts the fast loop is built twice, once for any CPU and once
// for CPUs with BMI2, chosen at run time. The Windows stubs keep one loop.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(_WIN32)
#define SFX_FAST_LOOP_BMI2 1
#endif

// One entry of a decoding table, indexed by the next bits of the stream; a
// table is an array of these 32-bit words, its sub-tables placed after the
// root and reached by their offset from the root:
//   bits 0-5    bits the entry consumes: the code's length (in this table)
//               plus its extra bits; for a link, the root table's width
//   bit 6       a literal (or a symbol of the code-length code)
//   bit 7       special: a link, the end of block, or an invalid code
//   bits 8-12   the code's length in this table (the extra bits follow it);
//               for a link, the width of the sub-table
//   bit 13      a link to a sub-table; bit 14: end of block
//   bits 16-31  the literal or symbol, the base length or distance, or for a
//               link the sub-table's offset from the root
// Small entries keep a whole root table in the first-level cache, and one
// shift by the low bits consumes a symbol with its extra bits.
typedef DWORD HuffmanEntry;

namespace huffman_entry {
const DWORD kConsumedMask = 0x3F;
const DWORD kLiteral = 0x40;
const DWORD kSpecial = 0x80;
const DWORD kLink = 0x2000;
const DWORD kEnd = 0x4000;
const DWORD kInvalid = kSpecial;  // special, neither link nor end
inline UINT Consumed(HuffmanEntry e) { return e & kConsumedMask; }
inline UINT CodeLength(HuffmanEntry e) { return (e >> 8) & 0x1F; }
inline UINT ExtraBits(HuffmanEntry e) { return Consumed(e) - CodeLength(e); }
inline UINT Value(HuffmanEntry e) { return e >> 16; }
inline bool IsInvalid(HuffmanEntry e) { return (e & (kSpecial | kLink | kEnd)) == kSpecial; }
}  // namespace huffman_entry

enum {
  INFLATE_OK = 0,
  INFLATE_BAD_DATA = 1,
  INFLATE_BAD_BLOCK = 2,
  INFLATE_NO_MEMORY = 3,
};

class CInflater : public CBufferedInput {
 public:
  // The window holds the history, bytes [0, 32,768) at the start (zeros
  // before the stream's start), then kWindowPieces pieces of 32,768 bytes
  // decoded one after the other. Each piece is written out as soon as it is
  // full; only when the last one is full do its bytes move to the start as
  // the history. So a match never wraps, the fast loop may copy whole words
  // past a match's end, and the history moves once per kWindowPieces pieces.
  enum { kWindowSize = 32768, kWindowPieces = 4, kWindowSlack = 320 };
  enum { kWindowEnd = (1 + kWindowPieces) * kWindowSize };

  CInflater();
  ~CInflater();

  // Decodes the stream at the input's current position into the output.
  // TRUE exactly when the stream decoded without error.
  BOOL Decode(CFile* pOutput, CFile* pInput);

  int Inflate();
  int InflateFixed();
  int InflateDynamic();
  int InflateStored();
  int InflateCodes(const HuffmanEntry* pLiteral, const HuffmanEntry* pDistance, int nLiteralBits,
                   int nDistanceBits);

  // Builds the decoding table of a canonical code from n code lengths
  // (0-16), as one allocation: the root, then the sub-tables of codes longer
  // than the root's width. Symbols below s are simple (literals, 256 = end
  // of block); the others take their extra-bit count and base from
  // pExtra/pBase[symbol - s] (an extra-bit count of 100 marks an invalid
  // symbol). *pnBits is the requested root width in, the actual root width
  // out (the request raised to the shortest code, lowered to the longest).
  // Result 0, 1 (incomplete code: the unused patterns decode as invalid codes,
  // table returned; a single 1-bit code counts as complete), 2
  // (over-subscribed), 3 (no memory); on 2 and 3 *ppTable is null and nothing
  // stays allocated.
  static int BuildHuffmanTable(const DWORD* pLengths, UINT n, UINT s, const WORD* pBase,
                               const WORD* pExtra, HuffmanEntry** ppTable, int* pnBits);
  static void FreeHuffmanTable(HuffmanEntry* pTable);

  CFile* m_pOutput;
  DWORD m_nOrder[19];
  WORD m_wLengthBase[32];
  WORD m_wLengthExtra[32];
  WORD m_wDistExtra[30];
  WORD m_wDistBase[32];
  HuffmanEntry* m_pFixedLiteral;
  HuffmanEntry* m_pFixedDistance;
  int m_nFixedLiteralBits;
  int m_nFixedDistanceBits;
  UINT m_nWindowPos;    // next byte of the window
  UINT m_nPieceStart;   // first byte of the piece being decoded, not yet written
  DWORD m_dwBitBuffer;
  UINT m_nBitCount;
  BYTE* m_pWindow;
  // Zero bits supplied beyond the input's end. They sit at the top of the bit
  // buffer, so once m_nBitCount drops below this count the stream has used
  // bits that do not exist.
  UINT m_nPastEnd;

 private:
  void FillSymbolTables();
  void ReleaseDecodeBuffers();

  // Bit input: NeedBits makes n (at most 16) bits available, reading zeros
  // past the input's end; DropBits consumes them.
  void NeedBits(UINT n);
  void DropBits(UINT n) {
    m_dwBitBuffer >>= n;
    m_nBitCount -= n;
  }
  UINT GetBits(UINT n);
  BOOL PastEnd() const { return m_nBitCount < m_nPastEnd; }

  HuffmanEntry PeekEntry(const HuffmanEntry* pTable, UINT nBits);
  HuffmanEntry DecodeSymbol(const HuffmanEntry* pTable, int nBits);
  int ReadCodeLengths(const HuffmanEntry* pTable, int nBits, DWORD* pLengths, UINT nCount);
  int ReadCodeLengthsFast(const HuffmanEntry* pTable, int nBits, DWORD* pLengths, UINT nCount,
                          UINT* pnRead);
  int InflateCodesFast(const HuffmanEntry* pLiteral, const HuffmanEntry* pDistance,
                       int nLiteralBits, int nDistanceBits);
  int FastLoop(const HuffmanEntry* pLiteral, const HuffmanEntry* pDistance, int nLiteralBits,
               int nDistanceBits);
#ifdef SFX_FAST_LOOP_BMI2
  int InflateCodesFastBmi2(const HuffmanEntry* pLiteral, const HuffmanEntry* pDistance,
                           int nLiteralBits, int nDistanceBits);
  static bool HasBmi2();
#endif
  void EndFastBits(uint64_t bitbuf, UINT bitcount, const BYTE* in, const BYTE* inStart);
  void PutByte(BYTE b);
  void CopyMatch(UINT nDistance, UINT nLength);
  void FlushWindow();
  // Where the piece being decoded ends: it is written out once full.
  UINT PieceEnd() const { return m_nPieceStart + kWindowSize; }
};
