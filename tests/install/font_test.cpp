// Reading a TrueType font's full name, and registering installed fonts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "framework/file.h"
#include "install/font.h"
#include "install/install_test_util.h"
#include "support/font_builder.h"
#include "support/temp_dir.h"

namespace {

using sfx::test::FontFile;
using sfx::test::NameRecord;
using sfx::test::NameTable;
using sfx::test::Put32;
using sfx::test::ScopedPrefix;

const char kFontsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

std::string FontWithNames(const std::vector<NameRecord>& records) {
  return FontFile({{"head", std::string(54, '\0')}, {"name", NameTable(records)}});
}

// ReadFontFullName over bytes in memory: the name, or "<none>".
std::string NameOf(const std::string& bytes) {
  CMemFile file(bytes.data(), (UINT)bytes.size());
  char name[kFontNameBufferSize];
  memset(name, 'X', sizeof name);
  BOOL ok = ReadFontFullName(file, name);
  EXPECT_EQ(ok != 0, name[0] != 0);
  return ok ? std::string(name) : "<none>";
}

// Stores a big-endian 32-bit number at offset of bytes.
void Patch32(std::string& bytes, size_t offset, unsigned v) {
  std::string s;
  Put32(s, v);
  bytes.replace(offset, 4, s);
}

TEST(ReadFontFullName, PicksTheLastMacintoshFullName) {
  const std::string k248(248, 'w'), k249(249, 'w');
  struct Case {
    const char* what;
    std::vector<NameRecord> records;
    std::string expected;
  } cases[] = {
      {"one Macintosh full name", {{1, 1, "Abc"}, {1, 4, "Abc Regular"}}, "Abc Regular"},
      {"last of several wins",
       {{1, 4, "First"}, {3, 4, std::string("\0W", 2)}, {1, 4, "Second"}, {1, 4, "Last"}},
       "Last"},
      {"Windows names only", {{3, 4, std::string("\0A\0b\0c", 6)}, {3, 1, "x"}}, "<none>"},
      {"Macintosh family name only", {{1, 1, "Abc"}, {1, 6, "Abc-PS"}}, "<none>"},
      {"no records", {}, "<none>"},
      {"248 bytes still fit", {{1, 4, k248}}, k248},
      {"249 bytes do not", {{1, 4, k249}}, "<none>"},
      {"a short name after a long one", {{1, 4, k249}, {1, 4, "Short"}}, "Short"},
      {"a long name after a short one", {{1, 4, "Short"}, {1, 4, k249}}, "<none>"},
      {"an empty last name", {{1, 4, "Abc"}, {1, 4, ""}}, "<none>"},
  };
  for (const Case& c : cases) EXPECT_EQ(NameOf(FontWithNames(c.records)), c.expected) << c.what;
}

TEST(ReadFontFullName, OnlyTheFirstFortyRecordsAndTheExactTag) {
  const std::string names = NameTable({{1, 4, "Found"}});
  auto directory = [&](int fillers, const std::string& tag) {
    std::vector<std::pair<std::string, std::string>> tables(fillers, {"fill", "1234"});
    tables.push_back({tag, names});
    return FontFile(tables);
  };
  EXPECT_EQ(NameOf(directory(39, "name")), "Found");  // 40th record
  EXPECT_EQ(NameOf(directory(40, "name")), "<none>");  // 41st record
  EXPECT_EQ(NameOf(directory(0, "NAME")), "<none>");
  EXPECT_EQ(NameOf(directory(0, "Name")), "<none>");
  // Only the first "name" table counts.
  EXPECT_EQ(NameOf(FontFile({{"name", NameTable({{3, 4, "w"}})}, {"name", names}})), "<none>");
}

TEST(ReadFontFullName, OffsetsOutsideTheFile) {
  const std::string good = FontWithNames({{1, 4, "Early"}, {1, 4, "Late"}});
  const size_t nameTableRecord = 12 + 16;        // second table record
  const size_t table = 12 + 32 + 54;  // after the directory and the "head" table
  ASSERT_EQ(good.compare(table, 4, std::string("\0\0\0\x02", 4)), 0);

  std::string bytes = good;
  Patch32(bytes, nameTableRecord + 8, 0xFFFFFFF0u);  // table offset far past the end
  EXPECT_EQ(NameOf(bytes), "<none>");

  bytes = good;
  Patch32(bytes, nameTableRecord + 8, (unsigned)good.size() - 3);  // header cut by the end
  EXPECT_EQ(NameOf(bytes), "<none>");

  // The second string's offset points past the end: the first name stays.
  bytes = good;
  bytes[table + 6 + 12 + 10] = '\xFF';
  bytes[table + 6 + 12 + 11] = '\xF0';
  EXPECT_EQ(NameOf(bytes), "Early");

  // A record count larger than the records there: the ones read count.
  bytes = good;
  bytes[table + 2] = '\xFF';
  bytes[table + 3] = '\xFF';
  EXPECT_EQ(NameOf(bytes), "Late");

  // A directory that claims more tables than the file holds.
  bytes = good;
  bytes[4] = '\x7F';
  EXPECT_EQ(NameOf(bytes), "Late");
}

TEST(ReadFontFullName, EveryTruncationIsSafe) {
  const std::string font = FontWithNames({{1, 4, "Whole Name"}});
  EXPECT_EQ(NameOf(font), "Whole Name");
  // The string is the last thing in the file: any cut loses the name, and
  // never yields part of it.
  for (size_t n = 0; n < font.size(); ++n)
    EXPECT_EQ(NameOf(font.substr(0, n)), "<none>") << "length " << n;
}

// ---- InstallFont -----------------------------------------------------------

void InstallInto(ScopedPrefix& prefix, const char* windowsPath, const std::string& bytes) {
  sfx::test::WriteFile(prefix.Host(windowsPath), bytes);
  InstallFont(windowsPath);
}

// The font resources the emulated machine has added, one path a line.
std::string AddedFonts(ScopedPrefix& prefix) {
  return sfx::test::ReadFileIfPresent(prefix.root() + "/fontresources.txt");
}

TEST(InstallFont, RegistersTheFullNameWithTheFileName) {
  ScopedPrefix prefix;
  InstallInto(prefix, "C:\\WINDOWS\\FONTS\\ABC.TTF", FontWithNames({{1, 4, "Abc Regular"}}));
  sfx::test::RegValue v = sfx::test::QueryHklmValue(kFontsKey, "Abc Regular (TrueType)");
  ASSERT_TRUE(v.found);
  EXPECT_EQ(v.type, (DWORD)REG_SZ);
  EXPECT_EQ(v.data, "ABC.TTF");  // 7 bytes: no NUL stored
  EXPECT_EQ(AddedFonts(prefix), "C:\\WINDOWS\\FONTS\\ABC.TTF\n");
}

TEST(InstallFont, NoUsableNameMeansNoValue) {
  ScopedPrefix prefix;
  const std::string long249(249, 'L');
  InstallInto(prefix, "C:\\WINDOWS\\FONTS\\WIN.TTF", FontWithNames({{3, 4, "Win Only"}}));
  InstallInto(prefix, "C:\\WINDOWS\\FONTS\\LONG.TTF", FontWithNames({{1, 4, long249}}));
  InstallInto(prefix, "C:\\WINDOWS\\FONTS\\CUT.TTF",
              FontWithNames({{1, 4, "Cut Name"}}).substr(0, 60));
  InstallFont("C:\\WINDOWS\\FONTS\\MISSING.TTF");
  EXPECT_FALSE(sfx::test::QueryHklmValue(kFontsKey, "Win Only (TrueType)").found);
  EXPECT_FALSE(sfx::test::QueryHklmValue(kFontsKey, (long249 + " (TrueType)").c_str()).found);
  EXPECT_FALSE(sfx::test::QueryHklmValue(kFontsKey, "Cut Name (TrueType)").found);
  // Still added as font resources, all but the missing file.
  EXPECT_EQ(AddedFonts(prefix),
            "C:\\WINDOWS\\FONTS\\WIN.TTF\nC:\\WINDOWS\\FONTS\\LONG.TTF\n"
            "C:\\WINDOWS\\FONTS\\CUT.TTF\n");
}

TEST(InstallFont, PathWithoutBackslashIsTheWholeValue) {
  ScopedPrefix prefix;
  sfx::test::TempDir dir;
  sfx::test::WriteFile(dir / "REL.TTF", FontWithNames({{1, 4, "Relative"}}));
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  InstallFont("REL.TTF");
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_EQ(sfx::test::QueryHklmValue(kFontsKey, "Relative (TrueType)").data, "REL.TTF");
}

}  // namespace
