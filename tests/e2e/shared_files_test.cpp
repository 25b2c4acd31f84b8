// Shared files through whole runs, on both Windows families: every outcome
// of the version comparison and the version-install service's flags, the
// SharedDLLs counts in the registry, and the replacement of a copy in use at
// the next restart (the delayed move on NT, WININIT.INI on the 95 family).
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/e2e_support.h"
#include "platform/host/prefix.h"

namespace fs = std::filesystem;

namespace sfx::e2e {
namespace {

// File versions of the sample DLLs.
const uint32_t kV1234MS = 0x00010002, kV1234LS = 0x00030004;  // ver32.dll
const uint32_t kV5678MS = 0x00050006, kV5678LS = 0x00070008;  // ver64.dll

enum class Where { None, SystemDir, WindowsDir };

struct Row {
  const char* what;
  Where where;                 // the copy installed before the run
  const char* installedDll;    // its bytes
  std::optional<uint32_t> initialCount;  // of the installed copy (or of the destination)
  uint32_t catalogueMS, catalogueLS;
  const char* payloadDll;      // what the payload unpacks
  bool inUse;                  // the test holds the installed copy open, unshared
  // Expected after the run.
  const char* systemDirDll;    // bytes at the system directory's copy (null: none)
  std::optional<uint32_t> systemCount;
  std::optional<uint32_t> windowsCount;
  bool logsSystemCopy;         // a "file:" line for the system directory's copy
};

const Row kRows[] = {
    {"no installed copy: unpacked and counted once", Where::None, nullptr, std::nullopt,
     kV1234MS, kV1234LS, "ver32.dll", false, "ver32.dll", 1u, std::nullopt, true},
    {"copy without version information: unpacked, 3 becomes 4", Where::SystemDir,
     "noversion32.dll", 3u, kV1234MS, kV1234LS, "ver32.dll", false, "ver32.dll", 4u,
     std::nullopt, true},
    {"installed copy newer: nothing at all", Where::SystemDir, "ver64.dll", 3u, kV1234MS,
     kV1234LS, "ver32.dll", false, "ver64.dll", 3u, std::nullopt, false},
    {"equal version outside the system directory: unpacked there, old copy counted",
     Where::WindowsDir, "ver32.dll", 3u, kV1234MS, kV1234LS, "ver64.dll", false, "ver64.dll",
     std::nullopt, 4u, true},
    {"equal version in place: counted twice from nothing", Where::SystemDir, "ver32.dll",
     std::nullopt, kV1234MS, kV1234LS, "ver64.dll", false, "ver64.dll", 2u, std::nullopt, true},
    {"catalogue newer in place: 3 becomes 5", Where::SystemDir, "ver32.dll", 3u, kV5678MS,
     kV5678LS, "ver64.dll", false, "ver64.dll", 5u, std::nullopt, true},
    {"catalogue newer, copy in use elsewhere: unpacked into the system directory",
     Where::WindowsDir, "ver32.dll", std::nullopt, kV5678MS, kV5678LS, "ver64.dll", true,
     "ver64.dll", std::nullopt, 1u, true},
};

std::string InstalledPath(Where where, Family family) {
  if (where == Where::WindowsDir) return "C:\\WINDOWS\\SHARED.DLL";
  return SystemDir(family) + "\\SHARED.DLL";
}

// A catalogue with the one shared file, from the "win32\" platform folder.
CatalogueBuilder SharedCatalogue(uint32_t ms, uint32_t ls, const std::string& bytes) {
  CatalogueBuilder b;
  b.File(SharedDll("SHARED.DLL", ms, ls, bytes));
  return b;
}

// Holds a file open with no sharing, as a running program holds its DLL.
class Holder {
 public:
  explicit Holder(const std::string& path)
      : h_(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~Holder() { Release(); }
  bool held() const { return h_ != INVALID_HANDLE_VALUE; }
  void Release() {
    if (held()) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_;
};

std::string ShortPath(const std::string& path) {
  char buf[MAX_PATH] = {};
  DWORD n = GetShortPathNameA(path.c_str(), buf, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(buf) : path;
}

const Family kFamilies[] = {Family::NT, Family::Win95};
const char* Name(Family f) { return f == Family::NT ? "NT family" : "95 family"; }

TEST(SharedFiles, EveryOutcomeOfTheTableOnBothFamilies) {
  for (Family family : kFamilies) {
    for (const Row& row : kRows) {
      SCOPED_TRACE(std::string(Name(family)) + ": " + row.what);
      ScopedPrefix prefix;
      TempDir setupDir;
      const std::string sys = SystemDir(family) + "\\SHARED.DLL";
      const std::string win = "C:\\WINDOWS\\SHARED.DLL";
      const std::string installed = InstalledPath(row.where, family);
      if (row.where != Where::None) WriteWin(installed, TestDll(row.installedDll));
      if (row.initialCount) SetSharedDllCount(installed, *row.initialCount);

      std::string exe = WriteSetup(
          SharedCatalogue(row.catalogueMS, row.catalogueLS, TestDll(row.payloadDll)),
          setupDir.path());
      Holder holder(row.inUse ? installed : std::string());
      ASSERT_EQ(holder.held(), row.inUse);
      StubResult r = RunStub(exe, prefix.root(), family);
      holder.Release();
      EXPECT_EQ(r.exitCode, 0);
      EXPECT_EQ(r.stderrText, "");

      if (row.systemDirDll != nullptr)
        EXPECT_EQ(ReadWin(sys), TestDll(row.systemDirDll));
      else
        EXPECT_FALSE(ExistsWin(sys));
      if (row.where == Where::WindowsDir) {
        EXPECT_EQ(ReadWin(win), TestDll(row.installedDll)) << "the old copy stays where it is";
      }
      EXPECT_EQ(SharedDllCount(sys), row.systemCount);
      EXPECT_EQ(SharedDllCount(win), row.windowsCount);

      std::vector<std::string> dirs = InstallDirs();
      ASSERT_EQ(dirs.size(), 1u);
      std::vector<std::string> lines = {"project:Test project",
                                        "source:" + sfx::test::WindowsDir(setupDir.path())};
      if (row.logsSystemCopy) lines.push_back("file:" + sys);
      lines.push_back("directory:" + dirs[0]);
      EXPECT_EQ(ReadWin(dirs[0] + "_Del.log"), CrLf(lines));
      EXPECT_TRUE(PendingRenames().empty());
      EXPECT_FALSE(ExistsWin("C:\\WINDOWS\\WININIT.INI"));
    }
  }
}

// With no installed copy the service reports no current directory; a newer
// file of the same name in the root of the drive is not taken for one.
TEST(SharedFiles, FileInTheDriveRootIsNotAnInstalledCopy) {
  ScopedPrefix prefix;
  TempDir setupDir;
  WriteWin("C:\\SHARED.DLL", TestDll("ver64.dll"));
  std::string exe =
      WriteSetup(SharedCatalogue(kV1234MS, kV1234LS, TestDll("ver32.dll")), setupDir.path());
  StubResult r = RunStub(exe, prefix.root());
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadWin("C:\\WINDOWS\\SYSTEM32\\SHARED.DLL"), TestDll("ver32.dll"));
  EXPECT_EQ(SharedDllCount("C:\\WINDOWS\\SYSTEM32\\SHARED.DLL"), 1u);
  EXPECT_EQ(SharedDllCount("\\SHARED.DLL"), std::nullopt);
  EXPECT_EQ(ReadWin("C:\\SHARED.DLL"), TestDll("ver64.dll"));
}

// The installed copy in the system directory is in use (held by this test,
// another process to the stub): the new file from the setup's "win32\"
// folder is copied beside it as SHARED.tmp and renamed over it at the next
// restart. The NT family records a delayed move; the 95 family adds a
// "[rename]" line to WININIT.INI, whose other sections stay byte for byte.
TEST(SharedFiles, CopyInUseIsReplacedAtTheNextRestart) {
  const std::string kOldIni =
      "[boot]\r\nshell=Explorer.exe\r\n\r\n[386Enh]\r\nwoafont=dosapp.fon\r\n";
  for (Family family : kFamilies) {
    SCOPED_TRACE(Name(family));
    ScopedPrefix prefix;
    TempDir setupDir;
    const std::string sys = SystemDir(family) + "\\SHARED.DLL";
    const std::string tmp = SystemDir(family) + "\\SHARED.tmp";
    WriteWin(sys, TestDll("ver32.dll"));
    WriteWin("C:\\WINDOWS\\WININIT.INI", kOldIni);
    fs::create_directory(setupDir / "win32");
    sfx::test::WriteFile(setupDir / "win32/SHARED.DLL", TestDll("ver64.dll"));
    // The payload's own copy is not what replaces the file in use.
    std::string exe = WriteSetup(SharedCatalogue(kV5678MS, kV5678LS, "payload copy"),
                                 setupDir.path());

    Holder holder(sys);
    ASSERT_TRUE(holder.held());
    StubResult r = RunStub(exe, prefix.root(), family);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.stderrText, "");
    EXPECT_EQ(ReadWin(sys), TestDll("ver32.dll")) << "the copy in use is not touched";
    EXPECT_EQ(ReadWin(tmp), TestDll("ver64.dll"));
    EXPECT_EQ(SharedDllCount(sys), 1u);

    std::vector<std::string> dirs = InstallDirs();
    ASSERT_EQ(dirs.size(), 1u);
    EXPECT_EQ(ReadWin(dirs[0] + "_Del.log"),
              CrLf({"project:Test project", "source:" + sfx::test::WindowsDir(setupDir.path()),
                    "file:" + tmp, "file:" + sys, "directory:" + dirs[0]}));

    if (family == Family::NT) {
      EXPECT_EQ(PendingRenames(),
                (std::vector<std::string>{"\\??\\" + tmp, "!\\??\\" + sys}));
      EXPECT_EQ(ReadWin("C:\\WINDOWS\\WININIT.INI"), kOldIni);
    } else {
      EXPECT_TRUE(PendingRenames().empty());
      EXPECT_EQ(ReadWin("C:\\WINDOWS\\WININIT.INI"),
                kOldIni + "[rename]\r\n" + ShortPath(sys) + "=" + ShortPath(tmp) + "\r\n");
    }

    holder.Release();
    EXPECT_EQ(sfx::host::PerformPendingRenames(), 1);
    EXPECT_EQ(ReadWin(sys), TestDll("ver64.dll"));
    EXPECT_FALSE(ExistsWin(tmp));
    EXPECT_TRUE(PendingRenames().empty());
  }
}

}  // namespace
}  // namespace sfx::e2e
