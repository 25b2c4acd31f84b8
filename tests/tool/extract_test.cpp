// sfx extract: files land below DIR in folders named after their
// destinations, with their stamps; hostile catalogues write nothing outside.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "tool/tool_runner.h"

namespace sfx::tooltest {
namespace {

TestFile At(const std::string& name, const std::string& dest, const std::string& bytes = "data") {
  TestFile f(name, bytes);
  f.destDir = dest;
  return f;
}

// A setup in its own folder, and the folder `box` whose only child may be
// the extraction folder box/out.
struct Scene {
  TempDir root;
  std::string setupDir = root / "setup";
  std::string box = root / "box";
  std::string out = box + "/out";
  std::string setup;

  explicit Scene(const CatalogueBuilder& b) {
    fs::create_directories(setupDir);
    fs::create_directories(box);
    setup = WriteSetup(b.Write().bytes, setupDir);
  }
  RunResult Extract(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"extract", setup, "-d", out};
    args.insert(args.end(), extra.begin(), extra.end());
    return Sfx(args);
  }
  // Everything in the scene outside box/out.
  std::vector<std::string> Outside() {
    std::vector<std::string> all = ListTree(root.path()), rest;
    for (const std::string& p : all)
      if (p.compare(0, 8, "box/out/") != 0) rest.push_back(p);
    return rest;
  }
};

const std::vector<std::string> kUntouched = {"box/", "setup/", "setup/setup"};

TEST(Extract, HostileNamesAndDestinationsStayInsideOrAreRefused) {
  const std::string longName(300, 'n');
  struct Case {
    TestFile file;
    std::string landsAt;  // empty: refused
    std::string reason;
  } cases[] = {
      {At("ok.txt", "%inst%"), "inst/ok.txt", ""},
      {At("sys.dll", "%sysdir%"), "sysdir/sys.dll", ""},
      {At("abs.txt", "/tmp/abs/"), "other/tmp/abs/abs.txt", ""},
      {At("drive.txt", "C:\\WINDOWS\\"), "other/C/WINDOWS/drive.txt", ""},
      {At("unc.txt", "\\\\server\\share\\dir\\"), "other/unc/server/share/dir/unc.txt", ""},
      {At("..", "%inst%"), "", "not a plain file name"},
      {At("..\\..\\evil1", "%inst%"), "", "not a plain file name"},
      {At("../evil2", "%inst%"), "", "not a plain file name"},
      {At("/tmp/evil3", "%inst%"), "", "not a plain file name"},
      {At("C:evil4", "%inst%"), "", "not a plain file name"},
      {At("evil5", "%inst%\\..\\..\\"), "", "climbs"},
      {At("evil6", "..\\..\\..\\"), "", "climbs"},
      {At("evil7", "%inst%/../../"), "", "climbs"},
      {At(longName, "%inst%"), "", "longer than 255"},
      {At("deep.txt", "%inst%\\" + std::string(300, 'd')), "", "longer than 255"},
  };
  CatalogueBuilder b;
  for (const Case& c : cases) b.File(c.file);
  Scene scene(b);
  RunResult r = scene.Extract();
  EXPECT_EQ(r.status, 1);
  std::vector<std::string> refusals = Lines(r.err);
  size_t refused = 0;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.file.name.substr(0, 20) + " -> " + c.file.destDir.substr(0, 20));
    if (!c.landsAt.empty()) {
      EXPECT_EQ(ReadFile(scene.out + "/" + c.landsAt), "data");
      continue;
    }
    ASSERT_LT(refused, refusals.size());
    const std::string& line = refusals[refused++];
    EXPECT_EQ(line.rfind("sfx: refused entry " + std::to_string(i) + " (", 0), 0u) << line;
    EXPECT_NE(line.find(c.reason), std::string::npos) << line;
  }
  EXPECT_EQ(refused, refusals.size()) << r.err;
  EXPECT_EQ(scene.Outside(), kUntouched);
}

TEST(Extract, LinksInsideTheFolderAreNeverFollowed) {
  CatalogueBuilder b;
  b.File(At("a.txt", "%inst%", "new")).File(At("b.txt", "%sysdir%", "new"));
  Scene scene(b);
  fs::create_directories(scene.out + "/sysdir");
  fs::create_directories(scene.box + "/elsewhere");
  sfx::test::WriteFile(scene.box + "/target.txt", "old");
  // out/inst is a link to a folder outside; out/sysdir/b.txt a link to a file outside.
  fs::create_directory_symlink(scene.box + "/elsewhere", scene.out + "/inst");
  fs::create_symlink(scene.box + "/target.txt", scene.out + "/sysdir/b.txt");

  RunResult r = scene.Extract({"--force"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("refused entry 0 (inst/a.txt): inst/ is a link or not a folder"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_empty(scene.box + "/elsewhere"));
  // --force replaces the link itself, never what it points to.
  EXPECT_EQ(ReadFile(scene.box + "/target.txt"), "old");
  EXPECT_FALSE(fs::is_symlink(scene.out + "/sysdir/b.txt"));
  EXPECT_EQ(ReadFile(scene.out + "/sysdir/b.txt"), "new");
}

TEST(Extract, ExistingFilesNeedForce) {
  CatalogueBuilder b;
  b.File(At("a.txt", "%inst%", "fresh"));
  Scene scene(b);
  fs::create_directories(scene.out + "/inst");
  sfx::test::WriteFile(scene.out + "/inst/a.txt", "mine");
  RunResult r = scene.Extract();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("inst/a.txt exists (--force replaces it)"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(scene.out + "/inst/a.txt"), "mine");
  r = scene.Extract({"--force"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(scene.out + "/inst/a.txt"), "fresh");
}

TEST(Extract, FlatGivesRepeatedNamesNumberedCopies) {
  CatalogueBuilder b;
  b.File(At("a.txt", "%inst%", "1")).File(At("a.txt", "%sysdir%", "2")).File(At("a.txt", "C:\\x\\", "3"));
  Scene scene(b);
  RunResult r = scene.Extract({"--flat"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ListTree(scene.out), (std::vector<std::string>{"a.txt", "a~2.txt", "a~3.txt"}));
  EXPECT_EQ(ReadFile(scene.out + "/a.txt") + ReadFile(scene.out + "/a~2.txt") + ReadFile(scene.out + "/a~3.txt"),
            "123");
}

TEST(Extract, TimesAttributesAndEmptyEntries) {
  CatalogueBuilder b;
  b.File({"ro.txt", "read only", 1000000000u, 1100000000u, 0x21})
      .File({"plain.txt", "plain", 0, 1200000000u, 0x00})
      .File({"untimed.txt", "x", 5, 0, 0x20});
  TestFile empty("empty.txt", "");
  empty.stream = pack::Bytes();  // an entry without a stream
  b.File(empty);
  Scene scene(b);
  time_t before = time(nullptr);
  RunResult r = scene.Extract();
  ASSERT_EQ(r.status, 0) << r.err;
  struct stat st;
  ASSERT_EQ(stat((scene.out + "/inst/ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1100000000);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  ASSERT_EQ(stat((scene.out + "/inst/plain.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1200000000);
  EXPECT_NE(st.st_mode & 0200, 0u);
  ASSERT_EQ(stat((scene.out + "/inst/untimed.txt").c_str(), &st), 0);
  EXPECT_GE(st.st_mtime, before);  // m_mtime 0: no time is set
  EXPECT_EQ(ReadFile(scene.out + "/inst/empty.txt"), "");

  char buf[32] = {};
  ssize_t n = getxattr((scene.out + "/inst/ro.txt").c_str(), "user.sfxkit.ctime", buf, sizeof buf - 1);
  if (n < 0) GTEST_SKIP() << "no user extended attributes here";
  EXPECT_STREQ(buf, std::to_string(116444736000000000ull + 1000000000ull * 10000000u).c_str());
  n = getxattr((scene.out + "/inst/ro.txt").c_str(), "user.sfxkit.attr", buf, sizeof buf - 1);
  ASSERT_GT(n, 0);
  buf[n] = 0;
  EXPECT_STREQ(buf, "33");
}

TEST(Extract, DamagedStreamLeavesNoFile) {
  CatalogueBuilder b;
  TestFile bad("bad.txt", "");
  bad.stream = pack::Bytes{0x00, 0x00};  // block type 0: result 2
  b.File(bad).File(At("good.txt", "%inst%", "fine"));
  Scene scene(b);
  RunResult r = scene.Extract();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("refused entry 0 (inst/bad.txt): stream fails to decode (result 2)"), std::string::npos)
      << r.err;
  EXPECT_EQ(ListTree(scene.out), (std::vector<std::string>{"inst/", "inst/good.txt"}));
}

TEST(Extract, TargetWhoseParentIsMissingIsRefusedInOneLine) {
  CatalogueBuilder b;
  b.File(At("a.txt", "%inst%"));
  Scene scene(b);
  RunResult r = Sfx({"extract", scene.setup, "-d", scene.box + "/no/such/dir"});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
  EXPECT_EQ(scene.Outside(), kUntouched);
}

}  // namespace
}  // namespace sfx::tooltest
