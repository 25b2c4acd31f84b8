// Several setup runs started at once on one machine, sharing DLLs: every
// run completes, nothing is corrupted, and no SharedDLLs increment or
// delayed move is lost between one run's read and its write.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>

#include "e2e/e2e_support.h"

namespace fs = std::filesystem;

namespace sfx::e2e {
namespace {

const int kRuns = 5;

// Run i installs SHAREDA.DLL and SHAREDB.DLL reps times each (an index
// listed twice is installed twice), then its own plain file.
CatalogueBuilder RunCatalogue(int run, int reps) {
  CatalogueBuilder b;
  b.File(SharedDll("SHAREDA.DLL", 0x00010002, 0x00030004, TestDll("ver64.dll")))
      .File(SharedDll("SHAREDB.DLL", 0x00050006, 0x00070008, TestDll("ver64.dll")))
      .File({"run" + std::to_string(run) + ".txt", "run " + std::to_string(run)});
  std::vector<uint32_t> list;
  for (int i = 0; i < reps; ++i) list.insert(list.end(), {0, 1});
  list.push_back(2);
  b.Components({list});
  return b;
}

// SHAREDA.DLL lies, with the catalogue's version, in the Windows directory:
// each installation counts that copy once and unpacks a new one into the
// system directory (which may fail while another run writes it; the count
// stays raised). SHAREDB.DLL lies in the system directory and is held open
// by this test: each installation counts it once and schedules its
// replacement, whose delayed move is logged with "file:" lines.
TEST(ConcurrentRuns, SharedCountsAndDelayedMovesLoseNothing) {
  ScopedPrefix prefix;
  const std::string winA = "C:\\WINDOWS\\SHAREDA.DLL";
  const std::string sysA = "C:\\WINDOWS\\SYSTEM32\\SHAREDA.DLL";
  const std::string sysB = "C:\\WINDOWS\\SYSTEM32\\SHAREDB.DLL";
  const std::string tmpB = "C:\\WINDOWS\\SYSTEM32\\SHAREDB.tmp";
  WriteWin(winA, TestDll("ver32.dll"));
  WriteWin(sysB, TestDll("ver32.dll"));
  SetSharedDllCount(winA, 3);
  HANDLE hold = CreateFileA(sysB.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(hold, INVALID_HANDLE_VALUE);

  std::vector<std::unique_ptr<TempDir>> dirs;
  std::vector<std::string> exes;
  int increments = 0;
  for (int run = 0; run < kRuns; ++run) {
    int reps = run + 1;
    increments += reps;
    dirs.push_back(std::make_unique<TempDir>());
    fs::create_directory(*dirs.back() / "win32");
    sfx::test::WriteFile(*dirs.back() / "win32/SHAREDB.DLL", TestDll("ver64.dll"));
    exes.push_back(WriteSetup(RunCatalogue(run, reps), dirs.back()->path()));
  }
  std::vector<std::unique_ptr<StubProcess>> runs;
  for (const std::string& exe : exes) runs.push_back(std::make_unique<StubProcess>(exe, prefix.root()));
  for (auto& run : runs) {
    StubResult r = run->Wait();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.stderrText, "");
  }
  CloseHandle(hold);

  // Every run made its own install directory and finished its log; the
  // delayed moves it logged are those on record.
  std::vector<std::string> installDirs = InstallDirs();
  ASSERT_EQ(installDirs.size(), (size_t)kRuns);
  std::set<std::string> sources;
  int loggedMoves = 0;
  for (const std::string& dir : installDirs) {
    SCOPED_TRACE(dir);
    std::vector<std::string> lines = Lines(ReadWin(dir + "_Del.log"));
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "project:Test project");
    sources.insert(lines[1]);
    int run = -1;
    for (int i = 0; i < kRuns; ++i)
      if (lines[1] == "source:" + sfx::test::WindowsDir(dirs[i]->path())) run = i;
    ASSERT_NE(run, -1) << lines[1];
    // The shared files' lines, then the run's own file and the closing line.
    size_t n = lines.size();
    std::string own = "run" + std::to_string(run) + ".txt";
    EXPECT_EQ(lines[n - 3], "file:" + dir + own);
    EXPECT_EQ(lines[n - 2], "path:D:\\proj\\" + own + "\t" + dir + own);
    EXPECT_EQ(lines[n - 1], "directory:" + dir);
    for (size_t i = 2; i < n - 3; ++i) {
      if (lines[i] == "file:" + sysB) {
        EXPECT_EQ(lines[i - 1], "file:" + tmpB);
        ++loggedMoves;
      } else {
        EXPECT_TRUE(lines[i] == "file:" + sysA || lines[i] == "file:" + tmpB) << lines[i];
      }
    }
  }
  EXPECT_EQ(sources.size(), (size_t)kRuns);

  EXPECT_EQ(SharedDllCount(winA), 3u + increments);
  EXPECT_EQ(SharedDllCount(sysB), (uint32_t)increments);
  EXPECT_EQ(SharedDllCount(sysA), std::nullopt);
  std::vector<std::string> pending = PendingRenames();
  ASSERT_EQ(pending.size(), 2u * loggedMoves);
  for (size_t i = 0; i < pending.size(); i += 2) {
    EXPECT_EQ(pending[i], "\\??\\" + tmpB);
    EXPECT_EQ(pending[i + 1], "!\\??\\" + sysB);
  }
  EXPECT_GT(loggedMoves, 0);

  // No file was left half written.
  EXPECT_EQ(ReadWin(sysA), TestDll("ver64.dll"));
  EXPECT_EQ(ReadWin(winA), TestDll("ver32.dll"));
  EXPECT_EQ(ReadWin(tmpB), TestDll("ver64.dll"));
  EXPECT_EQ(ReadWin(sysB), TestDll("ver32.dll"));
}

}  // namespace
}  // namespace sfx::e2e
