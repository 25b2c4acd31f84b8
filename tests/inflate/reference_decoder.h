// A deliberately simple decoder of the stream format, bit by bit, for
// checking the real one: canonical codes are walked one bit at a time, every
// match is copied byte by byte from the whole output so far (zeros before
// its start). It follows the real decoder's rules on what to refuse and with
// which result: 1 bad data (including any bit past the input's end), 2 bad
// block type or over-subscribed code.
#pragma once

#include <cstdint>
#include <vector>

namespace sfx::test {

class ReferenceDecoder {
 public:
  // Decodes until the last block, an error, or more than `limit` bytes of
  // output (result -1).
  ReferenceDecoder(const std::vector<uint8_t>& in, size_t limit = SIZE_MAX) : in_(in), limit_(limit) {}

  int Run() {
    try {
      for (;;) {
        int type = int(Bits(3));
        bool last = Bits(1) != 0;
        int r = type == 5 ? Fixed() : type == 6 ? Dynamic() : type == 7 ? Stored() : 2;
        if (r != 0 || last) return r;
      }
    } catch (PastEnd) {
      return 1;
    } catch (Limit) {
      return -1;
    }
  }
  std::vector<uint8_t> out;

 private:
  struct PastEnd {};
  struct Limit {};
  struct Code {
    int count[16] = {};
    std::vector<int> symbols;  // by length, then by symbol
  };

  uint32_t Bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; i++) {
      if (pos_ >= in_.size() * 8) throw PastEnd();
      v |= uint32_t((in_[pos_ >> 3] >> (pos_ & 7)) & 1) << i;
      pos_++;
    }
    return v;
  }

  void Put(uint8_t b) {
    if (out.size() >= limit_) throw Limit();
    out.push_back(b);
  }

  // 0, or 2 when over-subscribed, or 1 when incomplete (a single 1-bit code
  // and a code with no symbols excepted). `invalidFrom` marks symbols that
  // exist in the code but are invalid to use.
  static int Build(const int* lengths, int n, Code& c) {
    for (int i = 0; i < n; i++) c.count[lengths[i]]++;
    for (int len = 1; len <= 15; len++)
      for (int i = 0; i < n; i++)
        if (lengths[i] == len) c.symbols.push_back(i);
    int left = 1;
    for (int len = 1; len <= 15; len++) {
      left = left * 2 - c.count[len];
      if (left < 0) return 2;
    }
    bool single = c.symbols.size() == 1 && c.count[1] == 1;
    return (left > 0 && !c.symbols.empty() && !single) ? 1 : 0;
  }

  // The symbol, or -1 for a pattern no symbol has.
  int Decode(const Code& c) {
    if (c.symbols.empty()) return -1;
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= 15; len++) {
      code |= int(Bits(1));
      int count = c.count[len];
      if (code - first < count) return c.symbols[index + code - first];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    return -1;
  }

  int Codes(const Code& lit, const Code& dist, int maxDistSymbol) {
    static const int kBase[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int kExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const int kDBase[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129,
                                   193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097,
                                   6145, 8193, 12289, 16385, 24577};
    static const int kDExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    for (;;) {
      int sym = Decode(lit);
      if (sym < 0 || sym > 285) return 1;
      if (sym < 256) {
        Put(uint8_t(sym));
        continue;
      }
      if (sym == 256) return 0;
      int length = kBase[sym - 257] + int(Bits(kExtra[sym - 257]));
      int dsym = Decode(dist);
      if (dsym < 0 || dsym > maxDistSymbol) return 1;
      size_t distance = size_t(kDBase[dsym]) + Bits(kDExtra[dsym]);
      for (int i = 0; i < length; i++) {
        size_t at = out.size();
        Put(distance > at ? 0 : out[at - distance]);
      }
    }
  }

  int Fixed() {
    int lengths[288];
    for (int i = 0; i < 288; i++) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    Code lit, dist;
    Build(lengths, 288, lit);
    int dl[32];
    for (int& l : dl) l = 5;
    Build(dl, 32, dist);
    return Codes(lit, dist, 29);
  }

  int Stored() {
    pos_ = (pos_ + 7) & ~size_t(7);
    int length = int(Bits(16));
    for (int i = 0; i < length; i++) Put(uint8_t(Bits(8)));
    return 0;
  }

  int Dynamic() {
    static const int kOrder[19] = {18, 17, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    int nl = int(Bits(5)) + 257, nd = int(Bits(5)) + 1, nb = int(Bits(4)) + 4;
    if (nl > 286 || nd > 30) return 1;
    int cl[19] = {};
    for (int i = 0; i < nb; i++) cl[kOrder[i]] = int(Bits(3));
    Code clCode;
    if (int r = Build(cl, 19, clCode)) return r;
    int lengths[316];
    int n = 0, previous = 0;
    while (n < nl + nd) {
      int sym = Decode(clCode);
      if (sym < 0) return 1;
      if (sym < 16) {
        lengths[n++] = previous = sym;
        continue;
      }
      int repeat = sym == 16 ? 3 + int(Bits(2)) : sym == 17 ? 3 + int(Bits(3)) : 11 + int(Bits(7));
      int value = sym == 16 ? previous : 0;
      if (n + repeat > nl + nd) return 1;
      for (int i = 0; i < repeat; i++) lengths[n++] = value;
      previous = value;
    }
    Code lit, dist;
    if (int r = Build(lengths, nl, lit)) return r;
    if (int r = Build(lengths + nl, nd, dist)) return r;
    return Codes(lit, dist, 29);
  }

  std::vector<uint8_t> in_;
  size_t limit_;
  size_t pos_ = 0;
};

}  // namespace sfx::test
