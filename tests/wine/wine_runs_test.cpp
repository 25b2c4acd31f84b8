// Whole runs of the stub on Wine: the setup executable is the real x86-64
// stub with a payload appended by the packer's writers, started by wine64 in
// a prefix of its own. The programs it installs and starts are Windows
// programs; the error box and the command lines are read from Wine's relay
// trace of MessageBoxA and WinExec.
#include <gtest/gtest.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "pack/setup_writer.h"
#include "support/damaged_catalogue.h"
#include "support/payload_builder.h"
#include "wine/wine_support.h"

using sfx::test::CatalogueBuilder;
using sfx::test::Plain;
using sfx::test::SharedDll;
using sfx::test::TestFile;

namespace sfx::wine {
namespace {

const char kSetupDir[] = "C:\\setup\\";
const char kSystemDir[] = "C:\\windows\\system32\\";
const char kFontsDir[] = "C:\\windows\\Fonts\\";
const char kFontsKey[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
const unsigned kBoxStyle = 0x30;  // MB_OK | MB_ICONEXCLAMATION

// Writes the setup executable into C:\setup\ of the prefix; returns its
// Windows path.
std::string WriteSetup(Prefix& prefix, const pack::Bytes& payload,
                       const std::string& name = "setup.exe") {
  prefix.Write(std::string(kSetupDir) + name, "");
  sfx::test::WriteSetupExe(StubPath(), payload, prefix.Host(kSetupDir), name);
  return std::string(kSetupDir) + name;
}

// Runs a setup executable with the relay trace on.
RunResult RunSetup(Prefix& prefix, const std::string& exe) { return prefix.Run({exe}, true); }

// The install directories a run made: the new "cc*.tmp" names in the
// temporary folder.
std::vector<std::string> NewEntries(const std::vector<std::string>& before,
                                    const std::vector<std::string>& after) {
  std::vector<std::string> out;
  for (const auto& name : after)
    if (std::find(before.begin(), before.end(), name) == before.end()) out.push_back(name);
  return out;
}

bool IsInstallDirName(const std::string& name) {
  if (name.size() < 7 || name.compare(0, 2, "cc") != 0) return false;
  if (name.compare(name.size() - 4, 4, ".tmp") != 0) return false;
  for (size_t i = 2; i < name.size() - 4; ++i)
    if (!std::isxdigit((unsigned char)name[i])) return false;
  return true;
}

class WineRun : public ::testing::Test {
 protected:
  // The one install directory the run made, as a Windows path with "\".
  std::string OnlyInstallDir(Prefix& prefix, const std::vector<std::string>& tempBefore) {
    std::vector<std::string> added = NewEntries(tempBefore, prefix.List(prefix.TempDir()));
    EXPECT_EQ(added.size(), 1u) << "exactly one new entry in the temporary folder";
    if (added.size() != 1) return std::string();
    EXPECT_TRUE(IsInstallDirName(added[0])) << added[0];
    return prefix.TempDir() + added[0] + "\\";
  }
};

TEST_F(WineRun, NormalRunInstallsLogsAndStartsPrograms) {
  Prefix prefix;
  const std::string recorder = ReadFileIfPresent(ProgramPath("record_start.exe"));
  CatalogueBuilder b;
  b.Project("Demo Suite").MainProgram("App.exe");
  b.File(Plain("App.exe", recorder, "%inst%"));
  TestFile readme = Plain("readme.txt", "read me\n", "%inst%");
  readme.attribute = 0x21;  // read-only and archive: the times must still be set
  readme.ctime = 1000000000;
  readme.mtime = 1100000000;
  b.File(readme);
  b.File(Plain("a.dat", std::string(70000, 'a'), "%data%", "D:\\proj\\data\\"));
  TestFile unstamped = Plain("b.dat", "b", "%inst%\\sub\\deep", "D:\\proj\\deep\\");
  unstamped.mtime = 0;  // keeps the time of its writing; the attribute still applies
  unstamped.attribute = 0x02;
  b.File(unstamped);
  // Same source key as readme.txt but for letter case: no second "path:".
  b.File(Plain("README.TXT", "other", "%inst%\\other", "d:\\PROJ\\"));
  b.Program("first.exe", "%inst%", 0)
      .Program("second.exe", "%inst%", 0)
      .Program("third.exe", "%inst%", 1)
      .Program("fourth.exe", "%inst%", 0);
  for (const char* name : {"first.exe", "second.exe", "third.exe", "fourth.exe"})
    prefix.Write(std::string(kSetupDir) + name, recorder);
  std::string exe = WriteSetup(prefix, b.Write().bytes);
  std::vector<std::string> tempBefore = prefix.List(prefix.TempDir());

  long long before = (long long)time(nullptr);
  RunResult r = RunSetup(prefix, exe);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(MessageBoxes(r.trace).empty());

  std::string dir = OnlyInstallDir(prefix, tempBefore);
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(prefix.Tree(dir),
            (std::vector<std::string>{"App.exe", "_Del.log", "data/", "data/a.dat", "other/",
                                      "other/README.TXT", "readme.txt", "sub/", "sub/deep/",
                                      "sub/deep/b.dat"}));
  EXPECT_TRUE(SameBytes(prefix.Read(dir + "App.exe"), recorder));
  EXPECT_TRUE(SameBytes(prefix.Read(dir + "data\\a.dat"), std::string(70000, 'a')));
  EXPECT_EQ(prefix.Read(dir + "other\\README.TXT"), "other");

  std::string log = prefix.Read(dir + "_Del.log");
  EXPECT_EQ(log, CrLf({"project:Demo Suite",
                       "source:C:\\setup\\",
                       "file:" + dir + "App.exe",
                       "file:" + dir + "readme.txt",
                       "path:D:\\proj\\readme.txt\t" + dir + "readme.txt",
                       "directory:" + dir + "data",
                       "file:" + dir + "data\\a.dat",
                       "path:D:\\proj\\data\\a.dat\t" + dir + "data\\a.dat",
                       "directory:" + dir + "sub",
                       "directory:" + dir + "sub\\deep",
                       "file:" + dir + "sub\\deep\\b.dat",
                       "path:D:\\proj\\deep\\b.dat\t" + dir + "sub\\deep\\b.dat",
                       "directory:" + dir + "other",
                       "file:" + dir + "other\\README.TXT",
                       "directory:" + dir}));

  // The two leading programs of component 0, in order, then the main
  // program with " /UNS"; the third (component 1) stops the walk. Command
  // lines go to the platform unquoted, shown normally.
  std::vector<WinExecCall> calls = WinExecs(r.trace);
  ASSERT_EQ(calls.size(), 3u) << r.trace;
  EXPECT_EQ(calls[0].commandLine, "C:\\setup\\first.exe");
  EXPECT_EQ(calls[1].commandLine, "C:\\setup\\second.exe");
  EXPECT_EQ(calls[2].commandLine, dir + "App.exe /UNS");
  for (const auto& c : calls) EXPECT_EQ(c.show, 1u);  // SW_SHOWNORMAL

  // They really started, in that order, with those command lines; the main
  // program found the complete "_Del.log" beside it.
  std::vector<Start> starts = WaitForStarts(prefix, 3);
  ASSERT_EQ(starts.size(), 3u);
  EXPECT_EQ(starts[0].commandLine, "C:\\setup\\first.exe");
  EXPECT_EQ(starts[1].commandLine, "C:\\setup\\second.exe");
  EXPECT_EQ(starts[2].commandLine, dir + "App.exe /UNS");
  ASSERT_TRUE(starts[2].log.has_value());
  EXPECT_EQ(*starts[2].log, log);

  // Attributes and times as Windows reports them.
  std::optional<Prefix::FileFacts> stamped = prefix.Facts(dir + "readme.txt");
  ASSERT_TRUE(stamped.has_value());
  EXPECT_EQ(stamped->attributes, 0x21u);
  EXPECT_EQ(stamped->written, 1100000000);
  std::optional<Prefix::FileFacts> fresh = prefix.Facts(dir + "sub\\deep\\b.dat");
  ASSERT_TRUE(fresh.has_value());
  EXPECT_EQ(fresh->attributes & 0x07u, 0x02u);  // hidden, not read-only, not system
  EXPECT_GE(fresh->written, before - 2);
  std::optional<Prefix::FileFacts> logFacts = prefix.Facts(dir + "_Del.log");
  ASSERT_TRUE(logFacts.has_value());
  EXPECT_EQ(logFacts->attributes & 0x01u, 0u);
}

// The main program in the Windows directory, and an empty component: the
// log still has its three lines and the main program is still started.
TEST_F(WineRun, EmptyComponentStartsTheMainProgramInTheWindowsDirectory) {
  Prefix prefix;
  prefix.Write("C:\\windows\\run.exe", ReadFileIfPresent(ProgramPath("record_start.exe")));
  CatalogueBuilder b;
  b.Project("Nothing").MainProgram("run.exe");
  b.catalogue().project.mainInWindowsDir = 1;
  std::string exe = WriteSetup(prefix, b.Write().bytes);
  std::vector<std::string> tempBefore = prefix.List(prefix.TempDir());
  RunResult r = RunSetup(prefix, exe);
  EXPECT_EQ(r.exitCode, 0);
  std::string dir = OnlyInstallDir(prefix, tempBefore);
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(prefix.Read(dir + "_Del.log"),
            CrLf({"project:Nothing", "source:C:\\setup\\", "directory:" + dir}));
  std::vector<WinExecCall> calls = WinExecs(r.trace);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].commandLine, "C:\\windows\\run.exe /UNS");
  std::vector<Start> starts = WaitForStarts(prefix, 1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].commandLine, "C:\\windows\\run.exe /UNS");
}

TEST_F(WineRun, NoPayloadShowsTheInvalidFileBoxAndLeavesNothing) {
  Prefix prefix;
  prefix.Write("C:\\setup\\lonely.exe", ReadFileIfPresent(StubPath()));
  std::vector<std::string> tempBefore = prefix.List(prefix.TempDir());
  RunResult r = RunSetup(prefix, "C:\\setup\\lonely.exe");
  EXPECT_EQ(r.exitCode, 0);
  std::vector<MessageBoxCall> boxes = MessageBoxes(r.trace);
  ASSERT_EQ(boxes.size(), 1u) << r.trace;
  EXPECT_EQ(boxes[0].text, "An invalid file handle was associated with .");
  EXPECT_EQ(boxes[0].title, "lonely");
  EXPECT_EQ(boxes[0].type, kBoxStyle);
  EXPECT_EQ(prefix.List(prefix.TempDir()), tempBefore);
  EXPECT_TRUE(WinExecs(r.trace).empty());
}

// The payload as "Data.bin" beside a stub that carries none.
TEST_F(WineRun, DataBinBesideAStubWithoutPayload) {
  Prefix prefix;
  CatalogueBuilder b;
  b.File(Plain("side.txt", "from Data.bin", "%inst%"));
  prefix.Write("C:\\setup\\setup.exe", ReadFileIfPresent(StubPath()));
  sfx::test::WriteDataBin(prefix.Host(kSetupDir), b.Write().bytes);
  std::vector<std::string> tempBefore = prefix.List(prefix.TempDir());
  RunResult r = RunSetup(prefix, "C:\\setup\\setup.exe");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(MessageBoxes(r.trace).empty());
  std::string dir = OnlyInstallDir(prefix, tempBefore);
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(prefix.Read(dir + "side.txt"), "from Data.bin");
}

TEST_F(WineRun, DamagedCatalogueShowsTheArchiveBox) {
  for (const sfx::test::CatalogueDamage& c : sfx::test::CatalogueDamages()) {
    SCOPED_TRACE(c.what);
    Prefix prefix;
    std::string exe = WriteSetup(prefix, sfx::test::DamagedPayload(c).bytes);
    std::vector<std::string> tempBefore = prefix.List(prefix.TempDir());
    RunResult r = RunSetup(prefix, exe);
    EXPECT_EQ(r.exitCode, 0);
    std::vector<MessageBoxCall> boxes = MessageBoxes(r.trace);
    ASSERT_EQ(boxes.size(), 1u) << r.trace;
    EXPECT_EQ(boxes[0].text, sfx::test::WithSetupPath(c.message, "C:\\setup\\setup.exe"));
    EXPECT_EQ(boxes[0].title, "setup");
    EXPECT_EQ(boxes[0].type, kBoxStyle);
    EXPECT_EQ(prefix.List(prefix.TempDir()), tempBefore);
  }
}

// A stream that fails to decode, in a plain item written over a file and in
// a shared item replacing a copy without version information: one box
// naming the setup, the old content kept, no temporary file left, nothing
// after it installed, no program started.
TEST_F(WineRun, DamagedStreamEndsTheRunAndKeepsTheOldFile) {
  struct Case {
    const char* what;
    std::string dir;  // where the file lands
    std::string dest;
  } cases[] = {{"plain", "C:\\data\\", "C:\\data\\"}, {"shared", kSystemDir, "%sysdir%"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Prefix prefix;
    prefix.Write(c.dir + "broken.bin", "old content");
    std::vector<std::string> before = prefix.List(c.dir);
    CatalogueBuilder b;
    b.MainProgram("App.exe").File(
        Plain("App.exe", ReadFileIfPresent(ProgramPath("record_start.exe")), "%inst%"));
    TestFile broken = Plain("broken.bin", "never seen", c.dest);
    broken.stream = pack::Bytes{0x00, 0xFF, 0xFF};  // block type 0: the decoder fails
    b.File(broken).File(Plain("later.txt", "2", "%inst%"));
    std::string exe = WriteSetup(prefix, b.Write().bytes);
    std::vector<std::string> tempBefore = prefix.List(prefix.TempDir());
    RunResult r = RunSetup(prefix, exe);
    EXPECT_EQ(r.exitCode, 0);
    std::vector<MessageBoxCall> boxes = MessageBoxes(r.trace);
    ASSERT_EQ(boxes.size(), 1u) << r.trace;
    EXPECT_EQ(boxes[0].text, "C:\\setup\\setup.exe has a bad format.");
    EXPECT_TRUE(WinExecs(r.trace).empty());
    EXPECT_EQ(prefix.Read(c.dir + "broken.bin"), "old content");
    EXPECT_EQ(prefix.List(c.dir), before);
    std::string dir = OnlyInstallDir(prefix, tempBefore);
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(prefix.Tree(dir), (std::vector<std::string>{"App.exe"}));
  }
}

// A directory an item needs cannot be made (a file stands in its way): the
// run ends with one box naming that directory in the platform's words,
// writes no "_Del.log" and starts nothing; what was installed before stays.
TEST_F(WineRun, DirectoryThatCannotBeMadeEndsTheRunWithABox) {
  Prefix prefix;
  prefix.Write("C:\\blocked", "a file, not a directory");
  CatalogueBuilder b;
  b.MainProgram("App.exe").File(
      Plain("App.exe", ReadFileIfPresent(ProgramPath("record_start.exe")), "%inst%"));
  b.File(Plain("first.txt", "1", "%inst%"))
      .File(Plain("x.txt", "x", "C:\\blocked\\sub\\"))
      .File(Plain("later.txt", "2", "%inst%"));
  std::string exe = WriteSetup(prefix, b.Write().bytes);
  std::vector<std::string> tempBefore = prefix.List(prefix.TempDir());
  RunResult r = RunSetup(prefix, exe);
  EXPECT_EQ(r.exitCode, 0);
  std::vector<MessageBoxCall> boxes = MessageBoxes(r.trace);
  ASSERT_EQ(boxes.size(), 1u) << r.trace;
  EXPECT_EQ(boxes[0].text, "C:\\blocked\\sub contains an invalid path.");
  EXPECT_TRUE(WinExecs(r.trace).empty());
  std::string dir = OnlyInstallDir(prefix, tempBefore);
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(prefix.Tree(dir), (std::vector<std::string>{"App.exe", "first.txt"}));
  EXPECT_EQ(prefix.Read("C:\\blocked"), "a file, not a directory");
}

// A plain file that cannot be written (a directory holds its name) ends the
// run with the file error's box naming the file, again without "_Del.log"
// or programs.
TEST_F(WineRun, PlainFileThatCannotBeWrittenEndsTheRunWithABox) {
  Prefix prefix;
  prefix.Write("C:\\locked.txt\\keep", "old");
  CatalogueBuilder b;
  b.MainProgram("App.exe").File(
      Plain("App.exe", ReadFileIfPresent(ProgramPath("record_start.exe")), "%inst%"));
  b.File(Plain("locked.txt", "new", "C:\\"));
  std::string exe = WriteSetup(prefix, b.Write().bytes);
  std::vector<std::string> tempBefore = prefix.List(prefix.TempDir());
  RunResult r = RunSetup(prefix, exe);
  EXPECT_EQ(r.exitCode, 0);
  std::vector<MessageBoxCall> boxes = MessageBoxes(r.trace);
  ASSERT_EQ(boxes.size(), 1u) << r.trace;
  EXPECT_EQ(boxes[0].text, "Access to C:\\locked.txt was denied.");
  EXPECT_EQ(boxes[0].title, "setup");
  EXPECT_EQ(boxes[0].type, kBoxStyle);
  EXPECT_TRUE(WinExecs(r.trace).empty());
  std::string dir = OnlyInstallDir(prefix, tempBefore);
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(prefix.Tree(dir), (std::vector<std::string>{"App.exe"}));
}

// File versions of the sample DLLs.
const uint32_t kV1234MS = 0x00010002, kV1234LS = 0x00030004;  // ver32.dll
const uint32_t kV5678MS = 0x00050006, kV5678LS = 0x00070008;  // ver64.dll

// Every outcome of the version comparison in one run, one file name per
// outcome, with real DLLs and Wine's own version-install service.
TEST_F(WineRun, SharedFileOutcomes) {
  for (Family family : {Family::NT, Family::Win95}) {
    SCOPED_TRACE(family == Family::NT ? "NT family" : "95 family");
    Prefix prefix(family);
    const std::string sys = kSystemDir;
    // NEW.DLL: no installed copy. NOVER.DLL: a copy without version
    // information, counted 3. NEWER.DLL: the installed copy is newer.
    // EQUAL.DLL: the same version in place, never counted. OLDER.DLL: the
    // catalogue is newer, counted 3.
    prefix.Write(sys + "NOVER.DLL", TestDll("noversion32.dll"));
    prefix.SetSharedDllCount(sys + "NOVER.DLL", 3);
    prefix.Write(sys + "NEWER.DLL", TestDll("ver64.dll"));
    prefix.SetSharedDllCount(sys + "NEWER.DLL", 3);
    prefix.Write(sys + "EQUAL.DLL", TestDll("ver32.dll"));
    prefix.Write(sys + "OLDER.DLL", TestDll("ver32.dll"));
    prefix.SetSharedDllCount(sys + "OLDER.DLL", 3);

    CatalogueBuilder b;
    b.File(SharedDll("NEW.DLL", kV1234MS, kV1234LS, TestDll("ver32.dll")))
        .File(SharedDll("NOVER.DLL", kV1234MS, kV1234LS, TestDll("ver32.dll")))
        .File(SharedDll("NEWER.DLL", kV1234MS, kV1234LS, TestDll("ver32.dll")))
        .File(SharedDll("EQUAL.DLL", kV1234MS, kV1234LS, TestDll("ver64.dll")))
        .File(SharedDll("OLDER.DLL", kV5678MS, kV5678LS, TestDll("ver64.dll")));
    std::string exe = WriteSetup(prefix, b.Write().bytes);
    std::vector<std::string> tempBefore = prefix.List(prefix.TempDir());
    RunResult r = RunSetup(prefix, exe);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(MessageBoxes(r.trace).empty());

    EXPECT_TRUE(SameBytes(prefix.Read(sys + "NEW.DLL"), TestDll("ver32.dll")));
    EXPECT_EQ(prefix.SharedDllCount(sys + "NEW.DLL"), 1u);
    EXPECT_TRUE(SameBytes(prefix.Read(sys + "NOVER.DLL"), TestDll("ver32.dll")));
    EXPECT_EQ(prefix.SharedDllCount(sys + "NOVER.DLL"), 4u);
    EXPECT_TRUE(SameBytes(prefix.Read(sys + "NEWER.DLL"), TestDll("ver64.dll")));
    EXPECT_EQ(prefix.SharedDllCount(sys + "NEWER.DLL"), 3u);
    EXPECT_TRUE(SameBytes(prefix.Read(sys + "EQUAL.DLL"), TestDll("ver64.dll")));
    EXPECT_EQ(prefix.SharedDllCount(sys + "EQUAL.DLL"), 2u);
    EXPECT_TRUE(SameBytes(prefix.Read(sys + "OLDER.DLL"), TestDll("ver64.dll")));
    EXPECT_EQ(prefix.SharedDllCount(sys + "OLDER.DLL"), 5u);

    std::string dir = OnlyInstallDir(prefix, tempBefore);
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(prefix.Read(dir + "_Del.log"),
              CrLf({"project:Test project", "source:C:\\setup\\", "file:" + sys + "NEW.DLL",
                    "file:" + sys + "NOVER.DLL", "file:" + sys + "EQUAL.DLL",
                    "file:" + sys + "OLDER.DLL", "directory:" + dir}));
    EXPECT_TRUE(prefix.PendingRenames().empty());
    EXPECT_FALSE(prefix.Exists("C:\\windows\\WININIT.INI"));
    // The copies replaced in place went through a temporary file beside
    // them (MoveFileExA on the NT family, renames on the 95 family); none
    // is left.
    for (const std::string& name : prefix.List(sys))
      EXPECT_FALSE(name.size() > 3 && strncasecmp(name.c_str(), "sfx", 3) == 0) << name;
  }
}

// The documented version-install service in place of Wine's (see
// programs/version_shim.c): beside the setup executable, preferred to the
// built-in library.
void UseDocumentedVersionService(Prefix& prefix) {
  prefix.Write(std::string(kSetupDir) + "version.dll", ReadFileIfPresent(ProgramPath("version.dll")));
  prefix.PreferNativeDll("version");
}

// A copy outside the recommended directory (in the Windows directory): the
// new file goes into the system directory and the old copy is counted.
TEST_F(WineRun, CopyOutsideTheRecommendedDirectory) {
  Prefix prefix;
  UseDocumentedVersionService(prefix);
  const std::string win = "C:\\windows\\WINDIR.DLL";
  const std::string sys = std::string(kSystemDir) + "WINDIR.DLL";
  prefix.Write(win, TestDll("ver32.dll"));
  prefix.SetSharedDllCount(win, 3);
  CatalogueBuilder b;
  b.File(SharedDll("WINDIR.DLL", kV1234MS, kV1234LS, TestDll("ver64.dll")));
  std::string exe = WriteSetup(prefix, b.Write().bytes);
  std::vector<std::string> tempBefore = prefix.List(prefix.TempDir());
  RunResult r = RunSetup(prefix, exe);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(SameBytes(prefix.Read(sys), TestDll("ver64.dll")));
  EXPECT_TRUE(SameBytes(prefix.Read(win), TestDll("ver32.dll"))) << "the old copy stays";
  EXPECT_EQ(prefix.SharedDllCount(win), 4u);
  EXPECT_EQ(prefix.SharedDllCount(sys), std::nullopt);
  std::string dir = OnlyInstallDir(prefix, tempBefore);
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(prefix.Read(dir + "_Del.log"),
            CrLf({"project:Test project", "source:C:\\setup\\", "file:" + sys,
                  "directory:" + dir}));
}

// SHARED.DLL in the system directory is held by another Windows process (as
// a running program holds its DLL), and a newer SHARED.DLL lies in the
// setup's "win32\" folder; the payload's own copy is not what replaces the
// file in use.
struct InUse {
  std::string sys = std::string(kSystemDir) + "SHARED.DLL";
  std::string tmp = std::string(kSystemDir) + "SHARED.tmp";
  pid_t holder = -1;
  std::string installDir;
  RunResult run;
};

InUse RunWithFileInUse(Prefix& prefix) {
  InUse u;
  prefix.Write(u.sys, TestDll("ver32.dll"));
  prefix.Write("C:\\setup\\win32\\SHARED.DLL", TestDll("ver64.dll"));
  CatalogueBuilder b;
  b.File(SharedDll("SHARED.DLL", kV5678MS, kV5678LS, "payload copy"));
  std::string exe = WriteSetup(prefix, b.Write().bytes);

  u.holder = prefix.Start({ProgramPath("hold_file.exe"), u.sys, "C:\\held", "C:\\release"});
  for (int i = 0; i < 600 && !prefix.Exists("C:\\held"); ++i) usleep(50000);
  EXPECT_TRUE(prefix.Exists("C:\\held")) << "the holder did not open the file";

  std::vector<std::string> tempBefore = prefix.List(prefix.TempDir());
  u.run = RunSetup(prefix, exe);
  EXPECT_EQ(u.run.exitCode, 0);
  EXPECT_TRUE(MessageBoxes(u.run.trace).empty());
  EXPECT_TRUE(SameBytes(prefix.Read(u.sys), TestDll("ver32.dll"))) << "the copy in use is untouched";
  std::vector<std::string> added = NewEntries(tempBefore, prefix.List(prefix.TempDir()));
  EXPECT_EQ(added.size(), 1u);
  if (added.size() == 1) u.installDir = prefix.TempDir() + added[0] + "\\";
  return u;
}

void ReleaseHolder(Prefix& prefix, const InUse& u) {
  prefix.Write("C:\\release", "");
  EXPECT_EQ(prefix.WaitFor(u.holder), 0);
}

// Both families copy the new file beside the one in use and count it once.
void ExpectScheduled(Prefix& prefix, const InUse& u) {
  EXPECT_TRUE(SameBytes(prefix.Read(u.tmp), TestDll("ver64.dll")));
  EXPECT_EQ(prefix.SharedDllCount(u.sys), 1u);
  EXPECT_EQ(prefix.Read(u.installDir + "_Del.log"),
            CrLf({"project:Test project", "source:C:\\setup\\", "file:" + u.tmp, "file:" + u.sys,
                  "directory:" + u.installDir}));
}

// NT family: a delayed move, which the next start of the machine performs.
TEST_F(WineRun, CopyInUseIsReplacedAtTheNextRestartWithADelayedMove) {
  Prefix prefix;
  UseDocumentedVersionService(prefix);
  const std::string oldIni = "[boot]\r\nshell=Explorer.exe\r\n";
  prefix.Write("C:\\windows\\WININIT.INI", oldIni);
  InUse u = RunWithFileInUse(prefix);
  ExpectScheduled(prefix, u);
  EXPECT_EQ(prefix.PendingRenames(),
            (std::vector<std::string>{"\\??\\" + u.tmp, "!\\??\\" + u.sys}));
  EXPECT_EQ(prefix.Read("C:\\windows\\WININIT.INI"), oldIni);

  ReleaseHolder(prefix, u);
  prefix.Restart();
  EXPECT_TRUE(SameBytes(prefix.Read(u.sys), TestDll("ver64.dll")));
  EXPECT_FALSE(prefix.Exists(u.tmp));
  EXPECT_TRUE(prefix.PendingRenames().empty());
}

// 95 family: a "[rename]" section added to WININIT.INI, whose earlier
// sections stay byte for byte; no delayed move.
TEST_F(WineRun, CopyInUseIsReplacedThroughWininitOnThe95Family) {
  Prefix prefix(Family::Win95);
  UseDocumentedVersionService(prefix);
  const std::string oldIni = "[boot]\r\nshell=Explorer.exe\r\n\r\n[386Enh]\r\nwoafont=dosapp.fon\r\n";
  prefix.Write("C:\\windows\\WININIT.INI", oldIni);
  InUse u = RunWithFileInUse(prefix);
  ExpectScheduled(prefix, u);
  EXPECT_TRUE(prefix.PendingRenames().empty());
  std::string ini = prefix.Read("C:\\windows\\WININIT.INI");
  ASSERT_EQ(ini.compare(0, oldIni.size(), oldIni), 0) << ini;
  std::string added = ini.substr(oldIni.size());
  // "[rename]", then short installed path = short temporary path. Short
  // names are the platform's to choose; both must name this run's files.
  ASSERT_EQ(added.compare(0, 10, "[rename]\r\n"), 0) << added;
  std::string line = added.substr(10);
  ASSERT_GE(line.size(), 2u);
  EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
  line.resize(line.size() - 2);
  EXPECT_EQ(line.find('\n'), std::string::npos) << line;
  size_t eq = line.find('=');
  ASSERT_NE(eq, std::string::npos) << line;
  EXPECT_EQ(prefix.Host(line.substr(0, eq)), prefix.Host(u.sys));
  EXPECT_EQ(prefix.Host(line.substr(eq + 1)), prefix.Host(u.tmp));

  ReleaseHolder(prefix, u);
  prefix.Restart();
  EXPECT_TRUE(SameBytes(prefix.Read(u.sys), TestDll("ver64.dll")));
  EXPECT_FALSE(prefix.Exists(u.tmp));
}

// With Wine's own version-install service the copy in use is not reported
// as such: the stub counts the installed copy, its extraction over the held
// file fails, and that failure ends this item only. The run goes on to its
// log and its main program; nothing is scheduled.
TEST_F(WineRun, CopyInUseUnreportedByTheServiceIsSkipped) {
  Prefix prefix;
  prefix.Write("C:\\windows\\run.exe", ReadFileIfPresent(ProgramPath("record_start.exe")));
  InUse u;
  {
    // The same setup as above, with a main program in the Windows directory.
    prefix.Write(u.sys, TestDll("ver32.dll"));
    prefix.Write("C:\\setup\\win32\\SHARED.DLL", TestDll("ver64.dll"));
    CatalogueBuilder b;
    b.MainProgram("run.exe");
    b.catalogue().project.mainInWindowsDir = 1;
    b.File(SharedDll("SHARED.DLL", kV5678MS, kV5678LS, "payload copy"));
    std::string exe = WriteSetup(prefix, b.Write().bytes);
    u.holder = prefix.Start({ProgramPath("hold_file.exe"), u.sys, "C:\\held", "C:\\release"});
    for (int i = 0; i < 600 && !prefix.Exists("C:\\held"); ++i) usleep(50000);
    ASSERT_TRUE(prefix.Exists("C:\\held"));
    std::vector<std::string> tempBefore = prefix.List(prefix.TempDir());
    u.run = RunSetup(prefix, exe);
    u.installDir = OnlyInstallDir(prefix, tempBefore);
  }
  EXPECT_EQ(u.run.exitCode, 0);
  EXPECT_TRUE(MessageBoxes(u.run.trace).empty());
  EXPECT_TRUE(SameBytes(prefix.Read(u.sys), TestDll("ver32.dll")));
  EXPECT_FALSE(prefix.Exists(u.tmp));
  EXPECT_EQ(prefix.SharedDllCount(u.sys), 1u);
  EXPECT_TRUE(prefix.PendingRenames().empty());
  ASSERT_FALSE(u.installDir.empty());
  EXPECT_EQ(prefix.Read(u.installDir + "_Del.log"),
            CrLf({"project:Test project", "source:C:\\setup\\", "directory:" + u.installDir}));
  std::vector<Start> starts = WaitForStarts(prefix, 1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].commandLine, "C:\\windows\\run.exe /UNS");
  ReleaseHolder(prefix, u);
}

// Fonts: a real TrueType file registered under its full name, under the key
// this setup always wrote; a damaged one installed without a name; one whose
// file cannot be written skipped without ending the run.
TEST_F(WineRun, FontsInstallAndRegister) {
  const std::string dejavu = ReadFileIfPresent("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
  ASSERT_FALSE(dejavu.empty());
  for (Family family : {Family::NT, Family::Win95}) {
    SCOPED_TRACE(family == Family::NT ? "NT family" : "95 family");
    Prefix prefix(family);
    const std::string fonts = kFontsDir;
    // A directory where the font file should go: the file cannot be made.
    // (A read-only file would not do: Wine run by root writes it all the
    // same, since it leaves that check to the host's permissions.)
    prefix.Write(fonts + "Locked.ttf\\keep", "old");
    std::map<std::string, Prefix::RegValue> valuesBefore = prefix.Values(kFontsKey);

    CatalogueBuilder b;
    TestFile font{"DejaVuSans.ttf", dejavu};
    font.destDir = "%font%";
    font.sourcePath = "D:\\fonts\\";
    TestFile broken = font;
    broken.name = "Broken.ttf";
    broken.bytes = dejavu.substr(0, 300);  // cut inside its table directory
    TestFile locked = font;
    locked.name = "Locked.ttf";
    b.File(font).File(broken).File(locked).File(Plain("after.txt", "still installed", "%inst%",
                                                      "D:\\fonts\\"));
    std::string exe = WriteSetup(prefix, b.Write().bytes);
    std::vector<std::string> tempBefore = prefix.List(prefix.TempDir());
    RunResult r = RunSetup(prefix, exe);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(MessageBoxes(r.trace).empty());

    EXPECT_TRUE(SameBytes(prefix.Read(fonts + "DejaVuSans.ttf"), dejavu));
    EXPECT_TRUE(SameBytes(prefix.Read(fonts + "Broken.ttf"), dejavu.substr(0, 300)));
    EXPECT_EQ(prefix.Read(fonts + "Locked.ttf\\keep"), "old");

    // The value named by the Macintosh full name holds the file name alone
    // (Wine's own entry for the system copy held a Z: path before).
    // Nothing else in the key changed: the damaged font has no name to
    // register under, the locked one was never written.
    std::map<std::string, Prefix::RegValue> expected = valuesBefore;
    expected["DejaVu Sans (TrueType)"] = Prefix::RegValue{"REG_SZ", "DejaVuSans.ttf"};
    std::map<std::string, Prefix::RegValue> values = prefix.Values(kFontsKey);
    EXPECT_EQ(values.size(), expected.size());
    for (const auto& [name, value] : expected) {
      SCOPED_TRACE(name);
      auto it = values.find(name);
      ASSERT_NE(it, values.end());
      EXPECT_EQ(it->second.type, value.type);
      EXPECT_EQ(it->second.data, value.data);
    }

    std::string dir = OnlyInstallDir(prefix, tempBefore);
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(prefix.Read(dir + "_Del.log"),
              CrLf({"project:Test project", "source:C:\\setup\\",
                    "file:" + fonts + "DejaVuSans.ttf", "file:" + fonts + "Broken.ttf",
                    "file:" + dir + "after.txt",
                    "path:D:\\fonts\\after.txt\t" + dir + "after.txt", "directory:" + dir}));
  }
}

}  // namespace
}  // namespace sfx::wine
