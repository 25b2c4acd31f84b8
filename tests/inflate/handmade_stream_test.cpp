// Hand-made streams for the format's corner cases: expected result, output,
// and the sizes of every Read and Write.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "inflate/bit_writer.h"
#include "inflate/reference_decoder.h"
#include "inflate/stream_builder.h"
#include "inflate/test_files.h"

namespace sfx::test {
namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<bool> Used(size_t n, std::initializer_list<int> symbols) {
  std::vector<bool> used(n, false);
  for (int s : symbols) used[s] = true;
  return used;
}

std::vector<int> Concat(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct StreamCase {
  const char* name;
  std::function<void(BitWriter&)> build;
  int result;
  std::vector<uint8_t> out;
  size_t reads = 1;  // a truncated stream asks once more and gets 0 bytes
};
void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class HandmadeStream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(HandmadeStream, DecodesAsExpected) {
  const StreamCase& c = GetParam();
  BitWriter w;
  c.build(w);
  DecodeOutcome o = RunInflate(w.Bytes());
  EXPECT_EQ(o.result, c.result);
  EXPECT_EQ(o.out, c.out);
  // Small streams: one read of 4,096 bytes; one final write on success only.
  EXPECT_EQ(o.readSizes, std::vector<UINT>(c.reads, 4096));
  EXPECT_EQ(o.writeSizes, c.result == 0 ? std::vector<UINT>{UINT(c.out.size())} : std::vector<UINT>{});
  // The simple decoder agrees.
  ReferenceDecoder ref(w.Bytes());
  EXPECT_EQ(ref.Run(), c.result);
}

void Fixed(BitWriter& w, bool last, const std::string& literals) {
  w.Header(5, last);
  for (unsigned char ch : literals) w.FixedSymbol(ch);
  w.FixedSymbol(256);
}

// A dynamic block with literals 'a'..., one match of length 3, distance 1.
DynamicBlock SmallDynamic(std::vector<int> distLengths) {
  return DynamicBlock(CompleteLengths(Used(257 + 1, {'a', 256, 257})), std::move(distLengths));
}

const StreamCase kCases[] = {
    {"EmptyFixedBlock", [](BitWriter& w) { Fixed(w, true, ""); }, 0, {}},
    {"TwoFixedBlocks",
     [](BitWriter& w) {
       Fixed(w, false, "ab");
       Fixed(w, true, "c");
     },
     0, Bytes("abc")},
    {"StoredLengthZeroThenNextByte",
     [](BitWriter& w) {
       w.Header(7, false).Align().Bits(0, 16);
       Fixed(w, true, "x");
     },
     0, Bytes("x")},
    {"StoredAfterPartialByte",
     [](BitWriter& w) {
       Fixed(w, false, "");  // 11 bits, so the stored block skips 1 bit after its header
       w.Header(7, true).Align().Bits(3, 16).Byte('x').Byte('y').Byte('z');
     },
     0, Bytes("xyz")},
    {"StoredNlenIsData",
     [](BitWriter& w) { w.Header(7, true).Align().Bits(2, 16).Bits(0xFFFD, 16); }, 0,
     {0xFD, 0xFF}},
    {"DistanceOneLength258",
     [](BitWriter& w) {
       w.Header(5, true).FixedSymbol('z');
       FixedMatch(w, 258, 1);
       w.FixedSymbol(256);
     },
     0, std::vector<uint8_t>(259, 'z')},
    {"DistanceBeforeStartGivesZeros",
     [](BitWriter& w) {
       w.Header(5, true).FixedSymbol('a').FixedSymbol('b');
       FixedMatch(w, 5, 4);
       w.FixedSymbol(256);
     },
     0, {'a', 'b', 0, 0, 'a', 'b', 0}},
    {"FixedLengthSymbol286",
     [](BitWriter& w) { w.Header(5, true).FixedSymbol('a').FixedSymbol(286); }, 1, {}},
    {"FixedLengthSymbol287",
     [](BitWriter& w) { w.Header(5, true).FixedSymbol(287); }, 1, {}},
    {"FixedDistance30",
     [](BitWriter& w) { w.Header(5, true).FixedSymbol('a').FixedSymbol(257).FixedDistance(30); }, 1,
     {}},
    {"FixedDistance31",
     [](BitWriter& w) { w.Header(5, true).FixedSymbol('a').FixedSymbol(257).FixedDistance(31); }, 1,
     {}},
    {"BlockType0", [](BitWriter& w) { w.Header(0, true); }, 2, {}},
    {"BlockType1", [](BitWriter& w) { w.Header(1, true); }, 2, {}},
    {"BlockType4", [](BitWriter& w) { w.Header(4, false); }, 2, {}},
    {"BadTypeAfterGoodBlock",
     [](BitWriter& w) {
       Fixed(w, false, "ok");
       w.Header(3, true);
     },
     2, {}},
    {"Hlit30", [](BitWriter& w) { w.Header(6, true).Bits(30, 5).Bits(0, 5).Bits(15, 4); }, 1, {}},
    {"Hlit31", [](BitWriter& w) { w.Header(6, true).Bits(31, 5).Bits(0, 5).Bits(15, 4); }, 1, {}},
    {"Hdist30", [](BitWriter& w) { w.Header(6, true).Bits(0, 5).Bits(30, 5).Bits(15, 4); }, 1, {}},
    {"Hdist31", [](BitWriter& w) { w.Header(6, true).Bits(29, 5).Bits(31, 5).Bits(15, 4); }, 1, {}},
    {"SingleOneBitDistanceCode",
     [](BitWriter& w) {
       DynamicBlock b = SmallDynamic({1});
       b.WriteHeader(w, true);
       b.Literal(w, 'a');
       b.Match(w, 257, 0, 0, 0, 0, 0);
       b.End(w);
     },
     0, Bytes("aaaa")},
    {"SingleTwoBitDistanceCode",
     [](BitWriter& w) {
       DynamicBlock b = SmallDynamic({2});
       b.WriteHeader(w, true);
     },
     1, {}},
    {"RepeatSixteenFirstRepeatsZero",
     [](BitWriter& w) {
       DynamicBlock b = SmallDynamic({1});
       std::vector<int> all = Concat(CompleteLengths(Used(258, {'a', 256, 257})), {1});
       std::vector<LengthOp> ops = {{16, 1}};  // lengths of symbols 0-3: zero
       for (LengthOp op : PlainLengthOps(all, 4)) ops.push_back(op);
       b.WriteHeader(w, true, ops);
       b.Literal(w, 'a');
       b.Match(w, 257, 0, 0, 0, 0, 0);
       b.End(w);
     },
     0, Bytes("aaaa")},
    {"RepeatEighteenCrossesIntoDistances",
     [](BitWriter& w) {
       std::vector<int> lit = CompleteLengths(Used(286, {'a', 'b', 'c', 'd', 'e', 'f', 'g', 256, 265}));
       std::vector<int> dist(30, 0);
       dist[5] = 1;
       DynamicBlock b(lit, dist);
       // Literal/length symbols 266-285 and distance symbols 0-4: 25 zeros.
       std::vector<LengthOp> ops = PlainLengthOps(std::vector<int>(lit.begin(), lit.begin() + 266));
       ops.push_back({18, 25 - 11});
       for (LengthOp op : PlainLengthOps(dist, 5)) ops.push_back(op);
       b.WriteHeader(w, true, ops);
       for (char ch : std::string("abcdefg")) b.Literal(w, ch);
       b.Match(w, 265, 0, 1, 5, 0, 1);  // length 11, distance 7
       b.End(w);
     },
     0, Bytes("abcdefgabcdefgabcd")},
    {"RepeatPastTheEnd",
     [](BitWriter& w) {
       DynamicBlock b = SmallDynamic({1});
       std::vector<LengthOp> ops = PlainLengthOps(CompleteLengths(Used(258, {'a', 256, 257})));
       ops.push_back({18, 127});  // 138 zeros where 1 length is left
       b.WriteHeader(w, true, ops);
     },
     1, {}},
    {"OverSubscribedLiteralCode",
     [](BitWriter& w) {
       std::vector<int> lit(257, 0);
       lit['a'] = lit['b'] = lit[256] = 1;
       DynamicBlock b(lit, {1});
       b.WriteHeader(w, true);
     },
     2, {}},
    {"IncompleteLiteralCode",
     [](BitWriter& w) {
       std::vector<int> lit(257, 0);
       lit['a'] = 1;
       lit[256] = 2;
       DynamicBlock b(lit, {1});
       b.WriteHeader(w, true);
     },
     1, {}},
    {"OverSubscribedCodeLengthCode",
     [](BitWriter& w) {
       DynamicBlock b = SmallDynamic({1});
       b.codeLengthLengths()[0] = 1;
       b.codeLengthLengths()[1] = 1;
       b.codeLengthLengths()[2] = 1;
       b.WriteHeader(w, true, {});
     },
     2, {}},
    {"IncompleteCodeLengthCode",
     [](BitWriter& w) {
       DynamicBlock b = SmallDynamic({1});
       b.codeLengthLengths()[18] = 0;
       b.WriteHeader(w, true);
     },
     1, {}},
    {"UnusedPatternOfOneBitCodeLengthCode",
     [](BitWriter& w) {
       DynamicBlock b = SmallDynamic({1});
       std::vector<int>& cl = b.codeLengthLengths();
       std::fill(cl.begin(), cl.end(), 0);
       cl[0] = 1;  // symbol 0 is pattern 0; pattern 1 has no symbol
       b.WriteHeader(w, true, {});
       w.Bits(1, 1).Bits(0, 16);
     },
     1, {}},
    {"NoLiteralCodeAtAll",
     [](BitWriter& w) {
       DynamicBlock b(std::vector<int>(257, 0), {1});
       b.WriteHeader(w, true, {{18, 127}, {18, 108}});
       w.Bits(0, 16);
     },
     1, {}},
    {"NoDistanceCodeLiteralsOnly",
     [](BitWriter& w) {
       DynamicBlock b(CompleteLengths(Used(257, {'q', 256})), {0});
       b.WriteHeader(w, true);
       b.Literal(w, 'q');
       b.End(w);
     },
     0, Bytes("q")},
    {"NoDistanceCodeButAMatch",
     [](BitWriter& w) {
       DynamicBlock b(CompleteLengths(Used(258, {'q', 256, 257})), {0});
       b.WriteHeader(w, true);
       b.Literal(w, 'q');
       b.Literal(w, 257);
       w.Bits(0, 16);
     },
     1, {}},
    {"TruncatedInsideBlock", [](BitWriter& w) { w.Header(5, true).FixedSymbol('a'); }, 1, {}, 2},
    {"TruncatedStoredData",
     [](BitWriter& w) { w.Header(7, true).Align().Bits(5, 16).Byte('a'); }, 1, {}, 2},
    {"EmptyInput", [](BitWriter&) {}, 1, {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, HandmadeStream, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// 1 + 127 x 258 + 1 bytes: the in-loop flush writes the whole window, and
// the final write has nothing left.
TEST(HandmadeStreamWindow, ExactlyOneWindowFlushesInLoop) {
  BitWriter w;
  w.Header(5, true).FixedSymbol('a');
  for (int i = 0; i < 127; i++) FixedMatch(w, 258, 1);
  w.FixedSymbol('a').FixedSymbol(256);
  DecodeOutcome o = RunInflate(w.Bytes());
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.out, std::vector<uint8_t>(32768, 'a'));
  EXPECT_EQ(o.writeSizes, (std::vector<UINT>{32768, 0}));
}

// A failure leaves exactly the whole windows written before it.
TEST(HandmadeStreamWindow, FailureKeepsOnlyWholeWindows) {
  BitWriter w;
  w.Header(5, false).FixedSymbol('a');
  for (int i = 0; i < 200; i++) FixedMatch(w, 258, 1);  // 51,601 bytes
  w.FixedSymbol(256).Header(2, true);
  DecodeOutcome o = RunInflate(w.Bytes());
  EXPECT_EQ(o.result, 2);
  EXPECT_EQ(o.out, std::vector<uint8_t>(32768, 'a'));
  EXPECT_EQ(o.writeSizes, std::vector<UINT>{32768});
}

// Two fixed blocks build the fixed tables once: the same allocations as one.
TEST(HandmadeStreamTables, FixedTablesAreBuiltOncePerDecode) {
  auto allocations = [](int blocks) {
    BitWriter w;
    for (int i = 0; i < blocks; i++) Fixed(w, i == blocks - 1, "ab");
    AllocCounter counter;
    EXPECT_EQ(RunInflate(w.Bytes()).result, 0);
    return counter.count();
  };
  int one = allocations(1);
  EXPECT_GT(one, 3);  // input buffer, window, and at least two tables
  EXPECT_EQ(allocations(2), one);
  EXPECT_EQ(allocations(5), one);
}

TEST(HandmadeStreamTables, DynamicTablesAreBuiltPerBlock) {
  auto allocations = [](int blocks) {
    BitWriter w;
    for (int i = 0; i < blocks; i++) {
      DynamicBlock b = SmallDynamic({1});
      b.WriteHeader(w, i == blocks - 1);
      b.Literal(w, 'a');
      b.End(w);
    }
    AllocCounter counter;
    EXPECT_EQ(RunInflate(w.Bytes()).result, 0);
    return counter.count();
  };
  int one = allocations(1), two = allocations(2);
  EXPECT_GT(two, one);
  EXPECT_EQ(allocations(3) - two, two - one);
}

}  // namespace
}  // namespace sfx::test
