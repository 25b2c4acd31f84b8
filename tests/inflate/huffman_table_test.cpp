// The table builder: results, root widths, and that the tables decode every
// code of every buildable code to its symbol with no entry left unfilled.
#include <gtest/gtest.h>

#include <random>

#include "inflate/stream_builder.h"
#include "inflate/test_files.h"

namespace sfx::test {
namespace {

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
void PrintTo(const BuildCase& c, std::ostream* os) { *os << c.name; }

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
        // One 1-bit code cannot fill a 1-bit table: the table takes one bit
        // more than requested.
        BuildCase{"FirstExtraBitTaken", Lengths({{1, 1}, {1, 2}, {2, 3}}), 1, 0, 2},
        BuildCase{"SixteenBitCodes", Lengths({{1, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {1, 6}, {1, 7}, {1, 8},
                                               {1, 9}, {1, 10}, {1, 11}, {1, 12}, {1, 13}, {1, 14}, {1, 15}, {2, 16}}),
                  9, 0, 9}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HuffmanFixed, FixedCodesRootWidths) {
  std::vector<int> lit = Lengths({{144, 8}, {112, 9}, {24, 7}, {8, 8}});
  std::vector<DWORD> l(lit.begin(), lit.end());
  WORD base[32] = {}, extra[32] = {};
  HuffmanEntry* table = nullptr;
  int width = 7;
  EXPECT_EQ(CInflater::BuildHuffmanTable(l.data(), 288, 257, base, extra, &table, &width), 0);
  EXPECT_EQ(width, 7);  // end-of-block (7 bits) ends the root table
  CInflater::FreeHuffmanTable(table);

  std::vector<DWORD> d(30, 5);
  width = 5;
  EXPECT_EQ(CInflater::BuildHuffmanTable(d.data(), 30, 0, base, extra, &table, &width), 1);
  EXPECT_EQ(width, 5);
  // The patterns of symbols 30 and 31, 11110 and 11111, read bit-reversed.
  EXPECT_EQ(table[15].op, 100);
  EXPECT_EQ(table[31].op, 100);
  EXPECT_EQ(table[0].op, 0);
  CInflater::FreeHuffmanTable(table);
}

// The end-of-block code ends at a table boundary, even below the request.
TEST(HuffmanFixed, EndOfBlockCutsTheRootWidth) {
  // Symbol 0: 1 bit; 1 and end-of-block: 3 bits; 2-5: 4 bits.
  std::vector<int> l2(257, 0);
  l2[256] = 3;
  l2[0] = 1;
  l2[1] = 3;
  for (int i = 2; i < 6; i++) l2[i] = 4;
  Built b = Build(l2, 9, 257);
  EXPECT_EQ(b.result, 0);
  EXPECT_EQ(b.width, 3);
  CInflater::FreeHuffmanTable(b.table);
}

// Follows the tables along a code's bits; the entry reached and the bits
// consumed.
const HuffmanEntry* Lookup(const HuffmanEntry* table, int width, uint32_t reversed, int* consumed) {
  *consumed = 0;
  const HuffmanEntry* e = table + (reversed & ((1u << width) - 1));
  while (e->op > 16 && e->op != 100) {
    *consumed += e->bits;
    int w = e->op - 16;
    e = e->next + ((reversed >> *consumed) & ((1u << w) - 1));
  }
  *consumed += e->bits;
  return e;
}

// Every entry of every table consumes at least one bit and has a known op.
void CheckAllEntries(const HuffmanEntry* table, int width, int depth) {
  ASSERT_LE(depth, 16);
  for (uint32_t i = 0; i < (1u << width); i++) {
    const HuffmanEntry& e = table[i];
    ASSERT_GE(e.bits, 1) << "entry " << i << " of a " << width << "-bit table";
    ASSERT_TRUE(e.op <= 16 || e.op == 100 || (e.op >= 17 && e.op <= 32)) << int(e.op);
    if (e.op >= 17 && e.op <= 32) {
      CheckAllEntries(e.next, e.op - 16, depth + 1);
      if (testing::Test::HasFatalFailure()) return;
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
    Built b = Build(lengths, requested, s);
    ASSERT_LE(b.result, 1);
    if (b.table == nullptr) continue;
    CheckAllEntries(b.table, b.width, 0);
    if (HasFatalFailure()) return;

    std::vector<uint32_t> codes = CanonicalCodes(lengths);
    for (size_t sym = 0; sym < n; sym++) {
      if (lengths[sym] == 0) continue;
      uint32_t reversed = 0;
      for (int i = 0; i < lengths[sym]; i++) reversed |= ((codes[sym] >> i) & 1u) << (lengths[sym] - 1 - i);
      int consumed;
      const HuffmanEntry* e = Lookup(b.table, b.width, reversed, &consumed);
      ASSERT_EQ(consumed, lengths[sym]) << "round " << round << " symbol " << sym;
      if (sym < s) {
        ASSERT_EQ(e->value, sym);
        ASSERT_EQ(e->op, sym < 256 ? 16 : 15);
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
  ASSERT_GT(total, 2);
  for (int failAt = 1; failAt <= total; failAt++) {
    AllocCounter counter(failAt);
    Built b = Build(lengths, 3);
    EXPECT_EQ(b.result, 3);
    EXPECT_EQ(b.table, nullptr);  // and nothing leaks
  }
}

}  // namespace
}  // namespace sfx::test
