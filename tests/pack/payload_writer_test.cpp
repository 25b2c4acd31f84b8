// The payload writer and the setup writer: payload layout, the archives read
// back by the loader, streams that decode to their files, and the patching
// of a stub's PayloadLocator.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "framework/file.h"
#include "inflate/inflater.h"
#include "pack/payload_writer.h"
#include "pack/setup_writer.h"
#include "payload/archive.h"
#include "payload/catalogue.h"
#include "support/catalogue_text.h"
#include "support/payload_builder.h"
#include "support/temp_dir.h"

namespace sfx::test {
namespace {

uint32_t Le32(const pack::Bytes& b, size_t at) {
  return (uint32_t)b[at] | (uint32_t)b[at + 1] << 8 | (uint32_t)b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}

// A catalogue that exercises every field: strings across the length-prefix
// sizes, programs, several lists, both data blocks, an entry without stream.
CatalogueBuilder Varied() {
  CatalogueBuilder b;
  b.Project(std::string(300, 'P')).MainProgram("Main.exe");
  b.File({"Main.exe", std::string(70000, 'm'), 11, 22, 0x21});
  TestFile none("Empty.txt", "");
  none.stream = pack::Bytes{};
  b.File(none);
  TestFile shared("Shared.dll", "shared library", 33, 44, 0x20);
  shared.destDir = "%sysdir%";
  shared.platformDir = "win32\\";
  shared.platformSpecific = 1;
  shared.versionMS = 0x00040002;
  shared.versionLS = 0x00010003;
  b.File(shared);
  b.File({"Zero.bin", ""});
  b.Program("Setup2.exe", "%inst%\\bin", 0).Program("Other.exe", "", 1);
  b.catalogue().project.components.push_back({3, 2});
  b.catalogue().project.extra = std::string(70000, 'x');  // three-byte prefix would not do
  b.catalogue().project.block1 = ToBytes("block one");
  b.catalogue().project.block2 = ToBytes(std::string(5000, 'B'));
  b.catalogue().project.mainInWindowsDir = 1;
  return b;
}

// Loads both archives from the payload as the engine does: the file table
// from 8 + L, the project from where archive 1's Close leaves the file.
std::string LoadBack(const pack::Payload& payload, DWORD* pProjectStart = nullptr) {
  CMemFile file(payload.bytes.data(), (UINT)payload.bytes.size());
  file.Seek((LONG)(8 + Le32(payload.bytes, 0)), CFile::begin);
  CObArray table;
  CBuildItems project;
  CArchive ar1(&file, CArchive::load);
  SerializeFileTable(ar1, table);
  ar1.Close();
  if (pProjectStart) *pProjectStart = file.GetPosition();
  CArchive ar2(&file, CArchive::load);
  project.Serialize(ar2);
  ar2.Close();
  std::string text = DescribeLoaded(table, project);
  DeleteFileTable(table);
  return text;
}

pack::Bytes Decode(const pack::Bytes& payload, uint32_t start) {
  CMemFile input(payload.data(), (UINT)payload.size());
  input.Seek((LONG)start, CFile::begin);
  CMemFile output;
  CInflater inflater;
  EXPECT_TRUE(inflater.Decode(&output, &input));
  return pack::Bytes(output.GetData(), output.GetData() + output.GetLength());
}

TEST(PayloadWriterTest, LaysOutLengthsStreamsAndArchives) {
  CatalogueBuilder b = Varied();
  pack::Payload payload = b.Write();
  const pack::PayloadLayout& l = payload.layout;
  const pack::Bytes& bytes = payload.bytes;

  EXPECT_EQ(Le32(bytes, 0), l.dataLength);
  ASSERT_EQ(l.starts.size(), 4u);
  EXPECT_EQ(l.starts[0], 4u);
  for (size_t i = 1; i < l.starts.size(); ++i) EXPECT_EQ(l.starts[i], l.ends[i - 1]);
  EXPECT_EQ(l.starts[1], l.ends[1]);  // the entry without a stream
  EXPECT_EQ(l.ends.back(), 4 + l.dataLength);
  EXPECT_EQ(Le32(bytes, 4 + l.dataLength), l.fileTableLength);
  EXPECT_EQ(l.fileTableOffset, 8 + l.dataLength);
  EXPECT_EQ(l.projectOffset, l.fileTableOffset + l.fileTableLength);
  EXPECT_EQ(bytes.size(), (size_t)l.projectOffset + l.projectLength);

  DWORD projectStart = 0;
  EXPECT_EQ(LoadBack(payload, &projectStart), DescribeCatalogue(b.catalogue(), l));
  EXPECT_EQ(projectStart, l.projectOffset);
}

TEST(PayloadWriterTest, EveryLevelGivesStreamsThatDecodeToTheirFiles) {
  CatalogueBuilder b;
  std::string text;
  for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i % 97) + "\n";
  std::string noise(50000, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = (char)(i * 2654435761u >> 13);
  b.File({"text.txt", text}).File({"noise.bin", noise}).File({"empty", ""}).File({"one", "1"});
  for (int level = 0; level <= 12; ++level) {
    SCOPED_TRACE(level);
    pack::PayloadOptions options;
    options.level = level;
    pack::Payload payload = b.Write(options);
    for (size_t i = 0; i < b.catalogue().files.size(); ++i)
      EXPECT_TRUE(Decode(payload.bytes, payload.layout.starts[i]) == b.catalogue().files[i].data);
  }
}

TEST(PayloadWriterTest, FileTableLengthCanBeWrittenWrong) {
  CatalogueBuilder b = Varied();
  pack::Payload right = b.Write();
  pack::PayloadOptions options;
  options.fileTableLength = 0xDEADBEEF;
  pack::Payload wrong = b.Write(options);
  ASSERT_EQ(wrong.bytes.size(), right.bytes.size());
  size_t at = 4 + right.layout.dataLength;
  EXPECT_EQ(Le32(wrong.bytes, at), 0xDEADBEEFu);
  EXPECT_EQ(Le32(right.bytes, at), right.layout.fileTableLength);
  for (size_t i = 0; i < 4; ++i) wrong.bytes[at + i] = right.bytes[at + i];
  EXPECT_TRUE(wrong.bytes == right.bytes);
}

TEST(PayloadWriterTest, RejectsWhatCannotBeWritten) {
  CatalogueBuilder b;
  b.File({"a", "a"});
  for (int level : {-1, 13}) {
    pack::PayloadOptions options;
    options.level = level;
    EXPECT_THROW(b.Write(options), pack::PayloadError) << level;
  }
}

// ---- setup writer -----------------------------------------------------------

// A stand-in stub: filler bytes with a locator (offset and size 0) at `at`.
pack::Bytes FakeStub(size_t size, size_t at) {
  pack::Bytes stub(size, 0xCC);
  pack::Bytes magic = pack::PayloadLocatorMagic();
  std::copy(magic.begin(), magic.end(), stub.begin() + at);
  std::fill(stub.begin() + at + magic.size(), stub.begin() + at + 14, 0);
  return stub;
}

TEST(SetupWriterTest, FindsExactlyOneLocator) {
  pack::Bytes magic = pack::PayloadLocatorMagic();
  ASSERT_TRUE(magic == (pack::Bytes{'w', 'w', 'e', 'W', 0x98, 0x54}));
  EXPECT_EQ(pack::FindPayloadLocator(FakeStub(1000, 0)), 0u);
  EXPECT_EQ(pack::FindPayloadLocator(FakeStub(1000, 986)), 986u);
  EXPECT_EQ(pack::FindPayloadLocator(FakeStub(1000, 513)), 513u);

  pack::Bytes twice = FakeStub(1000, 100);
  std::copy(magic.begin(), magic.end(), twice.begin() + 600);
  pack::Bytes cut(1000, 0xCC);  // the block would run past the end
  std::copy(magic.begin(), magic.end(), cut.begin() + 990);
  pack::Bytes partial = FakeStub(1000, 100);
  partial[105] = 0x55;  // the word differs
  struct Case {
    const char* what;
    pack::Bytes stub;
  } refused[] = {
      {"none", pack::Bytes(1000, 0xCC)},
      {"empty", {}},
      {"two", twice},
      {"word differs", partial},
      {"cut short", cut},
  };
  for (const Case& c : refused) EXPECT_THROW(pack::FindPayloadLocator(c.stub), pack::SetupError) << c.what;
}

TEST(SetupWriterTest, AppendsThePayloadAndPatchesOffsetAndSize) {
  pack::Bytes stub = FakeStub(5000, 1234);
  pack::Bytes payload = ToBytes("payload bytes");
  pack::Bytes image = pack::MakeSetupImage(stub, payload);
  ASSERT_EQ(image.size(), stub.size() + payload.size());
  pack::LocatorFields fields = pack::ReadPayloadLocator(image, 1234);
  EXPECT_EQ(fields.offset, 5000u);
  EXPECT_EQ(fields.size, payload.size());
  EXPECT_TRUE(pack::Bytes(image.begin() + 5000, image.end()) == payload);
  // Nothing but the two fields changed in the stub's part.
  for (size_t i = 1240; i < 1248; ++i) image[i] = 0;
  EXPECT_TRUE(pack::Bytes(image.begin(), image.begin() + 5000) == stub);
  // A stub that already carries a payload is refused.
  EXPECT_THROW(pack::MakeSetupImage(pack::MakeSetupImage(stub, payload), payload), pack::SetupError);
}

TEST(SetupWriterTest, WritesExecutablesAndDataFiles) {
  TempDir dir;
  WriteFile(dir / "stub", ToString(FakeStub(300, 10)));
  pack::Bytes payload = ToBytes("the payload");
  pack::WriteSetupExecutable(dir / "stub", payload, dir / "setup.exe");
  EXPECT_TRUE(ToBytes(ReadFile(dir / "setup.exe")) == pack::MakeSetupImage(FakeStub(300, 10), payload));
  struct stat st;
  ASSERT_EQ(stat((dir / "setup.exe").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IXUSR, 0u);

  EXPECT_EQ(pack::WriteDataFile(dir.path(), payload), dir / "Data.bin");
  EXPECT_EQ(ReadFile(dir / "Data.bin"), "the payload");
  EXPECT_THROW(pack::WriteSetupExecutable(dir / "missing", payload, dir / "x.exe"), pack::SetupError);
}

}  // namespace
}  // namespace sfx::test
