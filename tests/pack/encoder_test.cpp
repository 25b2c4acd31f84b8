// The encoder: every level and kind of input decodes back exactly with the
// stub's decoder; hand-made RFC 1951 blocks are transcoded as the format
// wants, including blocks whose codes the decoder would refuse.
#include "pack/encoder.h"

#include <gtest/gtest.h>
#include <libdeflate.h>

#include <fstream>
#include <iterator>
#include <random>

#include "inflate/bit_writer.h"
#include "inflate/reference_decoder.h"
#include "inflate/stream_builder.h"

namespace sfx::pack {
namespace {

using Bytes = std::vector<uint8_t>;
using sfx::test::BitWriter;

Bytes ReadHostFile(const char* path, size_t maxBytes) {
  std::ifstream f(path, std::ios::binary);
  Bytes data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (data.size() > maxBytes) data.resize(maxBytes);
  return data;
}

Bytes Random(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes v(n);
  for (auto& b : v) b = uint8_t(rng());
  return v;
}

Bytes Text(size_t n, unsigned seed) {
  static const char* kWords[] = {"the ", "setup ", "file ", "window ", "of ", "and ", "stream ",
                                 "decoder ", "block ", "\n", "copy ", "32768 ", "bits. "};
  std::mt19937 rng(seed);
  Bytes v;
  while (v.size() < n) {
    const char* w = kWords[rng() % 13];
    v.insert(v.end(), w, w + strlen(w));
  }
  v.resize(n);
  return v;
}

Bytes Repetitive(size_t n) {
  Bytes v(n);
  for (size_t i = 0; i < n; i++) v[i] = uint8_t("abcabcabd"[i % 9]);
  return v;
}

void ExpectRoundTrip(const Bytes& data, int level) {
  Bytes stream = EncodeStream(data.data(), data.size(), level);
  EXPECT_TRUE(VerifyStream(stream, data.data(), data.size()))
      << "level " << level << ", " << data.size() << " bytes";
}

struct Input {
  const char* name;
  Bytes data;
};

std::vector<Input> Inputs() {
  return {
      {"empty", {}},
      {"one byte", {'x'}},
      {"32767", Text(32767, 1)},
      {"32768", Text(32768, 2)},
      {"32769", Text(32769, 3)},
      {"3 windows", Text(3 * 32768, 4)},
      {"repetitive", Repetitive(300000)},
      {"zeros", Bytes(100000, 0)},
      {"random", Random(150000, 5)},
      {"executable", ReadHostFile("/bin/ls", 200000)},
  };
}

TEST(EncoderRoundTrip, EveryLevelAndInput) {
  std::vector<Input> inputs = Inputs();
  ASSERT_GT(inputs.back().data.size(), 10000u) << "no /bin/ls to read";
  for (int level = 0; level <= 12; level++)
    for (const Input& in : inputs) {
      SCOPED_TRACE(in.name);
      ExpectRoundTrip(in.data, level);
    }
}

TEST(EncoderRoundTrip, EmptyInputIsOneLastFixedBlock) {
  for (int level : {0, 6, 12}) {
    Bytes stream = EncodeStream(nullptr, 0, level);
    EXPECT_EQ(stream, (Bytes{0x0D, 0x00}));
    EXPECT_TRUE(VerifyStream(stream, nullptr, 0));
  }
}

// More than 16 MiB of mixed content.
TEST(EncoderRoundTrip, LargeInput) {
  Bytes data;
  for (unsigned i = 0; data.size() < (17u << 20); i++) {
    Bytes part = i % 3 == 0 ? Random(700000, i) : i % 3 == 1 ? Text(1500000, i) : Repetitive(400000);
    data.insert(data.end(), part.begin(), part.end());
  }
  ExpectRoundTrip(data, 1);
}

TEST(EncoderRoundTrip, RandomizedProperty) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 120; round++) {
    size_t n = rng() % 4 == 0 ? rng() % 100 : rng() % 120000;
    Bytes data;
    switch (rng() % 4) {
      case 0: data = Random(n, rng()); break;
      case 1: data = Text(n, rng()); break;
      case 2: data = Repetitive(n); break;
      default:  // text with random runs mixed in
        data = Text(n, rng());
        for (size_t i = 0; i + 500 < n; i += 1 + rng() % 5000)
          for (size_t j = 0; j < 500; j++) data[i + j] = uint8_t(rng());
    }
    int level = int(rng() % 13);
    SCOPED_TRACE(testing::Message() << "round " << round);
    ExpectRoundTrip(data, level);
  }
}

TEST(EncoderRoundTrip, BadLevelIsRefused) {
  uint8_t b = 0;
  EXPECT_THROW(EncodeStream(&b, 1, -1), std::invalid_argument);
  EXPECT_THROW(EncodeStream(&b, 1, 13), std::invalid_argument);
}

// Close to libdeflate's own output: a bit per block header, the code-length
// code's count, the stored blocks' NLEN.
TEST(EncoderSize, WithinATenthOfAPercentOfRawDeflate) {
  Bytes data = Text(1 << 20, 9);
  for (int level : {1, 6, 12}) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    Bytes raw(libdeflate_deflate_compress_bound(c, data.size()));
    raw.resize(libdeflate_deflate_compress(c, data.data(), data.size(), raw.data(), raw.size()));
    libdeflate_free_compressor(c);
    Bytes stream = EncodeStream(data.data(), data.size(), level);
    double diff = std::abs(double(stream.size()) - double(raw.size()));
    EXPECT_LE(diff, raw.size() * 0.001 + 8) << "level " << level;
  }
}

// ---- Transcoding of hand-made RFC 1951 blocks ------------------------------

void RfcHeader(BitWriter& w, int type, bool last) { w.Bits(last ? 1 : 0, 1).Bits(type, 2); }

TEST(Transcode, StoredBlockLosesNlen) {
  BitWriter w;
  RfcHeader(w, 0, true);
  w.Align().Bits(3, 16).Bits(0xFFFC, 16).Byte('a').Byte('b').Byte('c');
  TranscodeStats stats;
  Bytes out = TranscodeDeflate(w.Bytes().data(), w.Bytes().size(), &stats);
  EXPECT_EQ(out, (Bytes{0x0F, 3, 0, 'a', 'b', 'c'}));
  EXPECT_EQ(stats.storedBlocks, 1u);
}

TEST(Transcode, FixedBlockBitsAreCopied) {
  BitWriter rfc, expected;
  RfcHeader(rfc, 1, false);
  expected.Header(5, false);
  for (BitWriter* w : {&rfc, &expected}) {
    w->FixedSymbol('h').FixedSymbol('i');
    sfx::test::FixedMatch(*w, 10, 2);
    w->FixedSymbol(256);
  }
  RfcHeader(rfc, 1, true);
  expected.Header(5, true);
  for (BitWriter* w : {&rfc, &expected}) w->FixedSymbol('!').FixedSymbol(256);
  EXPECT_EQ(TranscodeDeflate(rfc.Bytes().data(), rfc.Bytes().size()), expected.Bytes());
}

// An RFC dynamic block from the given lengths; the body writes symbols.
Bytes RfcDynamic(const std::vector<int>& lit, const std::vector<int>& dist, const std::vector<int>& cl) {
  static const int kRfcOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  BitWriter w;
  RfcHeader(w, 2, true);
  w.Bits(int(lit.size()) - 257, 5).Bits(int(dist.size()) - 1, 5).Bits(15, 4);
  for (int i = 0; i < 19; i++) w.Bits(cl[kRfcOrder[i]], 3);
  std::vector<uint32_t> clCodes = sfx::test::CanonicalCodes(cl);
  for (int l : lit) w.Code(clCodes[l], cl[l]);
  for (int l : dist) w.Code(clCodes[l], cl[l]);
  std::vector<uint32_t> litCodes = sfx::test::CanonicalCodes(lit), distCodes = sfx::test::CanonicalCodes(dist);
  // "ab" + match (length 4, distance 2) + end
  for (int s : {int('a'), int('b'), 258}) w.Code(litCodes[s], lit[s]);
  w.Code(distCodes[1], dist[1]);
  w.Code(litCodes[256], lit[256]);
  return w.Bytes();
}

std::vector<int> ClLengths() {
  std::vector<int> cl(19);
  for (int s = 0; s < 19; s++) cl[s] = s < 13 ? 4 : 5;
  return cl;
}

Bytes Decode(const Bytes& stream) {
  sfx::test::ReferenceDecoder ref(stream);
  EXPECT_EQ(ref.Run(), 0);
  return ref.out;
}

TEST(Transcode, DynamicBlockKeepsItsCodes) {
  std::vector<int> lit = sfx::test::CompleteLengths([] {
    std::vector<bool> u(259, false);
    u['a'] = u['b'] = u[256] = u[258] = true;
    return u;
  }());
  std::vector<int> dist = {1, 1};
  Bytes raw = RfcDynamic(lit, dist, ClLengths());
  TranscodeStats stats;
  Bytes out = TranscodeDeflate(raw.data(), raw.size(), &stats);
  EXPECT_EQ(stats.dynamicBlocks, 1u);
  EXPECT_EQ(stats.reencodedBlocks, 0u);
  EXPECT_EQ(out[0] & 0x0F, 0x0E);
  EXPECT_EQ(Decode(out), Bytes({'a', 'b', 'a', 'b', 'a', 'b'}));
  EXPECT_TRUE(VerifyStream(out, Decode(out).data(), 6));
}

// The code-length code count is recomputed for the format's order: symbol
// 15 is last there too, 1 and 2 come early instead of late.
TEST(Transcode, CodeLengthCountFollowsTheNewOrder) {
  std::vector<int> cl(19, 0);
  cl[0] = 1;
  cl[1] = 2;
  cl[2] = 2;  // lengths used: 0, 1, 2 only
  std::vector<int> lit(259, 0), dist = {1, 1};
  lit['a'] = lit['b'] = lit[256] = lit[258] = 2;
  Bytes raw = RfcDynamic(lit, dist, cl);
  Bytes out = TranscodeDeflate(raw.data(), raw.size());
  // HCLEN sits after the 4-bit header and HLIT, HDIST: bits 14-17. In the
  // order 18, 17, 16, 0, 1, 2 the last length sent is that of 2: 6 = 4 + 2.
  uint32_t bits = out[1] | (out[2] << 8);
  EXPECT_EQ((bits >> 6) & 0xF, 2u);
  EXPECT_EQ(Decode(out), Bytes({'a', 'b', 'a', 'b', 'a', 'b'}));
}

// Incomplete codes that the decoder would refuse: the block is re-encoded
// with the fixed codes and says the same.
TEST(Transcode, RefusedCodesAreReencoded) {
  std::vector<int> lit(259, 0);
  lit['a'] = lit['b'] = lit[256] = lit[258] = 2;
  struct Case {
    const char* name;
    std::vector<int> lit, dist, cl;
  } cases[] = {
      {"incomplete distance code", lit, {0, 2}, ClLengths()},
      {"incomplete literal code", [&] { auto l = lit; l[258] = 3; return l; }(), {1, 1}, ClLengths()},
      {"incomplete code-length code", lit, {1, 1}, [] { auto c = ClLengths(); c[18] = 0; return c; }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes raw = RfcDynamic(c.lit, c.dist, c.cl);
    TranscodeStats stats;
    Bytes out = TranscodeDeflate(raw.data(), raw.size(), &stats);
    EXPECT_EQ(stats.reencodedBlocks, 1u);
    EXPECT_EQ(out[0] & 0x0F, 0x0D);
    Bytes expected = {'a', 'b', 'a', 'b', 'a', 'b'};
    EXPECT_TRUE(VerifyStream(out, expected.data(), expected.size()));
  }
}

TEST(Transcode, MalformedInputIsRefused) {
  auto transcode = [](const BitWriter& w) { return TranscodeDeflate(w.Bytes().data(), w.Bytes().size()); };
  BitWriter type3, badNlen, truncated, shortStored, overSubscribed;
  RfcHeader(type3, 3, true);
  RfcHeader(badNlen, 0, true);
  badNlen.Align().Bits(3, 16).Bits(0x1234, 16).Byte(1).Byte(2).Byte(3);
  RfcHeader(truncated, 1, true);
  truncated.FixedSymbol('a');
  RfcHeader(shortStored, 0, true);
  shortStored.Align().Bits(10, 16).Bits(0xFFF5, 16).Byte(1);
  RfcHeader(overSubscribed, 2, true);
  overSubscribed.Bits(0, 5).Bits(0, 5).Bits(15, 4);
  for (int i = 0; i < 19; i++) overSubscribed.Bits(1, 3);
  for (const BitWriter* w : {&type3, &badNlen, &truncated, &shortStored, &overSubscribed})
    EXPECT_THROW(transcode(*w), EncodeError);
  EXPECT_THROW(TranscodeDeflate(nullptr, 0), EncodeError);
}

TEST(Transcode, VerifyStreamNoticesDifferences) {
  Bytes data = Text(50000, 3);
  Bytes stream = EncodeStream(data.data(), data.size(), 6);
  ASSERT_TRUE(VerifyStream(stream, data.data(), data.size()));
  EXPECT_FALSE(VerifyStream(stream, data.data(), data.size() - 1));
  data[40000] ^= 1;
  EXPECT_FALSE(VerifyStream(stream, data.data(), data.size()));
  stream.resize(stream.size() / 2);
  EXPECT_FALSE(VerifyStream(stream, data.data(), data.size()));
}

}  // namespace
}  // namespace sfx::pack
