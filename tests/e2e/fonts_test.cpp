// Fonts through a whole run: a real TrueType file registered under its full
// name, a damaged one installed without a name, and one whose file cannot be
// written skipped without ending the run.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"
#include "platform/host/registry_view.h"

namespace sfx::e2e {
namespace {

const char kDejaVu[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

TestFile Font(const std::string& name, const std::string& bytes, const std::string& dest = "%font%") {
  TestFile f{name, bytes};
  f.destDir = dest;
  f.sourcePath = "D:\\fonts\\";
  return f;
}

std::vector<sfx::host::RegistryValue> FontValues() {
  sfx::host::RegistryKeyContents key;
  EXPECT_EQ(sfx::host::ListRegistryKey(std::string("HKLM\\") + kFontsKey, key), ERROR_SUCCESS);
  return key.values;
}

TEST(Fonts, TrueTypeFontsInstallAndRegister) {
  for (Family family : {Family::NT, Family::Win95}) {
    SCOPED_TRACE(family == Family::NT ? "NT family" : "95 family");
    ScopedPrefix prefix;
    TempDir setupDir;
    const std::string fonts = "C:\\WINDOWS\\FONTS\\";
    std::string dejavu = TestDll(kDejaVu);
    // A file already there and read-only cannot be written: that font item
    // is skipped quietly and the run goes on.
    WriteWin(fonts + "Locked.ttf", "old");
    ASSERT_TRUE(SetFileAttributesA((fonts + "Locked.ttf").c_str(), FILE_ATTRIBUTE_READONLY));
    size_t valuesBefore = FontValues().size();

    CatalogueBuilder b;
    b.File(Font("DejaVuSans.ttf", dejavu))
        .File(Font("Broken.ttf", dejavu.substr(0, 300)))  // cut inside its table directory
        .File(Font("Locked.ttf", dejavu))
        .File(Font("after.txt", "still installed", "%inst%"));
    StubResult r = RunStub(WriteSetup(b, setupDir.path()), prefix.root(), family);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.stderrText, "");

    EXPECT_EQ(ReadWin(fonts + "DejaVuSans.ttf"), dejavu);
    EXPECT_EQ(ReadWin(fonts + "Broken.ttf"), dejavu.substr(0, 300));
    EXPECT_EQ(ReadWin(fonts + "Locked.ttf"), "old");

    // Exactly one new value: the full name from the Macintosh name record.
    std::vector<sfx::host::RegistryValue> values = FontValues();
    EXPECT_EQ(values.size(), valuesBefore + 1);
    sfx::host::RegistryValue v;
    ASSERT_EQ(sfx::host::ReadRegistryValue(std::string("HKLM\\") + kFontsKey,
                                           "DejaVu Sans (TrueType)", v),
              ERROR_SUCCESS);
    EXPECT_EQ(v.type, (uint32_t)REG_SZ);
    EXPECT_EQ(std::string(v.data.begin(), v.data.end()), "DejaVuSans.ttf");

    // Fonts get "file:" lines only, never "path:" lines.
    std::vector<std::string> dirs = InstallDirs();
    ASSERT_EQ(dirs.size(), 1u);
    EXPECT_EQ(ReadWin(dirs[0] + "_Del.log"),
              CrLf({"project:Test project", "source:" + sfx::test::WindowsDir(setupDir.path()),
                    "file:" + fonts + "DejaVuSans.ttf", "file:" + fonts + "Broken.ttf",
                    "file:" + dirs[0] + "after.txt",
                    "path:D:\\fonts\\after.txt\t" + dirs[0] + "after.txt",
                    "directory:" + dirs[0]}));
  }
}

}  // namespace
}  // namespace sfx::e2e
