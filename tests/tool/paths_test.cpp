// Mapping hostile catalogue strings to folders, manifest versions, and the
// unique names of --flat.
#include <gtest/gtest.h>

#include "pack/extract_paths.h"
#include "pack/manifest.h"
#include "pack/path_variables.h"

namespace sfx::pack {
namespace {

using Folders = std::vector<std::string>;

TEST(MapDestination, FoldersForEveryKindOfDestination) {
  struct Case {
    std::string dest;
    Folders folders;
  } cases[] = {
      {"%inst%", {"inst"}},
      {"%inst%\\sub\\deeper\\", {"inst", "sub", "deeper"}},
      {"%sysdir%", {"sysdir"}},
      {"%font%", {"font"}},
      {"%win32%\\x", {"win32", "x"}},
      {"%inst%sub", {"inst", "sub"}},           // no separator after the variable
      {"%inst%\\.\\a\\\\b\\", {"inst", "a", "b"}},  // "." and empty parts dropped
      {"%SYSDIR%\\", {"other", "%SYSDIR%"}},    // variables are case-sensitive
      {"", {"other"}},
      {"D:\\setup\\win32\\", {"other", "D", "setup", "win32"}},
      {"c:\\x", {"other", "C", "x"}},
      {"\\\\server\\share\\dir\\", {"other", "unc", "server", "share", "dir"}},
      {"\\rooted\\path", {"other", "rooted", "path"}},
      {"/etc/cron.d/", {"other", "etc", "cron.d"}},
  };
  for (const Case& c : cases) {
    MappedFolders m = MapDestination(c.dest);
    EXPECT_EQ(m.refusal, "") << c.dest;
    EXPECT_EQ(m.folders, c.folders) << c.dest;
  }
}

TEST(MapDestination, RefusesWhatCouldLeaveTheFolder) {
  struct Case {
    std::string dest;
    std::string reason;
  } cases[] = {
      {"%inst%\\..\\..\\etc\\", "\"..\""},
      {"..", "\"..\""},
      {"%inst%/../x", "\"..\""},
      {"D:\\a\\..\\..\\b", "\"..\""},
      {"%inst%C:\\x", "\":\""},
      {"%inst%\\a:b", "\":\""},
      {std::string("%inst%\\a\0b", 11), "NUL"},
      {"%inst%\\" + std::string(256, 'x'), "longer than 255"},
  };
  for (const Case& c : cases) {
    MappedFolders m = MapDestination(c.dest);
    EXPECT_NE(m.refusal.find(c.reason), std::string::npos) << c.dest << " -> " << m.refusal;
    EXPECT_TRUE(m.folders.empty());
  }
  std::string deep = "%inst%";
  for (int i = 0; i < 70; ++i) deep += "\\d";
  EXPECT_NE(MapDestination(deep).refusal, "");
}

TEST(CheckEntryName, OnlyPlainNamesOfBoundedLength) {
  for (const std::string& bad : std::vector<std::string>{"", ".", "..", "a\\b", "a/b", "C:x", "..\\x", std::string(256, 'n'), std::string("a\0b", 3)})
    EXPECT_NE(CheckEntryName(bad), "") << bad;
  for (const std::string& good : std::vector<std::string>{"a.txt", "...", "x y", std::string(255, 'n'), "%inst%"}) EXPECT_EQ(CheckEntryName(good), "");
}

TEST(UniqueName, NumbersRepeatsAndStaysWithinTheLimit) {
  std::vector<std::string> used;
  EXPECT_EQ(UniqueName("a.txt", used), "a.txt");
  EXPECT_EQ(UniqueName("a.txt", used), "a~2.txt");
  EXPECT_EQ(UniqueName("a.txt", used), "a~3.txt");
  EXPECT_EQ(UniqueName("a~2.txt", used), "a~2~2.txt");
  EXPECT_EQ(UniqueName(".hidden", used), ".hidden");
  EXPECT_EQ(UniqueName(".hidden", used), ".hidden~2");
  std::string longName = std::string(251, 'x') + ".dat";
  EXPECT_EQ(UniqueName(longName, used), longName);
  std::string second = UniqueName(longName, used);
  EXPECT_EQ(second.size(), 255u);
  EXPECT_EQ(second.substr(second.size() - 6), "~2.dat");
}

TEST(SplitDestination, VariablesInTheStubsOrderWithTheirSharedFlag) {
  struct Case {
    const char* dest;
    const char* variable;
    bool shared;
    const char* rest;
  } cases[] = {
      {"%sysdir%", "sysdir", true, ""},  {"%font%", "font", false, ""},
      {"%prefs%\\p", "prefs", false, "\\p"}, {"%data%", "data", false, ""},
      {"%win16%", "win16", true, ""},    {"%win32%", "win32", true, ""},
      {"%macppc%\\x\\", "macppc", true, "\\x\\"}, {"%inst%", "inst", false, ""},
      {"%root%", "root", false, ""},
  };
  for (const Case& c : cases) {
    auto parts = SplitDestination(c.dest);
    ASSERT_TRUE(parts.has_value()) << c.dest;
    EXPECT_EQ(parts->variable.name, c.variable);
    EXPECT_EQ(parts->variable.shared, c.shared) << c.dest;
    EXPECT_EQ(parts->rest, c.rest);
  }
  EXPECT_FALSE(SplitDestination(" %inst%").has_value());
  EXPECT_FALSE(SplitDestination("%inst").has_value());
  EXPECT_TRUE(IsFontDestination("%font%"));
  EXPECT_FALSE(IsFontDestination("%font%\\"));
  EXPECT_TRUE(IsWin16PlatformDir("win16\\x"));
  EXPECT_FALSE(IsWin16PlatformDir("WIN16\\"));
}

TEST(ParseVersion, FourPartsOfSixteenBits) {
  EXPECT_EQ(ParseVersion("1.2.3.4"), 0x0001000200030004ull);
  EXPECT_EQ(ParseVersion("65535.0.0.65535"), 0xFFFF00000000FFFFull);
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.65536", "a.b.c.d", "1..2.3", "1.2.3.4 ", "-1.2.3.4",
                          "0000001.2.3.4"})
    EXPECT_FALSE(ParseVersion(bad).has_value()) << bad;
}

}  // namespace
}  // namespace sfx::pack
