// Building blocks for hand-made dynamic blocks: canonical codes from code
// lengths, complete codes over chosen symbols, and the block header with its
// code-length code and code lengths.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "inflate/bit_writer.h"

namespace sfx::test {

// Canonical codes (most-significant bit first) of RFC 1951 section 3.2.2.
inline std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
  int count[17] = {};
  for (int l : lengths) count[l]++;
  count[0] = 0;
  uint32_t next[17] = {};
  uint32_t code = 0;
  for (int len = 1; len <= 16; len++) next[len] = code = (code + count[len - 1]) << 1;
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (size_t i = 0; i < lengths.size(); i++)
    if (lengths[i] != 0) codes[i] = next[lengths[i]]++;
  return codes;
}

// Lengths of a complete code over the used symbols (a single symbol gets a
// 1-bit code, the one incomplete code the decoder accepts).
inline std::vector<int> CompleteLengths(const std::vector<bool>& used) {
  int m = 0;
  for (bool u : used) m += u;
  std::vector<int> lengths(used.size(), 0);
  if (m == 0) return lengths;
  int k = 0;
  while ((2 << k) <= m) k++;
  int longer = 2 * (m - (1 << k));  // codes of k + 1 bits; the rest have k
  int shorter = m - longer;
  for (size_t i = 0; i < used.size(); i++) {
    if (!used[i]) continue;
    lengths[i] = shorter-- > 0 ? (k == 0 ? 1 : k) : k + 1;
  }
  return lengths;
}

// One code-length symbol with its extra bits.
using LengthOp = std::pair<int, uint32_t>;

// Each length sent as itself (symbols 0-15).
inline std::vector<LengthOp> PlainLengthOps(const std::vector<int>& lengths, size_t from = 0) {
  std::vector<LengthOp> ops;
  for (size_t i = from; i < lengths.size(); i++) ops.push_back({lengths[i], 0});
  return ops;
}

struct SymbolBits {
  int sym;
  uint32_t extra;
  int extraBits;
};

// The length symbol (257-285) and extra bits of a match length 3-258.
inline SymbolBits LengthSymbol(int length) {
  static const int kBase[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27,
                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const int kExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  int i = 28;
  while (kBase[i] > length) i--;  // 258 has its own symbol, 285
  return {257 + i, uint32_t(length - kBase[i]), kExtra[i]};
}

// The distance symbol (0-29) and extra bits of a distance 1-32,768.
inline SymbolBits DistanceSymbol(int distance) {
  static const int kBase[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129,
                                193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097,
                                6145, 8193, 12289, 16385, 24577};
  int i = 29;
  while (kBase[i] > distance) i--;
  return {i, uint32_t(distance - kBase[i]), i < 4 ? 0 : i / 2 - 1};
}

// A match in a fixed block.
inline void FixedMatch(BitWriter& w, int length, int distance) {
  SymbolBits l = LengthSymbol(length), d = DistanceSymbol(distance);
  w.FixedSymbol(l.sym).Bits(l.extra, l.extraBits).FixedDistance(d.sym).Bits(d.extra, d.extraBits);
}

class DynamicBlock {
 public:
  // Code-length code: 13 symbols of 4 bits and 6 of 5 bits, complete.
  DynamicBlock(std::vector<int> litLengths, std::vector<int> distLengths)
      : lit_(std::move(litLengths)), dist_(std::move(distLengths)), cl_(19) {
    for (int s = 0; s < 19; s++) cl_[s] = s < 13 ? 4 : 5;
    litCodes_ = CanonicalCodes(lit_);
    distCodes_ = CanonicalCodes(dist_);
  }
  std::vector<int>& codeLengthLengths() { return cl_; }

  // Header, code-length code and the lengths given by ops.
  void WriteHeader(BitWriter& w, bool last, const std::vector<LengthOp>& ops,
                   int hlit = -1, int hdist = -1) {
    static const int kOrder[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    w.Header(6, last);
    w.Bits(hlit >= 0 ? hlit : int(lit_.size()) - 257, 5);
    w.Bits(hdist >= 0 ? hdist : int(dist_.size()) - 1, 5);
    int n = 19;
    while (n > 4 && cl_[kOrder[n - 1]] == 0) n--;
    w.Bits(n - 4, 4);
    for (int i = 0; i < n; i++) w.Bits(cl_[kOrder[i]], 3);
    std::vector<uint32_t> clCodes = CanonicalCodes(cl_);
    static const int kExtra[3] = {2, 3, 7};
    for (auto [sym, extra] : ops) {
      w.Code(clCodes[sym], cl_[sym]);
      if (sym >= 16) w.Bits(extra, kExtra[sym - 16]);
    }
  }
  void WriteHeader(BitWriter& w, bool last) {
    std::vector<int> all = lit_;
    all.insert(all.end(), dist_.begin(), dist_.end());
    WriteHeader(w, last, PlainLengthOps(all));
  }

  void Literal(BitWriter& w, int sym) { w.Code(litCodes_[sym], lit_[sym]); }
  // A match given by symbols and their extra bits.
  void Match(BitWriter& w, int lenSym, uint32_t lenExtra, int lenExtraBits, int distSym,
             uint32_t distExtra, int distExtraBits) {
    Literal(w, lenSym);
    w.Bits(lenExtra, lenExtraBits);
    w.Code(distCodes_[distSym], dist_[distSym]);
    w.Bits(distExtra, distExtraBits);
  }
  void End(BitWriter& w) { Literal(w, 256); }

 private:
  std::vector<int> lit_, dist_, cl_;
  std::vector<uint32_t> litCodes_, distCodes_;
};

}  // namespace sfx::test
