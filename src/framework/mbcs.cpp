// Characters of the platform's code page: where a double-byte character
// ends, and letter case folding (ASCII letters and the full-width Latin
// letters of the double-byte code pages).
#include "framework/cstring.h"

namespace {

// A run of full-width capitals and the lower-case letters they fold to, as
// characters (lead byte << 8 | trail byte); the bytes are those the code
// pages assign to U+FF21..U+FF3A and U+FF41..U+FF5A. In 950 the lower-case
// run crosses into the next lead byte, hence two runs there.
struct CaseRun {
  WORD wCodePage;
  WORD wUpperFirst;
  WORD wLowerFirst;
  WORD wCount;
};

const CaseRun kCaseRuns[] = {
    {932, 0x8260, 0x8281, 26},  // Ａ..Ｚ, ａ..ｚ
    {936, 0xA3C1, 0xA3E1, 26},
    {949, 0xA3C1, 0xA3E1, 26},
    {950, 0xA2CF, 0xA2E9, 22},  // Ａ..Ｖ, ａ..ｖ
    {950, 0xA2E5, 0xA340, 4},   // Ｗ..Ｚ, ｗ..ｚ
};

// No code page has a second byte below 0x40: a lead byte before one (a "/",
// a ":", a digit) stands alone, so no separator is ever taken into a
// character.
const BYTE kLowestTrailByte = 0x40;

}  // namespace

int AfxCharSize(const char* pch, int nLeft) {
  if (nLeft >= 2 && (BYTE)pch[1] >= kLowestTrailByte && (BYTE)pch[0] >= 0x81 && IsDBCSLeadByte((BYTE)pch[0]))
    return 2;
  return nLeft > 0 ? 1 : 0;
}

BOOL AfxEndsInBackslash(const CString& str) {
  return !str.IsEmpty() && str.ReverseFind('\\') == str.GetLength() - 1;
}

UINT AfxFoldedChar(const char* pch, int nLeft, int* pnSize) {
  int nSize = AfxCharSize(pch, nLeft);
  *pnSize = nSize;
  if (nSize == 0) return 0;
  if (nSize == 1) {
    UINT c = (BYTE)pch[0];
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
  }
  UINT c = ((UINT)(BYTE)pch[0] << 8) | (BYTE)pch[1];
  UINT nCodePage = GetACP();
  for (const CaseRun& run : kCaseRuns)
    if (run.wCodePage == nCodePage && c >= run.wUpperFirst && c < (UINT)run.wUpperFirst + run.wCount)
      return run.wLowerFirst + (c - run.wUpperFirst);
  return c;
}
