// sfx pack: from a manifest to a setup that the stub installs byte for
// byte, that extract unpacks to the same files, and that verify accepts;
// bad manifests and stubs are refused with one line and no output.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "pack/setup_writer.h"
#include "tool/tool_runner.h"

namespace sfx::tooltest {
namespace {

std::string Random(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) {
    seed = seed * 1664525u + 1013904223u;
    c = (char)(seed >> 24);
  }
  return s;
}

// A project folder with its input files.
struct Project {
  TempDir dir;
  std::string manifest = dir / "project.json";
  std::string out = dir / "setup";

  Project() {
    fs::create_directories(dir / "in");
    WriteFile(dir / "in/a.txt", "alpha\nbeta\n");
    WriteFile(dir / "in/b.bin", Random(200000, 7) + std::string(100000, 'z'));
    WriteFile(dir / "in/c.dll", sfx::test::TestDll("ver32.dll"));
    WriteFile(dir / "in/d.txt", "in a sub folder");
    WriteFile(dir / "in/e.txt", "read only");
    chmod((dir / "in/e.txt").c_str(), 0444);
    WriteFile(dir / "in/main.sh", "#!/bin/sh\nprintf '%s' \"$*\" > \"$(dirname \"$0\")/started\"\n");
  }
  void Write(const json& j) { WriteFile(manifest, j.dump()); }
  RunResult Pack(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"pack", manifest, "-o", out};
    args.insert(args.end(), extra.begin(), extra.end());
    return Sfx(args);
  }
};

json FullManifest() {
  return {{"project", "Demo"},
          {"mainProgram", "main.sh"},
          {"files",
           {{{"source", "in/main.sh"}},
            {{"source", "in/a.txt"}},
            {{"source", "in/b.bin"}, {"version", "9.8.7.6"}},
            {{"source", "in/c.dll"}, {"dest", "%sysdir%"}},
            {{"source", "in/d.txt"}, {"dest", "%inst%\\docs\\"}, {"mtime", 1234567890}},
            {{"source", "in/e.txt"}}}}};
}

std::string InstallDir(const std::string& prefix) {
  for (const auto& e : fs::directory_iterator(prefix + "/drive_c/TEMP"))
    if (e.is_directory() && e.path().filename().string().rfind("cc", 0) == 0) return e.path().string();
  return std::string();
}

bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 500 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return fs::exists(path);
}

TEST(Pack, StubInstallsAndExtractGivesTheSameFiles) {
  Project p;
  p.Write(FullManifest());
  RunResult packed = p.Pack({"--level", "9"});
  ASSERT_EQ(packed.status, 0) << packed.err;
  RunResult verified = Sfx({"verify", p.out});
  EXPECT_EQ(verified.status, 0) << verified.err;

  TempDir prefix;
  RunResult run = tooltest::Run(p.out, {}, {"SFX_PREFIX=" + prefix.path(), "SFX_WINVER=nt"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::string inst = InstallDir(prefix.path());
  ASSERT_FALSE(inst.empty());
  std::string sys = prefix.path() + "/drive_c/WINDOWS/SYSTEM32";

  TempDir out;
  RunResult extracted = Sfx({"extract", p.out, "-d", out.path()});
  ASSERT_EQ(extracted.status, 0) << extracted.err;

  struct Expect {
    const char* source;
    std::string installed;
    const char* extractedAt;
  } files[] = {
      {"in/main.sh", inst + "/main.sh", "inst/main.sh"},      {"in/a.txt", inst + "/a.txt", "inst/a.txt"},
      {"in/b.bin", inst + "/b.bin", "inst/b.bin"},            {"in/c.dll", sys + "/c.dll", "sysdir/c.dll"},
      {"in/d.txt", inst + "/docs/d.txt", "inst/docs/d.txt"}, {"in/e.txt", inst + "/e.txt", "inst/e.txt"},
  };
  for (const Expect& f : files) {
    SCOPED_TRACE(f.source);
    std::string source = ReadFile(p.dir / f.source);
    EXPECT_EQ(ReadFile(f.installed), source);
    EXPECT_EQ(ReadFile(out / f.extractedAt), source);
    struct stat src, ins, ext;
    ASSERT_EQ(stat((p.dir / f.source).c_str(), &src), 0);
    ASSERT_EQ(stat(f.installed.c_str(), &ins), 0);
    ASSERT_EQ(stat((out / f.extractedAt).c_str(), &ext), 0);
    time_t expected = std::string(f.source) == "in/d.txt" ? 1234567890 : src.st_mtime;
    EXPECT_EQ(ins.st_mtime, expected);
    EXPECT_EQ(ext.st_mtime, expected);
    EXPECT_EQ(ext.st_mode & 0222, src.st_mode & 0222 ? ext.st_mode & 0222 : 0u);
  }
  struct stat ro;
  ASSERT_EQ(stat((inst + "/e.txt").c_str(), &ro), 0);
  EXPECT_EQ(ro.st_mode & 0222, 0u);
  ASSERT_TRUE(WaitForFile(inst + "/started"));
  EXPECT_EQ(ReadFile(inst + "/started"), "/UNS");

  // Versions: from the DLL's resource, or as the manifest says.
  RunResult dump = Sfx({"dump", p.out, "--json"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  json j = json::parse(dump.out);
  EXPECT_EQ(j["fileTable"][3]["version"], "1.2.3.4");
  EXPECT_EQ(j["project"]["items"][3]["version"], "1.2.3.4");
  EXPECT_EQ(j["fileTable"][2]["version"], "9.8.7.6");
  EXPECT_EQ(j["fileTable"][5]["attribute"], 0x21);
  EXPECT_EQ(j["project"]["mainProgram"], "main.sh");
}

TEST(Pack, ShortManifestGetsUsableDefaults) {
  Project p;
  WriteFile(p.dir / "tiny.json", R"({"mainProgram": "a.txt", "files": [{"source": "in/a.txt"}, {"source": "in/c.dll"}]})");
  RunResult r = Sfx({"pack", p.dir / "tiny.json", "-o", p.out});
  ASSERT_EQ(r.status, 0) << r.err;
  json j = json::parse(Sfx({"dump", p.out, "--json"}).out);
  const json& project = j["project"];
  EXPECT_EQ(project["project"], "tiny");
  EXPECT_EQ(project["mainProgram"], "a.txt");
  EXPECT_EQ(project["components"], json::parse("[[0, 1]]"));
  EXPECT_EQ(project["platforms"], json::parse("[[], [], []]"));
  EXPECT_EQ(project["installDirs"], json::parse(R"(["", "tiny\\", ""])"));
  EXPECT_EQ(project["items"][1]["destDir"], "%inst%");
  EXPECT_EQ(project["items"][1]["size"], 4096);
  EXPECT_EQ(j["fileTable"][0]["attribute"], 0x20);
  struct stat st;
  ASSERT_EQ(stat((p.dir / "in/a.txt").c_str(), &st), 0);
  EXPECT_EQ(j["fileTable"][0]["mtime"], st.st_mtime);
  // Relative to the manifest, whatever folder the project lies in.
  EXPECT_EQ(project["items"][0]["sourcePath"], ".\\in\\a.txt");  // the main program: its full path
  EXPECT_EQ(project["items"][1]["sourcePath"], ".\\in\\");
}

TEST(Pack, DepfileNamesTheManifestEveryPackedFileAndTheStub) {
  Project p;
  WriteFile(p.dir / "in/x y#$.txt", "odd name");
  WriteFile(p.dir / "dep.json", R"({"mainProgram": "a.txt", "files": [{"source": "in/a.txt"}, {"source": "./in/x y#$.txt"}]})");
  RunResult r = Sfx({"pack", p.dir / "dep.json", "-o", p.out, "--depfile", p.dir / "setup.d"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string stub = fs::weakly_canonical(StubPath()).string();
  EXPECT_EQ(ReadFile(p.dir / "setup.d"), p.out + ": \\\n  " + p.dir / "dep.json" + " \\\n  " + p.dir / "in/a.txt" +
                                             " \\\n  " + p.dir / "in/x\\ y\\#$$.txt" + " \\\n  " + stub + "\n");
}

TEST(Pack, DataBinBesideAnUnchangedStub) {
  Project p;
  p.Write(FullManifest());
  RunResult r = p.Pack({"--data-bin"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(p.out), ReadFile(StubPath()));
  ASSERT_TRUE(fs::exists(p.dir / "Data.bin"));
  EXPECT_EQ(Sfx({"verify", p.out}).status, 0);
  EXPECT_EQ(Sfx({"verify", p.dir / "Data.bin"}).status, 0);
}

// Everything in the project folder after a refused pack: the inputs only.
std::vector<std::string> Leftovers(const Project& p) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(p.dir.path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A one-file manifest with the given destination (JSON text, escapes kept).
std::string Dest(const std::string& dest) {
  return R"({"files": [{"source": "in/a.txt", "dest": ")" + dest + R"("}]})";
}

TEST(Pack, BadManifestsAreRefusedWithTheKeyAndNoOutput) {
  struct Case {
    std::string manifest;
    std::string fragment;
  } cases[] = {
      {"{ not json", "manifest is not JSON"},
      {"[1, 2]", "must be an object"},
      {R"({"fils": []})", "files: missing"},
      {R"({"files": [{"source": "in/a.txt"}], "colour": 1})", "colour: unknown key"},
      {R"({"files": []})", "files: empty"},
      {R"({"files": {"source": "in/a.txt"}})", "files: must be a list"},
      {R"({"files": [{"name": "a.txt"}]})", "files[0].source: missing"},
      {R"({"files": [{"source": "in/a.txt", "nmae": "x"}]})", "files[0].nmae: unknown key"},
      {R"({"files": [{"source": "in/a.txt", "name": "a/b"}]})", "files[0].name: \"a/b\" is not a plain file name"},
      {R"({"files": [{"source": "in/a.txt", "name": ".."}]})", "files[0].name"},
      {R"({"files": [{"source": "in/a.txt", "name": "c:x"}]})", "files[0].name"},
      {R"({"files": [{"source": "in/a.txt", "components": [300]}]})", "files[0].components[0]: 300 is out of range"},
      {R"({"files": [{"source": "in/a.txt", "platforms": [-1]}]})", "files[0].platforms[0]: must be a whole number"},
      {R"({"files": [{"source": "in/a.txt", "version": "1.2"}]})", "files[0].version: must look like"},
      {R"({"files": [{"source": "in/a.txt", "attribute": 256}]})", "files[0].attribute: 256 is out of range"},
      {R"({"files": [{"source": "in/a.txt", "readOnly": "yes"}]})", "files[0].readOnly: must be true or false"},
      {R"({"files": [{"source": "in/a.txt", "mtime": 1.5}]})", "files[0].mtime: must be a whole number"},
      {R"({"files": [{"source": "in/missing.txt"}]})", "files[0].source: cannot open"},
      {R"({"files": [{"source": "in", "name": "x"}]})", "files[0].name: not allowed on a folder or pattern source"},
      {R"({"files": [{"source": "in/*.none"}]})", "files[0].source: \"in/*.none\" matches no file"},
      {R"({"files": [{"source": "in/**", "exclude": ["*"]}]})", "matches no file (after the excludes)"},
      {R"({"files": [{"source": "in/a.txt", "exclude": ["*.bak"]}]})", "files[0].exclude: only a folder or pattern"},
      {R"({"files": [{"source": "nowhere/*.txt"}]})", "the folder of pattern \"nowhere/*.txt\" is not a folder"},
      {R"({"files": [{"source": "in/a.txt"}], "mainProgram": "x.exe"})", "mainProgram: \"x.exe\" is none of the files"},
      {R"({"files": [{"source": "in/a.txt"}], "programs": [{"name": "p", "component": "0"}]})",
       "programs[0].component: must be a whole number"},
      {R"({"files": [{"source": "in/a.txt"}], "project": 5})", "project: must be a string"},
      {R"({"files": [{"source": "in/a.txt"}, {"source": "in/b.bin"}]})", "mainProgram: missing: the setup has 2 files"},
      // Destinations and program folders the stub cannot install into
      // (manifest text: JSON escapes; messages: the value itself).
      {Dest(R"(%instal%\\docs\\)"), R"(files[0].dest: "%instal%\docs\" starts with %instal%, which is not a path variable)"},
      {Dest("%instal%"), R"(files[0].dest: "%instal%" starts with %instal%)"},
      {Dest(R"(%INST%\\)"), R"(files[0].dest: "%INST%\" starts with %INST%, which is not a path variable (the stub knows %sysdir%, %font%, %prefs%, %data%, %win16%, %win32%, %macppc%, %inst%, %root%, spelled exactly so); variables match case and all: write %inst%)"},
      {Dest(R"(docs\\)"), R"(files[0].dest: "docs\" is a relative path)"},
      {Dest(""), R"(files[0].dest: "" is a relative path)"},
      {Dest(R"(\\docs)"), R"(files[0].dest: "\docs" is a relative path)"},
      {Dest("C:docs"), R"(files[0].dest: "C:docs" is a relative path)"},
      {Dest(R"(%inst%\\a|b)"), R"(files[0].dest: "%inst%\a|b" holds the character '|', which no Windows path may hold)"},
      {Dest(R"(%sysdir%\\a:b)"), "holds the character ':'"},
      {Dest(R"(C:\\x\\q?)"), "holds the character '?'"},
      {Dest(R"(%inst%\\tab\there)"), "holds the character 0x09"},
      {Dest(R"(D:\\apps\\%data%\\)"), R"("D:\apps\%data%\" holds %data% after its start)"},
      {R"({"files": [{"source": "in/a.txt"}], "programs": [{"name": "p.exe", "dir": "win32"}]})",
       R"(programs[0].dir: "win32" is a relative path)"},
      // Two files on one Windows path, names compared ignoring case.
      {R"({"mainProgram": "A.TXT", "files": [{"source": "in/a.txt", "name": "A.TXT"},
          {"source": "in/e.txt", "name": "a.txt", "dest": "%root%\\"}]})",
       R"(files[1]: "%root%\" + "a.txt" lands on the same Windows path as files[0] ("%inst%" + "A.TXT"))"},
      {R"({"mainProgram": "a.txt", "files": [{"source": "in/a.txt"},
          {"source": "in/d.txt", "name": "X.txt", "dest": "%data%"},
          {"source": "in/e.txt", "name": "x.TXT", "dest": "%inst%\\DATA\\\\"}]})",
       R"(files[2]: "%inst%\DATA\\" + "x.TXT" lands on the same Windows path as files[1])"},
      {R"({"mainProgram": "a.txt", "files": [{"source": "in/a.txt"},
          {"source": "in/c.dll", "dest": "%sysdir%"}, {"source": "in/c.dll", "name": "C.DLL", "dest": "%win32%\\x"}]})",
       R"(files[2]: "%win32%\x" + "C.DLL" lands on the same Windows path as files[1])"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.manifest);
    Project p;
    WriteFile(p.manifest, c.manifest);
    std::vector<std::string> before = Leftovers(p);
    RunResult r = p.Pack();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find(c.fragment), std::string::npos) << r.err;
    EXPECT_EQ(Leftovers(p), before);
  }
}

// What the destination checks must let through: full paths, a variable
// with more path behind it, the same name for another component, for a
// platform the stub skips, or in another folder.
TEST(Pack, DestinationsTheStubCanInstallAreAccepted) {
  Project p;
  WriteFile(p.manifest, R"({"mainProgram": "a.txt", "files": [{"source": "in/a.txt"},
      {"source": "in/d.txt", "dest": "C:\\apps\\"}, {"source": "in/e.txt", "dest": "\\\\srv\\share\\e\\"},
      {"source": "in/b.bin", "name": "A.TXT", "components": [1]},
      {"source": "in/b.bin", "name": "A.TXT", "platformDir": "win16\\"},
      {"source": "in/b.bin", "name": "A.TXT", "platformSpecific": true, "platforms": [2]},
      {"source": "in/b.bin", "name": "A.TXT", "dest": "%inst%\\100%\\"},
      {"source": "in/c.dll", "name": "a.txt", "dest": "%font%\\x"}],
      "programs": [{"name": "p.exe", "dir": "%root%\\bin"}]})");
  RunResult r = p.Pack();
  ASSERT_EQ(r.status, 0) << r.err;
  RunResult v = Sfx({"verify", p.out});
  EXPECT_EQ(v.status, 0) << v.err;
}

TEST(Pack, UnusableStubsAreRefusedWithNoOutput) {
  Project p;
  p.Write(FullManifest());
  std::vector<uint8_t> magic = pack::PayloadLocatorMagic();
  std::string block(magic.begin(), magic.end());
  block += std::string(8, '\0');
  WriteFile(p.dir / "none", "no locator in here");
  WriteFile(p.dir / "two", "x" + block + "y" + block + "z");
  ASSERT_EQ(p.Pack().status, 0);
  fs::rename(p.out, p.dir / "packed");  // a stub that already carries a payload
  struct Case {
    std::string stub;
    std::string fragment;
  } cases[] = {
      {p.dir / "none", "holds no payload locator"},
      {p.dir / "two", "more than one payload locator"},
      {p.dir / "packed", "already carries a payload"},
      {p.dir / "missing", "is not a file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stub);
    RunResult r = p.Pack({"--stub", c.stub});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find(c.fragment), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(p.out));
  }
  RunResult r = Sfx({"pack", p.manifest, "-o", p.out, "--target", "win32"}, {"SFX_STUB_WIN32=" + (p.dir / "nope.exe")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("SFX_STUB_WIN32"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(p.out));
}

}  // namespace
}  // namespace sfx::tooltest
