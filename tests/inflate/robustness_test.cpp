// Damaged, random and truncated streams, failed allocations and failing
// files: the decoder must end every case with the simple decoder's result,
// never touch memory outside its buffers (the sanitizers watch), never hang,
// and leave only whole windows behind when it fails.
#include <gtest/gtest.h>

#include <random>

#include "inflate/bit_writer.h"
#include "inflate/reference_decoder.h"
#include "inflate/stream_builder.h"
#include "inflate/test_files.h"
#include "pack/encoder.h"

namespace sfx::test {
namespace {

const size_t kWindow = 32768;

// Runs both decoders. The real one may write one window; the simple one may
// produce two, enough to tell whether the real one had to write a second.
void ExpectSameAsReference(const std::vector<uint8_t>& stream, const char* kind, int seed) {
  SCOPED_TRACE(testing::Message() << kind << " seed " << seed << " size " << stream.size());
  DecodeOutcome o = RunInflate(stream, kWindow);
  ReferenceDecoder ref(stream, 2 * kWindow);
  int r = ref.Run();

  // Reads: 4,096 bytes each, and at most one beyond the input's end.
  for (UINT n : o.readSizes) ASSERT_EQ(n, 4096u);
  ASSERT_LE(o.readSizes.size(), (stream.size() + 4095) / 4096 + 1);

  if (ref.out.size() >= 2 * kWindow) {
    // The real decoder filled a second window and its write was refused.
    ASSERT_EQ(o.result, -1);
    ASSERT_TRUE(std::equal(o.out.begin(), o.out.end(), ref.out.begin()));
    ASSERT_EQ(o.out.size(), kWindow);
    return;
  }
  ASSERT_EQ(o.result, r);
  if (r == 0) {
    ASSERT_TRUE(o.out == ref.out);
  } else {
    // Only the whole windows decoded before the failure.
    ASSERT_EQ(o.out.size(), ref.out.size() / kWindow * kWindow);
    ASSERT_TRUE(std::equal(o.out.begin(), o.out.end(), ref.out.begin()));
  }
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(rng());
  return v;
}

// Data with repeats at all distances, so that encoded streams hold matches.
std::vector<uint8_t> Compressible(std::mt19937& rng, size_t n) {
  std::vector<uint8_t> v;
  while (v.size() < n) {
    if (v.size() > 4 && rng() % 3 != 0) {
      size_t dist = 1 + rng() % std::min<size_t>(v.size(), 40000);
      size_t len = 3 + rng() % 60;
      for (size_t i = 0; i < len && v.size() < n; i++) v.push_back(v[v.size() - dist]);
    } else {
      v.push_back(uint8_t('a' + rng() % 8));
    }
  }
  return v;
}

TEST(Robustness, RandomStreamsAgreeWithSimpleDecoder) {
  for (int seed = 0; seed < 1500; seed++) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> stream = RandomBytes(rng, 1 + rng() % 300);
    // Mostly valid block types, so that decoding gets past the header.
    stream[0] = uint8_t((stream[0] & 0xF0) | (5 + rng() % 3) | (rng() % 2 ? 8 : 0));
    ExpectSameAsReference(stream, "random", seed);
    if (HasFatalFailure()) return;
  }
}

// A valid dynamic header followed by random bits: invalid codes, matches
// before the start, running off the input's end.
TEST(Robustness, RandomSymbolsAfterValidDynamicHeader) {
  for (int seed = 0; seed < 800; seed++) {
    std::mt19937 rng(seed);
    std::vector<bool> lit(257 + rng() % 30), dist(1 + rng() % 30);
    for (size_t i = 0; i < lit.size(); i++) lit[i] = rng() % 3 == 0 || i == 256;
    for (size_t i = 0; i < dist.size(); i++) dist[i] = rng() % 2 == 0;
    std::vector<int> litLengths = CompleteLengths(lit);
    if (rng() % 4 == 0) litLengths[rng() % litLengths.size()] = int(rng() % 16);  // often broken
    DynamicBlock b(litLengths, CompleteLengths(dist));
    BitWriter w;
    b.WriteHeader(w, rng() % 2 == 0);
    for (int i = 0, n = int(rng() % 2000); i < n; i++) w.Bits(rng() & 1, 1);
    ExpectSameAsReference(w.Bytes(), "dynamic", seed);
    if (HasFatalFailure()) return;
  }
}

TEST(Robustness, MutatedEncodedStreams) {
  for (int seed = 0; seed < 800; seed++) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> data =
        rng() % 4 == 0 ? RandomBytes(rng, rng() % 3000) : Compressible(rng, rng() % 8000);
    std::vector<uint8_t> stream = sfx::pack::EncodeStream(data.data(), data.size(), int(rng() % 13));
    switch (rng() % 3) {
      case 0:  // flip a few bits
        for (int i = 0, n = 1 + int(rng() % 4); i < n; i++) stream[rng() % stream.size()] ^= uint8_t(1 << (rng() % 8));
        break;
      case 1:  // cut short
        stream.resize(rng() % stream.size());
        break;
      default:  // overwrite a run
        for (size_t i = rng() % stream.size(), n = 1 + rng() % 8; n > 0 && i < stream.size(); i++, n--)
          stream[i] = uint8_t(rng());
    }
    ExpectSameAsReference(stream, "mutated", seed);
    if (HasFatalFailure()) return;
  }
}

// Larger inputs through the real decoder only: it must end every case, with
// output bounded by the file that refuses to grow.
TEST(Robustness, NoHangOnLongRandomStreams) {
  for (int seed = 0; seed < 300; seed++) {
    std::mt19937 rng(seed + 100000);
    std::vector<uint8_t> stream = RandomBytes(rng, 4096 + rng() % 20000);
    stream[0] = uint8_t(0x06 | (rng() % 2 ? 8 : 0));
    DecodeOutcome o = RunInflate(stream, 4 * kWindow);
    EXPECT_NE(o.result, 0) << seed;  // random bits are never a whole valid stream here
    EXPECT_EQ(o.out.size() % kWindow, 0u);
  }
}

// Every prefix of a valid stream fails with result 1: the decoder notices
// that it ran past its input instead of decoding zero bits.
TEST(Robustness, EveryTruncationIsBadData) {
  std::mt19937 rng(3);
  for (int level : {0, 1, 6, 12}) {
    std::vector<uint8_t> data = Compressible(rng, 3000);
    std::vector<uint8_t> stream = sfx::pack::EncodeStream(data.data(), data.size(), level);
    ASSERT_EQ(RunInflate(stream).result, 0);
    for (size_t n = 0; n < stream.size(); n++) {
      std::vector<uint8_t> cut(stream.begin(), stream.begin() + n);
      DecodeOutcome o = RunInflate(cut);
      ASSERT_EQ(o.result, 1) << "level " << level << " cut at " << n;
      ASSERT_TRUE(o.out.empty());
    }
  }
}

// A stream with fixed, dynamic and stored blocks, for the allocation tests.
std::vector<uint8_t> MixedStream(std::vector<uint8_t>* expected) {
  BitWriter w;
  w.Header(5, false).FixedSymbol('f').FixedSymbol(256);
  DynamicBlock b(CompleteLengths(std::vector<bool>(258, true)), {1});
  b.WriteHeader(w, false);
  b.Literal(w, 'd');
  b.Match(w, 257, 0, 0, 0, 0, 0);
  b.End(w);
  w.Header(7, true).Align().Bits(1, 16).Byte('s');
  *expected = {'f', 'd', 'd', 'd', 'd', 's'};
  return w.Bytes();
}

TEST(Robustness, EveryFailedAllocationIsReported) {
  std::vector<uint8_t> expected;
  std::vector<uint8_t> stream = MixedStream(&expected);
  int total;
  {
    AllocCounter counter;
    ScriptedInput input(stream);
    RecordingOutput output;
    CInflater inflater;
    ASSERT_TRUE(inflater.Decode(&output, &input));
    EXPECT_EQ(output.data, expected);
    total = counter.count();
  }
  ASSERT_GE(total, 6);  // buffer, window, fixed tables, three dynamic codes
  for (int failAt = 1; failAt <= total; failAt++) {
    SCOPED_TRACE(failAt);
    AllocCounter counter(failAt);
    ScriptedInput input(stream);
    RecordingOutput output;
    CInflater inflater;
    if (failAt == 1) {
      // The input buffer: Decode fails before touching either file.
      EXPECT_FALSE(inflater.Decode(&output, &input));
      EXPECT_TRUE(input.readSizes.empty());
      EXPECT_TRUE(output.writeSizes.empty());
      continue;
    }
    ASSERT_TRUE(inflater.Attach(&input));
    inflater.m_pOutput = &output;
    EXPECT_EQ(inflater.Inflate(), 3);
    EXPECT_TRUE(output.writeSizes.empty());
    EXPECT_EQ(inflater.m_pWindow, nullptr);
    EXPECT_EQ(inflater.m_pFixedLiteral, nullptr);
  }
}

TEST(Robustness, DecodeRefusesMissingFiles) {
  CMemFile file;
  CInflater inflater;
  EXPECT_FALSE(inflater.Decode(&file, nullptr));
  EXPECT_FALSE(inflater.Decode(nullptr, &file));
}

// A failing Write passes through Decode unchanged; the decoder's buffers are
// still released (the leak checker would see them otherwise).
TEST(Robustness, WriteExceptionPassesThroughWithoutLeaks) {
  std::vector<uint8_t> expected;
  std::vector<uint8_t> stream = MixedStream(&expected);
  for (size_t limit : {size_t(0), size_t(3)}) {
    ScriptedInput input(stream);
    RecordingOutput output(limit);
    CInflater inflater;
    bool thrown = false;
    try {
      inflater.Decode(&output, &input);
    } catch (CException* e) {
      thrown = dynamic_cast<CFileException*>(e) != nullptr;
      e->Delete();
    }
    EXPECT_TRUE(thrown);
  }
  // Thrown from inside a dynamic block, while its tables are held.
  BitWriter w;
  DynamicBlock b(CompleteLengths(std::vector<bool>(258, true)), {1});
  b.WriteHeader(w, true);
  b.Literal(w, 'd');
  for (int i = 0; i < 200; i++) b.Match(w, 257, 0, 0, 0, 0, 0);
  b.End(w);
  DecodeOutcome o = RunInflate(w.Bytes(), 0);
  EXPECT_EQ(o.result, -1);
}

// A literal code of one 1-bit code that is not end-of-block never ends the
// block; the input running out ends it.
TEST(Robustness, EndlessBlockEndsWithTheInput) {
  std::vector<int> lit(257, 0);
  lit['x'] = 1;
  DynamicBlock b(lit, {0});
  BitWriter w;
  b.WriteHeader(w, true);
  for (int i = 0; i < 8000; i++) b.Literal(w, 'x');
  DecodeOutcome o = RunInflate(w.Bytes());
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.out.size(), 0u);  // 8,000 bytes: not a whole window
}

}  // namespace
}  // namespace sfx::test
