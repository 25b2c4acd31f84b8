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

// Each missing directory is made, outermost first, and logged; one that
// cannot be made (a file in the way, a name too long) is a file error naming
// it, after the lines of the directories made before it.
TEST(CreateDirectoryChain, MakesAndLogsEachMissingDirectory) {
  const std::string longName = "C:\\made\\" + std::string(300, 'n');
  struct Case {
    const char* what;
    const char* existing;  // a directory made first, or null
    const char* file;      // a file made first, or null
    std::string path;
    std::string log;
    std::string thrown;  // the error's message, "" for none
    const char* made;    // a directory there afterwards, or null
  } cases[] = {
      {"all exist", nullptr, nullptr, "C:\\WINDOWS\\FONTS\\", "", "", nullptr},
      {"one missing", "C:\\a", nullptr, "C:\\a\\b\\", "directory:C:\\a\\b\n", "", "C:\\a\\b"},
      {"three missing", nullptr, nullptr, "C:\\x\\y\\z\\", "directory:C:\\x\ndirectory:C:\\x\\y\ndirectory:C:\\x\\y\\z\n", "",
       "C:\\x\\y\\z"},
      {"a file in the way", "C:\\d1", "C:\\d1\\file", "C:\\d1\\file\\sub\\", "", "C:\\d1\\file\\sub contains an invalid path.",
       nullptr},
      {"a name too long", nullptr, nullptr, longName + "\\last\\", "directory:C:\\made\n", longName + " contains an invalid path.",
       "C:\\made"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedPrefix prefix;
    if (c.existing != nullptr) {
      ASSERT_EQ(_mkdir(c.existing), 0);
    }
    if (c.file != nullptr) sfx::test::WriteFile(prefix.Host(c.file), "not a directory");
    LogMark log;
    EXPECT_EQ(ThrownBy(c.path.c_str()), c.thrown);
    EXPECT_EQ(log.Since(), c.log);
    if (c.made != nullptr) {
      EXPECT_TRUE(IsHostDir(prefix.Host(c.made)));
    }
  }
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

}  // namespace
