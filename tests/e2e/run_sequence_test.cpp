// Whole runs of the setup stub: the install directory and its "_Del.log",
// installed files with their stamps, the programs started, and the runs
// that end early (no payload, a damaged catalogue, a directory that cannot
// be made).
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/e2e_support.h"
#include "pack/setup_writer.h"
#include "platform/host/prefix.h"
#include "support/damaged_catalogue.h"

namespace fs = std::filesystem;

namespace sfx::e2e {
namespace {

// The one install directory a run made; fails the test when there is not
// exactly one.
std::string OnlyInstallDir() {
  std::vector<std::string> dirs = InstallDirs();
  EXPECT_EQ(dirs.size(), 1u);
  return dirs.empty() ? std::string() : dirs[0];
}

class SetupRun : public ::testing::Test {
 protected:
  ScopedPrefix prefix_;
  TempDir setupDir_;  // where the setup executable lies (a Z: path to the stub)
  std::string moduleDir_ = sfx::test::WindowsDir(setupDir_.path());
  std::string runs_ = setupDir_ / "runs.txt";

  StubResult Run(const CatalogueBuilder& b) {
    return RunStub(WriteSetup(b, setupDir_.path()), prefix_.root());
  }
  // A program beside the setup executable that records its starts.
  void Marker(const std::string& file, const std::string& tag) {
    sfx::test::WriteFile(setupDir_ / file, MarkerScript(tag, runs_));
  }
};

TEST_F(SetupRun, NormalRunInstallsLogsAndStartsPrograms) {
  CatalogueBuilder b;
  b.Project("Demo Suite").MainProgram("App.exe");
  // The main program keeps a copy of the "_Del.log" it finds beside it
  // when it starts: the log is complete before any program runs.
  std::string seen = setupDir_ / "seen.log";
  std::string copyLog = "cp \"$(dirname \"$0\")/_Del.log\" '" + seen + "'\n";
  b.File(Plain("App.exe", MarkerScript("App", runs_, copyLog), "%inst%"));
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
  b.Program("first.sh", "%inst%", 0)
      .Program("second.sh", "%inst%", 0)
      .Program("third.sh", "%inst%", 1)
      .Program("fourth.sh", "%inst%", 0);
  for (const char* tag : {"first", "second", "third", "fourth"})
    Marker(std::string(tag) + ".sh", tag);

  int64_t before = (int64_t)time(nullptr);
  StubResult r = Run(b);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.stderrText, "");

  std::string dir = OnlyInstallDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(TempEntries().size(), 1u) << "the reserved name is a directory, nothing else is left";
  EXPECT_EQ(ListTree(Host(dir)),
            (std::vector<std::string>{"App.exe", "_Del.log", "data/", "data/a.dat", "other/",
                                      "other/README.TXT", "readme.txt", "sub/", "sub/deep/",
                                      "sub/deep/b.dat"}));
  EXPECT_EQ(ReadWin(dir + "data\\a.dat"), std::string(70000, 'a'));

  std::string log = ReadWin(dir + "_Del.log");
  EXPECT_EQ(log,
            CrLf({"project:Demo Suite",
                  "source:" + moduleDir_,
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

  FileFacts stamped = Probe(dir + "readme.txt");
  EXPECT_EQ(stamped.attributes, 0x21u);
  EXPECT_EQ(stamped.ctime, 1000000000);
  EXPECT_EQ(stamped.mtime, 1100000000);
  FileFacts fresh = Probe(dir + "sub\\deep\\b.dat");
  EXPECT_EQ(fresh.attributes, 0x02u);
  EXPECT_GE(fresh.mtime, before - 2);
  EXPECT_EQ(Probe(dir + "_Del.log").attributes & FILE_ATTRIBUTE_READONLY, 0u);

  // The two leading programs of component 0, in order, then the main
  // program with " /UNS"; the third (component 1) stops the walk.
  std::vector<ProgramStart> starts = WaitForStarts(runs_, 3);
  ASSERT_EQ(starts.size(), 3u);
  EXPECT_EQ(starts[0].tag, "first");
  EXPECT_EQ(starts[0].args, "");
  EXPECT_EQ(starts[1].tag, "second");
  EXPECT_EQ(starts[2].tag, "App");
  EXPECT_EQ(starts[2].args, "/UNS");
  EXPECT_EQ(sfx::test::ReadFile(seen), log);
}

// Files of one folder share its chain of directories, folders come back
// after others, and names differ from those on disk only by letter case:
// each directory gets one line, and a case variant reaches the same folder
// or file, as on Windows.
TEST_F(SetupRun, FoldersComingBackAndCaseVariantsShareWhatIsOnDisk) {
  CatalogueBuilder b;
  b.Project("Folders").MainProgram("none.exe");
  b.File(Plain("One.txt", "first", "%inst%\\Docs"));
  b.File(Plain("two.txt", "2", "%inst%\\Docs"));
  b.File(Plain("x.bin", "x", "%inst%\\bin"));
  b.File(Plain("three.txt", "3", "%inst%\\docs"));
  b.File(Plain("ONE.TXT", "second", "%inst%\\DOCS"));
  b.File(Plain("y.bin", "y", "%inst%\\bin\\deep"));
  b.File(Plain("z.bin", "z", "%inst%\\BIN"));
  StubResult r = Run(b);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.stderrText, "");

  std::string dir = OnlyInstallDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(ListTree(Host(dir)),
            (std::vector<std::string>{"Docs/", "Docs/One.txt", "Docs/three.txt", "Docs/two.txt",
                                      "_Del.log", "bin/", "bin/deep/", "bin/deep/y.bin",
                                      "bin/x.bin", "bin/z.bin"}));
  EXPECT_EQ(ReadWin(dir + "Docs\\One.txt"), "second");
  std::string log = ReadWin(dir + "_Del.log");
  std::vector<std::string> made;
  size_t at = 0;
  while ((at = log.find("directory:", at)) != std::string::npos) {
    size_t end = log.find("\r\n", at);
    made.push_back(log.substr(at + 10, end - at - 10));
    at = end;
  }
  EXPECT_EQ(made, (std::vector<std::string>{dir + "Docs", dir + "bin", dir + "bin\\deep", dir}));
}

TEST_F(SetupRun, FirstProgramOfAnotherComponentLeavesOnlyTheMainProgram) {
  CatalogueBuilder b;
  b.MainProgram("App.exe").File(Plain("App.exe", MarkerScript("App", runs_), "%inst%"));
  b.Program("other.sh", "%inst%", 1).Program("zero.sh", "%inst%", 0);
  Marker("other.sh", "other");
  Marker("zero.sh", "zero");
  StubResult r = Run(b);
  EXPECT_EQ(r.exitCode, 0);
  std::vector<ProgramStart> starts = WaitForStarts(runs_, 1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].tag, "App");
  EXPECT_EQ(starts[0].args, "/UNS");
}

TEST_F(SetupRun, EmptyComponentStillWritesTheLogAndStartsTheMainProgram) {
  CatalogueBuilder b;
  b.Project("Nothing").MainProgram("run.sh");
  b.catalogue().project.mainInWindowsDir = 1;  // the main program lies in C:\WINDOWS
  WriteWin("C:\\WINDOWS\\run.sh", MarkerScript("main", runs_));
  StubResult r = Run(b);
  EXPECT_EQ(r.exitCode, 0);
  std::string dir = OnlyInstallDir();
  EXPECT_EQ(ReadWin(dir + "_Del.log"),
            CrLf({"project:Nothing", "source:" + moduleDir_, "directory:" + dir}));
  std::vector<ProgramStart> starts = WaitForStarts(runs_, 1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].tag, "main");
  EXPECT_EQ(starts[0].args, "/UNS");
}

TEST_F(SetupRun, PlatformFilterSelectsItems) {
  CatalogueBuilder b;
  b.File(Plain("w16.txt", "1", "%inst%"))
      .File(Plain("W16b.txt", "2", "%inst%"))
      .File(Plain("in1.txt", "3", "%inst%"))
      .File(Plain("out1.txt", "4", "%inst%"))
      .File(Plain("gen.txt", "5", "%inst%"));
  auto& items = b.catalogue().project.items;
  items[0].platformDir = "win16\\x\\";  // never installed
  items[1].platformDir = "Win16\\";     // another letter case: not excluded
  items[2].platformSpecific = 1;        // listed for platform 1
  items[3].platformSpecific = 1;        // listed only for the other platforms
  b.Platforms({{3}, {2}, {3, 0}});
  StubResult r = Run(b);
  EXPECT_EQ(r.exitCode, 0);
  std::string dir = OnlyInstallDir();
  EXPECT_EQ(ListTree(Host(dir)),
            (std::vector<std::string>{"W16b.txt", "_Del.log", "gen.txt", "in1.txt"}));
  EXPECT_EQ(ReadWin(dir + "_Del.log"),
            CrLf({"project:Test project", "source:" + moduleDir_,
                  "file:" + dir + "W16b.txt", "path:D:\\proj\\W16b.txt\t" + dir + "W16b.txt",
                  "file:" + dir + "in1.txt", "path:D:\\proj\\in1.txt\t" + dir + "in1.txt",
                  "file:" + dir + "gen.txt", "path:D:\\proj\\gen.txt\t" + dir + "gen.txt",
                  "directory:" + dir}));
}

// The payload as the side file "Data.bin" beside a stub that carries none;
// and an appended payload, which wins over a "Data.bin" lying beside it.
TEST_F(SetupRun, DataBinBesideAStubWithoutPayload) {
  CatalogueBuilder b;
  b.File(Plain("side.txt", "from Data.bin", "%inst%"));
  fs::copy_file(StubPath(), setupDir_ / "setup.exe");
  sfx::test::WriteDataBin(setupDir_.path(), b.Write().bytes);
  StubResult r = RunStub(setupDir_ / "setup.exe", prefix_.root());
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.stderrText, "");
  std::string dir = OnlyInstallDir();
  EXPECT_EQ(ReadWin(dir + "side.txt"), "from Data.bin");
  EXPECT_NE(ReadWin(dir + "_Del.log").find("source:" + moduleDir_ + "\r\n"), std::string::npos);
}

// "Data.bin" is opened exclusively: while another process reads it, the
// run ends with the invalid-handle box before anything is made.
TEST_F(SetupRun, DataBinHeldByAnotherProcessCannotBeOpened) {
  CatalogueBuilder b;
  b.File(Plain("side.txt", "from Data.bin", "%inst%"));
  fs::copy_file(StubPath(), setupDir_ / "setup.exe");
  std::string dataBin = sfx::test::WriteDataBin(setupDir_.path(), b.Write().bytes);
  HANDLE h = CreateFileA(sfx::host::MapToWindows(dataBin).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  StubResult r = RunStub(setupDir_ / "setup.exe", prefix_.root());
  CloseHandle(h);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.stderrText, "setup: An invalid file handle was associated with .\n");
  EXPECT_TRUE(TempEntries().empty());
}

TEST_F(SetupRun, AppendedPayloadIgnoresDataBin) {
  CatalogueBuilder appended, side;
  appended.File(Plain("appended.txt", "A", "%inst%"));
  side.File(Plain("side.txt", "S", "%inst%"));
  sfx::test::WriteDataBin(setupDir_.path(), side.Write().bytes);
  StubResult r = Run(appended);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ListTree(Host(OnlyInstallDir())), (std::vector<std::string>{"_Del.log", "appended.txt"}));
}

TEST_F(SetupRun, NoPayloadShowsTheInvalidFileBoxAndLeavesNothing) {
  fs::copy_file(StubPath(), setupDir_ / "lonely.exe");
  StubResult r = RunStub(setupDir_ / "lonely.exe", prefix_.root());
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.stderrText, "lonely: An invalid file handle was associated with .\n");
  EXPECT_TRUE(TempEntries().empty());
}

// A catalogue that cannot be read: one box with the archive error naming
// the payload file, and no install directory.
TEST_F(SetupRun, DamagedCatalogueShowsTheArchiveBox) {
  for (const sfx::test::CatalogueDamage& c : sfx::test::CatalogueDamages()) {
    SCOPED_TRACE(c.what);
    ScopedPrefix prefix;
    ExpectRunEndsWithBox(prefix.root(), sfx::test::DamagedPayload(c), c.message);
  }
}

// Without a temporary name there is no install directory: the run ends with
// a file error box instead of installing into the root of the drive.
TEST_F(SetupRun, NoTemporaryNameEndsTheRunWithABox) {
  fs::remove_all(Host("C:\\TEMP"));
  WriteWin("C:\\TEMP", "a file where the temporary folder should be");
  CatalogueBuilder b;
  b.MainProgram("App.exe").File(Plain("App.exe", MarkerScript("App", runs_), "%inst%"));
  b.File(Plain("a.txt", "a", "%inst%"));
  StubResult r = Run(b);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.stderrText, "setup: C:\\TEMP\\ contains an invalid path.\n");
  EXPECT_FALSE(ExistsWin("C:\\App.exe"));
  EXPECT_FALSE(ExistsWin("C:\\a.txt"));
  EXPECT_FALSE(ExistsWin("C:\\_Del.log"));
  EXPECT_TRUE(WaitForStarts(runs_, 0).empty());
}

// A directory an item needs cannot be made (a file stands in its way): the
// run ends with one box naming that directory, writes no "_Del.log" and
// starts nothing; what was installed before stays.
TEST_F(SetupRun, DirectoryThatCannotBeMadeEndsTheRunWithABox) {
  WriteWin("C:\\blocked", "a file, not a directory");
  CatalogueBuilder b;
  b.MainProgram("App.exe").File(Plain("App.exe", MarkerScript("App", runs_), "%inst%"));
  b.File(Plain("first.txt", "1", "%inst%"))
      .File(Plain("x.txt", "x", "C:\\blocked\\sub\\"))
      .File(Plain("later.txt", "2", "%inst%"));
  b.Program("prog.sh", "%inst%", 0);
  Marker("prog.sh", "prog");
  StubResult r = Run(b);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.stderrText, "setup: C:\\blocked\\sub contains an invalid path.\n");
  std::string dir = OnlyInstallDir();
  EXPECT_EQ(ListTree(Host(dir)), (std::vector<std::string>{"App.exe", "first.txt"}));
  EXPECT_TRUE(WaitForStarts(runs_, 0).empty());
}

// A plain file that cannot be written ends the run with the file error's
// box (naming the file), again without "_Del.log" or programs.
TEST_F(SetupRun, PlainFileThatCannotBeWrittenEndsTheRunWithABox) {
  WriteWin("C:\\locked.txt", "old");
  ASSERT_TRUE(SetFileAttributesA("C:\\locked.txt", FILE_ATTRIBUTE_READONLY));
  CatalogueBuilder b;
  b.MainProgram("App.exe").File(Plain("App.exe", MarkerScript("App", runs_), "%inst%"));
  b.File(Plain("locked.txt", "new", "C:\\"));
  StubResult r = Run(b);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.stderrText, "setup: Access to C:\\locked.txt was denied.\n");
  EXPECT_EQ(ReadWin("C:\\locked.txt"), "old");
  EXPECT_EQ(ListTree(Host(OnlyInstallDir())), (std::vector<std::string>{"App.exe"}));
  EXPECT_TRUE(WaitForStarts(runs_, 0).empty());
}

}  // namespace
}  // namespace sfx::e2e
