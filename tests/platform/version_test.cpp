// GetFileVersionInfoSizeA, GetFileVersionInfoA and VerQueryValueA on files
// of the prefix, named by Windows paths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/platform_child.h"
#include "support/temp_dir.h"
#include "ver_pe_builder.h"

using sfx::test::ScopedPrefix;

namespace {

void Install(const ScopedPrefix& prefix, const char* dll, const char* windowsPath) {
  sfx::test::WriteFile(prefix.Host(windowsPath), sfx::test::TestDll(dll));
}

// What the installer does: size, block, "\" query, the file version.
bool FileVersion(const char* path, DWORD& ms, DWORD& ls) {
  DWORD handle = 1;
  DWORD size = GetFileVersionInfoSizeA(path, &handle);
  if (size == 0) return false;
  EXPECT_EQ(handle, 0u);
  std::vector<uint8_t> block(size);
  if (!GetFileVersionInfoA(path, 0, size, block.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT len = 0;
  if (!VerQueryValueA(block.data(), "\\", (LPVOID*)&info, &len)) return false;
  EXPECT_EQ(len, sizeof(VS_FIXEDFILEINFO));
  // The pointer lies inside the caller's block.
  EXPECT_GE((uint8_t*)info, block.data());
  EXPECT_LE((uint8_t*)(info + 1), block.data() + block.size());
  ms = info->dwFileVersionMS;
  ls = info->dwFileVersionLS;
  return true;
}

TEST(Version, FilesInThePrefix) {
  ScopedPrefix prefix;
  Install(prefix, "ver32.dll", "C:\\WINDOWS\\SYSTEM32\\Shared32.dll");
  Install(prefix, "ver64.dll", "C:\\WINDOWS\\Shared64.dll");
  Install(prefix, "noversion32.dll", "C:\\WINDOWS\\Plain.dll");
  sfx::test::WriteFile(prefix.Host("C:\\WINDOWS\\Empty.dll"), "");
  sfx::test::WriteFile(prefix.Host("C:\\WINDOWS\\Text.txt"), "just text");
  struct Case {
    const char* path;
    bool has;
    DWORD ms, ls, lastError;
  };
  const Case cases[] = {
      {"C:\\WINDOWS\\SYSTEM32\\SHARED32.DLL", true, 0x00010002, 0x00030004, 0},
      {"c:\\windows\\system32\\shared32.dll", true, 0x00010002, 0x00030004, 0},
      {"C:\\WINDOWS\\Shared64.dll", true, 0x00050006, 0x00070008, 0},
      {"C:\\WINDOWS\\Plain.dll", false, 0, 0, ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"C:\\WINDOWS\\Empty.dll", false, 0, 0, ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"C:\\WINDOWS\\Text.txt", false, 0, 0, ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"C:\\WINDOWS\\Missing.dll", false, 0, 0, ERROR_FILE_NOT_FOUND},
      {"C:\\WINDOWS\\SYSTEM32", false, 0, 0, ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"", false, 0, 0, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    DWORD ms = 0, ls = 0;
    SetLastError(0);
    EXPECT_EQ(FileVersion(c.path, ms, ls), c.has) << c.path;
    if (c.has) {
      EXPECT_EQ(ms, c.ms) << c.path;
      EXPECT_EQ(ls, c.ls) << c.path;
    } else {
      EXPECT_EQ(GetLastError(), c.lastError) << c.path;
      char buf[200];
      EXPECT_FALSE(GetFileVersionInfoA(c.path, 0, sizeof buf, buf)) << c.path;
    }
  }
  EXPECT_EQ(GetFileVersionInfoSizeA(nullptr, nullptr), 0u);
}

TEST(Version, ShortBufferIsCutAndQueriesStayInsideIt) {
  ScopedPrefix prefix;
  Install(prefix, "ver32.dll", "C:\\WINDOWS\\V.DLL");
  DWORD size = GetFileVersionInfoSizeA("C:\\WINDOWS\\V.DLL", nullptr);
  ASSERT_GT(size, 92u);
  for (DWORD len : {0u, 1u, 2u, 91u, 92u, size - 1}) {
    // Exactly len bytes, so the sanitizers catch a read beyond them.
    std::vector<uint8_t> block(len + 1);
    ASSERT_TRUE(GetFileVersionInfoA("C:\\WINDOWS\\V.DLL", 0, len, block.data())) << len;
    block.resize(len);
    if (len < 2) continue;
    LPVOID info = nullptr;
    UINT infoLen = 0;
    EXPECT_EQ(VerQueryValueA(block.data(), "\\", &info, &infoLen) != FALSE, len >= 92) << len;
  }
  EXPECT_FALSE(GetFileVersionInfoA("C:\\WINDOWS\\V.DLL", 0, size, nullptr));
}

TEST(Version, OnlyTheRootBlockIsAnswered) {
  ScopedPrefix prefix;
  Install(prefix, "ver32.dll", "C:\\WINDOWS\\V.DLL");
  DWORD size = GetFileVersionInfoSizeA("C:\\WINDOWS\\V.DLL", nullptr);
  std::vector<uint8_t> block(size);
  ASSERT_TRUE(GetFileVersionInfoA("C:\\WINDOWS\\V.DLL", 0, size, block.data()));
  LPVOID info = nullptr;
  UINT len = 0;
  EXPECT_TRUE(VerQueryValueA(block.data(), "\\", &info, &len));
  EXPECT_FALSE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &info, &len));
  EXPECT_FALSE(VerQueryValueA(block.data(), "", &info, &len));
  EXPECT_FALSE(VerQueryValueA(block.data(), nullptr, &info, &len));
  EXPECT_FALSE(VerQueryValueA(nullptr, "\\", &info, &len));
  EXPECT_FALSE(VerQueryValueA(block.data(), "\\", nullptr, &len));
}

// A copy held open (unshared) by another process still has its version
// read: that is how the installer learns the version of a DLL in use.
TEST(Version, FileHeldByAnotherProcessIsStillRead) {
  ScopedPrefix prefix;
  Install(prefix, "ver32.dll", "C:\\WINDOWS\\SYSTEM32\\BUSY.DLL");
  sfx::test::HeldChild holder([] {
    return CreateFileA("C:\\WINDOWS\\SYSTEM32\\BUSY.DLL", GENERIC_READ, 0, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr) != INVALID_HANDLE_VALUE;
  });
  ASSERT_TRUE(holder.ok());
  DWORD ms = 0, ls = 0;
  EXPECT_TRUE(FileVersion("C:\\WINDOWS\\SYSTEM32\\BUSY.DLL", ms, ls));
  EXPECT_EQ(ms, 0x00010002u);
}

}  // namespace
