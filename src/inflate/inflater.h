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

#include "inflate/buffered_input.h"

// One entry of a decoding table, indexed by the next bits of the stream.
struct HuffmanEntry {
  BYTE op;    // 0-13 extra bits of a length or distance, 15 end of block,
              // 16 literal, 17-32 link to a table of op - 16 bits, 100 invalid
  BYTE bits;  // bits consumed (for a link: the width of the table holding it)
  union {
    WORD value;          // literal byte, 256, base length or base distance
    HuffmanEntry* next;  // the sub-table of a link; in a header, the next table
  };
};

enum {
  INFLATE_OK = 0,
  INFLATE_BAD_DATA = 1,
  INFLATE_BAD_BLOCK = 2,
  INFLATE_NO_MEMORY = 3,
};

class CInflater : public CBufferedInput {
 public:
  enum { kWindowSize = 32768 };

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

  // Builds the decoding tables of a canonical code from n code lengths
  // (0-16). Symbols below s are simple (literals, 256 = end of block); the
  // others take their op and value from pExtra/pBase[symbol - s]. *pnBits is
  // the requested root width in, the actual root width out. Result 0, 1
  // (incomplete code, table returned), 2 (over-subscribed), 3 (no memory);
  // on 2 and 3 *ppTable is null and nothing stays allocated.
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
  UINT m_nWindowPos;
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

  const HuffmanEntry* DecodeSymbol(const HuffmanEntry* pTable, int nBits);
  int ReadCodeLengths(const HuffmanEntry* pTable, int nBits, DWORD* pLengths, UINT nCount);
  int InflateCodesFast(const HuffmanEntry* pLiteral, const HuffmanEntry* pDistance,
                       int nLiteralBits, int nDistanceBits, UINT* pnDistance, UINT* pnLength);
  void PutByte(BYTE b);
  UINT CopyMatch(UINT nPos, UINT nDistance, UINT nLength);
  void FlushWindow();
};
