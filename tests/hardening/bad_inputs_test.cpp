// Whole runs of the setup stub on bad inputs and in a hostile machine: what
// each gives (the box's message, the exit status) and what it leaves on
// disk. docs/bad-inputs.md lists these cases with the tests that back them.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "e2e/e2e_support.h"
#include "platform/host/pe_version.h"
#include "platform/host/prefix.h"
#include "platform/ver_pe_builder.h"

namespace fs = std::filesystem;

namespace sfx::e2e {
namespace {

std::string Noise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = (char)rng();
  return s;
}

// Three files, so that archive 1 holds a second entry tagged with the class
// index of the first.
CatalogueBuilder ThreeFiles() {
  CatalogueBuilder b;
  b.MainProgram("App.exe");
  b.File(Plain("App.exe", "#!/bin/sh\n"));
  b.File(Plain("big.bin", Noise(40000, 1)));
  b.File(Plain("readme.txt", "read me"));
  return b;
}

// Payload offset of the second file-table entry's tag.
size_t SecondTag(const pack::Payload& p, const CatalogueBuilder& b) {
  size_t name0 = b.catalogue().files[0].name.size();
  // count, then FFFF schema length "CCompFileInfo", then entry 0's members
  return p.layout.fileTableOffset + 2 + 6 + 13 + (4 + 4 + 1 + 1 + name0 + 4 + 4 + 4 + 4);
}

void Put16(pack::Bytes& b, size_t at, uint16_t v) {
  b[at] = (uint8_t)v;
  b[at + 1] = (uint8_t)(v >> 8);
}

using Damage = std::function<void(pack::Payload&, const CatalogueBuilder&)>;

struct PayloadCase {
  std::string what;
  std::function<void(CatalogueBuilder&)> describe;  // changes made through the writer
  Damage damage;                                    // then bytes changed
  const char* message;  // %s: the setup executable's Windows path
};

const char kPastEnd[] = "An attempt was made to access %s past its end.";
const char kUnnamedPastEnd[] = "An attempt was made to access an unnamed file past its end.";
const char kBadFormat[] = "%s has a bad format.";
const char kUnexpected[] = "%s contained an unexpected object.";

// The payload cut to the size `at` gives for its layout.
Damage CutTo(size_t (*at)(const pack::PayloadLayout&)) {
  return [at](pack::Payload& p, const CatalogueBuilder&) { p.bytes.resize(at(p.layout)); };
}
// The second file-table entry's tag set to `tag`.
Damage SecondTagIs(uint16_t tag) {
  return [tag](pack::Payload& p, const CatalogueBuilder& b) { Put16(p.bytes, SecondTag(p, b), tag); };
}

std::vector<PayloadCase> PayloadCases() {
  using L = const pack::PayloadLayout&;
  std::vector<PayloadCase> cases = {
      {"payload ends inside its data length L", nullptr, CutTo([](L) -> size_t { return 2; }), kPastEnd},
      {"payload ends inside the stream area", nullptr, CutTo([](L l) -> size_t { return 4 + l.dataLength / 2; }),
       kPastEnd},
      {"payload ends inside the file-table length A", nullptr,
       CutTo([](L l) -> size_t { return 4 + l.dataLength + 2; }), kPastEnd},
      {"payload ends inside archive 1", nullptr,
       CutTo([](L l) -> size_t { return l.fileTableOffset + l.fileTableLength / 2; }), kUnnamedPastEnd},
      {"payload ends right after archive 1", nullptr, CutTo([](L l) -> size_t { return l.projectOffset; }),
       kUnnamedPastEnd},
      {"payload ends inside archive 2", nullptr,
       CutTo([](L l) -> size_t { return l.projectOffset + l.projectLength / 2; }), kUnnamedPastEnd},
      {"file-table count larger than the archive can hold", nullptr,
       [](pack::Payload& p, const CatalogueBuilder&) { Put16(p.bytes, p.layout.fileTableOffset, 0xFFFE); },
       kUnnamedPastEnd},
      {"badSchema: the entry class with schema 1", nullptr,
       [](pack::Payload& p, const CatalogueBuilder&) { Put16(p.bytes, p.layout.fileTableOffset + 4, 1); },
       "%s contains an incorrect schema."},
      {"badClass: class name of 64 bytes", nullptr,
       [](pack::Payload& p, const CatalogueBuilder&) { Put16(p.bytes, p.layout.fileTableOffset + 6, 64); },
       kUnexpected},
      {"badClass: class name not registered", nullptr,
       [](pack::Payload& p, const CatalogueBuilder&) { p.bytes[p.layout.fileTableOffset + 8] = 'X'; }, kUnexpected},
      {"badIndex: class index 0", nullptr,
       [](pack::Payload& p, const CatalogueBuilder& b) {
         ASSERT_EQ(p.bytes[SecondTag(p, b) + 1], 0x80);
         Put16(p.bytes, SecondTag(p, b), 0x8000);
       },
       kBadFormat},
      {"badIndex: object index not yet given", nullptr, SecondTagIs(9), kBadFormat},
      {"badClass: an entry that repeats an earlier one", nullptr, SecondTagIs(2), kUnexpected},
      {"badClass: an entry that is a class index, not an object", nullptr, SecondTagIs(1), kBadFormat},
      {"component index out of range", [](CatalogueBuilder& b) { b.Components({{0, 1, 2, 3}}); }, nullptr, kBadFormat},
      {"platform index out of range", [](CatalogueBuilder& b) { b.Platforms({{}, {0, 70000}, {}}); }, nullptr,
       kBadFormat},
      {"no component list 0", [](CatalogueBuilder& b) { b.Components({}); }, nullptr, kBadFormat},
      {"no platform list 1", [](CatalogueBuilder& b) { b.Platforms({{}}); }, nullptr, kBadFormat},
      {"component 0 names an item whose file-table entry is missing",
       [](CatalogueBuilder& b) { b.catalogue().files.pop_back(); }, nullptr, kBadFormat},
      {"first entry's name leaving the folder", [](CatalogueBuilder& b) { b.catalogue().files[0].name = "..\\x.dll"; },
       nullptr, kUnexpected},
      {"component index past the items", [](CatalogueBuilder& b) { b.catalogue().project.components[0].push_back(9); },
       nullptr, kBadFormat},
      {"component index one past the last item", [](CatalogueBuilder& b) { b.catalogue().project.items.pop_back(); },
       nullptr, kBadFormat},
      {"index past the items in a later component",
       [](CatalogueBuilder& b) { b.Components({{0, 1, 2}, {}, {0xFFFFFFFF}}); }, nullptr, kBadFormat},
      {"index past the items in platform list 2", [](CatalogueBuilder& b) { b.Platforms({{}, {}, {7}}); }, nullptr,
       kBadFormat},
      {"item name with a backslash",
       [](CatalogueBuilder& b) { b.catalogue().project.items[2].name = "sub\\readme.txt"; }, nullptr, kUnexpected},
  };
  // A second entry's name that is no plain file name.
  for (const char* name : {"..", "..\\..\\WINDOWS\\evil.dll", "../evil", "C:evil", "", "."})
    cases.push_back({std::string("entry name \"") + name + "\"",
                     [name](CatalogueBuilder& b) { b.catalogue().files[1].name = name; }, nullptr, kUnexpected});
  return cases;
}

// Every damaged or unusable catalogue: one box, exit status 0 (the
// framework ends the run as for any box), no install directory, nothing
// installed, no program started.
TEST(BadPayload, EachEndsWithOneBoxAndLeavesNothing) {
  for (const PayloadCase& c : PayloadCases()) {
    SCOPED_TRACE(c.what);
    ScopedPrefix prefix;
    CatalogueBuilder b = ThreeFiles();
    if (c.describe) c.describe(b);
    pack::Payload payload = b.Write();
    if (c.damage) c.damage(payload, b);
    ExpectRunEndsWithBox(prefix.root(), payload, c.message);
    EXPECT_FALSE(ExistsWin("C:\\WINDOWS\\evil.dll"));
  }
}

class HostileMachine : public ::testing::Test {
 protected:
  ScopedPrefix prefix_;
  TempDir setupDir_;
  std::string runs_ = setupDir_ / "runs.txt";

  // A setup whose main program records its start, with `middle` between a
  // first and a last plain file.
  CatalogueBuilder Around(const TestFile& middle) {
    CatalogueBuilder b;
    b.MainProgram("App.exe").File(Plain("App.exe", MarkerScript("App", runs_)));
    b.File(Plain("first.txt", "1")).File(middle).File(Plain("last.txt", "2"));
    return b;
  }
  StubResult Run(const CatalogueBuilder& b) {
    setup_ = WriteSetup(b, setupDir_.path());
    return RunStub(setup_, prefix_.root());
  }
  std::string setup_;  // the last setup run
  // The run ended at `middle`: what came before stays, nothing after it,
  // no "_Del.log", no program.
  void ExpectEndedAtTheMiddleFile() {
    std::vector<std::string> dirs = InstallDirs();
    ASSERT_EQ(dirs.size(), 1u);
    EXPECT_EQ(ListTree(Host(dirs[0])), (std::vector<std::string>{"App.exe", "first.txt"}));
    EXPECT_TRUE(RecordedStarts(runs_).empty());
  }
};

// Mounts a 64 KiB tmpfs, a real file system that fills up, on a folder of
// the emulated machine for the life of the object. Needs the right to mount
// (root, as in CI).
struct SmallFileSystem {
  std::string at;
  bool mounted = false;
  explicit SmallFileSystem(const std::string& windowsDir) : at(Host(windowsDir)) {
    fs::create_directories(at);
    mounted = mount("tmpfs", at.c_str(), "tmpfs", 0, "size=64k") == 0;
  }
  ~SmallFileSystem() {
    if (mounted) umount2(at.c_str(), MNT_DETACH);
  }
};

// The disk fills up while a file is written over an existing one: the old
// bytes stay, no temporary file is left. A plain file ends the run with the
// disk-full box naming the file; a shared file ends only its own item, as
// any failure of a shared file does, and the run goes on.
TEST_F(HostileMachine, FullFileSystemKeepsTheOldFile) {
  const std::string big = Noise(200000, 2), old = "the old bytes";
  const std::string sys = SystemDir(Family::NT);
  struct Case {
    const char* what;
    std::string dir;  // where the file system is mounted
    TestFile file;
    std::string message;  // empty: the run goes on
  } cases[] = {
      {"plain file", "C:\\small", Plain("big.bin", big, "C:\\small\\"),
       "setup: The disk is full while accessing C:\\small\\big.bin.\n"},
      {"shared file", sys, Plain("big.bin", big, "%sysdir%"), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedPrefix prefix;
    TempDir setupDir;
    runs_ = setupDir / "runs.txt";
    SmallFileSystem small(c.dir);
    if (!small.mounted) GTEST_SKIP() << "cannot mount a tmpfs here (" << strerror(errno) << ")";
    WriteWin(c.dir + "\\big.bin", old);
    CatalogueBuilder b = Around(c.file);
    StubResult r = RunStub(WriteSetup(b, setupDir.path()), prefix.root());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.stderrText, c.message);
    EXPECT_EQ(ReadWin(c.dir + "\\big.bin"), old);
    EXPECT_EQ(ListTree(small.at), std::vector<std::string>{"big.bin"});
    if (!c.message.empty()) {
      ExpectEndedAtTheMiddleFile();
    } else {
      std::vector<std::string> dirs = InstallDirs();
      ASSERT_EQ(dirs.size(), 1u);
      EXPECT_EQ(ListTree(Host(dirs[0])), (std::vector<std::string>{"App.exe", "_Del.log", "first.txt", "last.txt"}));
      EXPECT_EQ(SharedDllCount(c.dir + "\\big.bin"), std::nullopt);
      EXPECT_EQ(RecordedStarts(runs_).size(), 1u);
    }
  }
}

// A stream that fails to decode ends the run with the damaged-payload box
// naming the setup for a shared file with no copy before and for a font
// (the scenario table has plain and shared files over old ones): the file
// does not appear, no temporary file is left, nothing later is installed,
// no "_Del.log", no program.
TEST_F(HostileMachine, DamagedStreamOfANewSharedFileOrFontEndsTheRun) {
  struct Case {
    const char* what;
    std::string dest;  // the item's destination
    std::string dir;   // the folder it lands in
  } cases[] = {{"shared", "%sysdir%", SystemDir(Family::NT)}, {"font", "%font%", "C:\\WINDOWS\\FONTS"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedPrefix prefix;
    TempDir setupDir;
    runs_ = setupDir / "runs.txt";
    fs::create_directories(Host(c.dir));
    std::vector<std::string> before = ListTree(Host(c.dir));
    TestFile broken = Plain("broken.bin", "never seen", c.dest);
    broken.stream = pack::Bytes{0x00, 0xFF, 0xFF};  // block type 0: result 2
    std::string exe = WriteSetup(Around(broken), setupDir.path());
    StubResult r = RunStub(exe, prefix.root());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.stderrText, "setup: " + sfx::host::MapToWindows(exe) + " has a bad format.\n");
    EXPECT_EQ(ListTree(Host(c.dir)), before);
    EXPECT_EQ(SharedDllCount(c.dir + "\\broken.bin"), std::nullopt);
    ExpectEndedAtTheMiddleFile();
  }
}

// Another program holds the destination open without sharing: the open
// fails with the sharing-violation box and the file keeps its bytes.
TEST_F(HostileMachine, DestinationInUse) {
  fs::create_directories(Host("C:\\busy"));
  WriteWin("C:\\busy\\held.txt", "old");
  HANDLE h = CreateFileA("C:\\busy\\held.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  StubResult r = Run(Around(Plain("held.txt", "new", "C:\\busy\\")));
  CloseHandle(h);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.stderrText, "setup: A sharing violation occurred while accessing C:\\busy\\held.txt.\n");
  EXPECT_EQ(ReadWin("C:\\busy\\held.txt"), "old");
  ExpectEndedAtTheMiddleFile();
}

// The registry database is not a database: registry calls fail, which the
// stub does not report; every file is installed, no count or font value is
// written, the run finishes, and the damaged file is left as it was.
TEST_F(HostileMachine, CorruptRegistryDatabase) {
  std::string db = prefix_.root() + "/registry.db";
  ASSERT_TRUE(fs::exists(db)) << "the prefix has its registry";
  const std::string garbage = "this is not a registry database" + std::string(4000, 'x');
  sfx::test::WriteFile(db, garbage);
  TestFile shared = Plain("SHARED.DLL", TestDll("ver32.dll"), "%sysdir%");
  TestFile font = Plain("DejaVuSans.ttf", TestDll("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"), "%font%");
  CatalogueBuilder b = Around(shared);
  b.File(font);
  StubResult r = Run(b);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.stderrText, "");
  EXPECT_EQ(ReadWin(SystemDir(Family::NT) + "\\SHARED.DLL"), TestDll("ver32.dll"));
  EXPECT_TRUE(ExistsWin("C:\\WINDOWS\\FONTS\\DejaVuSans.ttf"));
  std::vector<std::string> dirs = InstallDirs();
  ASSERT_EQ(dirs.size(), 1u);
  EXPECT_TRUE(ExistsWin(dirs[0] + "_Del.log"));
  EXPECT_EQ(RecordedStarts(runs_).size(), 1u);
  EXPECT_EQ(sfx::test::ReadFile(db), garbage);
}

// Another process holds the registry's write lock: the stub waits for it
// and then raises the count; nothing is lost.
TEST_F(HostileMachine, LockedRegistryIsWaitedFor) {
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "held", 0, REG_SZ, (const BYTE*)"x", 2), ERROR_SUCCESS);  // takes the lock
  CatalogueBuilder b = Around(Plain("SHARED.DLL", TestDll("ver32.dll"), "%sysdir%"));
  auto start = std::chrono::steady_clock::now();
  StubProcess run(WriteSetup(b, setupDir_.path()), prefix_.root());
  // The lock is held for a set time (not a guess at when something ends):
  // the run must take at least as long.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  RegCloseKey(key);
  StubResult r = run.Wait();
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.stderrText, "");
  EXPECT_GE(waited, std::chrono::milliseconds(1500));
  std::string installed = SystemDir(Family::NT) + "\\SHARED.DLL";
  EXPECT_EQ(SharedDllCount(installed), std::optional<uint32_t>(1u));
  EXPECT_EQ(RecordedStarts(runs_).size(), 1u);
}

// An installed copy whose resource directory loops has no version for the
// stub: the catalogue's copy replaces it and the count goes up by one.
TEST_F(HostileMachine, InstalledCopyWithLoopingResources) {
  sfx::test::BuiltPe pe = sfx::test::BuildPe(false, 0x00090000, 0);
  pe.PutRes32(pe.typeDir + 20, 0x80000000u | (uint32_t)pe.typeDir);  // name directory is itself
  std::string installed = SystemDir(Family::NT) + "\\SHARED.DLL";
  WriteWin(installed, std::string(pe.bytes.begin(), pe.bytes.end()));
  SetSharedDllCount(installed, 3);
  std::string dll = TestDll("ver32.dll");
  VS_FIXEDFILEINFO info;
  ASSERT_TRUE(sfx::host::ReadFixedFileInfo((const uint8_t*)dll.data(), dll.size(), info));
  TestFile shared = Plain("SHARED.DLL", dll, "%sysdir%");
  shared.versionMS = info.dwFileVersionMS;
  shared.versionLS = info.dwFileVersionLS;
  StubResult r = Run(Around(shared));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.stderrText, "");
  EXPECT_EQ(ReadWin(installed), dll);
  EXPECT_EQ(SharedDllCount(installed), std::optional<uint32_t>(4u));
}

}  // namespace
}  // namespace sfx::e2e
