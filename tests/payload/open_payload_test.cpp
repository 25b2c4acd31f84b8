// OpenPayload in this process, with the side file "Data.bin": this test
// program's own PayloadLocator holds offset 0. Payloads appended to an
// executable are tested through child processes in appended_payload_test.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/catalogue_text.h"
#include "support/code_page_env.h"
#include "support/engine_test_util.h"
#include "install/installer.h"
#include "payload/payload_checks.h"
#include "support/payload_builder.h"
#include "support/temp_dir.h"

namespace sfx::test {
namespace {

// The catalogue of four files of the catalogue-classes example: the first
// entry has no stream; items 1 to 3 are listed for platform 1 and make up
// component 0; item 0 is platform-specific but listed nowhere.
CatalogueBuilder FourFiles() {
  CatalogueBuilder b;
  b.Project("Four files").MainProgram("App.exe");
  TestFile first{"Readme.txt", ""};
  first.stream = pack::Bytes{};
  first.platformSpecific = 1;
  b.File(first);
  b.File({"App.exe", std::string(5000, 'x') + "end"});
  b.File({"Lib.dll", "library bytes", 1, 2, 0x21});
  b.File({"Data.dat", std::string(70000, '\x07'), 3, 4, 0});
  for (int i = 1; i <= 3; ++i) b.catalogue().project.items[i].platformSpecific = 1;
  b.Components({{1, 2, 3}, {}, {}}).Platforms({{}, {1, 2, 3}, {}});
  b.Program("Tool.exe", "%inst%", 0).Program("Late.exe", "", 1);
  b.catalogue().project.block1 = ToBytes("first block");
  b.catalogue().project.extra = "third string";
  return b;
}

class OpenPayloadTest : public ::testing::Test {
 protected:
  // Each load is a fresh engine's; it looks for "Data.bin" in its module
  // directory, pointed at a folder of this test.
  std::string Load(const pack::Bytes& payload) {
    WriteDataBin(dir_.path(), payload);
    Caught c = OpenFails();
    if (c.kind != "none") return c.kind + " error: " + c.message;
    return DescribeLoaded(engine_->m_arrFileTable, *engine_->m_pProject);
  }
  Caught LoadFails(const pack::Bytes& payload) {
    WriteDataBin(dir_.path(), payload);
    return OpenFails();
  }
  Caught OpenFails() {
    engine_ = std::make_unique<CInstaller>();
    engine_->m_strModuleDir = WindowsDir(dir_.path()).c_str();
    return CatchFramework([&] { engine_->OpenPayload(); });
  }
  std::string DataBinPath() const { return WindowsDir(dir_.path()) + "Data.bin"; }

  ScopedPrefix prefix_;
  TempDir dir_;
  std::unique_ptr<CInstaller> engine_;
};

TEST_F(OpenPayloadTest, LoadsFileTableAndProjectFromDataBin) {
  CatalogueBuilder b = FourFiles();
  pack::Payload payload = b.Write();
  EXPECT_EQ(Load(payload.bytes), DescribeCatalogue(b.catalogue(), payload.layout));
  EXPECT_EQ(payload.layout.starts[0], 4u);
  EXPECT_EQ(payload.layout.ends[0], 4u);
  EXPECT_TRUE(engine_->m_filePayload.IsOpen());
  EXPECT_EQ(std::string(engine_->m_filePayload.GetFilePath()), DataBinPath());
}

TEST_F(OpenPayloadTest, EmptyStreamAreaReadsLengthAtOffsetFour) {
  CatalogueBuilder b;
  TestFile f{"empty.txt", ""};
  f.stream = pack::Bytes{};
  b.File(f);
  pack::Payload payload = b.Write();
  ASSERT_EQ(payload.layout.dataLength, 0u);
  ASSERT_EQ(payload.layout.fileTableOffset, 8u);
  EXPECT_EQ(Load(payload.bytes), DescribeCatalogue(b.catalogue(), payload.layout));
}

TEST_F(OpenPayloadTest, WrongFileTableLengthHasNoEffect) {
  CatalogueBuilder b = FourFiles();
  for (uint32_t a : {0u, 1u, 178u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(a);
    pack::PayloadOptions options;
    options.fileTableLength = a;
    pack::Payload payload = b.Write(options);
    EXPECT_EQ(Load(payload.bytes), DescribeCatalogue(b.catalogue(), payload.layout));
  }
}

// The geometry of the payload-container example: L = 660,142, A = 179 and a
// project archive of 498 bytes.
TEST_F(OpenPayloadTest, ExampleGeometryPlacesEachArchive) {
  CatalogueBuilder b = ExampleGeometry();
  pack::Payload payload = b.Write();
  const pack::PayloadLayout& l = payload.layout;
  ASSERT_EQ(l.dataLength, 660142u);
  ASSERT_EQ(l.fileTableLength, 179u);
  ASSERT_EQ(l.projectLength, 498u);
  EXPECT_EQ(l.ends[3], 660146u);
  EXPECT_EQ(l.fileTableOffset, 660150u);
  EXPECT_EQ(l.projectOffset, 660329u);
  EXPECT_EQ(payload.bytes.size(), 660329u + 498u);
  EXPECT_EQ(payload.bytes[660146], 179);  // A, at 4 + L
  EXPECT_EQ(Load(payload.bytes), DescribeCatalogue(b.catalogue(), l));
}

// A payload cut inside one of its two lengths is a damaged catalogue.
TEST_F(OpenPayloadTest, PayloadEndingInsideALengthIsAnArchiveError) {
  pack::Bytes whole = FourFiles().Write().bytes;
  struct Case {
    const char* what;
    pack::Bytes bytes;
  } cases[] = {
      {"empty", {}},
      {"inside L", {0x01, 0x00}},
      {"right after L = 0", {0, 0, 0, 0}},
      {"inside A", {0, 0, 0, 0, 0xB3, 0x00}},
      {"L beyond the end", {0x10, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {"L of 3 GiB", {0, 0, 0, 0xC0, 1, 2, 3}},
      {"whole stream area, no A", pack::Bytes(whole.begin(), whole.begin() + 4 + (whole[0] | whole[1] << 8 | whole[2] << 16) + 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Caught caught = LoadFails(c.bytes);
    EXPECT_EQ(caught.kind, "archive");
    EXPECT_EQ(caught.cause, CArchiveException::endOfFile);
    EXPECT_EQ(caught.message, "An attempt was made to access " + DataBinPath() + " past its end.");
  }
}

TEST_F(OpenPayloadTest, CountsThatDifferAreAcceptedWhileIndicesFit) {
  CatalogueBuilder b = FourFiles();
  b.catalogue().files.push_back(b.catalogue().files[1]);  // one entry more than items
  b.catalogue().project.items.push_back(b.catalogue().project.items[1]);
  b.catalogue().project.items.push_back(b.catalogue().project.items[1]);  // and then more items
  pack::Payload payload = b.Write();
  EXPECT_EQ(Load(payload.bytes), DescribeCatalogue(b.catalogue(), payload.layout));
}

// Ordinary names are plain; a second byte 0x5C is part of its character on
// a double-byte code page (表 95 5C in 932, 刓 84 5C in 936, 么 A4 5C in
// 950), while on 1252 it is a "\\".
TEST_F(OpenPayloadTest, FileNameChecksReadTheCodePage) {
  struct Case {
    unsigned codePage;
    const char* name;
    bool plain;
  };
  const Case cases[] = {
      {1252, "a", true},            {1252, "App.exe", true},        {1252, "...", true},
      {1252, "a..b", true},         {1252, "name with spaces.txt", true}, {1252, ".hidden", true},
      {932, "\x95\x5C.txt", true},  {1252, "\x95\x5C.txt", false}, {936, "\x84\x5C.txt", true},
      {950, "\xA4\x5C.txt", true},  {932, "a\\\x95\x5C.txt", false}, {932, "\x95\x5C\\", false},
      {932, "\x95/", false},        {932, "x\x95", true},
  };
  for (const Case& c : cases) {
    ScopedCodePage cp(c.codePage);
    EXPECT_EQ(IsPlainFileName(c.name), c.plain) << c.codePage << " " << c.name;
  }
}

}  // namespace
}  // namespace sfx::test
