// The emulated registry: Win32 semantics of the calls, persistence, letter
// case, locking between processes, and damaged databases.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/host/prefix.h"
#include "platform/host/registry_view.h"
#include "platform/platform.h"
#include "support/platform_child.h"
#include "support/process.h"
#include "support/temp_dir.h"

using sfx::test::EndsWithin;
using sfx::test::WaitExit;
using sfx::test::ScopedPrefix;

namespace {

const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

HKEY Create(HKEY root, const char* path, REGSAM sam = KEY_ALL_ACCESS) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, sam, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  return key;
}

// Opens an HKLM key, expecting success (nullptr otherwise).
HKEY OpenHklm(const char* path, REGSAM sam) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, sam, &key), ERROR_SUCCESS) << path;
  return key;
}

LONG SetDword(HKEY key, const char* name, DWORD v) {
  return RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE*)&v, sizeof v);
}

LONG SetString(HKEY key, const char* name, const char* s) {
  return RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)s, (DWORD)strlen(s) + 1);
}

DWORD QueryDword(HKEY key, const char* name) {
  DWORD v = 0, size = sizeof v, type = 0;
  EXPECT_EQ(RegQueryValueExA(key, name, nullptr, &type, (BYTE*)&v, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, (DWORD)REG_DWORD);
  return v;
}

// Starts the helper that raises a SharedDLLs count from another process: a
// program rather than a fork, so that it shares no database connection with
// this one (SQLite keeps per-process lock state in memory).
pid_t Increments(const char* name, int rounds = 1) {
  return sfx::test::Spawn({SFX_REGISTRY_CHILD, name, std::to_string(rounds)}, sfx::test::EnvironmentWith({}),
                          "/dev/null", "/dev/null");
}

TEST(Registry, NewPrefixHasTheStandardKeys) {
  ScopedPrefix prefix;
  const char* const keys[][2] = {
      {"HKLM", kSharedDlls},
      {"HKLM", "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts"},
      {"HKLM", "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"},
      {"HKLM", "System\\CurrentControlSet\\Control\\Session Manager"},
      {"HKCU", "Software"},
  };
  for (const auto& k : keys) {
    HKEY root = strcmp(k[0], "HKLM") == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(root, k[1], 0, KEY_READ, &key), ERROR_SUCCESS) << k[1];
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  }
}

TEST(Registry, MissingKeysAreNotFoundAndNeverCreatedByOpening) {
  ScopedPrefix prefix;
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Nobody", 0, KEY_ALL_ACCESS, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Nobody", &key), ERROR_FILE_NOT_FOUND);
  sfx::host::RegistryKeyContents contents;
  EXPECT_EQ(sfx::host::ListRegistryKey("HKLM\\Software\\Nobody", contents), ERROR_FILE_NOT_FOUND);
  // A key in another root with the same path is a different key.
  HKEY made = Create(HKEY_CURRENT_USER, "Software\\Nobody");
  RegCloseKey(made);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Nobody", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
}

TEST(Registry, CreateReportsDispositionAndOpenKeyWithoutSubkeyOpensTheSameKey) {
  ScopedPrefix prefix;
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Acme\\Tools", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY);
  ASSERT_EQ(SetDword(key, "n", 7), ERROR_SUCCESS);
  HKEY same = nullptr;
  ASSERT_EQ(RegOpenKeyA(key, nullptr, &same), ERROR_SUCCESS);
  EXPECT_EQ(QueryDword(same, "n"), 7u);
  HKEY same2 = nullptr;
  ASSERT_EQ(RegOpenKeyA(key, "", &same2), ERROR_SUCCESS);
  EXPECT_EQ(QueryDword(same2, "n"), 7u);
  EXPECT_EQ(RegCloseKey(same2), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(same), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Acme\\Tools", 0, nullptr, 0, KEY_READ,
                            nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, (DWORD)REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST(Registry, KeyAndValueNamesIgnoreCaseAndKeepTheFirstSpelling) {
  ScopedPrefix prefix;
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\MyCo\\App");
  ASSERT_EQ(SetDword(key, "Count", 1), ERROR_SUCCESS);
  RegCloseKey(key);

  key = OpenHklm("SOFTWARE\\myco\\APP", KEY_ALL_ACCESS);
  EXPECT_EQ(QueryDword(key, "COUNT"), 1u);
  ASSERT_EQ(SetDword(key, "count", 2), ERROR_SUCCESS);
  RegCloseKey(key);
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, "software\\MYCO\\app\\Sub"));

  sfx::host::RegistryKeyContents contents;
  ASSERT_EQ(sfx::host::ListRegistryKey("hklm\\Software\\MyCo\\App", contents), ERROR_SUCCESS);
  ASSERT_EQ(contents.values.size(), 1u);
  EXPECT_EQ(contents.values[0].name, "Count");
  EXPECT_EQ(contents.values[0].data, (std::vector<uint8_t>{2, 0, 0, 0}));
  EXPECT_EQ(contents.subkeys, std::vector<std::string>{"Sub"});
  ASSERT_EQ(sfx::host::ListRegistryKey("HKEY_LOCAL_MACHINE\\Software", contents), ERROR_SUCCESS);
  EXPECT_NE(std::find(contents.subkeys.begin(), contents.subkeys.end(), "MyCo"),
            contents.subkeys.end());
}

TEST(Registry, QueryValueSizeCases) {
  ScopedPrefix prefix;
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Sizes");
  ASSERT_EQ(SetString(key, "s", "hello"), ERROR_SUCCESS);  // 6 bytes with the NUL
  struct Case {
    const char* what;
    const char* name;
    bool withData;
    bool withSize;
    DWORD bufSize;
    LONG result;
    DWORD sizeAfter;
  };
  const Case cases[] = {
      {"size only", "s", false, true, 0, ERROR_SUCCESS, 6},
      {"size only, junk in size", "s", false, true, 1, ERROR_SUCCESS, 6},
      {"too small", "s", true, true, 5, ERROR_MORE_DATA, 6},
      {"zero buffer", "s", true, true, 0, ERROR_MORE_DATA, 6},
      {"exact", "s", true, true, 6, ERROR_SUCCESS, 6},
      {"larger", "s", true, true, 64, ERROR_SUCCESS, 6},
      {"existence only", "s", false, false, 0, ERROR_SUCCESS, 0},
      {"data without size", "s", true, false, 0, ERROR_INVALID_PARAMETER, 0},
      {"missing value", "absent", true, true, 64, ERROR_FILE_NOT_FOUND, 64},
      {"missing value, size only", "absent", false, true, 7, ERROR_FILE_NOT_FOUND, 7},
  };
  for (const Case& c : cases) {
    char buf[64];
    memset(buf, 'x', sizeof buf);
    DWORD size = c.bufSize, type = 99;
    LONG r = RegQueryValueExA(key, c.name, nullptr, &type, c.withData ? (BYTE*)buf : nullptr,
                              c.withSize ? &size : nullptr);
    EXPECT_EQ(r, c.result) << c.what;
    if (c.withSize) {
      EXPECT_EQ(size, c.sizeAfter) << c.what;
    }
    if (r == ERROR_SUCCESS || r == ERROR_MORE_DATA) {
      EXPECT_EQ(type, (DWORD)REG_SZ) << c.what;
    }
    if (r == ERROR_SUCCESS && c.withData) {
      EXPECT_EQ(memcmp(buf, "hello", 6), 0) << c.what;
    }
    if (r != ERROR_SUCCESS) {  // a failed query leaves the caller's buffer alone
      EXPECT_EQ(buf[0], 'x') << c.what;
    }
  }
  DWORD reserved = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "s", &reserved, nullptr, nullptr, &size),
            ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST(Registry, ValueTypesRoundTripWithTheirBytesAndDelete) {
  ScopedPrefix prefix;
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Types");
  const std::string multi("one\0two\0\0", 9);
  const std::string noNul = "no terminator";
  const std::string binary("\0\x01\xff\0", 4);
  struct Case {
    const char* name;
    DWORD type;
    std::string bytes;
  };
  const Case cases[] = {
      {"multi", REG_MULTI_SZ, multi},  {"sz", REG_SZ, std::string("text\0", 5)},
      {"raw", REG_SZ, noNul},          {"expand", REG_EXPAND_SZ, std::string("%WINDIR%\0", 9)},
      {"bin", REG_BINARY, binary},     {"empty", REG_BINARY, ""},
      {"odd", 0x12345, "any type"},    {"", REG_SZ, std::string("default\0", 8)},
  };
  for (const Case& c : cases)
    ASSERT_EQ(RegSetValueExA(key, c.name, 0, c.type, (const BYTE*)c.bytes.data(),
                             (DWORD)c.bytes.size()),
              ERROR_SUCCESS)
        << c.name;
  RegCloseKey(key);
  key = OpenHklm("Software\\Types", KEY_READ);
  for (const Case& c : cases) {
    char buf[64];
    DWORD size = sizeof buf, type = 0;
    ASSERT_EQ(RegQueryValueExA(key, c.name, nullptr, &type, (BYTE*)buf, &size), ERROR_SUCCESS)
        << c.name;
    EXPECT_EQ(type, c.type) << c.name;
    EXPECT_EQ(std::string(buf, size), c.bytes) << c.name;
  }
  // A NULL value name is the default value.
  char buf[16];
  DWORD size = sizeof buf;
  ASSERT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, (BYTE*)buf, &size), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "default");
  RegCloseKey(key);
  // Deleted by a name of another letter case, once; then it is gone.
  key = OpenHklm("Software\\Types", KEY_ALL_ACCESS);
  EXPECT_EQ(RegDeleteValueA(key, "BIN"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "bin"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(key, "bin", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST(Registry, AccessRightsAndHandleChecks) {
  ScopedPrefix prefix;
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, "Software\\Acl"));
  HKEY ro = OpenHklm("Software\\Acl", KEY_READ), sub = nullptr;
  EXPECT_EQ(SetDword(ro, "x", 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(ro, "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCreateKeyExA(ro, "Sub", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr),
            ERROR_ACCESS_DENIED);
  HKEY wo = OpenHklm("Software\\Acl", KEY_SET_VALUE);
  EXPECT_EQ(SetDword(wo, "x", 1), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(wo, "x", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(wo), ERROR_SUCCESS);
  HKEY qo = OpenHklm("Software\\Acl", KEY_QUERY_VALUE);  // the one right a query needs
  EXPECT_EQ(RegQueryValueExA(qo, "x", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(qo), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(ro), ERROR_SUCCESS);
  // Closed, foreign and null handles are refused, not followed.
  EXPECT_EQ(RegCloseKey(ro), ERROR_INVALID_HANDLE);
  int notAKey = 0;
  EXPECT_EQ(RegQueryValueExA((HKEY)&notAKey, "x", nullptr, nullptr, nullptr, &size),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExA(nullptr, "Software", 0, KEY_READ, &sub), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, nullptr),
            ERROR_INVALID_PARAMETER);
  // Predefined roots take values directly, open as themselves, and close
  // as a no-op.
  HKEY root = nullptr;
  EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, nullptr, &root), ERROR_SUCCESS);
  EXPECT_EQ(root, HKEY_CURRENT_USER);
  EXPECT_EQ(SetDword(HKEY_CURRENT_USER, "rootValue", 5), ERROR_SUCCESS);
  EXPECT_EQ(QueryDword(HKEY_CURRENT_USER, "rootValue"), 5u);
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
}

TEST(Registry, HandlesOfOneProcessSeeEachOthersWrites) {
  ScopedPrefix prefix;
  HKEY writer = Create(HKEY_LOCAL_MACHINE, "Software\\Live");
  ASSERT_EQ(SetDword(writer, "v", 42), ERROR_SUCCESS);
  HKEY reader = OpenHklm("Software\\Live", KEY_READ);
  EXPECT_EQ(QueryDword(reader, "v"), 42u);
  // A second writing handle in the same process does not wait for the first.
  HKEY writer2 = OpenHklm("Software\\Live", KEY_WRITE);
  EXPECT_EQ(SetDword(writer2, "w", 1), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(writer), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(writer2), ERROR_SUCCESS);
  EXPECT_EQ(QueryDword(reader, "w"), 1u);
  EXPECT_EQ(RegCloseKey(reader), ERROR_SUCCESS);
}

TEST(Registry, ValuesPersistAcrossProcessesAndStayInTheirPrefix) {
  ScopedPrefix prefix;
  int written = sfx::test::RunInChild([] {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Persist", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
      return 1;
    if (SetString(key, "Where", "C:\\Persist") != ERROR_SUCCESS) return 2;
    return RegCloseKey(key) == ERROR_SUCCESS ? 0 : 3;
  });
  ASSERT_EQ(written, 0);
  sfx::host::RegistryValue value;
  ASSERT_EQ(sfx::host::ReadRegistryValue("HKLM\\Software\\Persist", "where", value),
            ERROR_SUCCESS);
  EXPECT_EQ(value.type, (uint32_t)REG_SZ);
  EXPECT_EQ(std::string(value.data.begin(), value.data.end()), std::string("C:\\Persist\0", 11));
  {
    ScopedPrefix other;
    EXPECT_EQ(sfx::host::ReadRegistryValue("HKLM\\Software\\Persist", "Where", value),
              ERROR_FILE_NOT_FOUND);
  }
}

TEST(Registry, ReadOnlyOpenTakesNoLock) {
  ScopedPrefix prefix;
  HKEY reader = OpenHklm(kSharedDlls, KEY_READ);
  // While the reader stays open another process writes at once.
  pid_t child = Increments("C:\\A.DLL");
  EXPECT_TRUE(EndsWithin(child, 20000)) << "the writer waited for a reader";
  EXPECT_EQ(WaitExit(child, 1000), 0);
  EXPECT_EQ(QueryDword(reader, "C:\\A.DLL"), 1u);
  EXPECT_EQ(RegCloseKey(reader), ERROR_SUCCESS);
}

TEST(Registry, WritingHandleHoldsTheLockUntilClosed) {
  ScopedPrefix prefix;
  HKEY writer = OpenHklm(kSharedDlls, KEY_ALL_ACCESS);
  ASSERT_EQ(SetDword(writer, "C:\\B.DLL", 10), ERROR_SUCCESS);
  pid_t child = Increments("C:\\B.DLL");
  EXPECT_FALSE(EndsWithin(child, 500)) << "the second writer did not wait";
  EXPECT_EQ(RegCloseKey(writer), ERROR_SUCCESS);
  EXPECT_EQ(WaitExit(child, 60000), 0);
  // The child read the committed 10, not the state before it.
  HKEY key = OpenHklm(kSharedDlls, KEY_READ);
  EXPECT_EQ(QueryDword(key, "C:\\B.DLL"), 11u);
  RegCloseKey(key);
}

TEST(Registry, ConcurrentIncrementsLoseNothing) {
  ScopedPrefix prefix;
  constexpr int kRounds = 1000;
  pid_t a = Increments("C:\\WINDOWS\\SYSTEM32\\SHARED.DLL", kRounds);
  pid_t b = Increments("C:\\WINDOWS\\SYSTEM32\\SHARED.DLL", kRounds);
  EXPECT_EQ(WaitExit(a, 120000), 0);
  EXPECT_EQ(WaitExit(b, 120000), 0);
  HKEY key = OpenHklm(kSharedDlls, KEY_READ);
  EXPECT_EQ(QueryDword(key, "c:\\windows\\system32\\shared.dll"), 2u * kRounds);
  RegCloseKey(key);
}

// Every call on a damaged database reports an error; none crashes.
void ExpectErrorsEverywhere(const std::string& what) {
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_READ, &key), ERROR_SUCCESS)
      << what;
  EXPECT_NE(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software", &key), ERROR_SUCCESS) << what;
  EXPECT_NE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\X", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS)
      << what;
  EXPECT_NE(SetDword(HKEY_LOCAL_MACHINE, "v", 1), ERROR_SUCCESS) << what;
  DWORD size = 0;
  EXPECT_NE(RegQueryValueExA(HKEY_LOCAL_MACHINE, "v", nullptr, nullptr, nullptr, &size),
            ERROR_SUCCESS)
      << what;
  sfx::host::RegistryKeyContents contents;
  EXPECT_NE(sfx::host::ListRegistryKey("HKLM", contents), ERROR_SUCCESS) << what;
}

TEST(Registry, DamagedDatabasesGiveErrorsNotCrashes) {
  ScopedPrefix prefix;
  const std::string db = prefix.root() + "/registry.db";
  const std::string good = sfx::test::ReadFile(db);
  ASSERT_GT(good.size(), 1024u);

  sfx::test::WriteFile(db, std::string(8192, '\x5a'));
  ExpectErrorsEverywhere("garbage");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key), ERROR_BADDB);

  sfx::test::WriteFile(db, good.substr(0, 100));
  ExpectErrorsEverywhere("truncated header");

  // A database of some other program: no registry tables.
  remove(db.c_str());
  sqlite3* foreign = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &foreign), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(foreign, "CREATE TABLE t(x)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(foreign);
  ExpectErrorsEverywhere("foreign database");
  remove(db.c_str());
  ASSERT_EQ(mkdir(db.c_str(), 0777), 0);
  ExpectErrorsEverywhere("directory");
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key), ERROR_CANTOPEN);
  rmdir(db.c_str());

  // An empty file is a registry never made: it is made now.
  sfx::test::WriteFile(db, "");
  EXPECT_EQ(RegCloseKey(OpenHklm(kSharedDlls, KEY_READ)), ERROR_SUCCESS);
}

// Bytes changed anywhere in the database: each call either works or fails
// with an error code.
TEST(Registry, MutatedDatabasesNeverCrash) {
  ScopedPrefix prefix;
  const std::string db = prefix.root() + "/registry.db";
  {
    HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Fill");
    for (int i = 0; i < 50; ++i) SetDword(key, ("value" + std::to_string(i)).c_str(), i);
    RegCloseKey(key);
  }
  const std::string good = sfx::test::ReadFile(db);
  uint32_t seed = 12345;
  for (int round = 0; round < 300; ++round) {
    std::string bad = good;
    for (int k = 0; k < 4; ++k) {
      seed = seed * 1103515245 + 12345;
      bad[(seed >> 8) % bad.size()] = (char)(seed >> 24);
    }
    sfx::test::WriteFile(db, bad);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Fill", 0, KEY_ALL_ACCESS, &key) ==
        ERROR_SUCCESS) {
      DWORD v = 0, size = sizeof v;
      RegQueryValueExA(key, "value7", nullptr, nullptr, (BYTE*)&v, &size);
      SetDword(key, "value7", v + 1);
      RegCloseKey(key);
    }
    sfx::host::RegistryKeyContents contents;
    sfx::host::ListRegistryKey("HKLM\\Software\\Fill", contents);
  }
}

}  // namespace
