// The PE version reader on real DLLs (PE32, PE32+) and on hostile input.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/host/pe_version.h"
#include "support/temp_dir.h"
#include "ver_pe_builder.h"

using sfx::host::FixedFileInfoOffset;
using sfx::host::ReadFixedFileInfo;
using sfx::host::ReadVersionResource;
using sfx::test::BuildPe;
using sfx::test::BuiltPe;

namespace {

std::vector<uint8_t> LoadDll(const char* name) {
  std::string s = sfx::test::TestDll(name);
  return std::vector<uint8_t>(s.begin(), s.end());
}

bool HasVersion(const std::vector<uint8_t>& file) {
  VS_FIXEDFILEINFO info;
  return ReadFixedFileInfo(file.data(), file.size(), info);
}

TEST(PeVersion, RealDllsOfBothFormats) {
  struct Case {
    const char* file;
    bool has;
    DWORD fileMS, fileLS, productMS, productLS;
  };
  const Case cases[] = {
      {"ver32.dll", true, 0x00010002, 0x00030004, 0x00090008, 0x00070006},
      {"ver64.dll", true, 0x00050006, 0x00070008, 0x00010000, 0x00000000},
      {"noversion32.dll", false, 0, 0, 0, 0},
      {"nores32.dll", false, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> file = LoadDll(c.file);
    VS_FIXEDFILEINFO info{};
    ASSERT_EQ(ReadFixedFileInfo(file.data(), file.size(), info), c.has) << c.file;
    if (!c.has) continue;
    EXPECT_EQ(info.dwSignature, 0xFEEF04BDu) << c.file;
    EXPECT_EQ(info.dwFileVersionMS, c.fileMS) << c.file;
    EXPECT_EQ(info.dwFileVersionLS, c.fileLS) << c.file;
    EXPECT_EQ(info.dwProductVersionMS, c.productMS) << c.file;
    EXPECT_EQ(info.dwProductVersionLS, c.productLS) << c.file;
    std::vector<uint8_t> block;
    ASSERT_TRUE(ReadVersionResource(file.data(), file.size(), block)) << c.file;
    // The whole block, string tables included, not just the fixed part.
    EXPECT_EQ(block.size(), (size_t)(block[0] | block[1] << 8)) << c.file;
    EXPECT_GT(block.size(), 92u) << c.file;
  }
}

TEST(PeVersion, BuiltImagesOfBothFormats) {
  for (bool plus : {false, true}) {
    BuiltPe pe = BuildPe(plus, 0x00020001, 0x00000005);
    VS_FIXEDFILEINFO info{};
    ASSERT_TRUE(ReadFixedFileInfo(pe.bytes.data(), pe.bytes.size(), info)) << plus;
    EXPECT_EQ(info.dwFileVersionMS, 0x00020001u);
    EXPECT_EQ(info.dwFileVersionLS, 5u);
  }
}

TEST(PeVersion, NonPeInputsHaveNoVersion) {
  const std::vector<std::vector<uint8_t>> inputs = {
      {}, {'M'}, {'M', 'Z'}, std::vector<uint8_t>(64, 0), std::vector<uint8_t>(4096, 0xff),
  };
  for (const auto& in : inputs) EXPECT_FALSE(HasVersion(in)) << in.size();
  VS_FIXEDFILEINFO info;
  EXPECT_FALSE(ReadFixedFileInfo(nullptr, 100, info));
}

// One damaged structure at a time, on a built image whose layout is known.
TEST(PeVersion, DamagedStructuresGiveNoVersion) {
  struct Case {
    const char* what;
    std::function<void(BuiltPe&)> damage;
  };
  const Case cases[] = {
      {"bad MZ", [](BuiltPe& p) { p.bytes[1] = 'X'; }},
      {"PE offset past the end", [](BuiltPe& p) { p.Put32(0x3C, 0xFFFFFFF0u); }},
      {"PE offset just short of the end",
       [](BuiltPe& p) { p.Put32(0x3C, (uint32_t)p.bytes.size() - 4); }},
      {"bad PE signature", [](BuiltPe& p) { p.bytes[p.pe + 1] = 'X'; }},
      {"unknown optional header magic", [](BuiltPe& p) { p.Put16(p.opt, 0x107); }},
      {"optional header larger than the file", [](BuiltPe& p) { p.Put16(p.pe + 20, 0xFFFF); }},
      {"optional header too short for the directories", [](BuiltPe& p) { p.Put16(p.pe + 20, 96); }},
      {"too few data directories", [](BuiltPe& p) { p.Put32(p.opt + 92, 2); }},
      {"no resource directory", [](BuiltPe& p) { p.Put32(p.resourceDir, 0); }},
      {"resource RVA outside every section", [](BuiltPe& p) { p.Put32(p.resourceDir, 0x9000); }},
      {"section count past the end", [](BuiltPe& p) { p.Put16(p.pe + 6, 0xFFFF); }},
      {"section raw data past the end", [](BuiltPe& p) { p.Put32(p.section + 20, 0x7FFFFFF0); }},
      {"section raw size wraps", [](BuiltPe& p) {
         p.Put32(p.section + 16, 0xFFFFFFFFu);
         p.Put32(p.section + 20, 0xFFFFFF00u);
       }},
      {"no RT_VERSION type", [](BuiltPe& p) { p.PutRes32(p.rootDir + 16, 14); }},
      {"type entry is data, not a directory",
       [](BuiltPe& p) { p.PutRes32(p.rootDir + 20, (uint32_t)p.dataEntry); }},
      {"type directory points at the root (loop)",
       [](BuiltPe& p) { p.PutRes32(p.rootDir + 20, 0x80000000u); }},
      {"name directory points at itself (loop)",
       [](BuiltPe& p) { p.PutRes32(p.typeDir + 20, 0x80000000u | (uint32_t)p.typeDir); }},
      {"language entry is a directory (loop to the root)",
       [](BuiltPe& p) { p.PutRes32(p.nameDir + 20, 0x80000000u); }},
      {"subdirectory past the end",
       [](BuiltPe& p) { p.PutRes32(p.rootDir + 20, 0x8FFFFFF0u); }},
      {"huge entry counts, no version type", [](BuiltPe& p) {
         p.PutRes16(p.rootDir + 12, 0xFFFF);
         p.PutRes16(p.rootDir + 14, 0xFFFF);
         p.PutRes32(p.rootDir + 16, 3);
       }},
      {"empty name directory", [](BuiltPe& p) { p.PutRes16(p.typeDir + 14, 0); }},
      {"data entry past the end", [](BuiltPe& p) { p.PutRes32(p.nameDir + 20, 0x7FFFFFF8); }},
      {"data RVA outside the sections", [](BuiltPe& p) { p.PutRes32(p.dataEntry, 0x70000000); }},
      {"data size past the section", [](BuiltPe& p) { p.PutRes32(p.dataEntry + 4, 0x10000); }},
      {"data size 0xFFFFFFFF", [](BuiltPe& p) { p.PutRes32(p.dataEntry + 4, 0xFFFFFFFFu); }},
      {"block shorter than the fixed info", [](BuiltPe& p) { p.PutRes32(p.dataEntry + 4, 60); }},
      {"block length field too small", [](BuiltPe& p) { p.PutRes16(p.block, 80); }},
      {"value length too small", [](BuiltPe& p) { p.PutRes16(p.block + 2, 40); }},
      {"wrong key", [](BuiltPe& p) { p.PutRes16(p.block + 6, 'X'); }},
      {"bad fixed-info signature", [](BuiltPe& p) { p.PutRes32(p.block + 40, 0xFEEF04BC); }},
  };
  for (bool plus : {false, true}) {
    for (const Case& c : cases) {
      BuiltPe pe = BuildPe(plus, 1, 2);
      if (plus && std::string(c.what) == "too few data directories") pe.Put32(pe.opt + 108, 2);
      c.damage(pe);
      EXPECT_FALSE(HasVersion(pe.bytes)) << c.what << (plus ? " (PE32+)" : " (PE32)");
    }
  }
}

TEST(PeVersion, EveryTruncationIsSafe) {
  for (const char* name : {"ver32.dll", "ver64.dll"}) {
    std::vector<uint8_t> file = LoadDll(name);
    size_t lastFalse = 0;
    for (size_t n = 0; n <= file.size(); ++n) {
      // An exact-size copy, so the sanitizers see any read past the end.
      std::vector<uint8_t> cut(file.begin(), file.begin() + n);
      if (!HasVersion(cut)) lastFalse = n;
    }
    EXPECT_LT(lastFalse, file.size()) << name;
  }
  BuiltPe pe = BuildPe(false, 1, 2);
  for (size_t n = 0; n < pe.rsrc + pe.block + 92; ++n) {
    std::vector<uint8_t> cut(pe.bytes.begin(), pe.bytes.begin() + n);
    EXPECT_FALSE(HasVersion(cut)) << n;
  }
}

// Thousands of random variants of the real DLLs: the reader ends every one,
// and whatever it returns lies inside the input.
TEST(PeVersion, MutatedDllsNeverCrashOrHang) {
  uint32_t seed = 0x5eed;
  auto next = [&seed] {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return seed;
  };
  for (const char* name : {"ver32.dll", "ver64.dll"}) {
    const std::vector<uint8_t> good = LoadDll(name);
    int found = 0;
    for (int round = 0; round < 4000; ++round) {
      std::vector<uint8_t> bad = good;
      int flips = 1 + (int)(next() % 8);
      for (int k = 0; k < flips; ++k) {
        uint32_t r = next();
        // Mostly in the headers, where the offsets are.
        size_t at = (r & 1) ? (r >> 8) % 0x400 : (r >> 8) % bad.size();
        bad[at % bad.size()] = (uint8_t)next();
      }
      if (round % 7 == 0) bad.resize(next() % bad.size());
      std::vector<uint8_t> block;
      if (ReadVersionResource(bad.data(), bad.size(), block)) {
        ++found;
        ASSERT_LE(block.size(), bad.size());
        ASSERT_EQ(FixedFileInfoOffset(block.data(), block.size()), 40u);
      }
    }
    // Most single changes miss the few bytes that matter.
    EXPECT_GT(found, 0) << name;
  }
}

TEST(PeVersion, FixedInfoOffsetOfBlocks) {
  BuiltPe pe = BuildPe(false, 1, 2);
  const uint8_t* block = pe.bytes.data() + pe.rsrc + pe.block;
  EXPECT_EQ(FixedFileInfoOffset(block, 92), 40u);
  EXPECT_EQ(FixedFileInfoOffset(block, 91), 0u);
  EXPECT_EQ(FixedFileInfoOffset(block, 0), 0u);
}

}  // namespace
