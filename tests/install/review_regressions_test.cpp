// Regressions found by reviewing the engine against its algorithms.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "framework/file.h"
#include "install/install_test_util.h"
#include "install/shared_files.h"
#include "install/wininit.h"
#include "support/temp_dir.h"

namespace {

using sfx::test::Dword;
using sfx::test::QueryHklmValue;
using sfx::test::ScopedPrefix;

const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// Another setup may have stored its count as four binary bytes: the count
// is raised and keeps that form, rather than falling back to 1 and
// forgetting the programs that still use the file.
TEST(IncrementSharedDllCount, BinaryCountOfFourBytesIsRaisedInItsOwnType) {
  ScopedPrefix prefix;
  const char kName[] = "C:\\WINDOWS\\SYSTEM\\BINARY.DLL";
  sfx::test::SetHklmValue(kSharedDlls, kName, REG_BINARY, Dword(9));
  IncrementSharedDllCount(kName);
  sfx::test::RegValue v = QueryHklmValue(kSharedDlls, kName);
  ASSERT_TRUE(v.found);
  EXPECT_EQ(v.type, (DWORD)REG_BINARY);
  EXPECT_EQ(v.data, Dword(10));

  IncrementSharedDllCount(kName);
  v = QueryHklmValue(kSharedDlls, kName);
  EXPECT_EQ(v.type, (DWORD)REG_BINARY);
  EXPECT_EQ(v.data, Dword(11));
}

// Two setups on the 95 family that replace files in use at the same time
// both add to WININIT.INI, each holding it alone while it does. The one
// that comes second waits for the first instead of losing its instruction.
TEST(AddWininitRename, WaitsForAnotherWriterOfTheFile) {
  ScopedPrefix prefix;
  const char kIni[] = "C:\\WINDOWS\\WININIT.INI";
  sfx::test::WriteFile(prefix.Host(kIni), "[rename]\r\nC:\\X.DLL=C:\\X.tmp\r\n");
  CFile other;
  ASSERT_TRUE(other.Open(kIni, CFile::modeReadWrite | CFile::shareExclusive));
  std::thread release([&other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    other.Close();
  });
  try {
    AddWininitRename(kIni, "C:\\A.DLL", "C:\\A.tmp");
  } catch (CException* e) {
    e->Delete();
    ADD_FAILURE() << "the instruction was lost while another writer held the file";
  }
  release.join();
  EXPECT_EQ(sfx::test::ReadFile(prefix.Host(kIni)),
            "[rename]\r\nC:\\X.DLL=C:\\X.tmp\r\nC:\\A.DLL=C:\\A.tmp\r\n");
}

}  // namespace
