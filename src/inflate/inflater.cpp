// The block loop and the three block kinds.
#include "inflate/inflater.h"

#include <cstring>

#include "inflate/inflate_alloc.h"

namespace {

// The window is allocated with 8 bytes to spare beyond the 32,768 in use.
const size_t kWindowAlloc = 8194 * 4;

const DWORD kCodeLengthOrder[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
const WORD kLengthBase[32] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19, 23, 27, 31,
                              35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0, 0, 0};
// Symbols 286 and 287 carry the invalid-code mark.
const WORD kLengthExtra[32] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                               3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 100, 100, 0};
const WORD kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                            49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                            2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 0,     0};
const WORD kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

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

void CInflater::FillSymbolTables() {
  memcpy(m_nOrder, kCodeLengthOrder, sizeof(m_nOrder));
  memcpy(m_wLengthBase, kLengthBase, sizeof(m_wLengthBase));
  memcpy(m_wLengthExtra, kLengthExtra, sizeof(m_wLengthExtra));
  memcpy(m_wDistBase, kDistBase, sizeof(m_wDistBase));
  memcpy(m_wDistExtra, kDistExtra, sizeof(m_wDistExtra));
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

void CInflater::FlushWindow() {
  m_pOutput->Write(m_pWindow, kWindowSize);
  m_nWindowPos = 0;
}

void CInflater::PutByte(BYTE b) {
  m_pWindow[m_nWindowPos++] = b;
  if (m_nWindowPos == kWindowSize) FlushWindow();
}

int CInflater::Inflate() {
  m_pFixedLiteral = nullptr;
  m_pFixedDistance = nullptr;
  m_nFixedLiteralBits = 0;
  m_nFixedDistanceBits = 0;
  m_nWindowPos = 0;
  m_dwBitBuffer = 0;
  m_nBitCount = 0;
  m_nPastEnd = 0;

  m_pWindow = (BYTE*)InflateAlloc(kWindowAlloc);
  if (m_pWindow == nullptr) return INFLATE_NO_MEMORY;
  FillSymbolTables();

  int nResult = INFLATE_OK;
  BOOL bLast = FALSE;
  do {
    UINT nHeader = GetBits(4);
    if (PastEnd()) {
      nResult = INFLATE_BAD_DATA;
      break;
    }
    bLast = (nHeader & 8) != 0;
    switch (nHeader & 7) {
      case 5: nResult = InflateFixed(); break;
      case 6: nResult = InflateDynamic(); break;
      case 7: nResult = InflateStored(); break;
      default: nResult = INFLATE_BAD_BLOCK; break;
    }
  } while (nResult == INFLATE_OK && !bLast);

  if (nResult == INFLATE_OK) m_pOutput->Write(m_pWindow, m_nWindowPos);
  ReleaseDecodeBuffers();
  return nResult;
}

int CInflater::InflateFixed() {
  if (m_pFixedLiteral == nullptr) {
    DWORD lengths[288];
    UINT i = 0;
    for (; i < 144; i++) lengths[i] = 8;
    for (; i < 256; i++) lengths[i] = 9;
    for (; i < 280; i++) lengths[i] = 7;
    for (; i < 288; i++) lengths[i] = 8;
    m_nFixedLiteralBits = 7;
    int nResult = BuildHuffmanTable(lengths, 288, 257, m_wLengthBase, m_wLengthExtra,
                                    &m_pFixedLiteral, &m_nFixedLiteralBits);
    if (nResult != INFLATE_OK) {
      FreeHuffmanTable(m_pFixedLiteral);
      m_pFixedLiteral = nullptr;
      return nResult;
    }
    // Distance codes 30 and 31 are unused patterns of a 5-bit code, so the
    // code is incomplete by design and its result 1 is accepted.
    for (i = 0; i < 30; i++) lengths[i] = 5;
    m_nFixedDistanceBits = 5;
    nResult = BuildHuffmanTable(lengths, 30, 0, m_wDistBase, m_wDistExtra, &m_pFixedDistance,
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

// Reads nCount code lengths coded with the code-length code.
int CInflater::ReadCodeLengths(const HuffmanEntry* pTable, int nBits, DWORD* pLengths,
                               UINT nCount) {
  DWORD dwPrevious = 0;
  UINT i = 0;
  while (i < nCount) {
    const HuffmanEntry* e = DecodeSymbol(pTable, nBits);
    if (e == nullptr) return INFLATE_BAD_DATA;
    UINT nSymbol = e->value;
    if (nSymbol < 16) {
      pLengths[i++] = dwPrevious = nSymbol;
      continue;
    }
    UINT nRepeat;
    DWORD dwLength = 0;
    if (nSymbol == 16) {
      nRepeat = 3 + GetBits(2);
      dwLength = dwPrevious;
    } else if (nSymbol == 17) {
      nRepeat = 3 + GetBits(3);
    } else {
      nRepeat = 11 + GetBits(7);
    }
    if (i + nRepeat > nCount) return INFLATE_BAD_DATA;
    while (nRepeat-- > 0) pLengths[i++] = dwLength;
    dwPrevious = dwLength;
  }
  return PastEnd() ? INFLATE_BAD_DATA : INFLATE_OK;
}

int CInflater::InflateDynamic() {
  UINT nl = GetBits(5) + 257;
  UINT nd = GetBits(5) + 1;
  UINT nb = GetBits(4) + 4;
  if (nl > 286 || nd > 30) return INFLATE_BAD_DATA;

  DWORD lengths[286 + 30];
  UINT j = 0;
  for (; j < nb; j++) lengths[m_nOrder[j]] = GetBits(3);
  for (; j < 19; j++) lengths[m_nOrder[j]] = 0;
  if (PastEnd()) return INFLATE_BAD_DATA;

  CTableHolder codeLengths;
  int nBits = 7;
  int nResult = BuildHuffmanTable(lengths, 19, 19, nullptr, nullptr, &codeLengths.m_pTable, &nBits);
  if (nResult != INFLATE_OK) return nResult;
  nResult = ReadCodeLengths(codeLengths.m_pTable, nBits, lengths, nl + nd);
  codeLengths.Release();
  if (nResult != INFLATE_OK) return nResult;

  CTableHolder literal, distance;
  int nLiteralBits = 9;
  nResult = BuildHuffmanTable(lengths, nl, 257, m_wLengthBase, m_wLengthExtra, &literal.m_pTable,
                              &nLiteralBits);
  if (nResult != INFLATE_OK) return nResult;
  int nDistanceBits = 6;
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
    UINT nChunk = kWindowSize - m_nWindowPos;
    if (nChunk > m_nAvail) nChunk = m_nAvail;
    if (nChunk > nLength) nChunk = nLength;
    memcpy(m_pWindow + m_nWindowPos, m_pNext, nChunk);
    m_pNext += nChunk;
    m_nAvail -= nChunk;
    nLength -= nChunk;
    m_nWindowPos += nChunk;
    if (m_nWindowPos == kWindowSize) FlushWindow();
  }
  return INFLATE_OK;
}
