// Matches across and around the sliding window, checked against the simple
// decoder: far distances after more than a window of output (where the
// source lies ahead of the write position), copies that wrap the window's
// end, and the sizes of the pieces read and written.
#include <gtest/gtest.h>

#include <random>

#include "inflate/bit_writer.h"
#include "inflate/reference_decoder.h"
#include "inflate/stream_builder.h"
#include "inflate/test_files.h"

namespace sfx::test {
namespace {

struct MatchCase {
  size_t before;  // literal bytes written first
  int distance;
  int length;
  int after = 5;  // literal bytes after the match
};
std::string Name(const MatchCase& c) {
  return std::to_string(c.before) + "Then" + std::to_string(c.length) + "From" +
         std::to_string(c.distance) + "Back" + (c.after != 5 ? "Then" + std::to_string(c.after) : "");
}
void PrintTo(const MatchCase& c, std::ostream* os) { *os << Name(c); }

// Literals of varied bytes, then the match, then more literals.
std::vector<uint8_t> MatchStream(const MatchCase& c) {
  std::mt19937 rng(unsigned(c.before * 31 + c.distance));
  BitWriter w;
  w.Header(5, true);
  for (size_t i = 0; i < c.before; i++) w.FixedSymbol(int(rng() % 256));
  FixedMatch(w, c.length, c.distance);
  for (int i = 0; i < c.after; i++) w.FixedSymbol('A' + i % 26);
  w.FixedSymbol(256);
  return w.Bytes();
}

class WindowMatch : public ::testing::TestWithParam<MatchCase> {};

TEST_P(WindowMatch, AgreesWithSimpleDecoder) {
  std::vector<uint8_t> stream = MatchStream(GetParam());
  DecodeOutcome o = RunInflate(stream);
  ReferenceDecoder ref(stream);
  ASSERT_EQ(ref.Run(), 0);
  ASSERT_EQ(o.result, 0);
  ASSERT_EQ(o.out.size(), ref.out.size());
  EXPECT_TRUE(o.out == ref.out);

  size_t windows = o.out.size() / 32768;
  std::vector<UINT> writes(windows, 32768);
  writes.push_back(UINT(o.out.size() % 32768));
  EXPECT_EQ(o.writeSizes, writes);
  EXPECT_EQ(o.readSizes, std::vector<UINT>((stream.size() + 4095) / 4096, 4096));
}

INSTANTIATE_TEST_SUITE_P(
    Distances, WindowMatch,
    ::testing::Values(
        // After 32,800 bytes the position is 32: these sources lie ahead of it
        // and overlap the destination.
        MatchCase{32800, 32511, 258}, MatchCase{32800, 32700, 258}, MatchCase{32800, 32767, 258},
        MatchCase{32800, 32768, 258}, MatchCase{40000, 32700, 258}, MatchCase{70000, 32767, 200},
        // Destination wraps the window's end.
        MatchCase{32760, 3, 20}, MatchCase{32760, 32000, 100}, MatchCase{32767, 1, 258},
        MatchCase{65530, 10, 258},
        // Source wraps the window's end while the destination does not.
        MatchCase{32778, 20, 30}, MatchCase{32778, 32768, 258},
        // Before the stream's start: zeros, partly.
        MatchCase{100, 32768, 258}, MatchCase{10, 200, 258},
        // Across the point (131,072 bytes out) where the history moves back
        // to the window's start, and from the moved history just after it;
        // with a long tail the fast path copies the match.
        MatchCase{131060, 32768, 258}, MatchCase{131060, 32768, 258, 64}, MatchCase{131072, 3, 258, 64},
        MatchCase{131100, 32767, 258, 64},
        // The fast path's copies: distances under a word repeat a pattern
        // shorter than the word; from a word on, five words go at a time.
        MatchCase{1000, 2, 258, 64}, MatchCase{1000, 3, 100, 64}, MatchCase{1000, 7, 258, 64},
        MatchCase{1000, 8, 41, 64}, MatchCase{1000, 39, 258, 64}, MatchCase{1000, 40, 80, 64}),
    [](const auto& info) { return Name(info.param); });

// Output of many windows: every in-loop write is a whole window and the
// last write the remainder; the input is read in 4,096-byte pieces exactly
// as far as the stream goes.
TEST(WindowPieces, ManyWindowsOfStoredAndFixedBlocks) {
  BitWriter w;
  std::mt19937 rng(7);
  std::vector<uint8_t> expected;
  for (int block = 0; block < 6; block++) {
    w.Header(7, false).Align().Bits(40000, 16);
    for (int i = 0; i < 40000; i++) {
      uint8_t b = uint8_t(rng());
      w.Byte(b);
      expected.push_back(b);
    }
  }
  w.Header(5, true).FixedSymbol('!').FixedSymbol(256);
  expected.push_back('!');
  std::vector<uint8_t> stream = w.Bytes();

  DecodeOutcome o = RunInflate(stream);
  ASSERT_EQ(o.result, 0);
  EXPECT_TRUE(o.out == expected);
  std::vector<UINT> writes(expected.size() / 32768, 32768);
  writes.push_back(UINT(expected.size() % 32768));
  EXPECT_EQ(o.writeSizes, writes);
  EXPECT_EQ(o.readSizes, std::vector<UINT>((stream.size() + 4095) / 4096, 4096));
}

// Whatever follows the stream in the input is not read beyond the piece
// that holds the stream's last byte: after a stored block, and after a
// fixed block whose end-of-block code (7 bits, shorter than the table's
// root) ends exactly at the end of the first piece.
TEST(WindowPieces, StopsReadingAtTheStreamsEnd) {
  struct Case {
    std::vector<uint8_t> stream;
    size_t outSize;
    std::vector<UINT> reads;
  };
  BitWriter stored;
  stored.Header(7, true).Align().Bits(5000, 16);
  for (int i = 0; i < 5000; i++) stored.Byte(uint8_t(i));
  // 4 + 4,089 x 8 + 5 x 9 + 7 bits = 4,096 bytes.
  BitWriter fixed;
  fixed.Header(5, true);
  for (int i = 0; i < 4089; i++) fixed.FixedSymbol(i % 144);
  for (int i = 0; i < 5; i++) fixed.FixedSymbol(200);
  fixed.FixedSymbol(256);
  ASSERT_EQ(fixed.bitCount(), 4096u * 8);
  for (const Case& c : {Case{stored.Bytes(), 5000, {4096, 4096}}, Case{fixed.Bytes(), 4094, {4096}}}) {
    std::vector<uint8_t> input = c.stream;
    input.resize(input.size() + 20000, 0xEE);  // the next stream, say
    DecodeOutcome o = RunInflate(input);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.out.size(), c.outSize);
    EXPECT_EQ(o.readSizes, c.reads);
  }
}

}  // namespace
}  // namespace sfx::test
