// Delayed moves: recorded in the registry as Windows records them, and
// performed, together with WININIT.INI's [rename] lines, by the restart.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/host/prefix.h"
#include "platform/platform.h"
#include "support/platform_child.h"
#include "support/temp_dir.h"

using sfx::test::ReadFile;
using sfx::test::ScopedPrefix;
using sfx::test::WriteFile;

namespace {

const char kKey[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char kValue[] = "PendingFileRenameOperations";

// The raw value, or "<absent>".
std::string PendingValue(DWORD* typeOut = nullptr) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<absent>";
  DWORD type = 0, size = 0;
  std::string out = "<absent>";
  if (RegQueryValueExA(key, kValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    out.assign(size, '\0');
    RegQueryValueExA(key, kValue, nullptr, &type, reinterpret_cast<BYTE*>(&out[0]), &size);
    out.resize(size);
  }
  RegCloseKey(key);
  if (typeOut != nullptr) *typeOut = type;
  return out;
}

TEST(DelayedMove, RecordedAsWindowsStoresThem) {
  ScopedPrefix prefix;
  ASSERT_TRUE(MoveFileExA("C:\\WINDOWS\\SYSTEM\\SHARED.tmp", "C:\\WINDOWS\\SYSTEM\\SHARED.DLL",
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT));
  DWORD type = 0;
  std::string first = std::string("\\??\\C:\\WINDOWS\\SYSTEM\\SHARED.tmp") + '\0' +
                      "!\\??\\C:\\WINDOWS\\SYSTEM\\SHARED.DLL" + '\0';
  EXPECT_EQ(PendingValue(&type), first + '\0');
  EXPECT_EQ(type, (DWORD)REG_MULTI_SZ);

  // Appended, not replaced; without replacement no "!"; a null target
  // records a deletion (an empty string).
  ASSERT_TRUE(MoveFileExA("C:\\TEMP\\..\\TEMP\\a", "C:\\TEMP\\b", MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(MoveFileExA("C:\\TEMP\\c", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  std::string expect = first + "\\??\\C:\\TEMP\\a" + '\0' + "\\??\\C:\\TEMP\\b" + '\0' +
                       "\\??\\C:\\TEMP\\c" + '\0' + '\0' + '\0';
  EXPECT_EQ(PendingValue(), expect);
}

TEST(DelayedMove, ConcurrentProcessesLoseNoEntry) {
  ScopedPrefix prefix;
  constexpr int kPerProcess = 20;
  auto record = [](char tag) {
    return [tag] {
      for (int i = 0; i < kPerProcess; ++i) {
        std::string src = std::string("C:\\TEMP\\") + tag + std::to_string(i);
        if (!MoveFileExA(src.c_str(), "C:\\TEMP\\t", MOVEFILE_DELAY_UNTIL_REBOOT)) return 1;
      }
      return 0;
    };
  };
  EXPECT_EQ(sfx::test::RunInChildren({record('x'), record('y')}), (std::vector<int>{0, 0}));
  std::string value = PendingValue();
  size_t sources = 0;
  for (size_t pos = 0; (pos = value.find("\\??\\C:\\TEMP\\", pos)) != std::string::npos; ++pos)
    if (value.compare(pos, 13, "\\??\\C:\\TEMP\\t") != 0) ++sources;
  EXPECT_EQ(sources, 2u * kPerProcess);
}

TEST(Restart, PerformsRegistryAndWininitRenamesThenClearsBoth) {
  ScopedPrefix prefix;
  WriteFile(prefix.Host("C:\\WINDOWS\\SYSTEM\\SHARED.DLL"), "old");
  WriteFile(prefix.Host("C:\\WINDOWS\\SYSTEM\\SHARED.tmp"), "new");
  WriteFile(prefix.Host("C:\\TEMP\\doomed"), "x");
  WriteFile(prefix.Host("C:\\WINDOWS\\SYSTEM\\OTHER.tmp"), "new95");
  WriteFile(prefix.Host("C:\\TEMP\\gone95"), "x");
  ASSERT_TRUE(MoveFileExA("C:\\WINDOWS\\SYSTEM\\SHARED.tmp", "C:\\WINDOWS\\SYSTEM\\SHARED.DLL",
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(MoveFileExA("C:\\TEMP\\doomed", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  // The file is still in use until the restart: nothing moved yet.
  EXPECT_EQ(ReadFile(prefix.Host("C:\\WINDOWS\\SYSTEM\\SHARED.DLL")), "old");
  WriteFile(prefix.Host("C:\\WINDOWS\\WININIT.INI"),
            std::string("[other]\r\nkey=value\r\n[rename]\r\nC:\\WINDOWS\\SYSTEM\\OTHER.DLL=C:\\WINDOWS\\SYSTEM\\OTHER.tmp\r\n"
            "NUL=C:\\TEMP\\gone95\r\n[Rename]\r\nbroken line\r\n=\r\n" +
                // an overlong line whose tail, past the reader's buffer,
                // looks like an instruction
                std::string(4095, 'x') + "NUL=C:\\WINDOWS\\SYSTEM\\SHARED.DLL\r\n"));

  EXPECT_EQ(sfx::host::PerformPendingRenames(), 4);
  EXPECT_EQ(ReadFile(prefix.Host("C:\\WINDOWS\\SYSTEM\\SHARED.DLL")), "new");
  EXPECT_NE(access(prefix.Host("C:\\WINDOWS\\SYSTEM\\SHARED.tmp").c_str(), F_OK), 0);
  EXPECT_NE(access(prefix.Host("C:\\TEMP\\doomed").c_str(), F_OK), 0);
  EXPECT_EQ(ReadFile(prefix.Host("C:\\WINDOWS\\SYSTEM\\OTHER.DLL")), "new95");
  EXPECT_NE(access(prefix.Host("C:\\TEMP\\gone95").c_str(), F_OK), 0);

  EXPECT_EQ(PendingValue(), "<absent>");
  EXPECT_NE(access(prefix.Host("C:\\WINDOWS\\WININIT.INI").c_str(), F_OK), 0);
  EXPECT_EQ(access(prefix.Host("C:\\WINDOWS\\WININIT.BAK").c_str(), F_OK), 0);
  EXPECT_EQ(sfx::host::PerformPendingRenames(), 0);
}

TEST(Restart, DamagedValueNeverTouchesAnEmptyPath) {
  ScopedPrefix prefix;
  WriteFile(prefix.Host("C:\\TEMP\\keep"), "k");
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  // Empty sources, an odd count and no terminator.
  const char damaged[] = "\0\0\0\0\\??\\C:\\TEMP\\keep\0\\??\\C:\\TEMP\\kept\0\\??\\C:\\TEMP\\lone";
  ASSERT_EQ(RegSetValueExA(key, kValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(damaged),
                           sizeof damaged - 1),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(sfx::host::PerformPendingRenames(), 1);
  EXPECT_EQ(ReadFile(prefix.Host("C:\\TEMP\\kept")), "k");
}

}  // namespace
