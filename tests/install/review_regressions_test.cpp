// Regressions found by reviewing the engine against its algorithms.
#include <gtest/gtest.h>

#include <string>

#include "install/install_test_util.h"
#include "install/shared_files.h"
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

}  // namespace
