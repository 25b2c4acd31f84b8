// The scenario table: whole setup runs, each written once and run by every
// runner (tests/e2e/host_runner.cpp: the host stub in a prefix folder;
// tests/wine/wine_runner.cpp: the x86-64 stub under Wine).
//
// To add a scenario: append a Scenario to Scenarios() below. `arrange`
// prepares the machine through the Machine interface only (never a host
// path) and writes the setup; `expect` gives the outcome as data (box, tree,
// "_Del.log" lines, programs started, SharedDLLs counts, file bytes, pending
// renames), with {dir}, {setup}, {win}, {sys}, {fonts}, {exe} for what
// differs between machines; `check` holds what data cannot say. `families`
// lists NT and/or 95; `runners` limits a scenario to some runners when a
// platform cannot show it (say why; tests/wine/README.md lists where Wine
// differs).
//
// To add a runner: implement Machine (scenario_table.h) for the platform
// and call RegisterScenarios("name", "Suite", factory) from a static
// initializer of the runner's test executable, which also compiles this
// file; the runner's name is what `runners` refers to.
#include "e2e/scenario_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <iostream>
#include <strings.h>

#include "pack/authenticode.h"
#include "support/damaged_catalogue.h"
#include "support/test_signing.h"

namespace sfx::scenario {
namespace {

const uint32_t kV1234MS = 0x00010002, kV1234LS = 0x00030004;  // ver32.dll
const uint32_t kV5678MS = 0x00050006, kV5678LS = 0x00070008;  // ver64.dll
const unsigned kBoxStyle = 0x30;  // MB_OK | MB_ICONEXCLAMATION
const char kDejaVu[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char kOldIni[] = "[boot]\r\nshell=Explorer.exe\r\n\r\n[386Enh]\r\nwoafont=dosapp.fon\r\n";

std::string Expand(Machine& m, std::string s, const std::string& dir = "",
                   const std::string& exe = "") {
  const std::pair<const char*, std::string> names[] = {
      {"{dir}", dir},         {"{setup}", Machine::SetupDir()}, {"{win}", m.WindowsDir()},
      {"{sys}", m.SystemDir()}, {"{fonts}", m.FontsDir()},      {"{exe}", exe}};
  for (const auto& [name, value] : names)
    for (size_t at; (at = s.find(name)) != std::string::npos;) s.replace(at, strlen(name), value);
  return s;
}

// Equal bytes; on a difference, where it begins rather than both files.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  return ::testing::AssertionFailure() << actual.size() << " bytes, expected " << expected.size()
                                       << "; first difference at byte " << at;
}

// Writes the recorder under each name in the setup's folder.
void Programs(Machine& m, std::initializer_list<const char*> names) {
  for (const char* name : names) m.Write(Machine::SetupDir() + name, m.Recorder());
}

// A catalogue whose main program, installed first, records its starts.
CatalogueBuilder AppThen(Machine& m, std::initializer_list<TestFile> files) {
  CatalogueBuilder b;
  b.MainProgram("App.exe").File(Plain("App.exe", m.Recorder(), "%inst%"));
  for (const TestFile& f : files) b.File(f);
  return b;
}

// No temporary file of a whole-file write ("sfx" and hexadecimal digits,
// ".tmp") is left in dir.
void ExpectNoTemporaryFiles(Machine& m, const std::string& dir) {
  for (const std::string& name : m.List(dir)) {
    bool temporary = name.size() > 7 && strncasecmp(name.c_str(), "sfx", 3) == 0 &&
                     strcasecmp(name.c_str() + name.size() - 4, ".tmp") == 0;
    EXPECT_FALSE(temporary) << dir << name;
  }
}

TestFile Font(const std::string& name, const std::string& bytes, const std::string& dest = "%font%") {
  return Plain(name, bytes, dest, "D:\\fonts\\");
}

// The copy in use in the system directory, a newer one in the setup's
// "win32\" folder; the payload's own copy is not what replaces it.
std::string ArrangeCopyInUse(Machine& m, bool mainInWindowsDir) {
  const std::string sys = m.SystemDir() + "SHARED.DLL";
  m.Write(m.WindowsDir() + "WININIT.INI", kOldIni);
  m.Write(sys, m.Sample("ver32.dll"));
  m.Write(Machine::SetupDir() + "win32\\SHARED.DLL", m.Sample("ver64.dll"));
  CatalogueBuilder b;
  if (mainInWindowsDir) {
    m.Write(m.WindowsDir() + "run.exe", m.Recorder());
    b.MainProgram("run.exe");
    b.catalogue().project.mainInWindowsDir = 1;
  }
  b.File(SharedDll("SHARED.DLL", kV5678MS, kV5678LS, "payload copy"));
  m.Hold(sys);
  return m.WriteSetup(b.Write().bytes);
}

// Names in a double-byte code page, two of whose characters end in 0x5C,
// the byte of "\\"; the UTF-8 forms are the host's names of the files.
struct CodePageNames {
  unsigned codePage;
  std::string c1, c2;           // characters with the second byte 0x5C
  std::string upper, lower;     // a full-width capital and its small letter
  std::string asciiA, asciia;   // two characters whose second bytes are "A" and "a"
  std::string utf8[6];          // the same six in UTF-8, in that order
};

// Made on first use: the table of scenarios is built from static
// initializers of the runners.
const std::vector<CodePageNames>& CodePageNamesTable() {
  static const std::vector<CodePageNames> s_table = {
    {932, "\x83\x5C", "\x95\x5C", "\x82\x60", "\x82\x81", "\x83\x41", "\x83\x61", {"ソ", "表", "Ａ", "ａ", "ア", "ヂ"}},
    {936, "\x81\x5C", "\x84\x5C", "\xA3\xC1", "\xA3\xE1", "\x81\x41", "\x81\x61", {"乗", "刓", "Ａ", "ａ", "丄", "乤"}},
    // Ｗ and ｗ: the small letters of 950 go on after a change of lead byte.
    {950, "\xA5\x5C", "\xA4\x5C", "\xA2\xE5", "\xA3\x40", "\xA4\x41", "\xA4\x61", {"功", "么", "Ｗ", "ｗ", "乙", "兀"}},
  };
  return s_table;
}

// The setup of a code page's names: the stub and "Data.bin" in a folder
// named c2 c1; a stub named c2 ".exe" has a 0x5C in its own name, so only
// the last "\\" by character gives its directory, where "Data.bin" lies.
std::string ArrangeCodePageNames(Machine& m, const CodePageNames& n, const std::string& setupName) {
  CatalogueBuilder b;
  b.MainProgram(n.c1 + ".exe").File(Plain(n.c1 + ".exe", m.Recorder(), "%inst%"));
  b.File(Plain(n.c2 + ".txt", "two", "%inst%\\" + n.c1, "D:\\" + n.c1 + "\\"));
  b.File(Plain(n.c1 + ".txt", "one", "%inst%\\" + n.c2 + "\\" + n.c1 + n.c2, "D:\\" + n.c1 + "\\"));
  b.File(Plain(n.asciiA + ".txt", "A", "%inst%", "D:\\src\\")).File(Plain(n.asciia + ".txt", "a", "%inst%", "D:\\src\\"));
  b.File(Plain(n.upper + ".txt", "U", "%inst%\\x", "D:\\src\\")).File(Plain(n.lower + ".txt", "L", "%inst%\\y", "D:\\src\\"));
  m.WriteDataBin(b.Write().bytes);
  std::string stub = m.WriteStub("setup.exe"), data = Machine::SetupDir() + "Data.bin";
  std::string folder = "C:\\" + n.c2 + n.c1 + "\\";
  m.Write(folder + setupName, m.Read(stub));
  m.Write(folder + "Data.bin", m.Read(data));
  m.Remove(stub);
  m.Remove(data);
  return folder + setupName;
}

void AddCodePageScenarios(std::vector<Scenario>& t) {
  for (const CodePageNames& n : CodePageNamesTable()) {
    // Folders are made whole, names kept; "path:" lines fold letter case
    // by character: the two characters whose second bytes differ as "A"
    // and "a" do are two paths, the full-width capital and small letter one.
    Scenario s{"DoubleByteNamesInstallOnCodePage" + std::to_string(n.codePage), {Family::NT}, {},
      [n](Machine& m) { return ArrangeCodePageNames(m, n, n.c2 + ".exe"); },
      [n](Machine&, Expected& e) {
        const std::string* u = n.utf8;  // c1, c2, upper, lower, asciiA, asciia
        e.tree = {u[0] + "/", u[0] + "/" + u[1] + ".txt", u[0] + ".exe", u[1] + "/", u[1] + "/" + u[0] + u[1] + "/",
                  u[1] + "/" + u[0] + u[1] + "/" + u[0] + ".txt", "_Del.log", "x/", "x/" + u[2] + ".txt", "y/",
                  "y/" + u[3] + ".txt", u[4] + ".txt", u[5] + ".txt"};
        std::sort(e.tree.begin(), e.tree.end());
        std::string deep = n.c2 + "\\" + n.c1 + n.c2;
        e.files = {{"{dir}" + n.c1 + "\\" + n.c2 + ".txt", "two"}, {"{dir}" + deep + "\\" + n.c1 + ".txt", "one"}};
        e.log = {"project:Test project", "source:C:\\" + n.c2 + n.c1 + "\\", "file:{dir}" + n.c1 + ".exe",
                 "directory:{dir}" + n.c1, "file:{dir}" + n.c1 + "\\" + n.c2 + ".txt",
                 "path:D:\\" + n.c1 + "\\" + n.c2 + ".txt\t{dir}" + n.c1 + "\\" + n.c2 + ".txt",
                 "directory:{dir}" + n.c2, "directory:{dir}" + deep, "file:{dir}" + deep + "\\" + n.c1 + ".txt",
                 "path:D:\\" + n.c1 + "\\" + n.c1 + ".txt\t{dir}" + deep + "\\" + n.c1 + ".txt",
                 "file:{dir}" + n.asciiA + ".txt", "path:D:\\src\\" + n.asciiA + ".txt\t{dir}" + n.asciiA + ".txt",
                 "file:{dir}" + n.asciia + ".txt", "path:D:\\src\\" + n.asciia + ".txt\t{dir}" + n.asciia + ".txt",
                 "directory:{dir}x", "file:{dir}x\\" + n.upper + ".txt",
                 "path:D:\\src\\" + n.upper + ".txt\t{dir}x\\" + n.upper + ".txt",
                 "directory:{dir}y", "file:{dir}y\\" + n.lower + ".txt", "directory:{dir}"};
        e.starts = {"{dir}" + n.c1 + ".exe /UNS"};
      }, nullptr};
    s.codePage = n.codePage;
    t.push_back(s);
  }
  // The same catalogue on code page 1252, where 0x5C is "\\" wherever it
  // stands: its names leave their folder, and it is refused as damaged.
  // Host only: Wine would name the folders of these bytes in UTF-8 its own way.
  Scenario refused{"DoubleByteNamesRefusedOnCodePage1252", {Family::NT}, {"host"},
    [](Machine& m) { return ArrangeCodePageNames(m, CodePageNamesTable()[0], "setup.exe"); },
    [](Machine&, Expected& e) {
      // The folder's name reads as two folders there.
      e.box = Box{"C:\\\x95\\\x83\\Data.bin contained an unexpected object.", "setup", {}};
      e.installDir = false;
    }, nullptr};
  t.push_back(refused);
}

std::vector<Scenario> MakeTable() {
  std::vector<Scenario> t;
  const std::vector<Family> both = {Family::NT, Family::Win95};

  // Files with attributes, times, folders and a case variant of a source;
  // the leading programs of component 0 in order, then the main program
  // with " /UNS" (the third program, of component 1, ends the walk). The
  // main program finds the complete "_Del.log" beside it.
  t.push_back({"NormalRunInstallsLogsAndStartsPrograms", {Family::NT}, {},
    [](Machine& m) {
      CatalogueBuilder b;
      b.Project("Demo Suite").MainProgram("App.exe");
      b.File(Plain("App.exe", m.Recorder(), "%inst%"));
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
      b.Program("first.exe", "%inst%", 0).Program("second.exe", "%inst%", 0)
          .Program("third.exe", "%inst%", 1).Program("fourth.exe", "%inst%", 0);
      Programs(m, {"first.exe", "second.exe", "third.exe", "fourth.exe"});
      return m.WriteSetup(b.Write().bytes);
    },
    [](Machine& m, Expected& e) {
      e.tree = {"App.exe", "_Del.log", "data/", "data/a.dat", "other/", "other/README.TXT",
                "readme.txt", "sub/", "sub/deep/", "sub/deep/b.dat"};
      e.files = {{"{dir}App.exe", m.Recorder()}, {"{dir}data\\a.dat", std::string(70000, 'a')},
                 {"{dir}other\\README.TXT", "other"}};
      e.log = {"project:Demo Suite", "source:{setup}", "file:{dir}App.exe", "file:{dir}readme.txt",
               "path:D:\\proj\\readme.txt\t{dir}readme.txt", "directory:{dir}data",
               "file:{dir}data\\a.dat", "path:D:\\proj\\data\\a.dat\t{dir}data\\a.dat",
               "directory:{dir}sub", "directory:{dir}sub\\deep", "file:{dir}sub\\deep\\b.dat",
               "path:D:\\proj\\deep\\b.dat\t{dir}sub\\deep\\b.dat", "directory:{dir}other",
               "file:{dir}other\\README.TXT", "directory:{dir}"};
      e.starts = {"{setup}first.exe", "{setup}second.exe", "{dir}App.exe /UNS"};
    },
    [](Machine& m, const RunResult& r, const std::string& dir) {
      std::optional<FileFacts> stamped = m.Facts(dir + "readme.txt");
      ASSERT_TRUE(stamped.has_value());
      EXPECT_EQ(stamped->attributes, 0x21u);
      EXPECT_EQ(stamped->written, 1100000000);
      EXPECT_EQ(stamped->created.value_or(1000000000), 1000000000);
      std::optional<FileFacts> fresh = m.Facts(dir + "sub\\deep\\b.dat");
      ASSERT_TRUE(fresh.has_value());
      EXPECT_EQ(fresh->attributes & ~fresh->platformBits, 0x02u);
      EXPECT_GE(fresh->written, r.started - 2);
      std::optional<FileFacts> log = m.Facts(dir + "_Del.log");
      ASSERT_TRUE(log.has_value());
      EXPECT_EQ(log->attributes & 0x01u, 0u);
      std::vector<Start> starts = m.Starts();
      ASSERT_EQ(starts.size(), 3u);
      EXPECT_EQ(starts[2].log, m.Read(dir + "_Del.log"));
    }});

  // Folders that come back after others and names that differ from those
  // on disk only by letter case: one "directory:" line per folder, and a
  // case variant reaches the same folder or file, as on Windows.
  t.push_back({"FoldersComingBackAndCaseVariantsShareWhatIsOnDisk", {Family::NT}, {},
    [](Machine& m) {
      CatalogueBuilder b;
      b.Project("Folders").MainProgram("none.exe");
      b.File(Plain("One.txt", "first", "%inst%\\Docs")).File(Plain("two.txt", "2", "%inst%\\Docs"))
          .File(Plain("x.bin", "x", "%inst%\\bin")).File(Plain("three.txt", "3", "%inst%\\docs"))
          .File(Plain("ONE.TXT", "second", "%inst%\\DOCS"))
          .File(Plain("y.bin", "y", "%inst%\\bin\\deep")).File(Plain("z.bin", "z", "%inst%\\BIN"));
      return m.WriteSetup(b.Write().bytes);
    },
    [](Machine&, Expected& e) {
      e.tree = {"Docs/", "Docs/One.txt", "Docs/three.txt", "Docs/two.txt", "_Del.log", "bin/",
                "bin/deep/", "bin/deep/y.bin", "bin/x.bin", "bin/z.bin"};
      e.files = {{"{dir}Docs\\One.txt", "second"}};
    },
    [](Machine& m, const RunResult&, const std::string& dir) {
      std::string log = m.Read(dir + "_Del.log");
      std::vector<std::string> made;
      for (size_t at = 0; (at = log.find("directory:", at)) != std::string::npos;) {
        size_t end = log.find("\r\n", at);
        made.push_back(log.substr(at + 10, end - at - 10));
        at = end;
      }
      EXPECT_EQ(made, (std::vector<std::string>{dir + "Docs", dir + "bin", dir + "bin\\deep", dir}));
    }});

  t.push_back({"FirstProgramOfAnotherComponentLeavesOnlyTheMainProgram", {Family::NT}, {},
    [](Machine& m) {
      CatalogueBuilder b = AppThen(m, {});
      b.Program("other.exe", "%inst%", 1).Program("zero.exe", "%inst%", 0);
      Programs(m, {"other.exe", "zero.exe"});
      return m.WriteSetup(b.Write().bytes);
    },
    [](Machine&, Expected& e) { e.starts = {"{dir}App.exe /UNS"}; }, nullptr});

  // An empty component: the log still has its three lines, and the main
  // program (in the Windows directory) is still started.
  t.push_back({"EmptyComponentStillWritesTheLogAndStartsTheMainProgram", {Family::NT}, {},
    [](Machine& m) {
      m.Write(m.WindowsDir() + "run.exe", m.Recorder());
      CatalogueBuilder b;
      b.Project("Nothing").MainProgram("run.exe");
      b.catalogue().project.mainInWindowsDir = 1;
      return m.WriteSetup(b.Write().bytes);
    },
    [](Machine&, Expected& e) {
      e.tree = {"_Del.log"};
      e.log = {"project:Nothing", "source:{setup}", "directory:{dir}"};
      e.starts = {"{win}run.exe /UNS"};
    }, nullptr});

  t.push_back({"PlatformFilterSelectsItems", {Family::NT}, {},
    [](Machine& m) {
      CatalogueBuilder b;
      b.File(Plain("w16.txt", "1")).File(Plain("W16b.txt", "2")).File(Plain("in1.txt", "3"))
          .File(Plain("out1.txt", "4")).File(Plain("gen.txt", "5"));
      auto& items = b.catalogue().project.items;
      items[0].platformDir = "win16\\x\\";  // never installed
      items[1].platformDir = "Win16\\";     // another letter case: not excluded
      items[2].platformSpecific = 1;        // listed for platform 1
      items[3].platformSpecific = 1;        // listed only for the other platforms
      b.Platforms({{3}, {2}, {3, 0}});
      return m.WriteSetup(b.Write().bytes);
    },
    [](Machine&, Expected& e) {
      e.tree = {"W16b.txt", "_Del.log", "gen.txt", "in1.txt"};
      e.log = {"project:Test project", "source:{setup}", "file:{dir}W16b.txt",
               "path:D:\\proj\\W16b.txt\t{dir}W16b.txt", "file:{dir}in1.txt",
               "path:D:\\proj\\in1.txt\t{dir}in1.txt", "file:{dir}gen.txt",
               "path:D:\\proj\\gen.txt\t{dir}gen.txt", "directory:{dir}"};
    }, nullptr});

  // The payload as "Data.bin" beside a stub that carries none.
  auto besideStub = [](Machine& m, bool held) {
    CatalogueBuilder b;
    b.File(Plain("side.txt", "from Data.bin"));
    m.WriteDataBin(b.Write().bytes);
    if (held) m.Hold(Machine::SetupDir() + "Data.bin");
    return m.WriteStub("setup.exe");
  };
  t.push_back({"DataBinBesideAStubWithoutPayload", {Family::NT}, {},
    [besideStub](Machine& m) { return besideStub(m, false); },
    [](Machine&, Expected& e) {
      e.tree = {"_Del.log", "side.txt"};
      e.files = {{"{dir}side.txt", "from Data.bin"}};
      e.log = {"project:Test project", "source:{setup}", "file:{dir}side.txt",
               "path:D:\\proj\\side.txt\t{dir}side.txt", "directory:{dir}"};
    }, nullptr});

  // "Data.bin" is opened exclusively: while another process reads it, the
  // run ends with the invalid-handle box before anything is made.
  t.push_back({"DataBinHeldByAnotherProcessCannotBeOpened", {Family::NT}, {},
    [besideStub](Machine& m) { return besideStub(m, true); },
    [](Machine&, Expected& e) {
      e.box = Box{"An invalid file handle was associated with .", "setup", {}};
      e.installDir = false;
    }, nullptr});

  // An appended payload wins over a "Data.bin" beside it.
  t.push_back({"AppendedPayloadIgnoresDataBin", {Family::NT}, {},
    [](Machine& m) {
      CatalogueBuilder appended, side;
      appended.File(Plain("appended.txt", "A"));
      side.File(Plain("side.txt", "S"));
      m.WriteDataBin(side.Write().bytes);
      return m.WriteSetup(appended.Write().bytes);
    },
    [](Machine&, Expected& e) { e.tree = {"_Del.log", "appended.txt"}; }, nullptr});

  // Signed after packing: the certificate table follows the payload, which
  // the stub finds through its locator, so the run is the same. Only a PE
  // stub can be signed.
  t.push_back({"SignedSetupInstallsAsBefore", {Family::NT}, {"wine"},
    [](Machine& m) {
      CatalogueBuilder b;
      b.File(Plain("signed.txt", std::string(5000, 's')));
      std::string exe = m.WriteSetup(b.Write().bytes);
      std::string image = m.Read(exe);
      std::string signedImage = sfx::test::SignWithTestCertificate(image, "/O=sfxkit tests/CN=wine signer");
      pack::PeSignature sig = pack::ReadPeSignature((const uint8_t*)signedImage.data(), signedImage.size());
      EXPECT_TRUE(sig.present && sig.endsFile && sig.tableOffset >= image.size()) << sig.problem;
      EXPECT_EQ(sig.signer, "O=sfxkit tests, CN=wine signer");
      m.Write(exe, signedImage);
      return exe;
    },
    [](Machine&, Expected& e) {
      e.tree = {"_Del.log", "signed.txt"};
      e.files = {{"{dir}signed.txt", std::string(5000, 's')}};
    }, nullptr});

  t.push_back({"NoPayloadShowsTheInvalidFileBoxAndLeavesNothing", {Family::NT}, {},
    [](Machine& m) { return m.WriteStub("lonely.exe"); },
    [](Machine&, Expected& e) {
      e.box = Box{"An invalid file handle was associated with .", "lonely", {}};
      e.installDir = false;
    }, nullptr});

  // A catalogue that cannot be read: one box with the archive error naming
  // the setup, and no install directory.
  const std::vector<sfx::test::CatalogueDamage>& damages = sfx::test::CatalogueDamages();
  for (size_t i = 0; i < damages.size(); ++i) {
    t.push_back({"DamagedCatalogueShowsTheArchiveBox" + std::to_string(i), {Family::NT}, {},
      [i](Machine& m) {
        return m.WriteSetup(sfx::test::DamagedPayload(sfx::test::CatalogueDamages()[i]).bytes);
      },
      [i](Machine&, Expected& e) {
        e.box = Box{sfx::test::WithSetupPath(sfx::test::CatalogueDamages()[i].message, "{exe}"),
                    "setup", {}};
        e.installDir = false;
      }, nullptr});
  }

  // Without a temporary name there is no install directory: the run ends
  // with a file error box instead of installing into the root of the drive.
  t.push_back({"NoTemporaryNameEndsTheRunWithABox", {Family::NT}, {},
    [](Machine& m) {
      m.Remove(m.TempDir());
      m.Write(m.TempDir().substr(0, m.TempDir().size() - 1), "a file where the folder should be");
      Programs(m, {"prog.exe"});
      CatalogueBuilder b = AppThen(m, {Plain("a.txt", "a")});
      b.Program("prog.exe", "%inst%", 0);
      return m.WriteSetup(b.Write().bytes);
    },
    [](Machine& m, Expected& e) {
      e.box = Box{m.TempDir() + " contains an invalid path.", "setup", {}};
      e.installDir = false;
    },
    [](Machine& m, const RunResult&, const std::string&) {
      for (const char* name : {"C:\\App.exe", "C:\\a.txt", "C:\\_Del.log"})
        EXPECT_FALSE(m.Exists(name)) << name;
    }});

  // A directory an item needs cannot be made (a file stands in its way):
  // the run ends with one box naming that directory in the platform's
  // words, writes no "_Del.log" and starts nothing; what was installed
  // before stays.
  t.push_back({"DirectoryThatCannotBeMadeEndsTheRunWithABox", {Family::NT}, {},
    [](Machine& m) {
      m.Write("C:\\blocked", "a file, not a directory");
      Programs(m, {"prog.exe"});
      CatalogueBuilder b = AppThen(m, {Plain("first.txt", "1"), Plain("x.txt", "x", "C:\\blocked\\sub\\"),
                                       Plain("later.txt", "2")});
      b.Program("prog.exe", "%inst%", 0);
      return m.WriteSetup(b.Write().bytes);
    },
    [](Machine&, Expected& e) {
      e.box = Box{"C:\\blocked\\sub contains an invalid path.", "setup", {}};
      e.tree = {"App.exe", "first.txt"};
      e.files = {{"C:\\blocked", "a file, not a directory"}};
    }, nullptr});

  // A stream that fails to decode, in a plain file written over an old one
  // and in a shared file replacing a copy without version information:
  // one box naming the setup, the old bytes kept, no temporary file left,
  // nothing after it installed, no count raised, no "_Del.log", no program.
  for (bool shared : {false, true}) {
    t.push_back({shared ? "DamagedStreamKeepsTheOldSharedFile" : "DamagedStreamKeepsTheOldPlainFile", both, {},
      [shared](Machine& m) {
        const std::string dir = shared ? m.SystemDir() : "C:\\data\\";
        m.Write(dir + "broken.bin", "old bytes");
        TestFile broken = Plain("broken.bin", "never seen", shared ? "%sysdir%" : "C:\\data\\");
        broken.stream = pack::Bytes{0x00, 0xFF, 0xFF};  // block type 0: the decoder fails
        return m.WriteSetup(AppThen(m, {broken, Plain("later.txt", "2")}).Write().bytes);
      },
      [shared](Machine&, Expected& e) {
        e.box = Box{"{exe} has a bad format.", "setup", {}};
        e.tree = {"App.exe"};
        const std::string path = shared ? "{sys}broken.bin" : "C:\\data\\broken.bin";
        e.files = {{path, "old bytes"}};
        e.counts = {{path, std::nullopt}};
      },
      [shared](Machine& m, const RunResult&, const std::string&) {
        if (!shared) {
          EXPECT_EQ(m.List("C:\\data\\"), std::vector<std::string>{"broken.bin"});
        }
        ExpectNoTemporaryFiles(m, shared ? m.SystemDir() : "C:\\data\\");
      }});
  }

  // Plain files written over old ones, a read-only one among them: the new
  // bytes, times and attributes, through a temporary file beside each
  // (MoveFileExA on the NT family, renames on the 95 family), none left.
  t.push_back({"FilesOverOldOnesAreReplacedWhole", both, {},
    [](Machine& m) {
      m.Write("C:\\data\\a.txt", "old a");
      m.Write("C:\\data\\b.txt", std::string(70000, 'o'));
      TestFile ro("b.txt", "new b", 946684800, 978307200, 0x21);
      ro.destDir = "C:\\data\\";
      return m.WriteSetup(AppThen(m, {Plain("a.txt", "new a", "C:\\data\\"), ro}).Write().bytes);
    },
    [](Machine&, Expected& e) {
      e.files = {{"C:\\data\\a.txt", "new a"}, {"C:\\data\\b.txt", "new b"}};
      e.starts = {"{dir}App.exe /UNS"};
    },
    [](Machine& m, const RunResult&, const std::string&) {
      EXPECT_EQ(m.List("C:\\data\\"), (std::vector<std::string>{"a.txt", "b.txt"}));
      std::optional<FileFacts> b = m.Facts("C:\\data\\b.txt");
      ASSERT_TRUE(b.has_value());
      EXPECT_EQ(b->attributes & ~b->platformBits, 0x21u & ~b->platformBits);
      EXPECT_EQ(b->written, 978307200);
    }});

  // A plain file that cannot be written ends the run with the file error's
  // box naming the file, again without "_Del.log" or programs.
  t.push_back({"PlainFileThatCannotBeWrittenEndsTheRunWithABox", {Family::NT}, {},
    [](Machine& m) {
      m.MakeUnwritable("C:\\locked.txt", "old");
      return m.WriteSetup(AppThen(m, {Plain("locked.txt", "new", "C:\\")}).Write().bytes);
    },
    [](Machine&, Expected& e) {
      e.box = Box{"Access to C:\\locked.txt was denied.", "setup", {}};
      e.tree = {"App.exe"};
    },
    [](Machine& m, const RunResult&, const std::string&) {
      EXPECT_TRUE(m.Intact("C:\\locked.txt", "old"));
    }});

  // Every outcome of the version comparison in the system directory, one
  // file per outcome. NEW.DLL: no installed copy. NOVER.DLL: a copy without
  // version information, counted 3. NEWER.DLL: the installed copy is newer.
  // EQUAL.DLL: the same version in place, never counted. OLDER.DLL: the
  // catalogue is newer, counted 3.
  t.push_back({"SharedFileOutcomes", both, {},
    [](Machine& m) {
      const std::string sys = m.SystemDir();
      m.Write(sys + "NOVER.DLL", m.Sample("noversion32.dll"));
      m.SetSharedDllCount(sys + "NOVER.DLL", 3);
      m.Write(sys + "NEWER.DLL", m.Sample("ver64.dll"));
      m.SetSharedDllCount(sys + "NEWER.DLL", 3);
      m.Write(sys + "EQUAL.DLL", m.Sample("ver32.dll"));
      m.Write(sys + "OLDER.DLL", m.Sample("ver32.dll"));
      m.SetSharedDllCount(sys + "OLDER.DLL", 3);
      CatalogueBuilder b;
      b.File(SharedDll("NEW.DLL", kV1234MS, kV1234LS, m.Sample("ver32.dll")))
          .File(SharedDll("NOVER.DLL", kV1234MS, kV1234LS, m.Sample("ver32.dll")))
          .File(SharedDll("NEWER.DLL", kV1234MS, kV1234LS, m.Sample("ver32.dll")))
          .File(SharedDll("EQUAL.DLL", kV1234MS, kV1234LS, m.Sample("ver64.dll")))
          .File(SharedDll("OLDER.DLL", kV5678MS, kV5678LS, m.Sample("ver64.dll")));
      return m.WriteSetup(b.Write().bytes);
    },
    [](Machine& m, Expected& e) {
      e.files = {{"{sys}NEW.DLL", m.Sample("ver32.dll")}, {"{sys}NOVER.DLL", m.Sample("ver32.dll")},
                 {"{sys}NEWER.DLL", m.Sample("ver64.dll")}, {"{sys}EQUAL.DLL", m.Sample("ver64.dll")},
                 {"{sys}OLDER.DLL", m.Sample("ver64.dll")}};
      e.counts = {{"{sys}NEW.DLL", 1u}, {"{sys}NOVER.DLL", 4u}, {"{sys}NEWER.DLL", 3u},
                  {"{sys}EQUAL.DLL", 2u}, {"{sys}OLDER.DLL", 5u}};
      e.log = {"project:Test project", "source:{setup}", "file:{sys}NEW.DLL", "file:{sys}NOVER.DLL",
               "file:{sys}EQUAL.DLL", "file:{sys}OLDER.DLL", "directory:{dir}"};
      e.pendingRenames = std::vector<std::string>{};
    },
    [](Machine& m, const RunResult&, const std::string&) {
      EXPECT_FALSE(m.Exists(m.WindowsDir() + "WININIT.INI"));
      // The copies replaced in place went through temporary files beside them.
      ExpectNoTemporaryFiles(m, m.SystemDir());
    }});

  // Copies outside the system directory (in the Windows directory): the new
  // file goes into the system directory and the old copy is counted and
  // stays. WINDIR.DLL: the same version, counted 3 before. HELD.DLL: in
  // use, and the catalogue's is newer.
  t.push_back({"CopiesOutsideTheSystemDirectory", both, {},
    [](Machine& m) {
      m.UseDocumentedVersionService();
      m.Write(m.WindowsDir() + "WINDIR.DLL", m.Sample("ver32.dll"));
      m.SetSharedDllCount(m.WindowsDir() + "WINDIR.DLL", 3);
      m.Write(m.WindowsDir() + "HELD.DLL", m.Sample("ver32.dll"));
      CatalogueBuilder b;
      b.File(SharedDll("WINDIR.DLL", kV1234MS, kV1234LS, m.Sample("ver64.dll")))
          .File(SharedDll("HELD.DLL", kV5678MS, kV5678LS, m.Sample("ver64.dll")));
      m.Hold(m.WindowsDir() + "HELD.DLL");
      return m.WriteSetup(b.Write().bytes);
    },
    [](Machine& m, Expected& e) {
      e.files = {{"{sys}WINDIR.DLL", m.Sample("ver64.dll")}, {"{win}WINDIR.DLL", m.Sample("ver32.dll")},
                 {"{sys}HELD.DLL", m.Sample("ver64.dll")}, {"{win}HELD.DLL", m.Sample("ver32.dll")}};
      e.counts = {{"{win}WINDIR.DLL", 4u}, {"{sys}WINDIR.DLL", std::nullopt},
                  {"{win}HELD.DLL", 1u}, {"{sys}HELD.DLL", std::nullopt}};
      e.log = {"project:Test project", "source:{setup}", "file:{sys}WINDIR.DLL",
               "file:{sys}HELD.DLL", "directory:{dir}"};
      e.pendingRenames = std::vector<std::string>{};
    }, nullptr});

  // With no installed copy the service reports no current directory; a
  // newer file of the same name in the root of the drive is not taken for one.
  t.push_back({"FileInTheDriveRootIsNotAnInstalledCopy", {Family::NT}, {},
    [](Machine& m) {
      m.Write("C:\\SHARED.DLL", m.Sample("ver64.dll"));
      CatalogueBuilder b;
      b.File(SharedDll("SHARED.DLL", kV1234MS, kV1234LS, m.Sample("ver32.dll")));
      return m.WriteSetup(b.Write().bytes);
    },
    [](Machine& m, Expected& e) {
      e.files = {{"{sys}SHARED.DLL", m.Sample("ver32.dll")}, {"C:\\SHARED.DLL", m.Sample("ver64.dll")}};
      e.counts = {{"{sys}SHARED.DLL", 1u}, {"\\SHARED.DLL", std::nullopt},
                  {"C:\\SHARED.DLL", std::nullopt}};
    }, nullptr});

  // The installed copy is in use: the new file from the setup's "win32\"
  // folder is copied beside it as SHARED.tmp, counted once, and renamed
  // over it at the next restart: a delayed move on NT, a "[rename]" line
  // added to WININIT.INI on the 95 family (its other sections stay byte
  // for byte).
  t.push_back({"CopyInUseIsReplacedAtTheNextRestart", both, {},
    [](Machine& m) {
      m.UseDocumentedVersionService();
      return ArrangeCopyInUse(m, false);
    },
    [](Machine& m, Expected& e) {
      e.files = {{"{sys}SHARED.DLL", m.Sample("ver32.dll")}, {"{sys}SHARED.tmp", m.Sample("ver64.dll")}};
      e.counts = {{"{sys}SHARED.DLL", 1u}};
      e.log = {"project:Test project", "source:{setup}", "file:{sys}SHARED.tmp",
               "file:{sys}SHARED.DLL", "directory:{dir}"};
      if (m.family() == Family::NT) {
        e.pendingRenames = std::vector<std::string>{"\\??\\{sys}SHARED.tmp", "!\\??\\{sys}SHARED.DLL"};
        e.files.push_back({"{win}WININIT.INI", kOldIni});
      } else {
        e.pendingRenames = std::vector<std::string>{};
      }
    },
    [](Machine& m, const RunResult&, const std::string&) {
      const std::string sys = m.SystemDir() + "SHARED.DLL", tmp = m.SystemDir() + "SHARED.tmp";
      if (m.family() == Family::Win95) {
        // "[rename]", then installed path = temporary path; short names are
        // the platform's to choose, both must name this run's files.
        std::string ini = m.Read(m.WindowsDir() + "WININIT.INI");
        const std::string head = std::string(kOldIni) + "[rename]\r\n";
        ASSERT_EQ(ini.compare(0, head.size(), head), 0) << ini;
        std::string line = ini.substr(head.size());
        ASSERT_GE(line.size(), 2u);
        EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
        line.resize(line.size() - 2);
        size_t eq = line.find('=');
        ASSERT_NE(eq, std::string::npos) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        EXPECT_TRUE(m.SameFile(line.substr(0, eq), sys)) << line;
        EXPECT_TRUE(m.SameFile(line.substr(eq + 1), tmp)) << line;
      }
      m.Release();
      m.Restart();
      EXPECT_TRUE(SameBytes(m.Read(sys), m.Sample("ver64.dll")));
      EXPECT_FALSE(m.Exists(tmp));
      EXPECT_TRUE(m.PendingRenames().empty());
    }});

  // Fonts: a TrueType file registered under its full name, a damaged one
  // installed without a name, one whose file cannot be written skipped
  // without ending the run. Fonts get "file:" lines, never "path:" lines.
  t.push_back({"FontsInstallAndRegister", both, {},
    [](Machine& m) {
      std::string dejavu = m.Sample(kDejaVu);
      m.MakeUnwritable(m.FontsDir() + "Locked.ttf", "old");
      CatalogueBuilder b;
      b.File(Font("DejaVuSans.ttf", dejavu))
          .File(Font("Broken.ttf", dejavu.substr(0, 300)))  // cut inside its table directory
          .File(Font("Locked.ttf", dejavu))
          .File(Font("after.txt", "still installed", "%inst%"));
      return m.WriteSetup(b.Write().bytes);
    },
    [](Machine& m, Expected& e) {
      e.files = {{"{fonts}DejaVuSans.ttf", m.Sample(kDejaVu)},
                 {"{fonts}Broken.ttf", m.Sample(kDejaVu).substr(0, 300)}};
      e.log = {"project:Test project", "source:{setup}", "file:{fonts}DejaVuSans.ttf",
               "file:{fonts}Broken.ttf", "file:{dir}after.txt",
               "path:D:\\fonts\\after.txt\t{dir}after.txt", "directory:{dir}"};
    },
    [](Machine& m, const RunResult&, const std::string&) {
      EXPECT_TRUE(m.Intact(m.FontsDir() + "Locked.ttf", "old"));
      // The value named by the Macintosh full name holds the file name
      // alone; neither the damaged font nor the locked one is registered.
      std::map<std::string, RegValue> values = m.FontValues();
      EXPECT_EQ(values["DejaVu Sans (TrueType)"], (RegValue{"REG_SZ", "DejaVuSans.ttf"}));
      for (const auto& [name, value] : values) {
        EXPECT_NE(value.data, "Broken.ttf") << name;
        EXPECT_NE(value.data, "Locked.ttf") << name;
      }
    }});

  // Wine's own version-install service does not report a copy in use: the
  // stub counts the installed copy, its extraction over the held file fails
  // and ends that item only. The run goes on to its log and its main
  // program; nothing is scheduled. (The host service reports it.)
  t.push_back({"CopyInUseUnreportedByTheServiceIsSkipped", {Family::NT}, {"wine"},
    [](Machine& m) { return ArrangeCopyInUse(m, true); },
    [](Machine& m, Expected& e) {
      e.files = {{"{sys}SHARED.DLL", m.Sample("ver32.dll")}};
      e.counts = {{"{sys}SHARED.DLL", 1u}};
      e.log = {"project:Test project", "source:{setup}", "directory:{dir}"};
      e.starts = {"{win}run.exe /UNS"};
      e.pendingRenames = std::vector<std::string>{};
    },
    [](Machine& m, const RunResult&, const std::string&) {
      EXPECT_FALSE(m.Exists(m.SystemDir() + "SHARED.tmp"));
      m.Release();
    }});

  // Libraries named after the system libraries that the stub calls, and
  // after the C runtime that it does not use, lie beside the setup,
  // preferred as Windows prefers a file in the program's folder to a library
  // that is not a known one: none is loaded (none left its mark), and the
  // run installs as usual through the version service, the registry and the
  // shell.
  t.push_back({"LibrariesBesideTheSetupAreNotLoaded", {Family::NT}, {"wine"},
    [](Machine& m) {
      m.PlantLibraries(Machine::SetupDir(), {"VERSION.dll", "ADVAPI32.dll", "USER32.dll",
                                             "GDI32.dll", "SHELL32.dll", "OLE32.dll", "msvcrt.dll"});
      CatalogueBuilder b;
      b.File(SharedDll("NEW.DLL", kV1234MS, kV1234LS, m.Sample("ver32.dll")))
          .File(Font("DejaVuSans.ttf", m.Sample(kDejaVu)));
      return m.WriteSetup(b.Write().bytes);
    },
    [](Machine& m, Expected& e) {
      e.files = {{"{sys}NEW.DLL", m.Sample("ver32.dll")},
                 {"{fonts}DejaVuSans.ttf", m.Sample(kDejaVu)}};
      e.counts = {{"{sys}NEW.DLL", 1u}};
      e.log = {"project:Test project", "source:{setup}", "file:{sys}NEW.DLL",
               "file:{fonts}DejaVuSans.ttf", "directory:{dir}"};
    },
    [](Machine& m, const RunResult&, const std::string&) {
      EXPECT_EQ(m.List(Machine::SetupDir()),
                (std::vector<std::string>{"ADVAPI32.dll", "GDI32.dll", "OLE32.dll", "SHELL32.dll",
                                          "USER32.dll", "VERSION.dll", "msvcrt.dll", "setup.exe"}));
      EXPECT_EQ(m.FontValues()["DejaVu Sans (TrueType)"], (RegValue{"REG_SZ", "DejaVuSans.ttf"}));
    }});

  // A system library without the functions the stub takes from it: one box
  // naming the first one missing, before anything is done.
  t.push_back({"MissingSystemFunctionShowsTheFileBox", {Family::NT}, {"wine"},
    [](Machine& m) {
      m.PlantLibraries(m.SystemDir(), {"VERSION.dll"});
      CatalogueBuilder b;
      b.File(Plain("a.txt", "a", "%inst%"));
      return m.WriteSetup(b.Write().bytes);
    },
    [](Machine&, Expected& e) {
      e.box = Box{"VerFindFileA in {sys}VERSION.dll was not found.", "setup", kBoxStyle};
      e.installDir = false;
    }, nullptr});
  AddCodePageScenarios(t);
  return t;
}

class ScenarioTest : public ::testing::Test {
 public:
  ScenarioTest(const Scenario& s, Family f, std::function<std::unique_ptr<Machine>(Family)> make)
      : scenario_(s), family_(f), make_(std::move(make)) {}
  void TestBody() override {
    std::unique_ptr<Machine> m = make_(family_);
    RunScenario(*m, scenario_);
  }

 private:
  const Scenario& scenario_;
  Family family_;
  std::function<std::unique_ptr<Machine>(Family)> make_;
};

}  // namespace

const std::vector<Scenario>& Scenarios() {
  static const std::vector<Scenario> table = MakeTable();
  return table;
}

std::string CrLf(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

void RunScenario(Machine& m, const Scenario& s) {
  if (!m.UseCodePage(s.codePage)) GTEST_SKIP() << "this runner cannot give the machine code page " << s.codePage;
  std::string exe = s.arrange(m);
  std::vector<std::string> tempBefore = m.List(m.TempDir());
  long long started = (long long)time(nullptr);
  RunResult r = m.Run(exe);
  r.started = started;
  Expected e;
  s.expect(m, e);

  std::string dir;
  std::vector<std::string> added;
  for (const auto& name : m.List(m.TempDir()))
    if (std::find(tempBefore.begin(), tempBefore.end(), name) == tempBefore.end())
      added.push_back(name);
  if (e.installDir) {
    ASSERT_EQ(added.size(), 1u) << "exactly one new entry in the temporary folder\n" << r.diagnostics;
    EXPECT_TRUE(sfx::test::IsInstallDirName(added[0])) << added[0];
    dir = m.TempDir() + added[0] + "\\";
  } else {
    EXPECT_TRUE(added.empty()) << "nothing is left in the temporary folder";
  }
  auto X = [&](const std::string& s) { return Expand(m, s, dir, exe); };
  auto Xs = [&](const std::vector<std::string>& v) {
    std::vector<std::string> out;
    for (const auto& s : v) out.push_back(X(s));
    return out;
  };

  EXPECT_EQ(r.exitCode, e.exitCode);
  if (e.box) {
    ASSERT_EQ(r.boxes.size(), 1u) << r.diagnostics;
    EXPECT_EQ(r.boxes[0].text, X(e.box->text));
    EXPECT_EQ(r.boxes[0].title, e.box->title);
    EXPECT_EQ(r.boxes[0].style.value_or(kBoxStyle), kBoxStyle);
  } else {
    EXPECT_TRUE(r.boxes.empty()) << r.boxes[0].text;
  }
  if (!e.tree.empty() && !dir.empty()) {
    EXPECT_EQ(m.Tree(dir), e.tree);
  }
  if (e.log) {
    EXPECT_EQ(m.Read(dir + "_Del.log"), CrLf(Xs(*e.log)));
  }
  for (const auto& [path, bytes] : e.files)
    EXPECT_TRUE(SameBytes(m.Read(X(path)), bytes)) << X(path);
  for (const auto& [path, count] : e.counts) EXPECT_EQ(m.SharedDllCount(X(path)), count) << X(path);
  if (e.pendingRenames) {
    EXPECT_EQ(m.PendingRenames(), Xs(*e.pendingRenames));
  }

  // The programs that started, in order, and (where the runner sees them)
  // the command lines handed to the platform: unquoted, shown normally. (A
  // main program that does not exist is handed over all the same.)
  std::vector<std::string> expectedStarts = Xs(e.starts);
  std::vector<std::string> starts;
  for (const Start& st : m.Starts()) starts.push_back(st.commandLine);
  EXPECT_EQ(starts, expectedStarts);
  if (r.execs && !expectedStarts.empty()) {
    std::vector<std::string> handed;
    for (const auto& [line, show] : *r.execs) {
      handed.push_back(line);
      EXPECT_EQ(show, 1u) << line;  // SW_SHOWNORMAL
    }
    EXPECT_EQ(handed, expectedStarts);
  }
  if (s.check) s.check(m, r, dir);
  if (::testing::Test::HasFailure()) std::cerr << r.diagnostics.substr(0, 20000) << "\n";
}

void RegisterScenarios(const std::string& runner, const std::string& suite,
                       std::function<std::unique_ptr<Machine>(Family)> makeMachine) {
  for (const Scenario& s : Scenarios()) {
    if (!s.runners.empty() &&
        std::find(s.runners.begin(), s.runners.end(), runner) == s.runners.end())
      continue;
    for (Family f : s.families) {
      std::string name = s.name + (s.families.size() > 1 ? (f == Family::NT ? "/NT" : "/95") : "");
      ::testing::RegisterTest(suite.c_str(), name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                              [&s, f, makeMachine]() -> ::testing::Test* {
                                return new ScenarioTest(s, f, makeMachine);
                              });
    }
  }
}

}  // namespace sfx::scenario
