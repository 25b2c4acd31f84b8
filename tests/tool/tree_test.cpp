// Whole trees: folder and pattern sources with excludes pack every file
// they name, in Windows' order, and extract gives them back byte for byte;
// a folder packs without a manifest; the same tree packs to the same bytes
// wherever it lies and whatever its file times under SOURCE_DATE_EPOCH.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <map>

#include "tool/tool_runner.h"

namespace sfx::tooltest {
namespace {

// A tree of nested folders, with names that differ in case from their
// neighbours' order, files to exclude, and links in and out of it.
void MakeTree(const std::string& root, const std::string& outside) {
  const char* files[] = {"app/Main.sh", "app/b.txt", "app/a.TXT", "app/lib/x.dll", "app/lib/Y.dll",
                         "app/lib/deep/z.dat", "app/lib/deep/er/w.dat", "app/docs/Readme.txt",
                         "app/docs/old.bak", "app/cache/tmp.bin", "app/docs/img/p1.png",
                         "app/docs/img/p2.png", "app/docs/img/p10.png"};
  for (const char* f : files) {
    fs::create_directories(fs::path(root + "/" + f).parent_path());
    WriteFile(root + "/" + f, std::string("contents of ") + f + std::string(std::strlen(f) * 50, 'x'));
  }
  WriteFile(outside, "outside the tree");
  fs::create_symlink("../b.txt", root + "/app/lib/inside-link.txt");
  fs::create_symlink(outside, root + "/app/lib/outside-link.txt");
  fs::create_symlink("../..", root + "/app/lib/deep/loop");  // back to app: inside, but a cycle
}

std::vector<std::string> Names(const json& list) {
  std::vector<std::string> names;
  for (const json& row : list["files"]) names.push_back(row["destination"].get<std::string>() + row["name"].get<std::string>());
  return names;
}

TEST(Tree, PatternsAndExcludesPackAndExtractByteIdentical) {
  TempDir dir;
  MakeTree(dir / "src", dir / "elsewhere.txt");
  WriteFile(dir / "src/setup.json", R"({
    "mainProgram": "Main.sh",
    "files": [ { "source": "app", "exclude": ["*.bak", "cache", "app/docs/img/p1?.png"] },
               { "source": "app/docs/**/p?.png", "dest": "%inst%\\pictures" },
               { "source": "app/lib/*.dll", "dest": "%sysdir%", "readOnly": true } ] })");
  RunResult packed = Sfx({"pack", dir / "src/setup.json", "-o", dir / "setup"});
  ASSERT_EQ(packed.status, 0) << packed.err;

  RunResult list = Sfx({"list", dir / "setup", "--json"});
  ASSERT_EQ(list.status, 0) << list.err;
  // Windows' order: component by component, ignoring case.
  std::vector<std::string> expected = {
      "%inst%a.TXT", "%inst%b.txt", "%inst%\\docs\\img\\p1.png", "%inst%\\docs\\img\\p2.png",
      "%inst%\\docs\\Readme.txt", "%inst%\\lib\\deep\\er\\w.dat", "%inst%\\lib\\deep\\z.dat",
      "%inst%\\lib\\inside-link.txt", "%inst%\\lib\\x.dll", "%inst%\\lib\\Y.dll", "%inst%Main.sh",
      "%inst%\\pictures\\img\\p1.png", "%inst%\\pictures\\img\\p2.png", "%sysdir%x.dll", "%sysdir%Y.dll"};
  json j = json::parse(list.out);
  EXPECT_EQ(Names(j), expected);

  TempDir out;
  RunResult extracted = Sfx({"extract", dir / "setup", "-d", out.path()});
  ASSERT_EQ(extracted.status, 0) << extracted.err;
  struct Expect {
    const char* extractedAt;
    const char* source;
  } same[] = {{"inst/a.TXT", "app/a.TXT"},
              {"inst/lib/deep/er/w.dat", "app/lib/deep/er/w.dat"},
              {"inst/lib/inside-link.txt", "app/b.txt"},
              {"inst/docs/img/p2.png", "app/docs/img/p2.png"},
              {"inst/pictures/img/p1.png", "app/docs/img/p1.png"},
              {"sysdir/Y.dll", "app/lib/Y.dll"},
              {"inst/Main.sh", "app/Main.sh"}};
  for (const Expect& e : same) EXPECT_EQ(ReadFile(out / e.extractedAt), ReadFile(dir / (std::string("src/") + e.source))) << e.extractedAt;
  std::vector<std::string> tree = ListTree(out.path());
  EXPECT_EQ(std::count_if(tree.begin(), tree.end(), [](const std::string& t) { return t.back() != '/'; }),
            (long)expected.size());
  for (const std::string& t : tree)
    for (const char* excluded : {"outside", "bak", "cache", "p10", "loop"}) EXPECT_EQ(t.find(excluded), std::string::npos) << t;
}

TEST(Tree, FolderPacksWithoutAManifest) {
  TempDir dir;
  MakeTree(dir / "src", dir / "elsewhere.txt");
  RunResult packed = Sfx({"pack", dir / "src/app", "-o", dir / "setup", "--main", "Main.sh"});
  ASSERT_EQ(packed.status, 0) << packed.err;
  json j = json::parse(Sfx({"dump", dir / "setup", "--json"}).out);
  EXPECT_EQ(j["project"]["project"], "app");
  EXPECT_EQ(j["project"]["mainProgram"], "Main.sh");
  EXPECT_EQ(j["project"]["items"].size(), 14u);  // all 13 files (no excludes here) and the inside link
  RunResult none = Sfx({"pack", dir / "src/app", "-o", dir / "setup2", "--main", "nothere.exe"});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("\"nothere.exe\" is none of the files"), std::string::npos) << none.err;
  // A subfolder whose name no Windows path may hold is refused as in a manifest.
  fs::create_directories(dir / "src/app/x:y");
  WriteFile(dir / "src/app/x:y/f.txt", "f");
  RunResult odd = Sfx({"pack", dir / "src/app", "-o", dir / "setup3", "--main", "Main.sh"});
  EXPECT_EQ(odd.status, 1);
  EXPECT_NE(odd.err.find("holds the character ':'"), std::string::npos) << odd.err;
}

// Two checkouts in different places, with different file times: the same
// bytes once SOURCE_DATE_EPOCH clamps the times.
TEST(Tree, SameTreeSameBytesWhereverItLies) {
  TempDir one, two;
  std::string roots[] = {one / "a/checkout", two / "somewhere/else/entirely"};
  for (int i = 0; i < 2; ++i) {
    MakeTree(roots[i], roots[i] + "-outside.txt");
    WriteFile(roots[i] + "/setup.json", R"({ "mainProgram": "Main.sh", "files": [ { "source": "app", "exclude": ["*.bak"] } ] })");
    for (const auto& e : fs::recursive_directory_iterator(roots[i] + "/app")) {
      if (e.is_symlink()) continue;
      struct utimbuf t = {1700000000 + i * 1000, 1700000000 + i * 1000};
      utime(e.path().c_str(), &t);
    }
  }
  std::vector<std::string> outputs;
  for (int i = 0; i < 2; ++i) {
    std::string out = roots[i] + "/setup";
    RunResult r = Sfx({"pack", roots[i] + "/setup.json", "-o", out}, {"SOURCE_DATE_EPOCH=1600000000"});
    ASSERT_EQ(r.status, 0) << r.err;
    outputs.push_back(ReadFile(out));
  }
  EXPECT_TRUE(outputs[0] == outputs[1]);
  json j = json::parse(Sfx({"dump", roots[0] + "/setup", "--json"}).out);
  EXPECT_EQ(j["fileTable"][0]["mtime"], 1600000000);
  EXPECT_EQ(j["fileTable"][0]["ctime"], 1600000000);
  std::map<std::string, std::string> sourcePaths;
  for (const json& item : j["project"]["items"]) sourcePaths[item["name"]] = item["sourcePath"];
  EXPECT_EQ(sourcePaths["Main.sh"], ".\\app\\Main.sh");  // the main program: its full path
  EXPECT_EQ(sourcePaths["a.TXT"], ".\\app\\");
  EXPECT_EQ(sourcePaths["w.dat"], ".\\app\\lib\\deep\\er\\");
  // Without the clamp the times differ, and so do the bytes.
  for (int i = 0; i < 2; ++i) ASSERT_EQ(Sfx({"pack", roots[i] + "/setup.json", "-o", roots[i] + "/setup"}).status, 0);
  EXPECT_FALSE(ReadFile(roots[0] + "/setup") == ReadFile(roots[1] + "/setup"));
}

}  // namespace
}  // namespace sfx::tooltest
