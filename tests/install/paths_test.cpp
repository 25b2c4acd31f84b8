// ExpandPath and CreateDirectoryChain on a fresh emulated machine.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "install/install_test_util.h"
#include "install/paths.h"
#include "support/temp_dir.h"

namespace {

using sfx::test::LogMark;
using sfx::test::ScopedPrefix;

bool IsHostDir(const std::string& host) {
  struct stat st;
  return stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct ExpandCase {
  const char* source;
  const char* expected;
  int flag;
};

TEST(ExpandPath, VariablesOfTheTable) {
  ScopedPrefix prefix;
  ASSERT_EQ(sfx::test::WindowsDirectory(), "C:\\WINDOWS");
  const CString base("C:\\TEMP\\cc1.tmp\\");
  const ExpandCase cases[] = {
      {"%sysdir%", "C:\\WINDOWS\\", 1},
      {"%prefs%", "C:\\WINDOWS\\", 0},
      {"%sysdir%x", "C:\\WINDOWSx\\", 1},
      {"%sysdir%\\system\\", "C:\\WINDOWS\\system\\", 1},
      {"%inst%", "C:\\TEMP\\cc1.tmp\\", 0},
      {"%inst%\\sub", "C:\\TEMP\\cc1.tmp\\sub\\", 0},
      {"%inst%sub", "C:\\TEMP\\cc1.tmpsub\\", 0},
      {"%root%", "C:\\TEMP\\cc1.tmp\\", 0},
      {"%data%", "C:\\TEMP\\cc1.tmp\\data\\", 0},
      {"%win16%", "C:\\TEMP\\cc1.tmp\\win16\\", 1},
      {"%win32%", "C:\\TEMP\\cc1.tmp\\win32\\", 1},
      {"%macppc%\\x\\", "C:\\TEMP\\cc1.tmp\\macppc\\x\\", 1},
      // No leading variable: unchanged, no backslash added.
      {"D:\\setup\\win32\\", "D:\\setup\\win32\\", 0},
      {"D:\\setup", "D:\\setup", 0},
      {"win32\\", "win32\\", 0},
      {"", "", 0},
      {"%SYSDIR%", "%SYSDIR%", 0},
      {" %sysdir%", " %sysdir%", 0},
      {"x%inst%", "x%inst%", 0},
      {"%sysdir", "%sysdir", 0},
      {"%in", "%in", 0},
      {"%unknown%\\a", "%unknown%\\a", 0},
  };
  for (const ExpandCase& c : cases) {
    CString result("stale text");  // always assigned
    int flag = ExpandPath(c.source, result, base);
    EXPECT_STREQ(result, c.expected) << "source " << c.source;
    EXPECT_EQ(flag, c.flag) << "source " << c.source;
  }
}

TEST(ExpandPath, FontsFolderGetsTrailingBackslash) {
  ScopedPrefix prefix;
  LPITEMIDLIST pidl = nullptr;
  ASSERT_TRUE(SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_FONTS, &pidl)));
  char fonts[MAX_PATH + 1] = {};
  ASSERT_TRUE(SHGetPathFromIDListA(pidl, fonts));
  CoTaskMemFree(pidl);
  ASSERT_NE(fonts[std::string(fonts).size() - 1], '\\');

  CString result;
  EXPECT_EQ(ExpandPath("%font%", result, "C:\\TEMP\\cc1.tmp\\"), 0);
  EXPECT_EQ(std::string(result), std::string(fonts) + "\\");
  EXPECT_EQ(ExpandPath("%font%sub", result, "C:\\TEMP\\cc1.tmp\\"), 0);
  EXPECT_EQ(std::string(result), std::string(fonts) + "sub\\");
}

// ---- CreateDirectoryChain ------------------------------------------------

TEST(CreateDirectoryChain, AllExistWritesNothing) {
  ScopedPrefix prefix;
  LogMark log;
  CreateDirectoryChain("C:\\WINDOWS\\FONTS\\", &RemovalLog());
  EXPECT_EQ(log.Since(), "");
}

TEST(CreateDirectoryChain, OnlyTheMissingDirectoryIsLogged) {
  ScopedPrefix prefix;
  ASSERT_EQ(_mkdir("C:\\a"), 0);
  LogMark log;
  CreateDirectoryChain("C:\\a\\b\\", &RemovalLog());
  EXPECT_EQ(log.Since(), "directory:C:\\a\\b\n");
  EXPECT_TRUE(IsHostDir(prefix.Host("C:\\a\\b")));
}

TEST(CreateDirectoryChain, CreatesOutermostFirst) {
  ScopedPrefix prefix;
  LogMark log;
  CreateDirectoryChain("C:\\x\\y\\z\\", &RemovalLog());
  EXPECT_EQ(log.Since(), "directory:C:\\x\ndirectory:C:\\x\\y\ndirectory:C:\\x\\y\\z\n");
  EXPECT_TRUE(IsHostDir(prefix.Host("C:\\x\\y\\z")));
}

// The message of the file error CreateDirectoryChain throws, "" if none.
std::string ThrownBy(const char* path) {
  try {
    CreateDirectoryChain(path, &RemovalLog());
  } catch (CDirectoryException* e) {
    std::string message = (const char*)e->GetErrorMessage();
    e->Delete();
    return message;
  }
  return "";
}

TEST(CreateDirectoryChain, UncServerAndShareAreNeverCreated) {
  ScopedPrefix prefix;
  // Without the share, the first directory below it cannot be made: the
  // server and share themselves are not attempted.
  {
    LogMark log;
    EXPECT_EQ(ThrownBy("\\\\server\\share\\a\\b\\"), "\\\\server\\share\\a contains an invalid path.");
    EXPECT_EQ(log.Since(), "");
    EXPECT_FALSE(IsHostDir(prefix.Host("\\\\server\\share")));
  }
  ASSERT_TRUE(IsHostDir(prefix.root()) && mkdir((prefix.root() + "/unc").c_str(), 0777) == 0);
  ASSERT_EQ(mkdir((prefix.root() + "/unc/server").c_str(), 0777), 0);
  ASSERT_EQ(mkdir((prefix.root() + "/unc/server/share").c_str(), 0777), 0);
  LogMark log;
  CreateDirectoryChain("\\\\server\\share\\a\\b\\", &RemovalLog());
  EXPECT_EQ(log.Since(), "directory:\\\\server\\share\\a\ndirectory:\\\\server\\share\\a\\b\n");
  EXPECT_TRUE(IsHostDir(prefix.root() + "/unc/server/share/a/b"));
}

TEST(CreateDirectoryChain, PathsWithoutADirectoryToMakeAreLeftAlone) {
  ScopedPrefix prefix;
  const char* refused[] = {
      "\\lead\\x\\",          // single leading backslash
      "nobackslash",          // no backslash at all
      "C:\\",                 // nothing below the root
      "C:\\noslash",          // does not end in a backslash
      "\\\\server\\share\\",  // nothing below the share
      "\\\\server\\",         // no share
      "\\\\\\x\\",            // no server name
      "",
  };
  for (const char* path : refused) {
    LogMark log;
    EXPECT_NO_THROW(CreateDirectoryChain(path, &RemovalLog())) << path;
    EXPECT_EQ(log.Since(), "") << path;
  }
  EXPECT_FALSE(IsHostDir(prefix.Host("C:\\lead")));
  EXPECT_FALSE(IsHostDir(prefix.Host("C:\\noslash")));
}

TEST(CreateDirectoryChain, FileInTheWayIsAFileErrorNamingTheDirectory) {
  ScopedPrefix prefix;
  ASSERT_EQ(_mkdir("C:\\d1"), 0);
  sfx::test::WriteFile(prefix.Host("C:\\d1\\file"), "not a directory");
  LogMark log;
  EXPECT_EQ(ThrownBy("C:\\d1\\file\\sub\\"), "C:\\d1\\file\\sub contains an invalid path.");
  EXPECT_EQ(log.Since(), "");
}

TEST(CreateDirectoryChain, FailureKeepsTheLinesOfEarlierDirectories) {
  ScopedPrefix prefix;
  // A component longer than any file system allows cannot be made.
  std::string path = "C:\\made\\" + std::string(300, 'n') + "\\last\\";
  LogMark log;
  EXPECT_EQ(ThrownBy(path.c_str()), "C:\\made\\" + std::string(300, 'n') + " contains an invalid path.");
  EXPECT_EQ(log.Since(), "directory:C:\\made\n");
  EXPECT_TRUE(IsHostDir(prefix.Host("C:\\made")));
}

}  // namespace
