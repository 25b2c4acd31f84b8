// The command line's conventions: --help and --version, one-line errors,
// JSON that parses, decode's exit status, and the machine commands.
#include <gtest/gtest.h>

#include "pack/encoder.h"
#include "tool/tool_runner.h"

namespace sfx::tooltest {
namespace {

std::string SampleSetup(const std::string& dir) {
  CatalogueBuilder b;
  TestFile dll("lib.dll", std::string(5000, 'L'));
  dll.destDir = "%sysdir%";
  dll.versionMS = 0x00010002;
  dll.versionLS = 0x00030004;
  TestFile font("f.ttf", "font");
  font.destDir = "%font%";
  TestFile old("old.exe", "16");
  old.platformDir = "win16\\";
  old.platformSpecific = 1;
  b.Project("Sample").MainProgram("run.exe").File({"run.exe", "main"}).File(dll).File(font).File(old);
  b.Program("tool.exe", "%inst%", 0);
  return WriteSetup(b.Write().bytes, dir);
}

TEST(Cli, EveryCommandHasHelp) {
  const std::vector<std::vector<std::string>> commands = {
      {},         {"pack"},  {"list"},          {"dump"},         {"verify"},      {"extract"},
      {"decode"}, {"prefix"}, {"prefix", "init"}, {"prefix", "show"}, {"reg"}, {"reg", "query"}, {"reboot"},
      {"run"}};
  for (std::vector<std::string> args : commands) {
    args.push_back("--help");
    RunResult r = Sfx(args);
    SCOPED_TRACE(args.front());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Usage:"), std::string::npos) << r.out;
  }
  RunResult v = Sfx({"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out.rfind("sfx ", 0), 0u) << v.out;
}

TEST(Cli, ErrorsAreOneLineWithAFailingStatus) {
  TempDir dir;
  sfx::test::WriteFile(dir / "junk", "nothing to see");
  // Usage errors exit with 2 and a hint; other failures with 1 (decode
  // keeps its own statuses).
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string fragment;
  } failures[] = {
      {{}, 2, "a command is required: pack, list"},
      {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
      {{"help", "frob"}, 2, "unknown command 'frob'"},
      {{"list"}, 2, "(see sfx list --help)"},
      {{"list", dir / "missing"}, 1, "cannot open"},
      {{"dump", dir / "junk"}, 1, "no setup payload found in " + dir / "junk"},
      {{"verify", dir / "junk"}, 1, "no setup payload found in " + dir / "junk"},
      {{"run", dir / "junk", "--prefix", dir / "p"}, 1, "no setup payload found in " + dir / "junk"},
      {{"verify", dir / "missing"}, 1, "cannot open"},
      {{"extract", dir / "junk"}, 2, "--dir is required"},
      {{"extract", dir / "junk", "-d", dir / "out"}, 1, "no setup payload found"},
      {{"pack", dir / "junk", "-o", dir / "x", "--level", "13"}, 2, "(see sfx pack --help)"},
      {{"pack", dir / "junk", "-o", dir / "x", "--target", "dos"}, 2, "--target"},
      {{"pack", dir / "junk", "-o", dir / "x", "--main", "a.exe"}, 2, "--main goes with a folder"},
      {{"pack", dir / "junk", "-o", dir / "x"}, 1, "manifest is not JSON"},
      {{"run", dir / "junk", "--family", "3.1"}, 2, "--family"},
      {{"decode", dir / "junk"}, 2, "--output is required"},
      {{"decode", dir / "junk", "-o", dir / "y", "--offset", "99999"}, 4, "lies beyond the end"},
      {{"decode", dir / "junk", "-o", dir / "y", "--offset", "twelve"}, 4, "is not a byte offset"},
      {{"reg", "query", "HKXX\\Software"}, 1, "unknown registry root"},
      {{"reg", "query", "HKLM\\No\\Such\\Key"}, 1, "no key"},
      {{"prefix", "init", "--family", "nt4"}, 2, "(see sfx prefix init --help)"},
  };
  TempDir prefix;
  for (const Case& c : failures) {
    RunResult r = Sfx(c.args, {"SFX_PREFIX=" + prefix.path(), "SOURCE_DATE_EPOCH="});
    SCOPED_TRACE(c.args.empty() ? std::string("(none)") : c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("sfx: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.fragment), std::string::npos) << r.err;
  }
  // sfx help COMMAND is the command's --help: options, an example, the environment.
  RunResult help = Sfx({"help", "pack"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, Sfx({"pack", "--help"}).out);
  EXPECT_NE(help.out.find("Example:"), std::string::npos);
  EXPECT_NE(help.out.find("SOURCE_DATE_EPOCH"), std::string::npos);
}

TEST(Cli, ListShowsNamesSizesDestinationsAndFlags) {
  TempDir dir;
  std::string setup = SampleSetup(dir.path());
  RunResult r = Sfx({"list", setup});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 6u) << r.out;
  EXPECT_EQ(lines[5].rfind("4 files, ", 0), 0u) << lines[5];
  const std::pair<size_t, const char*> shown[] = {
      {0, "modified"}, {1, "2001-01-01 00:00"}, {1, "run.exe"}, {1, "main"}, {2, "%sysdir%"},
      {2, "shared"},   {3, "font"},             {4, "platform-specific,win16"}, {5, "no integrity record"}};
  for (const auto& [line, text] : shown) EXPECT_NE(lines[line].find(text), std::string::npos) << lines[line];

  json all = json::parse(Sfx({"list", setup, "--json"}).out);
  EXPECT_EQ(all["totals"]["files"], 4);
  EXPECT_FALSE(all["integrityRecord"]["present"].get<bool>());
  const json& j = all["files"];
  ASSERT_EQ(j.size(), 4u);
  EXPECT_EQ(j[1]["modified"], "2001-01-01 00:00");
  EXPECT_EQ(j[1]["destination"], "%sysdir%");
  EXPECT_EQ(j[1]["name"], "lib.dll");
  EXPECT_EQ(j[1]["size"], 5000);
  EXPECT_LT(j[1]["packedSize"].get<int>(), 100);
  EXPECT_EQ(j[1]["components"], json::parse("[0]"));
  EXPECT_EQ(j[1]["flags"], json::parse(R"(["shared"])"));
}

TEST(Cli, DumpJsonHoldsEveryMemberAndTheLayout) {
  TempDir dir;
  CatalogueBuilder b;
  b.Project("P").MainProgram("a").File({"a", "x"});
  b.catalogue().project.extra = "third";
  b.catalogue().project.block1 = {1, 2, 255};
  b.catalogue().project.installDirs = {"", "C:\\Program Files\\P\\", ""};
  pack::Payload payload = b.Write();
  std::string setup = WriteSetup(payload.bytes, dir.path());
  RunResult r = Sfx({"dump", setup, "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  json j = json::parse(r.out);
  EXPECT_EQ(j["layout"]["dataLength"], payload.layout.dataLength);
  EXPECT_EQ(j["layout"]["fileTableOffset"], payload.layout.fileTableOffset);
  EXPECT_EQ(j["layout"]["projectOffset"], payload.layout.projectOffset);
  EXPECT_EQ(j["layout"]["payloadSize"], payload.bytes.size());
  EXPECT_EQ(j["locator"]["size"], payload.bytes.size());
  EXPECT_EQ(j["locator"]["offset"], fs::file_size(setup) - payload.bytes.size());
  EXPECT_EQ(j["fileTable"][0]["start"], 4);
  EXPECT_EQ(j["fileTable"][0]["mtime"], 978307200);
  EXPECT_EQ(j["project"]["extra"], "third");
  EXPECT_EQ(j["project"]["block1"]["hex"], "0102ff");
  EXPECT_EQ(j["project"]["installDirs"][1], "C:\\Program Files\\P\\");
  RunResult text = Sfx({"dump", setup});
  EXPECT_NE(text.out.find("m_strExtra \"third\""), std::string::npos) << text.out;
}

// Names are shown in UTF-8, read in the code page of --codepage, else of the
// emulated machine; bytes that are no character come out as \xNN, so the
// JSON always parses.
TEST(Cli, NamesAreShownInUtf8FromTheirCodePage) {
  TempDir dir, prefix;
  struct Case {
    std::string name;
    std::vector<std::string> options, env;
    std::string shown;  // the name in the JSON
  } cases[] = {
      {"caf\xE9\x01.txt", {"--codepage", "1252"}, {}, "caf\xC3\xA9\x01.txt"},
      {"\x83\x5C\x95\x5C.txt", {"--codepage", "932"}, {}, "ソ表.txt"},
      {"\x83\x5C\x95\x5C.txt", {}, {"SFX_CODEPAGE=932"}, "ソ表.txt"},
      {"\xA5\x5C.txt", {}, {"SFX_CODEPAGE=950"}, "功.txt"},
      {"x\x83", {"--codepage", "932"}, {}, "x\\x83"},       // a lone lead byte
      {"\x81\xFF.txt", {"--codepage", "936"}, {}, "\\x81\\xFF.txt"},  // no character of 936
  };
  for (const Case& c : cases) {
    std::string setup = WriteSetup(CatalogueBuilder().File({c.name, "x"}).Write().bytes, dir.path());
    std::vector<std::string> env = c.env;
    env.push_back("SFX_PREFIX=" + prefix.path());
    for (const char* cmd : {"list", "dump"}) {
      std::vector<std::string> args = {cmd, setup, "--json"};
      args.insert(args.end(), c.options.begin(), c.options.end());
      RunResult r = Sfx(args, env);
      ASSERT_EQ(r.status, 0) << r.err;
      json j;
      ASSERT_NO_THROW(j = json::parse(r.out)) << cmd;
      const json& entry = std::string(cmd) == "list" ? j["files"][0] : j["fileTable"][0];
      EXPECT_EQ(entry["name"].get<std::string>(), c.shown) << cmd << " " << c.shown;
    }
  }
  std::string setup = WriteSetup(CatalogueBuilder().File({"caf\xE9\x01.txt", "x"}).Write().bytes, dir.path());
  RunResult text = Sfx({"list", setup, "--codepage", "1252"});
  EXPECT_NE(text.out.find("caf\xC3\xA9\\x01.txt"), std::string::npos);  // control bytes are shown, not printed
  RunResult bad = Sfx({"list", setup, "--codepage", "1251"});
  EXPECT_NE(bad.status, 0);
  EXPECT_EQ(bad.err, "sfx: unknown code page 1251 (known: 1252, 932, 936, 949, 950)\n");
}

TEST(Cli, DecodeExitsWithTheDecodersResult) {
  TempDir dir;
  std::string good(70000, 'q');
  pack::Bytes stream = pack::EncodeStream((const uint8_t*)good.data(), good.size(), 6);
  std::string prefixBytes = "JUNK";
  sfx::test::WriteFile(dir / "good", prefixBytes + std::string(stream.begin(), stream.end()));
  struct Case {
    std::string bytes;
    int result;
  } cases[] = {
      {prefixBytes + std::string(stream.begin(), stream.end()), 0},
      {"JUNK" + std::string("\x0d\xff\xff\xff", 4), 1},   // fixed block, invalid codes
      {"JUNK" + std::string("\x08", 1), 2},               // block type 0
      {"JUNK" + std::string(stream.begin(), stream.begin() + 10), 1},  // cut short
  };
  for (const Case& c : cases) {
    sfx::test::WriteFile(dir / "in", c.bytes);
    RunResult r = Sfx({"decode", dir / "in", "-o", dir / "out", "--offset", "4"});
    EXPECT_EQ(r.status, c.result) << r.err;
    EXPECT_EQ(r.err, "result: " + std::to_string(c.result) + "\n");
  }
  RunResult r = Sfx({"decode", dir / "good", "-o", dir / "out", "--offset", "0x4"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(sfx::test::ReadFile(dir / "out"), good);
}

TEST(Cli, MachineCommands) {
  TempDir prefix;
  std::vector<std::string> env = {"SFX_PREFIX=" + prefix.path(), "SFX_WINVER=", "SFX_CODEPAGE="};
  RunResult init = Sfx({"prefix", "init", "--family", "95"}, env);
  ASSERT_EQ(init.status, 0) << init.err;
  json show = json::parse(Sfx({"prefix", "show", "--json"}, env).out);
  EXPECT_EQ(show["root"], prefix.path());
  EXPECT_EQ(show["family"], "95");
  EXPECT_EQ(show["familySource"], "prefix family file");
  EXPECT_EQ(show["systemDir"], prefix.path() + "/drive_c/WINDOWS/SYSTEM");
  // SFX_WINVER still wins for one process.
  json nt = json::parse(Sfx({"prefix", "show", "--json"}, {"SFX_PREFIX=" + prefix.path(), "SFX_WINVER=nt"}).out);
  EXPECT_EQ(nt["family"], "nt");
  // The code page: 1252 until set, then the prefix's; SFX_CODEPAGE wins; an
  // unknown one is refused and leaves the prefix's as it was.
  EXPECT_EQ(show["codePage"], 1252);
  EXPECT_EQ(show["codePageSource"], "default");
  ASSERT_EQ(Sfx({"prefix", "init", "--codepage", "932"}, env).status, 0);
  RunResult refused = Sfx({"prefix", "init", "--codepage", "65001"}, env);
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.err.find("unknown code page 65001"), std::string::npos) << refused.err;
  json jp = json::parse(Sfx({"prefix", "show", "--json"}, env).out);
  EXPECT_EQ(jp["codePage"], 932);
  EXPECT_EQ(jp["codePageSource"], "prefix codepage file");
  json cn = json::parse(Sfx({"prefix", "show", "--json"}, {"SFX_PREFIX=" + prefix.path(), "SFX_CODEPAGE=936"}).out);
  EXPECT_EQ(cn["codePage"], 936);
  RunResult unknown = Sfx({"prefix", "show"}, {"SFX_PREFIX=" + prefix.path(), "SFX_CODEPAGE=1"});
  EXPECT_NE(unknown.status, 0);
  EXPECT_NE(unknown.err.find("SFX_CODEPAGE names code page \"1\""), std::string::npos) << unknown.err;

  RunResult q = Sfx({"reg", "query", "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion", "--json"}, env);
  ASSERT_EQ(q.status, 0) << q.err;
  json key = json::parse(q.out);
  std::vector<std::string> subkeys = key["subkeys"];
  EXPECT_NE(std::find(subkeys.begin(), subkeys.end(), "SharedDLLs"), subkeys.end()) << q.out;

  // A pending rename recorded in WININIT.INI is performed by reboot.
  std::string windows = prefix.path() + "/drive_c/WINDOWS";
  sfx::test::WriteFile(windows + "/NEW.DLL", "new");
  sfx::test::WriteFile(windows + "/WININIT.INI", "[rename]\r\nC:\\WINDOWS\\OLD.DLL=C:\\WINDOWS\\NEW.DLL\r\n");
  RunResult reboot = Sfx({"reboot"}, env);
  ASSERT_EQ(reboot.status, 0) << reboot.err;
  EXPECT_NE(reboot.out.find("1 pending renames performed"), std::string::npos) << reboot.out;
  EXPECT_EQ(sfx::test::ReadFile(windows + "/OLD.DLL"), "new");
  EXPECT_FALSE(fs::exists(windows + "/NEW.DLL"));
}

TEST(Cli, InspectingCommandsWriteNothingOutsideTheirTarget) {
  TempDir dir, prefixParent;
  std::string setup = SampleSetup(dir.path());
  std::string prefix = prefixParent / "never-made";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"list", setup}, {"dump", setup, "--json"}, {"verify", setup}, {"extract", setup, "-d", dir / "x"}}) {
    RunResult r = Sfx(args, {"SFX_PREFIX=" + prefix});
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
  }
  EXPECT_FALSE(fs::exists(prefix));
  std::vector<std::string> tree = ListTree(dir.path());
  for (const std::string& p : tree) EXPECT_TRUE(p == "setup" || p.rfind("x/", 0) == 0) << p;
}

}  // namespace
}  // namespace sfx::tooltest
