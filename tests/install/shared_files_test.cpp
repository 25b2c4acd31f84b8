// Shared-DLL counts and the logged-path list. The engine's file version
// and version-service wrappers are run by the stub in SetupRun's shared-file
// scenarios.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "install/install_test_util.h"
#include "install/logged_paths.h"
#include "install/shared_files.h"
#include "support/code_page_env.h"
#include "support/temp_dir.h"

namespace {

using sfx::test::Dword;
using sfx::test::QueryHklmValue;
using sfx::test::ScopedPrefix;

const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

TEST(IncrementSharedDllCount, RaisesWellFormedCountsAndResetsOthers) {
  ScopedPrefix prefix;
  struct Case {
    const char* what;
    bool preset;
    DWORD type;
    std::string data;
    DWORD expected;
    DWORD expectedType = REG_DWORD;
  } cases[] = {
      {"missing", false, 0, "", 1},
      // Another setup may have stored four binary bytes: raised in that
      // form, rather than restarted at 1, forgetting the programs using it.
      {"four binary bytes", true, REG_BINARY, Dword(9), 10, REG_BINARY},
      {"three", true, REG_DWORD, Dword(3), 4},
      {"zero", true, REG_DWORD, Dword(0), 1},
      {"string", true, REG_SZ, "7", 1},
      {"eight bytes", true, REG_BINARY, std::string(8, '\x05'), 1},
      {"two bytes", true, REG_DWORD, std::string(2, '\x05'), 1},
      {"at the maximum", true, REG_DWORD, Dword(0xFFFFFFFFu), 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    std::string name = std::string("C:\\WINDOWS\\SYSTEM\\") + c.what + ".DLL";
    if (c.preset) sfx::test::SetHklmValue(kSharedDlls, name.c_str(), c.type, c.data);
    IncrementSharedDllCount(name.c_str());
    sfx::test::RegValue v = QueryHklmValue(kSharedDlls, name.c_str());
    ASSERT_TRUE(v.found) << c.what;
    EXPECT_EQ(v.type, c.expectedType) << c.what;
    EXPECT_EQ(v.data, Dword(c.expected)) << c.what;
  }
}

TEST(IncrementSharedDllCount, MissingKeyWritesNothing) {
  ScopedPrefix prefix;
  // Take the key out of the machine's registry by renaming it in place.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((prefix.root() + "/registry.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "UPDATE keys SET name = 'Moved' WHERE name = 'SharedDLLs'", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(sqlite3_changes(db), 1);
  sqlite3_close(db);

  IncrementSharedDllCount("C:\\WINDOWS\\SYSTEM\\A.DLL");
  HKEY hKey = nullptr;
  EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_READ, &hKey), ERROR_SUCCESS);
  EXPECT_FALSE(
      QueryHklmValue("Software\\Microsoft\\Windows\\CurrentVersion\\Moved", "C:\\WINDOWS\\SYSTEM\\A.DLL")
          .found);
}

// ---- The logged-path list ------------------------------------------------------

// Membership ignores letter case, folded by character of the code page:
// two Japanese characters whose second bytes are "A" and "a" are two paths,
// a full-width capital and its small letter one path; the first spelling
// added is the one kept.
TEST(LoggedPaths, MembershipFoldsCaseByCharacterOfTheCodePage) {
  struct Case {
    unsigned codePage;
    const char *added, *other;
    bool same;
  };
  const Case cases[] = {
      {1252, "D:\\proj\\data\\a.dat", "d:\\PROJ\\Data\\A.DAT", true},
      {1252, "D:\\proj\\data\\b.dat", "D:\\proj\\data\\b.da", false},
      {1252, "D:\\proj\\data\\c.dat", "D:\\proj\\data\\c.datx", false},
      {932, "D:\\jp\\\x83\x41.txt", "d:\\JP\\\x83\x61.TXT", false},
      {932, "D:\\jp\\\x82\x60.txt", "d:\\JP\\\x82\x81.TXT", true},
      {1252, "D:\\w\\\x83\x41.txt", "d:\\W\\\x83\x61.TXT", true},
      {1252, "D:\\w\\\x82\x60.txt", "d:\\W\\\x82\x81.TXT", false},
      {950, "D:\\tw\\\xA2\xE5", "D:\\tw\\\xA3\x40", true},
  };
  for (const Case& c : cases) {
    sfx::test::ScopedCodePage cp(c.codePage);
    const int before = LoggedPaths().GetSize();
    EXPECT_FALSE(IsPathLogged(c.added)) << c.added;
    AddLoggedPath(c.added);
    EXPECT_TRUE(IsPathLogged(c.added)) << c.added;
    EXPECT_EQ(IsPathLogged(c.other), c.same) << c.codePage << " " << c.other;
    AddLoggedPath(c.other);
    EXPECT_EQ(LoggedPaths().GetSize(), before + (c.same ? 1 : 2)) << c.codePage << " " << c.other;
    EXPECT_STREQ(LoggedPaths()[before], c.added);
  }
}

}  // namespace
