// System facts: the Windows family, the folders, the module's path, full
// path names, and unique temporary names (also between processes).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/host/prefix.h"
#include "platform/platform.h"
#include "support/platform_child.h"
#include "support/temp_dir.h"

using sfx::test::ScopedPrefix;

namespace {

// Re-executed copies of this binary print their module name into the file
// named by SFX_TEST_MODULE_NAME_OUT and stop before any test runs.
const bool kModuleNameProbe = [] {
  const char* out = getenv("SFX_TEST_MODULE_NAME_OUT");
  if (out == nullptr) return false;
  char name[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, name, MAX_PATH);
  std::ofstream(out) << std::string(name, n) << "\n";
  _exit(0);
}();

std::string Buffered(UINT (*fn)(LPSTR, UINT)) {
  char buf[MAX_PATH];
  UINT n = fn(buf, MAX_PATH);
  return std::string(buf, n);
}

TEST(Family, NtUnlessAskedFor95) {
  ScopedPrefix prefix;
  unsetenv("SFX_WINVER");
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwPlatformId, (DWORD)VER_PLATFORM_WIN32_NT);
  EXPECT_GE(info.dwMajorVersion, 4u);
  EXPECT_EQ(Buffered(GetSystemDirectoryA), "C:\\WINDOWS\\SYSTEM32");

  // The 95 family, in a process of its own as a setup run would see it.
  int rc = sfx::test::RunInChild([] {
    setenv("SFX_WINVER", "95", 1);
    OSVERSIONINFOA v = {};
    v.dwOSVersionInfoSize = sizeof v;
    if (!GetVersionExA(&v)) return 1;
    if (v.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS || v.dwMajorVersion != 4) return 2;
    char dir[MAX_PATH];
    GetSystemDirectoryA(dir, MAX_PATH);
    return strcmp(dir, "C:\\WINDOWS\\SYSTEM") == 0 ? 0 : 3;
  });
  EXPECT_EQ(rc, 0);
}

TEST(Family, WrongRecordSizeFails) {
  for (DWORD size : {0u, 147u, 149u, 0xFFFFFFFFu}) {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = size;
    EXPECT_FALSE(GetVersionExA(&info)) << size;
    EXPECT_EQ(info.dwPlatformId, 0u);
  }
}

TEST(Folders, FixedNamesWithTheBufferConvention) {
  ScopedPrefix prefix;
  EXPECT_EQ(Buffered(GetWindowsDirectoryA), "C:\\WINDOWS");
  char buf[MAX_PATH];
  EXPECT_EQ(GetTempPathA(MAX_PATH, buf), 8u);
  EXPECT_STREQ(buf, "C:\\TEMP\\");
  // Too small: nothing written, the size needed (with the NUL) returned.
  char small[8] = "xxxxxxx";
  EXPECT_EQ(GetTempPathA(sizeof small, small), 9u);
  EXPECT_STREQ(small, "xxxxxxx");
  EXPECT_EQ(GetWindowsDirectoryA(small, 10), 11u);  // lies about nothing: 10 < 11
  EXPECT_EQ(GetWindowsDirectoryA(nullptr, 0), 11u);
  EXPECT_EQ(GetSystemDirectoryA(buf, 0), 20u);
}

TEST(Folders, FontsFolderThroughTheShell) {
  ScopedPrefix prefix;
  LPITEMIDLIST pidl = nullptr;
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_FONTS, &pidl), S_OK);
  ASSERT_NE(pidl, nullptr);
  char path[MAX_PATH];
  ASSERT_TRUE(SHGetPathFromIDListA(pidl, path));
  EXPECT_STREQ(path, "C:\\WINDOWS\\FONTS");
  CoTaskMemFree(pidl);  // a real allocation: the sanitizer checks the pairing
  EXPECT_NE(SHGetSpecialFolderLocation(nullptr, 0x7777, &pidl), S_OK);
  EXPECT_EQ(pidl, nullptr);
  CoTaskMemFree(nullptr);
}

TEST(FullPath, CanonicalFormsAndFilePart) {
  ScopedPrefix prefix;
  struct {
    const char* in;
    const char* out;
    const char* filePart;  // nullptr: none
  } cases[] = {
      {"C:\\a\\b\\..\\c.txt", "C:\\a\\c.txt", "c.txt"},
      {"c:/x//y/./z", "c:\\x\\y\\z", "z"},
      {"C:\\..\\..\\x", "C:\\x", "x"},
      {"C:\\dir\\", "C:\\dir\\", nullptr},
      {"\\WINDOWS", "C:\\WINDOWS", "WINDOWS"},
      {"\\\\srv\\share\\..\\..\\f", "\\\\srv\\share\\f", "f"},
      {"D:", "D:\\", nullptr},
  };
  for (const auto& tc : cases) {
    char buf[MAX_PATH];
    LPSTR part = buf;
    DWORD n = GetFullPathNameA(tc.in, MAX_PATH, buf, &part);
    // Drive letters come back in upper case.
    std::string expect = tc.out;
    if (expect.size() > 1 && expect[1] == ':') expect[0] = (char)toupper(expect[0]);
    EXPECT_EQ(std::string(buf), expect) << tc.in;
    EXPECT_EQ(n, expect.size()) << tc.in;
    if (tc.filePart == nullptr) {
      EXPECT_EQ(part, nullptr) << tc.in;
    } else {
      ASSERT_NE(part, nullptr) << tc.in;
      EXPECT_STREQ(part, tc.filePart);
    }
  }
  char small[4];
  EXPECT_EQ(GetFullPathNameA("C:\\abc", sizeof small, small, nullptr), 7u);
  EXPECT_EQ(GetFullPathNameA("", MAX_PATH, small, nullptr), 0u);
}

TEST(ModuleName, OutsideThePrefixIsOnZ) {
  ScopedPrefix prefix;
  char name[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, name, MAX_PATH);
  ASSERT_GT(n, 3u);
  EXPECT_EQ(std::string(name, 3), "Z:\\");
  EXPECT_EQ(sfx::host::MapToHost(name), std::filesystem::canonical("/proc/self/exe").string());
  EXPECT_EQ(GetModuleFileNameA(GetModuleHandleA(nullptr), name, MAX_PATH), n);
  // Too small: truncated, terminated, the buffer's size returned.
  char small[5];
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 5u);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(small), std::string(name, 4));
}

TEST(ModuleName, InsideThePrefixIsOnC) {
  ScopedPrefix prefix;
  ASSERT_TRUE(CreateDirectoryA("C:\\Setup", nullptr));
  std::string copy = prefix.Host("C:\\Setup\\app.exe");
  std::filesystem::copy_file("/proc/self/exe", copy);
  chmod(copy.c_str(), 0755);
  std::string out = prefix.root() + "/module.txt";
  int rc = sfx::test::RunInChild([&] {
    setenv("SFX_TEST_MODULE_NAME_OUT", out.c_str(), 1);
    execl(copy.c_str(), copy.c_str(), (char*)nullptr);
    return 99;
  });
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(sfx::test::ReadFile(out), "C:\\Setup\\app.exe\n");
}

// ---- temporary names -----------------------------------------------------------------

bool IsTempName(const std::string& name, const std::string& dir, const std::string& prefix) {
  std::string head = dir + prefix;
  if (name.compare(0, head.size(), head) != 0) return false;
  std::string rest = name.substr(head.size());
  if (rest.size() < 5 || rest.size() > 8 || rest.substr(rest.size() - 4) != ".tmp") return false;
  return rest.find_first_not_of("0123456789ABCDEF") == rest.size() - 4;
}

TEST(TempNames, UniqueReservedAndWellFormed) {
  ScopedPrefix prefix;
  std::set<std::string> names;
  for (int i = 0; i < 300; ++i) {
    char name[MAX_PATH];
    UINT n = GetTempFileNameA("C:\\TEMP\\", "ccx", 0, name);
    ASSERT_NE(n, 0u);
    ASSERT_TRUE(IsTempName(name, "C:\\TEMP\\", "ccx")) << name;
    EXPECT_TRUE(names.insert(name).second) << "reused " << name;
    // Reserved: the empty file exists.
    struct stat st;
    ASSERT_EQ(stat(prefix.Host(name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_size, 0);
  }
}

// The prefix is cut to three characters and the folder may lack its "\\"; a
// number given forms the name only, nothing is made; a missing folder or an
// overlong path fails.
TEST(TempNames, FormsOfTheNameAndFailures) {
  ScopedPrefix prefix;
  char name[MAX_PATH] = "";
  ASSERT_NE(GetTempFileNameA("C:\\TEMP", "cclong", 0, name), 0u);
  EXPECT_TRUE(IsTempName(name, "C:\\TEMP\\", "ccl")) << name;
  ASSERT_NE(GetTempFileNameA("C:\\TEMP", "cc", 0, name), 0u);
  EXPECT_TRUE(IsTempName(name, "C:\\TEMP\\", "cc")) << name;
  EXPECT_EQ(GetTempFileNameA("C:\\TEMP\\", "cc", 0x1ABC, name), 0x1ABCu);
  EXPECT_STREQ(name, "C:\\TEMP\\cc1ABC.tmp");
  EXPECT_NE(access(prefix.Host(name).c_str(), F_OK), 0);
  EXPECT_EQ(GetTempFileNameA("C:\\NoSuchDir\\", "cc", 0, name), 0u);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_DIRECTORY);
  std::string longDir = "C:\\" + std::string(250, 'd');
  EXPECT_EQ(GetTempFileNameA(longDir.c_str(), "cc", 0, name), 0u);
}

TEST(TempNames, TwoProcessesNeverGetTheSameName) {
  ScopedPrefix prefix;
  std::string lists[2] = {prefix.root() + "/names0", prefix.root() + "/names1"};
  auto names = [&lists](int p) {
    return [&lists, p] {
      std::ofstream out(lists[p]);
      for (int i = 0; i < 400; ++i) {
        char name[MAX_PATH];
        if (GetTempFileNameA("C:\\TEMP\\", "cc", 0, name) == 0) return 1;
        out << name << "\n";
      }
      return 0;
    };
  };
  EXPECT_EQ(sfx::test::RunInChildren({names(0), names(1)}), (std::vector<int>{0, 0}));
  std::set<std::string> all;
  for (const std::string& list : lists) {
    std::ifstream in(list);
    std::string line;
    while (std::getline(in, line)) EXPECT_TRUE(all.insert(line).second) << "duplicate " << line;
  }
  EXPECT_EQ(all.size(), 800u);
}

}  // namespace
