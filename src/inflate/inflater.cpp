// The block loop and the three block kinds.
#include "inflate/inflater.h"

#include <cstring>

#include "inflate/inflate_alloc.h"
#include "inflate/stream_format.h"

using namespace stream_format;

namespace {

// The window: the history, the pieces, and room for the fast loop's copies
// to run past the end.
const size_t kWindowAlloc = CInflater::kWindowEnd + CInflater::kWindowSlack;

// Requested root widths of the decoding tables: wide enough that nearly
// every symbol is one lookup, small enough to stay in the first-level cache.
const int kLiteralRootBits = 10;
const int kDistanceRootBits = 8;
const int kCodeLengthRootBits = 7;
const WORD kInvalidSymbolMark = 100;

// Releases a dynamic block's table on every way out of the block.
struct CTableHolder {
  HuffmanEntry* m_pTable = nullptr;
  ~CTableHolder() { CInflater::FreeHuffmanTable(m_pTable); }
  void Release() {
    CInflater::FreeHuffmanTable(m_pTable);
    m_pTable = nullptr;
  }
};

}  // namespace

CInflater::CInflater()
    : m_pOutput(nullptr),
      m_nOrder(),
      m_wLengthBase(),
      m_wLengthExtra(),
      m_wDistExtra(),
      m_wDistBase(),
      m_pFixedLiteral(nullptr),
      m_pFixedDistance(nullptr),
      m_nFixedLiteralBits(0),
      m_nFixedDistanceBits(0),
      m_nWindowPos(0),
      m_nPieceStart(0),
      m_dwBitBuffer(0),
      m_nBitCount(0),
      m_pWindow(nullptr),
      m_nPastEnd(0) {}

CInflater::~CInflater() {
  // Normally empty already; after an exception from Read or Write the
  // decode's buffers are still held here.
  ReleaseDecodeBuffers();
  Detach();
}

BOOL CInflater::Decode(CFile* pOutput, CFile* pInput) {
  if (pOutput == nullptr || !Attach(pInput)) return FALSE;
  m_pOutput = pOutput;
  int nResult = Inflate();
  Detach();
  return nResult == INFLATE_OK;
}

void CInflater::ReleaseDecodeBuffers() {
  if (m_pFixedLiteral != nullptr) {
    FreeHuffmanTable(m_pFixedDistance);
    FreeHuffmanTable(m_pFixedLiteral);
  }
  m_pFixedLiteral = nullptr;
  m_pFixedDistance = nullptr;
  InflateFree(m_pWindow);
  m_pWindow = nullptr;
}

// The symbol tables of one decode. Length symbols 286 and 287 carry the
// invalid-symbol mark: they are codes of the fixed code but not symbols.
void CInflater::FillSymbolTables() {
  memset(m_wLengthBase, 0, sizeof(m_wLengthBase));
  memset(m_wLengthExtra, 0, sizeof(m_wLengthExtra));
  memset(m_wDistBase, 0, sizeof(m_wDistBase));
  for (UINT i = 0; i < kCodeLengthSymbols; i++) m_nOrder[i] = kCodeLengthOrder[i];
  for (UINT i = 0; i < kLengthSymbols; i++) {
    m_wLengthBase[i] = kLengthBase[i];
    m_wLengthExtra[i] = kLengthExtra[i];
  }
  m_wLengthExtra[kLengthSymbols] = m_wLengthExtra[kLengthSymbols + 1] = kInvalidSymbolMark;
  for (UINT i = 0; i < kDistanceSymbols; i++) {
    m_wDistBase[i] = kDistanceBase[i];
    m_wDistExtra[i] = kDistanceExtra[i];
  }
}

void CInflater::NeedBits(UINT n) {
  while (m_nBitCount < n) {
    DWORD dwByte = 0;
    if (m_nAvail == 0 && !Refill()) {
      m_nPastEnd += 8;
    } else {
      dwByte = *m_pNext++;
      m_nAvail--;
    }
    m_dwBitBuffer |= dwByte << m_nBitCount;
    m_nBitCount += 8;
  }
}

UINT CInflater::GetBits(UINT n) {
  NeedBits(n);
  UINT nValue = m_dwBitBuffer & ((1u << n) - 1);
  DropBits(n);
  return nValue;
}

// Writes the full window and makes it the history of the next one, with any
// bytes already decoded past its end.
// Writes the full piece out. After the last piece, its bytes (and what the
// fast loop wrote past it) move to the start as the history.
void CInflater::FlushWindow() {
  m_pOutput->Write(m_pWindow + m_nPieceStart, kWindowSize);
  m_nPieceStart += kWindowSize;
  if (m_nPieceStart == kWindowEnd) {
    const UINT nMove = kWindowEnd - kWindowSize;
    memmove(m_pWindow, m_pWindow + nMove, m_nWindowPos - nMove);
    m_nWindowPos -= nMove;
    m_nPieceStart = kWindowSize;
  }
}

void CInflater::PutByte(BYTE b) {
  m_pWindow[m_nWindowPos++] = b;
  if (m_nWindowPos == PieceEnd()) FlushWindow();
}

int CInflater::Inflate() {
  m_pFixedLiteral = nullptr;
  m_pFixedDistance = nullptr;
  m_nFixedLiteralBits = 0;
  m_nFixedDistanceBits = 0;
  m_nWindowPos = kWindowSize;
  m_nPieceStart = kWindowSize;
  m_dwBitBuffer = 0;
  m_nBitCount = 0;
  m_nPastEnd = 0;

  // Only the history before the first output byte is read before it is
  // written: it starts as zeros, so a distance reaching before the stream's
  // start copies zeros. The pieces and the slack are written first.
  m_pWindow = (BYTE*)InflateAllocUncleared(kWindowAlloc);
  if (m_pWindow == nullptr) return INFLATE_NO_MEMORY;
  memset(m_pWindow, 0, kWindowSize);
  FillSymbolTables();

  int nResult = INFLATE_OK;
  BOOL bLast = FALSE;
  do {
    UINT nHeader = GetBits(kHeaderBits);
    if (PastEnd()) {
      nResult = INFLATE_BAD_DATA;
      break;
    }
    bLast = (nHeader & kLastBlockFlag) != 0;
    switch (nHeader & 7) {
      case kBlockFixed: nResult = InflateFixed(); break;
      case kBlockDynamic: nResult = InflateDynamic(); break;
      case kBlockStored: nResult = InflateStored(); break;
      default: nResult = INFLATE_BAD_BLOCK; break;
    }
  } while (nResult == INFLATE_OK && !bLast);

  if (nResult == INFLATE_OK) m_pOutput->Write(m_pWindow + m_nPieceStart, m_nWindowPos - m_nPieceStart);
  ReleaseDecodeBuffers();
  return nResult;
}

int CInflater::InflateFixed() {
  if (m_pFixedLiteral == nullptr) {
    DWORD lengths[kFixedLiteralSymbols];
    UINT i = 0;
    for (; i < 144; i++) lengths[i] = 8;
    for (; i < 256; i++) lengths[i] = 9;
    for (; i < 280; i++) lengths[i] = 7;
    for (; i < kFixedLiteralSymbols; i++) lengths[i] = 8;
    m_nFixedLiteralBits = 9;  // every fixed code in the root
    int nResult = BuildHuffmanTable(lengths, kFixedLiteralSymbols, kFirstLengthSymbol, m_wLengthBase, m_wLengthExtra,
                                    &m_pFixedLiteral, &m_nFixedLiteralBits);
    if (nResult != INFLATE_OK) {
      FreeHuffmanTable(m_pFixedLiteral);
      m_pFixedLiteral = nullptr;
      return nResult;
    }
    // Distance codes 30 and 31 are unused patterns of a 5-bit code, so the
    // code is incomplete by design and its result 1 is accepted.
    for (i = 0; i < kDistanceSymbols; i++) lengths[i] = 5;
    m_nFixedDistanceBits = 5;
    nResult = BuildHuffmanTable(lengths, kDistanceSymbols, 0, m_wDistBase, m_wDistExtra, &m_pFixedDistance,
                                &m_nFixedDistanceBits);
    if (nResult > INFLATE_BAD_DATA) {
      FreeHuffmanTable(m_pFixedLiteral);
      m_pFixedLiteral = nullptr;
      return nResult;
    }
  }
  return InflateCodes(m_pFixedLiteral, m_pFixedDistance, m_nFixedLiteralBits,
                      m_nFixedDistanceBits) != 0
             ? INFLATE_BAD_DATA
             : INFLATE_OK;
}

int CInflater::InflateDynamic() {
  UINT nl = GetBits(5) + kFirstLengthSymbol;
  UINT nd = GetBits(5) + 1;
  UINT nb = GetBits(4) + 4;
  if (nl > kMaxLiteralLengths || nd > kMaxDistanceLengths) return INFLATE_BAD_DATA;

  DWORD lengths[kMaxLiteralLengths + kMaxDistanceLengths];
  UINT j = 0;
  for (; j < nb; j++) lengths[m_nOrder[j]] = GetBits(3);
  for (; j < kCodeLengthSymbols; j++) lengths[m_nOrder[j]] = 0;
  if (PastEnd()) return INFLATE_BAD_DATA;

  CTableHolder codeLengths;
  int nBits = kCodeLengthRootBits;
  int nResult = BuildHuffmanTable(lengths, kCodeLengthSymbols, kCodeLengthSymbols, nullptr, nullptr, &codeLengths.m_pTable, &nBits);
  if (nResult != INFLATE_OK) return nResult;
  nResult = ReadCodeLengths(codeLengths.m_pTable, nBits, lengths, nl + nd);
  codeLengths.Release();
  if (nResult != INFLATE_OK) return nResult;

  CTableHolder literal, distance;
  int nLiteralBits = kLiteralRootBits;
  nResult = BuildHuffmanTable(lengths, nl, kFirstLengthSymbol, m_wLengthBase, m_wLengthExtra, &literal.m_pTable,
                              &nLiteralBits);
  if (nResult != INFLATE_OK) return nResult;
  int nDistanceBits = kDistanceRootBits;
  nResult = BuildHuffmanTable(lengths + nl, nd, 0, m_wDistBase, m_wDistExtra, &distance.m_pTable,
                              &nDistanceBits);
  if (nResult != INFLATE_OK) return nResult;
  return InflateCodes(literal.m_pTable, distance.m_pTable, nLiteralBits, nDistanceBits) != 0
             ? INFLATE_BAD_DATA
             : INFLATE_OK;
}

int CInflater::InflateStored() {
  DropBits(m_nBitCount & 7);
  UINT nLength = GetBits(16);
  if (PastEnd()) return INFLATE_BAD_DATA;

  // Whole bytes still in the bit buffer come first, then the input buffer.
  while (nLength > 0 && m_nBitCount >= 8) {
    BYTE b = (BYTE)m_dwBitBuffer;
    DropBits(8);
    if (PastEnd()) return INFLATE_BAD_DATA;
    PutByte(b);
    nLength--;
  }
  while (nLength > 0) {
    if (m_nAvail == 0 && !Refill()) return INFLATE_BAD_DATA;
    UINT nChunk = PieceEnd() - m_nWindowPos;
    if (nChunk > m_nAvail) nChunk = m_nAvail;
    if (nChunk > nLength) nChunk = nLength;
    memcpy(m_pWindow + m_nWindowPos, m_pNext, nChunk);
    m_pNext += nChunk;
    m_nAvail -= nChunk;
    nLength -= nChunk;
    m_nWindowPos += nChunk;
    if (m_nWindowPos == PieceEnd()) FlushWindow();
  }
  return INFLATE_OK;
}
