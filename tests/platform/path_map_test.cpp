// Windows path syntax, the mapping between Windows and host paths, and the
// folder and name queries built on them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/host/prefix.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

using sfx::host::MapToHost;
using sfx::host::MapToWindows;
using sfx::test::ScopedPrefix;

namespace {

bool IsDir(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(Prefix, LayoutCreatedOnFirstUse) {
  ScopedPrefix prefix;
  for (const char* dir : {"drive_c/WINDOWS", "drive_c/WINDOWS/SYSTEM", "drive_c/WINDOWS/SYSTEM32",
                          "drive_c/WINDOWS/FONTS", "drive_c/TEMP"})
    EXPECT_TRUE(IsDir(prefix.root() + "/" + dir)) << dir;
}

TEST(Prefix, SetPrefixRootDropsCachedLayout) {
  sfx::test::TempDir other;
  {
    ScopedPrefix prefix;
    sfx::host::SetPrefixRoot(other.path() + "/p");
    EXPECT_EQ(sfx::host::PrefixRoot(), other.path() + "/p");
    EXPECT_TRUE(IsDir(other.path() + "/p/drive_c/WINDOWS/FONTS"));
    EXPECT_EQ(MapToHost("C:\\x"), other.path() + "/p/drive_c/x");
  }
}

TEST(PathMap, WindowsToHost) {
  ScopedPrefix prefix;
  const std::string c = prefix.root() + "/drive_c";
  struct Case {
    const char* win;
    std::string host;
  } cases[] = {
      {"C:\\", c},
      {"C:\\WINDOWS", c + "/WINDOWS"},
      {"c:/windows/fonts/x.ttf", c + "/WINDOWS/FONTS/x.ttf"},  // existing parts found by case
      {"C:\\windows\\NewDir\\File.Txt", c + "/WINDOWS/NewDir/File.Txt"},  // new parts keep case
      {"C:\\..\\..\\etc", c + "/etc"},                          // never above the drive root
      {"C:\\TEMP\\.\\a\\..\\b\\", c + "/TEMP/b"},
      {"\\TEMP", c + "/TEMP"},                                  // no drive: C:
      {"Z:\\", "/"},
      {"Z:\\etc\\..\\..\\tmp", "/tmp"},
      {"\\\\server\\share\\dir\\f", prefix.root() + "/unc/server/share/dir/f"},
      {"\\\\server\\share\\..\\..\\x", prefix.root() + "/unc/server/share/x"},
      {"\\\\?\\C:\\TEMP", c + "/TEMP"},
      {"\\??\\C:\\TEMP\\x", c + "/TEMP/x"},
      {"D:\\setup", prefix.root() + "/dosdevices/d/setup"},
  };
  for (const Case& tc : cases) EXPECT_EQ(MapToHost(tc.win), tc.host) << tc.win;
}

TEST(PathMap, HostToWindows) {
  ScopedPrefix prefix;
  const std::string c = prefix.root() + "/drive_c";
  EXPECT_EQ(MapToWindows(c), "C:\\");
  EXPECT_EQ(MapToWindows(c + "/WINDOWS/SYSTEM32"), "C:\\WINDOWS\\SYSTEM32");
  EXPECT_EQ(MapToWindows(c + "/TEMP/../WINDOWS/"), "C:\\WINDOWS");
  EXPECT_EQ(MapToWindows("/"), "Z:\\");
  EXPECT_EQ(MapToWindows("/home/u/setup"), "Z:\\home\\u\\setup");
  // A sibling whose name merely starts like the drive folder is outside it.
  std::string sibling = "Z:" + c + "_other\\x";
  for (char& ch : sibling)
    if (ch == '/') ch = '\\';
  EXPECT_EQ(MapToWindows(c + "_other/x"), sibling);
  EXPECT_EQ(MapToWindows(prefix.root() + "/unc/srv/sh/f"), "\\\\srv\\sh\\f");
  EXPECT_EQ(MapToWindows(prefix.root() + "/dosdevices/d/x"), "D:\\x");
}

TEST(PathMap, RoundTripsThroughBothDirections) {
  ScopedPrefix prefix;
  for (const char* win : {"C:\\WINDOWS\\FONTS\\a.ttf", "Z:\\usr\\bin", "\\\\srv\\sh\\f", "D:\\x\\y"})
    EXPECT_EQ(MapToWindows(MapToHost(win)), win);
}

TEST(PathMap, RelativePathsStartAtTheWorkingDirectory) {
  ScopedPrefix prefix;
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(prefix.Host("C:\\WINDOWS").c_str()), 0);
  std::string mapped = MapToHost("fonts\\..\\system32\\x.dll");
  char full[MAX_PATH];
  DWORD n = GetFullPathNameA("sub\\x.dll", MAX_PATH, full, nullptr);
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_EQ(mapped, prefix.root() + "/drive_c/WINDOWS/SYSTEM32/x.dll");
  EXPECT_EQ(std::string(full), "C:\\WINDOWS\\sub\\x.dll");
  EXPECT_EQ(n, strlen(full));
}

TEST(PathMap, CaseInsensitiveLookupPrefersExactMatch) {
  ScopedPrefix prefix;
  std::string dir = prefix.Host("C:\\TEMP");
  ASSERT_EQ(mkdir((dir + "/Data").c_str(), 0777), 0);
  ASSERT_EQ(mkdir((dir + "/DATA").c_str(), 0777), 0);
  EXPECT_EQ(MapToHost("C:\\temp\\DATA"), dir + "/DATA");
  EXPECT_EQ(MapToHost("C:\\temp\\Data"), dir + "/Data");
  std::string any = MapToHost("C:\\temp\\data");
  EXPECT_TRUE(any == dir + "/DATA" || any == dir + "/Data") << any;
}

}  // namespace
