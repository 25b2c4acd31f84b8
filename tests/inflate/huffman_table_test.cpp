// The table builder: results, root widths, and that the tables decode every
// code of every buildable code to its symbol with no entry left unfilled.
#include <gtest/gtest.h>

#include <random>

#include "inflate/stream_builder.h"
#include "inflate/test_files.h"

namespace sfx::test {
namespace {

using namespace huffman_entry;

const WORD kNoBase[32] = {};
const WORD kNoExtra[32] = {};

struct Built {
  int result;
  int width;
  HuffmanEntry* table;
};

Built Build(const std::vector<int>& lengths, int width, UINT s = 0) {
  std::vector<DWORD> l(lengths.begin(), lengths.end());
  if (s == 0) s = UINT(l.size());  // all simple unless told otherwise
  Built b{0, width, nullptr};
  b.result = CInflater::BuildHuffmanTable(l.data(), UINT(l.size()), s, kNoBase, kNoExtra, &b.table, &b.width);
  return b;
}

struct BuildCase {
  const char* name;
  std::vector<int> lengths;
  int requested;
  int result;
  int width;  // root width out
};

class HuffmanBuild : public ::testing::TestWithParam<BuildCase> {};

TEST_P(HuffmanBuild, ResultAndRootWidth) {
  const BuildCase& c = GetParam();
  AllocCounter counter;
  Built b = Build(c.lengths, c.requested);
  EXPECT_EQ(b.result, c.result);
  if (c.result >= 2) {
    EXPECT_EQ(b.table, nullptr);
    EXPECT_EQ(counter.count(), 0);  // over-subscription is found before allocating
  } else {
    EXPECT_EQ(b.width, c.width);
  }
  CInflater::FreeHuffmanTable(b.table);
}

std::vector<int> Lengths(std::initializer_list<std::pair<int, int>> runs) {
  std::vector<int> v;
  for (auto [count, len] : runs) v.insert(v.end(), size_t(count), len);
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HuffmanBuild,
    ::testing::Values(
        BuildCase{"NoSymbols", Lengths({{19, 0}}), 7, 0, 0},
        BuildCase{"Complete", Lengths({{2, 1}}), 7, 0, 1},
        BuildCase{"SingleOneBit", Lengths({{1, 1}, {5, 0}}), 7, 0, 1},
        BuildCase{"SingleTwoBits", Lengths({{1, 2}}), 7, 1, 2},
        BuildCase{"Incomplete", Lengths({{1, 1}, {1, 2}}), 7, 1, 2},
        BuildCase{"OverSubscribed", Lengths({{3, 1}}), 7, 2, 0},
        BuildCase{"OverSubscribedLong", Lengths({{1, 1}, {1, 2}, {3, 3}}), 7, 2, 0},
        BuildCase{"WidthRaisedToShortest", Lengths({{16, 4}}), 2, 0, 4},
        BuildCase{"WidthLoweredToLongest", Lengths({{4, 2}}), 9, 0, 2},
        // A root narrower than the longest code links to sub-tables.
        BuildCase{"NarrowRootKeptAsRequested", Lengths({{1, 1}, {1, 2}, {2, 3}}), 1, 0, 1},
        BuildCase{"SixteenBitCodes", Lengths({{1, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {1, 6}, {1, 7}, {1, 8},
                                               {1, 9}, {1, 10}, {1, 11}, {1, 12}, {1, 13}, {1, 14}, {1, 15}, {2, 16}}),
                  9, 0, 9}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HuffmanFixed, FixedCodesRootWidths) {
  std::vector<int> lit = Lengths({{144, 8}, {112, 9}, {24, 7}, {8, 8}});
  std::vector<DWORD> l(lit.begin(), lit.end());
  WORD base[32] = {}, extra[32] = {};
  extra[29] = extra[30] = 100;  // symbols 286 and 287
  HuffmanEntry* table = nullptr;
  int width = 9;
  EXPECT_EQ(CInflater::BuildHuffmanTable(l.data(), 288, 257, base, extra, &table, &width), 0);
  EXPECT_EQ(width, 9);  // every fixed code in the root
  // End of block is 0000000: every index whose low 7 bits are 0.
  for (UINT i = 0; i < 512; i += 128) {
    EXPECT_EQ(table[i] & (kSpecial | kLink | kEnd), kSpecial | kEnd);
    EXPECT_EQ(CodeLength(table[i]), 7u);
  }
  // Symbols 286 and 287, 11000110 and 11000111, read bit-reversed.
  EXPECT_TRUE(IsInvalid(table[0x63]));
  EXPECT_TRUE(IsInvalid(table[0xE3]));
  CInflater::FreeHuffmanTable(table);

  std::vector<DWORD> d(30, 5);
  width = 5;
  EXPECT_EQ(CInflater::BuildHuffmanTable(d.data(), 30, 0, base, extra, &table, &width), 1);
  EXPECT_EQ(width, 5);
  // The patterns of symbols 30 and 31, 11110 and 11111, read bit-reversed.
  EXPECT_TRUE(IsInvalid(table[15]));
  EXPECT_TRUE(IsInvalid(table[31]));
  EXPECT_FALSE(table[0] & kSpecial);
  EXPECT_EQ(CodeLength(table[0]), 5u);
  CInflater::FreeHuffmanTable(table);
}

// Length and distance entries hold the base and the extra bits to read after
// the code; one shift by the consumed count takes both.
TEST(HuffmanFixed, EntriesHoldBaseAndExtraBits) {
  std::vector<DWORD> l = {2, 2, 3, 3, 3, 4, 4};  // symbols s = 2.. are lengths
  const WORD base[5] = {3, 11, 35, 131, 258};
  const WORD extra[5] = {0, 1, 3, 5, 100};
  HuffmanEntry* table = nullptr;
  int width = 2;  // the 3- and 4-bit codes go to a sub-table
  ASSERT_EQ(CInflater::BuildHuffmanTable(l.data(), 7, 2, base, extra, &table, &width), 0);
  ASSERT_EQ(width, 2);
  // Codes: 00 01 | 100 101 110 | 1110 1111. Index 3 (bits 1,1) links.
  HuffmanEntry link = table[3];
  ASSERT_TRUE(link & kLink);
  EXPECT_EQ(Consumed(link), 2u);
  ASSERT_EQ(CodeLength(link), 2u);
  const HuffmanEntry* sub = table + Value(link);
  // 1110 after the root's 11: bits 1,0 -> index 1; 1111 -> index 3.
  EXPECT_EQ(Value(sub[1]), 131u);
  EXPECT_EQ(CodeLength(sub[1]), 2u);
  EXPECT_EQ(ExtraBits(sub[1]), 5u);
  EXPECT_TRUE(IsInvalid(sub[3]));  // the extra-bit mark 100
  // 110 is symbol 4: 2 root bits, then bit 0 of the sub-table's index.
  EXPECT_EQ(Value(sub[0]), 35u);
  EXPECT_EQ(Value(sub[2]), 35u);
  EXPECT_EQ(Consumed(sub[0]), 1u + 3u);
  CInflater::FreeHuffmanTable(table);
}

// Follows the tables along a code's bits; the entry reached and the code
// bits consumed.
HuffmanEntry Lookup(const HuffmanEntry* table, int width, uint32_t reversed, int* consumed) {
  HuffmanEntry e = table[reversed & ((1u << width) - 1)];
  *consumed = 0;
  if (e & kLink) {
    *consumed = int(Consumed(e));
    e = table[Value(e) + ((reversed >> *consumed) & ((1u << CodeLength(e)) - 1))];
  }
  *consumed += int(CodeLength(e));
  return e;
}

// Every entry of every table consumes at least one bit, is one of the known
// kinds, and every link leads to a sub-table inside the allocation.
void CheckAllEntries(const HuffmanEntry* table, int width, size_t entries) {
  for (uint32_t i = 0; i < (1u << width); i++) {
    HuffmanEntry e = table[i];
    ASSERT_GE(CodeLength(e), 1u) << "entry " << i << " of a " << width << "-bit table";
    ASSERT_EQ(e & 0x8000u, 0u);
    int kinds = !!(e & kLiteral) + !!(e & kLink) + !!(e & kEnd);
    ASSERT_LE(kinds, 1) << std::hex << e;
    if (e & kLink) {
      ASSERT_TRUE(e & kSpecial);
      ASSERT_EQ(Consumed(e), UINT(width));
      ASSERT_LE(Value(e) + (size_t(1) << CodeLength(e)), entries);
      for (uint32_t j = 0; j < (1u << CodeLength(e)); j++) {
        HuffmanEntry s = table[Value(e) + j];
        ASSERT_FALSE(s & kLink) << "a link inside a sub-table";
        ASSERT_GE(CodeLength(s), 1u);
      }
    }
  }
}

// Random lengths that form a complete, incomplete or single 1-bit code.
TEST(HuffmanProperty, TablesDecodeEveryCode) {
  std::mt19937 rng(11);
  for (int round = 0; round < 400; round++) {
    size_t n = 1 + rng() % 288;
    std::vector<bool> used(n);
    for (size_t i = 0; i < n; i++) used[i] = rng() % 3 != 0;
    std::vector<int> lengths = CompleteLengths(used);
    // Skew: lengthen some codes (keeps the code prefix-free, makes it
    // incomplete) so that lengths spread up to 15.
    for (int k = int(rng() % 8); k > 0; k--) {
      size_t i = rng() % n;
      if (lengths[i] != 0 && lengths[i] < 15) lengths[i] += 1 + int(rng() % (15 - lengths[i]));
    }
    int requested = 1 + int(rng() % 10);
    UINT s = n > 256 && rng() % 2 ? 257 : UINT(n);
    AllocCounter counter;
    Built b = Build(lengths, requested, s);
    size_t entries = counter.lastBytes() / sizeof(HuffmanEntry);
    ASSERT_LE(b.result, 1);
    if (b.table == nullptr) continue;
    CheckAllEntries(b.table, b.width, entries);
    if (HasFatalFailure()) return;

    std::vector<uint32_t> codes = CanonicalCodes(lengths);
    for (size_t sym = 0; sym < n; sym++) {
      if (lengths[sym] == 0) continue;
      uint32_t reversed = 0;
      for (int i = 0; i < lengths[sym]; i++) reversed |= ((codes[sym] >> i) & 1u) << (lengths[sym] - 1 - i);
      int consumed;
      HuffmanEntry e = Lookup(b.table, b.width, reversed, &consumed);
      ASSERT_EQ(consumed, lengths[sym]) << "round " << round << " symbol " << sym;
      ASSERT_FALSE(IsInvalid(e));
      if (sym < s) {
        ASSERT_EQ(Value(e), sym);
        ASSERT_EQ(e & (kLiteral | kEnd), sym < 256 ? kLiteral : kEnd);
      }
    }
    CInflater::FreeHuffmanTable(b.table);
  }
}

TEST(HuffmanProperty, EveryFailedAllocationReleasesTheRest) {
  std::vector<int> lengths = Lengths({{1, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {1, 6}, {1, 7}, {1, 8},
                                      {1, 9}, {1, 10}, {1, 11}, {1, 12}, {1, 13}, {1, 14}, {2, 15}});
  int total;
  {
    AllocCounter counter;
    Built b = Build(lengths, 3);
    ASSERT_EQ(b.result, 0);
    CInflater::FreeHuffmanTable(b.table);
    total = counter.count();
  }
  ASSERT_GE(total, 1);
  for (int failAt = 1; failAt <= total; failAt++) {
    AllocCounter counter(failAt);
    Built b = Build(lengths, 3);
    EXPECT_EQ(b.result, 3);
    EXPECT_EQ(b.table, nullptr);  // and nothing leaks
  }
}

}  // namespace
}  // namespace sfx::test
