// sfx verify on good setups and on setups damaged in one way each.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "pack/encoder.h"
#include "pack/stream_decode.h"
#include "tool/tool_runner.h"

namespace sfx::tooltest {
namespace {

pack::Bytes Encode(const std::string& s) { return pack::EncodeStream((const uint8_t*)s.data(), s.size(), 6); }

// Text that compresses like text: letters and blanks from a small
// generator, so that the streams hold dynamic blocks.
std::string Text(size_t n, unsigned seed) {
  std::string s;
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    uint32_t r = (x >> 16) % 32;
    s += r < 26 ? (char)('a' + r % 13) : ' ';
  }
  return s;
}

CatalogueBuilder ThreeFiles() {
  CatalogueBuilder b;
  b.File({"one.txt", Text(3000, 1)}).File({"two.bin", Text(70000, 2)}).File({"three", ""});
  return b;
}

// verify's problem lines (standard error) for a payload written as a setup.
RunResult VerifyPayload(const pack::Bytes& payload) {
  TempDir dir;
  return Sfx({"verify", WriteSetup(payload, dir.path())});
}

void ExpectOneProblem(const RunResult& r, const std::string& fragment) {
  EXPECT_EQ(r.status, 1);
  std::vector<std::string> lines = Lines(r.err);
  ASSERT_GE(lines.size(), 1u) << r.err;
  bool found = false;
  for (const std::string& l : lines) found = found || l.find(fragment) != std::string::npos;
  EXPECT_TRUE(found) << "wanted \"" << fragment << "\" in:\n" << r.err;
}

TEST(Verify, GoodSetupsPassAsExecutableBarePayloadAndDataBin) {
  TempDir dir;
  pack::Payload payload = ThreeFiles().Write();
  std::string exe = WriteSetup(payload.bytes, dir.path());
  std::string bare = sfx::test::WriteDataBin(dir.path(), payload.bytes);
  for (const std::string& path : {exe, bare}) {
    RunResult r = Sfx({"verify", path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.compare(0, 3, "OK:"), 0) << r.out;
    EXPECT_NE(r.out.find("3 entries"), std::string::npos) << r.out;
  }
  // A stub without a payload reads the Data.bin beside it.
  TempDir side;
  std::string stub = side / "setup";
  sfx::test::WriteFile(stub, sfx::test::ReadFile(StubPath()));
  sfx::test::WriteDataBin(side.path(), payload.bytes);
  RunResult r = Sfx({"verify", stub});
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(Verify, FlippedHeaderByteFailsToDecode) {
  TempDir dir;
  pack::Payload payload = ThreeFiles().Write();
  std::string exe = WriteSetup(payload.bytes, dir.path());
  std::string bytes = sfx::test::ReadFile(exe);
  size_t payloadStart = bytes.size() - payload.bytes.size();
  // The stream's first byte holds its block header: flipping every bit of a
  // dynamic or fixed block's header gives an invalid block type.
  bytes[payloadStart + payload.layout.starts[1]] ^= 0xFF;
  sfx::test::WriteFile(exe, bytes);
  RunResult r = Sfx({"verify", exe});
  ExpectOneProblem(r, "entry 1 (\"two.bin\"): stream at " + std::to_string(payload.layout.starts[1]) +
                          " fails to decode (result 2)");
}

// The format carries no checksum: a flipped byte that only swaps one
// literal for another cannot be seen. A flip that fails the decoding,
// moves the stream's end or changes the decoded length is reported; each
// kind is found here with the decoder itself, then shown to verify.
TEST(Verify, FlippedBytesInsideAStream) {
  pack::Payload payload = CatalogueBuilder().File({"t.txt", Text(20000, 3)}).Write();
  const uint32_t start = payload.layout.starts[0], end = payload.layout.ends[0];
  struct Kind {
    std::string message;
    std::function<bool(const pack::DecodeOutcome&)> matches;
    int found = -1;
  } kinds[] = {
      {"stream at 4 fails to decode (result ", [](const pack::DecodeOutcome& o) { return o.result != 0; }},
      {"stream ends at ", [&](const pack::DecodeOutcome& o) { return o.result == 0 && o.consumed != end - start; }},
      {"decodes to ", [&](const pack::DecodeOutcome& o) {
         return o.result == 0 && o.consumed == end - start && o.written != 20000;
       }},
  };
  auto allFound = [&] { return std::all_of(std::begin(kinds), std::end(kinds), [](const Kind& k) { return k.found >= 0; }); };
  for (uint32_t at = start + 1; at < end && !allFound(); ++at) {
    pack::Bytes damaged = payload.bytes;
    damaged[at] ^= 0x10;
    pack::DecodeOutcome o = pack::DecodeStream(damaged.data(), damaged.size(), start, nullptr);
    for (Kind& k : kinds)
      if (k.found < 0 && k.matches(o)) k.found = (int)at;
  }
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.message);
    ASSERT_GE(k.found, 0);
    pack::Bytes damaged = payload.bytes;
    damaged[k.found] ^= 0x10;
    ExpectOneProblem(VerifyPayload(damaged), "entry 0 (\"t.txt\"): " + k.message);
  }
}

TEST(Verify, TruncatedPayload) {
  TempDir dir;
  pack::Payload payload = ThreeFiles().Write();
  std::string exe = WriteSetup(payload.bytes, dir.path());
  std::string bytes = sfx::test::ReadFile(exe);
  sfx::test::WriteFile(exe, bytes.substr(0, bytes.size() - 10));
  RunResult r = Sfx({"verify", exe});
  ExpectOneProblem(r, "locator: payload size is " + std::to_string(payload.bytes.size()) + " but " +
                          std::to_string(payload.bytes.size() - 10) + " bytes follow");
  ExpectOneProblem(r, "project (archive 2)");
}

// A stream that ends before its entry's end (a byte the stream does not
// use after it), and one that ends after it (its last byte given to the
// next entry, whose stream then starts with a stray byte).
TEST(Verify, StreamEndingBeforeOrAfterItsEnd) {
  for (bool after : {false, true}) {
    SCOPED_TRACE(after ? "after" : "before");
    pack::Bytes a = Encode(Text(5000, 4)), b = Encode("bee");
    size_t ends = 4 + a.size();  // where a's stream really ends
    if (after) {
      b.insert(b.begin(), a.back());
      a.pop_back();
    } else {
      a.push_back(0x00);
    }
    TestFile fa("a.txt", ""), fb("b.txt", "");
    fa.stream = a;
    fb.stream = b;
    pack::Payload payload = CatalogueBuilder().File(fa).File(fb).Write();
    ExpectOneProblem(VerifyPayload(payload.bytes), "entry 0 (\"a.txt\"): stream ends at " + std::to_string(ends) +
                                                       ", m_dwEnd is " + std::to_string(4 + a.size()));
  }
}

TEST(Verify, CatalogueFaults) {
  struct Case {
    const char* what;
    std::function<void(CatalogueBuilder&)> damage;
    pack::PayloadOptions options;
    std::string fragment;
  } cases[] = {
      {"component index", [](CatalogueBuilder& b) { b.Components({{0, 5}}); }, {},
       "component 0: index 5 at position 1 is out of range"},
      {"platform index", [](CatalogueBuilder& b) { b.Platforms({{}, {7}, {}}); }, {},
       "platform list 1: index 7 at position 0 is out of range"},
      {"no platform list 1", [](CatalogueBuilder& b) { b.Platforms({{}}); }, {}, "no platform list 1"},
      {"no component 0", [](CatalogueBuilder& b) { b.Components({}); }, {}, "no component list 0"},
      {"name with a path", [](CatalogueBuilder& b) { b.catalogue().files[0].name = "..\\x"; }, {},
       "entry 0 (\"..\\x\"): name is not a plain file name"},
      {"item name", [](CatalogueBuilder& b) { b.catalogue().project.items[1].name = "a/b"; }, {},
       "item 1 (\"a/b\"): name is not a plain file name"},
      {"file-table length", [](CatalogueBuilder&) {}, {6, 12345u}, "file-table length A is 12345"},
      // Destinations the stub cannot install into, worded as pack words them.
      {"unknown variable", [](CatalogueBuilder& b) { b.catalogue().project.items[0].destDir = R"(%instal%\docs\)"; },
       {}, R"(item 0 ("one.txt"): destination "%instal%\docs\" starts with %instal%, which is not a path variable)"},
      {"variable in capitals", [](CatalogueBuilder& b) { b.catalogue().project.items[1].destDir = "%INST%"; }, {},
       R"(item 1 ("two.bin"): destination "%INST%" starts with %INST%)"},
      {"relative path", [](CatalogueBuilder& b) { b.catalogue().project.items[2].destDir = R"(docs\)"; }, {},
       R"(item 2 ("three"): destination "docs\" is a relative path)"},
      {"bad character", [](CatalogueBuilder& b) { b.catalogue().project.items[0].destDir = R"(%inst%\a"b)"; }, {},
       R"(destination "%inst%\a"b" holds the character '"')"},
      {"program folder", [](CatalogueBuilder& b) { b.Program("p.exe", "%instal%", 0); }, {},
       R"(program 0 ("p.exe"): dir "%instal%" starts with %instal%)"},
      {"same Windows path", [](CatalogueBuilder& b) {
         b.catalogue().project.items[2].name = "ONE.TXT";
         b.catalogue().project.items[2].destDir = R"(%root%\)";
       }, {}, R"(item 2 ("ONE.TXT"): "%root%\" + "ONE.TXT" lands on the same Windows path as item 0 ("one.txt"))"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CatalogueBuilder b = ThreeFiles();
    c.damage(b);
    ExpectOneProblem(VerifyPayload(b.Write(c.options).bytes), c.fragment);
  }
}

// Overwrites the file table's (start, end) pair of an entry: the pair is
// found by its bytes inside archive 1.
void PatchOffsets(pack::Payload& p, size_t entry, uint32_t start, uint32_t end) {
  auto le = [](uint32_t v, uint8_t* out) {
    for (int i = 0; i < 4; ++i) out[i] = (uint8_t)(v >> (8 * i));
  };
  uint8_t pattern[8];
  le(p.layout.starts[entry], pattern);
  le(p.layout.ends[entry], pattern + 4);
  auto first = p.bytes.begin() + p.layout.fileTableOffset;
  auto hit = std::search(first, first + p.layout.fileTableLength, pattern, pattern + 8);
  ASSERT_NE(hit, first + p.layout.fileTableLength);
  le(start, &*hit);
  le(end, &*hit + 4);
}

TEST(Verify, LayoutAndTilingFaults) {
  pack::Payload payload = ThreeFiles().Write();
  pack::Bytes longer = payload.bytes;
  longer.push_back(0x42);
  ExpectOneProblem(VerifyPayload(longer), "layout: archive 2 ends at " + std::to_string(payload.bytes.size()) +
                                              ", the payload at " + std::to_string(longer.size()));

  const uint32_t s1 = payload.layout.starts[1], e1 = payload.layout.ends[1];
  pack::Payload gap = payload;
  PatchOffsets(gap, 1, s1 + 1, e1);
  ExpectOneProblem(VerifyPayload(gap.bytes),
                   "entry 1 (\"two.bin\"): starts at " + std::to_string(s1 + 1) + ", expected " + std::to_string(s1));

  pack::Payload backwards = payload;
  PatchOffsets(backwards, 1, s1, s1 - 1);
  ExpectOneProblem(VerifyPayload(backwards.bytes), "ends at " + std::to_string(s1 - 1) + ", before its start");

  pack::Payload outside = payload;
  const uint32_t area = 4 + payload.layout.dataLength;
  PatchOffsets(outside, 1, s1, area + 100);
  ExpectOneProblem(VerifyPayload(outside.bytes), "runs past the stream area's end " + std::to_string(area));
}

}  // namespace
}  // namespace sfx::tooltest
