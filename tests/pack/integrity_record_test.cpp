// The integrity record: SHA-256 against published vectors, and every single
// bit flipped in a payload (stored and compressed streams, lengths, both
// archives) and in the record itself is found and named.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "pack/integrity_record.h"
#include "pack/setup_reader.h"
#include "pack/sha256.h"
#include "support/payload_builder.h"

namespace sfx::test {
namespace {

std::string Hex(const pack::Sha256Digest& d) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : d) out += {digits[b >> 4], digits[b & 15]};
  return out;
}

TEST(Sha256, KnownVectors) {
  struct Case {
    std::string input;
    size_t repeat;
    const char* digest;
  } cases[] = {
      {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       1, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {"a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    std::string whole;
    for (size_t i = 0; i < c.repeat; ++i) whole += c.input;
    const auto* p = (const uint8_t*)whole.data();
    EXPECT_EQ(Hex(pack::Sha256Of(p, whole.size())), c.digest) << whole.substr(0, 20);
    // Fed in uneven pieces, across block boundaries.
    pack::Sha256 s;
    for (size_t at = 0, step = 1; at < whole.size(); at += step, step = step % 97 + 13)
      s.Update(p + at, std::min(step, whole.size() - at));
    EXPECT_EQ(Hex(s.Finish()), c.digest);
  }
}

std::string Random(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) c = (char)((seed = seed * 1664525u + 1013904223u) >> 24);
  return s;
}

// The region a payload byte lies in, as the record's messages name it.
std::string RegionOf(const pack::PayloadLayout& l, size_t at) {
  if (at < 4) return "stream-area length L";
  for (size_t i = 0; i < l.starts.size(); ++i)
    if (at >= l.starts[i] && at < l.ends[i]) return "entry " + std::to_string(i) + " (";
  if (at < l.fileTableOffset) return "file-table length A";
  if (at < l.projectOffset) return "file table (archive 1";
  return "project (archive 2";
}

TEST(IntegrityRecord, EverySingleBitFlipIsFoundAndNamed) {
  for (int level : {0, 6}) {  // stored blocks and compressed streams
    SCOPED_TRACE("level " + std::to_string(level));
    CatalogueBuilder b;
    b.File({"text.txt", std::string(300, 't') + "end"}).File({"noise.bin", Random(200, 5)}).File({"empty.txt", ""});
    pack::Payload payload = b.Write({level, std::nullopt});
    pack::Bytes record = pack::MakeIntegrityRecord(payload.bytes, payload.layout);
    const std::vector<std::string> names = {"text.txt", "noise.bin", "empty.txt"};
    pack::IntegrityRecord parsed = pack::ParseIntegrityRecord(record.data(), record.size(), nullptr);
    ASSERT_TRUE(pack::CheckIntegrity(parsed, payload.bytes.data(), payload.bytes.size(), names).empty());
    EXPECT_EQ(pack::TrailingRecordLength(record.data(), record.size()), record.size());

    std::map<std::string, size_t> flipsPerRegion;
    for (size_t at = 0; at < payload.bytes.size(); ++at)
      for (int bit = 0; bit < 8; ++bit) {
        pack::Bytes damaged = payload.bytes;
        damaged[at] ^= (uint8_t)(1 << bit);
        std::vector<std::string> problems = pack::CheckIntegrity(parsed, damaged.data(), damaged.size(), names);
        const std::string region = RegionOf(payload.layout, at);
        ASSERT_EQ(problems.size(), 1u) << "byte " << at << " bit " << bit;
        ASSERT_EQ(problems[0].rfind(region, 0), 0u) << problems[0];
        flipsPerRegion[region]++;
      }
    // Every region was hit: L, each stream that holds bytes, A, both archives.
    size_t streams = 0;
    for (size_t i = 0; i < payload.layout.starts.size(); ++i) streams += payload.layout.ends[i] > payload.layout.starts[i];
    EXPECT_EQ(flipsPerRegion.size(), 4 + streams);

    // A flip inside the record is reported as a damaged record.
    for (size_t at = 8; at < record.size() - 12; at += 7) {
      pack::Bytes bad = record;
      bad[at] ^= 0x04;
      EXPECT_THROW(pack::ParseIntegrityRecord(bad.data(), bad.size(), nullptr), pack::ReadError) << at;
    }
  }
}

}  // namespace
}  // namespace sfx::test
