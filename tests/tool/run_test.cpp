// sfx run and the integrity record on whole setups: the example application
// installs through `sfx run` and comes back byte-identical from `sfx
// extract`; a damaged setup ends with a message box (status 1) and verify
// names the damaged entry; a Win32-packed setup runs through the host stub,
// and signing it keeps the record that verify checks.
#include <gtest/gtest.h>

#include <functional>

#include "support/test_signing.h"
#include "tool/tool_runner.h"

namespace sfx::tooltest {
namespace {

const std::string kExample = std::string(SFX_EXAMPLES_DIR) + "/tree";

// Every regular file below a folder, relative, sorted.
std::vector<std::string> FilesBelow(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) out.push_back(fs::relative(e.path(), root).string());
  std::sort(out.begin(), out.end());
  return out;
}

// The example's shipped files: all of app/ but the excluded ones.
std::vector<std::string> ShippedFiles() {
  std::vector<std::string> out;
  for (const std::string& f : FilesBelow(kExample + "/app"))
    if (f.find(".bak") == std::string::npos && f.rfind("scratch/", 0) != 0) out.push_back(f);
  return out;
}

json RunJson(const std::vector<std::string>& args, int expectedStatus) {
  RunResult r = Sfx(args);
  EXPECT_EQ(r.status, expectedStatus) << r.err << r.out;
  return json::parse(r.out);
}

// Flips the first byte of entry 0's stream: its block header, which then
// holds an invalid block type.
void DamageFirstStream(const std::string& setup) {
  json dump = json::parse(Sfx({"dump", setup, "--json"}).out);
  size_t at = dump["locator"]["payloadStart"].get<size_t>() + dump["fileTable"][0]["start"].get<size_t>();
  std::string bytes = ReadFile(setup);
  bytes[at] ^= 0xFF;
  WriteFile(setup, bytes);
}

TEST(Run, ExampleInstallsAndExtractsByteIdentical) {
  TempDir dir;
  std::string setup = dir / "tree-setup";
  ASSERT_EQ(Sfx({"pack", kExample + "/manifest.json", "-o", setup, "-q"}).status, 0);
  std::vector<std::string> shipped = ShippedFiles();
  ASSERT_EQ(shipped.size(), 40u);

  json run = RunJson({"run", setup, "--prefix", dir / "pfx", "--json"}, 0);
  EXPECT_TRUE(run["completed"].get<bool>());
  EXPECT_EQ(run["payloadVia"], "locator");
  EXPECT_TRUE(run["messageBoxes"].empty());
  std::string inst = run["installFolder"];
  ASSERT_EQ(inst.rfind("C:\\TEMP\\cc", 0), 0u) << inst;
  std::vector<std::string> written;
  for (const json& f : run["files"]) written.push_back(f["path"]);
  EXPECT_NE(std::find(written.begin(), written.end(), inst + "\\docs\\guide\\chapter8.txt"), written.end());
  EXPECT_NE(std::find(written.begin(), written.end(), inst + "\\_Del.log"), written.end());
  ASSERT_EQ(run["programsStarted"].size(), 1u);
  EXPECT_NE(run["programsStarted"][0].get<std::string>().find("tree.sh /UNS"), std::string::npos);

  // The installed tree and the extracted one are the shipped files, byte for byte.
  std::string installed = dir / ("pfx/drive_c/TEMP/" + inst.substr(8));
  TempDir out;
  ASSERT_EQ(Sfx({"extract", setup, "-d", out.path(), "-q"}).status, 0);
  EXPECT_EQ(FilesBelow(out / "inst"), shipped);
  for (const std::string& f : shipped) {
    std::string source = ReadFile(kExample + "/app/" + f);
    EXPECT_EQ(ReadFile(out / ("inst/" + f)), source) << f;
    EXPECT_EQ(ReadFile(installed + "/" + f), source) << f;
  }
}

// Damage the stub sees (a payload cut short: a box) and damage it may not
// (a stream's block header: verify's check of the record names the entry).
TEST(Run, DamagedSetupsEndWithStatusOne) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> damage;
    const char* box;      // in the message boxes, or nullptr for none
    const char* problem;  // in the setup problems
  } cases[] = {
      {"cut short", [](const std::string& setup) {
         json dump = json::parse(Sfx({"dump", setup, "--json"}).out);
         size_t end = dump["locator"]["payloadStart"].get<size_t>() + dump["layout"]["payloadSize"].get<size_t>();
         WriteFile(setup, ReadFile(setup).substr(0, end - 20));
       }, "past its end", "project (archive 2)"},
      {"stream header", DamageFirstStream, nullptr, "entry 0 (\"module1.cfg\"): stream (bytes 4-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::string setup = dir / "tree-setup";
    ASSERT_EQ(Sfx({"pack", kExample + "/manifest.json", "-o", setup, "-q"}).status, 0);
    c.damage(setup);
    json run = RunJson({"run", setup, "--prefix", dir / "pfx", "--json"}, 1);
    EXPECT_FALSE(run["completed"].get<bool>());
    if (c.box) {
      ASSERT_EQ(run["messageBoxes"].size(), 1u) << run.dump();
      EXPECT_NE(run["messageBoxes"][0].get<std::string>().find(c.box), std::string::npos) << run.dump();
      EXPECT_TRUE(run["programsStarted"].empty());
    }
    bool named = false;
    for (const json& p : run["setupProblems"]) named = named || p.get<std::string>().find(c.problem) != std::string::npos;
    EXPECT_TRUE(named) << run.dump();
    RunResult verify = Sfx({"verify", setup});
    EXPECT_EQ(verify.status, 1);
    EXPECT_NE(verify.err.find(c.problem), std::string::npos) << verify.err;
  }
}

// A Win32-packed setup, signed the way Authenticode signing tools do (a
// certificate table appended, the security directory updated): the record
// after the payload is still found and checked, and `sfx run` installs the
// payload through the host stub.
TEST(Run, SignedWin32SetupKeepsItsRecordAndRuns) {
  const std::string peStub = SFX_PE_STUB_PATH;
  if (!fs::exists(peStub)) GTEST_SKIP() << "no PE stub built at " << peStub;
  TempDir dir;
  std::string setup = dir / "tree.exe", signedSetup = dir / "tree-signed.exe";
  ASSERT_EQ(Sfx({"pack", kExample + "/manifest.json", "-o", setup, "--target", "win32", "--stub", peStub, "-q"}).status, 0);
  WriteFile(signedSetup, sfx::test::SignWithTestCertificate(ReadFile(setup), "/CN=sfxkit test"));
  ASSERT_GT(fs::file_size(signedSetup), fs::file_size(setup));

  RunResult ok = Sfx({"verify", signedSetup});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_NE(ok.out.find("integrity record matches"), std::string::npos) << ok.out;
  json list = json::parse(Sfx({"list", signedSetup, "--json"}).out);
  EXPECT_TRUE(list["integrityRecord"]["present"].get<bool>());
  EXPECT_EQ(list["totals"]["files"], 40);

  json run = RunJson({"run", signedSetup, "--prefix", dir / "pfx", "--family", "95", "--json"}, 0);
  EXPECT_EQ(run["payloadVia"], "Data.bin");
  EXPECT_TRUE(run["completed"].get<bool>());
  EXPECT_GE(run["files"].size(), 41u);

  // Bytes after the payload that are no signature are reported.
  WriteFile(dir / "tail.exe", ReadFile(setup) + "trailing junk");
  RunResult tail = Sfx({"verify", dir / "tail.exe"});
  EXPECT_EQ(tail.status, 1);
  EXPECT_NE(tail.err.find("13 bytes follow the payload and its integrity record"), std::string::npos) << tail.err;

  DamageFirstStream(signedSetup);
  RunResult bad = Sfx({"verify", signedSetup});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("entry 0 (\"module1.cfg\")"), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace sfx::tooltest
