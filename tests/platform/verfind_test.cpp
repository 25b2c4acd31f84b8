// VerFindFileA: where a copy lies, where a file should go, and whether the
// copy is in use, on both Windows families.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "support/platform_child.h"
#include "support/temp_dir.h"

using sfx::test::ScopedPrefix;

namespace {

const char kAppDir[] = "C:\\TEMP\\cc1\\";

struct Found {
  DWORD flags;
  std::string cur, dest;
  // All three at once, for comparing.
  std::string str() const { return "flags " + std::to_string(flags) + ", cur \"" + cur + "\", dest \"" + dest + "\""; }
};

Found Find(DWORD uFlags, const char* name, const char* appDir = kAppDir) {
  char cur[MAX_PATH], dest[MAX_PATH];
  UINT curLen = sizeof cur, destLen = sizeof dest;
  DWORD flags =
      VerFindFileA(uFlags, name, "C:\\WINDOWS", appDir, cur, &curLen, dest, &destLen);
  EXPECT_EQ(curLen, strlen(cur) + 1);
  EXPECT_EQ(destLen, strlen(dest) + 1);
  return {flags, cur, dest};
}

void Touch(const ScopedPrefix& prefix, const char* windowsPath) {
  sfx::test::WriteFile(prefix.Host(windowsPath), "MZ");
}

class VerFind : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(mkdir(prefix_.Host(kAppDir).c_str(), 0777), 0); }
  ScopedPrefix prefix_;
};

TEST_F(VerFind, WhereTheCopyLies) {
  for (const char* path : {"C:\\WINDOWS\\SYSTEM32\\INSYS.DLL", "C:\\WINDOWS\\INWIN.DLL", "C:\\WINDOWS\\BOTH.DLL",
                           "C:\\WINDOWS\\SYSTEM32\\BOTH.DLL", "C:\\TEMP\\cc1\\INAPP.DLL", "C:\\WINDOWS\\SYSTEM32\\lower.dll"})
    Touch(prefix_, path);
  ASSERT_EQ(mkdir(prefix_.Host("C:\\WINDOWS\\SYSTEM32\\ADIR.DLL").c_str(), 0777), 0);
  struct Case {
    DWORD uFlags;
    const char* name;
    DWORD flags;
    const char* cur;
    const char* dest;
  };
  const Case cases[] = {
      // Shared files go to the system directory; the app directory is not searched.
      {VFFF_ISSHAREDFILE, "NEW.DLL", 0, "", "C:\\WINDOWS\\SYSTEM32"},
      {VFFF_ISSHAREDFILE, "INSYS.DLL", 0, "C:\\WINDOWS\\SYSTEM32", "C:\\WINDOWS\\SYSTEM32"},
      {VFFF_ISSHAREDFILE, "insys.dll", 0, "C:\\WINDOWS\\SYSTEM32", "C:\\WINDOWS\\SYSTEM32"},
      {VFFF_ISSHAREDFILE, "LOWER.DLL", 0, "C:\\WINDOWS\\SYSTEM32", "C:\\WINDOWS\\SYSTEM32"},
      {VFFF_ISSHAREDFILE, "INWIN.DLL", VFF_CURNEDEST, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM32"},
      {VFFF_ISSHAREDFILE, "BOTH.DLL", VFF_CURNEDEST, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM32"},
      {VFFF_ISSHAREDFILE, "INAPP.DLL", 0, "", "C:\\WINDOWS\\SYSTEM32"},
      {VFFF_ISSHAREDFILE, "ADIR.DLL", 0, "", "C:\\WINDOWS\\SYSTEM32"},
      // Private files go to the application directory, searched first.
      {0, "INAPP.DLL", 0, "C:\\TEMP\\cc1", "C:\\TEMP\\cc1"},
      {0, "NEW.DLL", 0, "", "C:\\TEMP\\cc1"},
      {0, "INSYS.DLL", VFF_CURNEDEST, "C:\\WINDOWS\\SYSTEM32", "C:\\TEMP\\cc1"},
      {0, "INWIN.DLL", VFF_CURNEDEST, "C:\\WINDOWS", "C:\\TEMP\\cc1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Find(c.uFlags, c.name).str(), (Found{c.flags, c.cur, c.dest}.str()))
        << c.name << (c.uFlags ? " shared" : " private");
  }
}

TEST_F(VerFind, ApplicationDirectoryWithoutTrailingBackslashOrAtADriveRoot) {
  Touch(prefix_, "C:\\TEMP\\cc1\\INAPP.DLL");
  Touch(prefix_, "C:\\ROOT.DLL");
  EXPECT_EQ(Find(0, "INAPP.DLL", "C:\\TEMP\\cc1").cur, "C:\\TEMP\\cc1");
  // "C:" + "\" + name still names the file at the root.
  EXPECT_EQ(Find(0, "ROOT.DLL", "C:\\").str(), (Found{0, "C:", "C:"}.str()));
}

TEST_F(VerFind, BufferLengthsAsWindowsReportsThem) {
  Touch(prefix_, "C:\\WINDOWS\\INWIN.DLL");
  const UINT curNeed = sizeof "C:\\WINDOWS", destNeed = sizeof "C:\\WINDOWS\\SYSTEM32";
  struct Case {
    UINT curLen, destLen;
    bool tooSmall;
  };
  const Case cases[] = {
      {curNeed, destNeed, false},     {curNeed - 1, destNeed, true}, {curNeed, destNeed - 1, true},
      {0, destNeed, true},            {curNeed, 0, true},            {MAX_PATH, MAX_PATH, false},
  };
  for (const Case& c : cases) {
    char cur[MAX_PATH + 1], dest[MAX_PATH + 1];
    memset(cur, 'x', sizeof cur);
    memset(dest, 'x', sizeof dest);
    UINT curLen = c.curLen, destLen = c.destLen;
    DWORD flags = VerFindFileA(VFFF_ISSHAREDFILE, "INWIN.DLL", "C:\\WINDOWS", kAppDir, cur,
                               &curLen, dest, &destLen);
    EXPECT_EQ((flags & VFF_BUFFTOOSMALL) != 0, c.tooSmall) << c.curLen << "/" << c.destLen;
    EXPECT_TRUE(flags & VFF_CURNEDEST);
    EXPECT_EQ(curLen, curNeed);
    EXPECT_EQ(destLen, destNeed);
    // Never written past the length given; always terminated when any room.
    EXPECT_EQ(cur[c.curLen], 'x');
    EXPECT_EQ(dest[c.destLen], 'x');
    if (c.curLen > 0) {
      EXPECT_EQ(strnlen(cur, c.curLen), std::min(c.curLen - 1, curNeed - 1));
    }
  }
}

TEST_F(VerFind, CopyInUseByAnotherProcess) {
  Touch(prefix_, "C:\\WINDOWS\\SYSTEM32\\BUSY.DLL");
  Touch(prefix_, "C:\\WINDOWS\\OLD.DLL");
  struct Case {
    const char* path;
    const char* name;
    DWORD share;
    DWORD flags;
  };
  const Case cases[] = {
      {"C:\\WINDOWS\\SYSTEM32\\BUSY.DLL", "BUSY.DLL", 0, VFF_FILEINUSE},
      {"C:\\WINDOWS\\SYSTEM32\\BUSY.DLL", "BUSY.DLL",
       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, VFF_FILEINUSE},
      {"C:\\WINDOWS\\OLD.DLL", "OLD.DLL", 0, VFF_FILEINUSE | VFF_CURNEDEST},
  };
  for (const Case& c : cases) {
    {
      // Another process holds the copy open while we look.
      sfx::test::HeldChild holder([&c] {
        return CreateFileA(c.path, GENERIC_READ, c.share, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr) != INVALID_HANDLE_VALUE;
      });
      ASSERT_TRUE(holder.ok()) << c.path;
      EXPECT_EQ(Find(VFFF_ISSHAREDFILE, c.name).flags, c.flags) << c.path << " share " << c.share;
    }
    // Released: no longer in use.
    EXPECT_EQ(Find(VFFF_ISSHAREDFILE, c.name).flags, c.flags & ~(DWORD)VFF_FILEINUSE) << c.path;
  }
}

// The 95 family's system directory is SYSTEM: a copy in SYSTEM32 is not
// where it looks.
TEST_F(VerFind, Windows95Family) {
  const char* saved = getenv("SFX_WINVER");
  std::string savedValue = saved ? saved : "";
  setenv("SFX_WINVER", "95", 1);
  Touch(prefix_, "C:\\WINDOWS\\SYSTEM\\OLD95.DLL");
  Touch(prefix_, "C:\\WINDOWS\\SYSTEM32\\NT.DLL");
  EXPECT_EQ(Find(VFFF_ISSHAREDFILE, "OLD95.DLL").str(), (Found{0, "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS\\SYSTEM"}.str()));
  EXPECT_EQ(Find(VFFF_ISSHAREDFILE, "NT.DLL").str(), (Found{0, "", "C:\\WINDOWS\\SYSTEM"}.str()));
  if (saved)
    setenv("SFX_WINVER", savedValue.c_str(), 1);
  else
    unsetenv("SFX_WINVER");
  // Back on NT the same copy lies outside the system directory.
  EXPECT_EQ(Find(VFFF_ISSHAREDFILE, "NT.DLL").flags, 0u);
  EXPECT_EQ(Find(VFFF_ISSHAREDFILE, "OLD95.DLL").cur, "");
}

TEST_F(VerFind, NoFileNameFindsNothing) {
  EXPECT_EQ(Find(VFFF_ISSHAREDFILE, "").str(), (Found{0, "", "C:\\WINDOWS\\SYSTEM32"}.str()));
}

}  // namespace
