// ExtractFile in this process. This test program's PayloadLocator holds
// offset 0, so payload offsets are file offsets of the payload file; the
// payload is read either from a real file ("Data.bin") or from memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/engine_test_util.h"
#include "framework/file.h"
#include "framework/log_stream.h"
#include "inflate/extract_file.h"
#include "payload/catalogue.h"
#include "support/payload_builder.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace sfx::test {
namespace {

// A payload in memory that counts how often it is read and positioned.
class CountingPayload : public CMemFile {
 public:
  explicit CountingPayload(const pack::Bytes& b) : CMemFile(b.data(), (UINT)b.size()) {}
  UINT Read(void* p, UINT n) override {
    ++reads;
    return CMemFile::Read(p, n);
  }
  DWORD Seek(LONG off, UINT from) override {
    ++seeks;
    return CMemFile::Seek(off, from);
  }
  int reads = 0;
  int seeks = 0;
};

// The file-table entry that the payload writer made for file i.
std::unique_ptr<CCompFileInfo> Entry(const pack::FileEntry& f, const pack::PayloadLayout& l, size_t i) {
  auto e = std::make_unique<CCompFileInfo>();
  e->m_ctime = f.ctime;
  e->m_mtime = f.mtime;
  e->m_attribute = f.attribute;
  e->m_strName = CString(f.name.data(), (int)f.name.size());
  e->m_dwStart = l.starts[i];
  e->m_dwEnd = l.ends[i];
  return e;
}

// The attribute byte a file reads back with: none reads as NORMAL.
int ReadBack(uint8_t attribute) { return attribute == 0 ? 0x80 : attribute; }

class ExtractFileTest : public ::testing::Test {
 protected:
  ExtractFileTest() : outDir_(WindowsDir(dir_.path())), strDir_(outDir_.c_str()) {}

  std::string Host(const std::string& name) const { return dir_ / name; }
  // Extracts file i of the payload that b wrote.
  void Extract(CFile& payloadFile, const CatalogueBuilder& b, const pack::Payload& p, size_t i, CLogStream* log) {
    ExtractFile(&payloadFile, Entry(b.catalogue().files[i], p.layout, i).get(), strDir_, log);
  }
  std::string Path(const std::string& name) const { return outDir_ + name; }
  CFileStatus Status(const std::string& name) {
    CFileStatus s;
    EXPECT_TRUE(CFile::GetStatus(Path(name).c_str(), s)) << name;
    return s;
  }

  ScopedPrefix prefix_;
  TempDir dir_;
  std::string outDir_;
  CString strDir_;
  CLogStream log_;
};

// Hundreds of files, empty to several MiB, compressible and not, read from
// a real payload file: each extracts byte-identical with its times and
// attribute, and the log holds one "file:" line per file, in order.
TEST_F(ExtractFileTest, ManyFilesExtractExactlyWithTimesAndAttributes) {
  std::mt19937 rng(20240607);
  const uint8_t attributes[] = {0x20, 0x01, 0x21, 0x02, 0x04, 0x00, 0x27};
  const size_t sizes[] = {0, 1, 2, 258, 32767, 32768, 32769, 65535, 65536, 100000, 1 << 20, 3 << 20};
  CatalogueBuilder b;
  for (int i = 0; i < 300; ++i) {
    size_t size = i < 12 ? sizes[i] : rng() % 6000;
    std::string bytes(size, '\0');
    bool random = i % 3 == 0;
    for (size_t j = 0; j < size; ++j) bytes[j] = random ? (char)rng() : "abcabd\n"[j % 7];
    TestFile f{"file" + std::to_string(i) + ".bin", bytes};
    f.ctime = 315532800u + (uint32_t)i * 86401u;      // from 1980 on
    f.mtime = 0xF0000000u - (uint32_t)i * 3600u;      // up to 2097
    f.attribute = attributes[i % 7];
    b.File(f);
  }
  b.File({"big.dat", std::string(5 << 20, 'Z')});
  pack::Payload payload = b.Write();
  WriteDataBin(dir_.path(), payload.bytes);
  CFile file((outDir_ + "Data.bin").c_str(), CFile::modeRead);

  std::string expectedLog;
  const auto& files = b.catalogue().files;
  for (size_t i = 0; i < files.size(); ++i) {
    Extract(file, b, payload, i, &log_);
    expectedLog += "file:" + Path(files[i].name) + "\n";
  }
  EXPECT_EQ(std::string(log_.GetText()), expectedLog);
  for (const pack::FileEntry& f : files) {
    SCOPED_TRACE(f.name);
    EXPECT_TRUE(ReadFile(Host(f.name)) == ToString(f.data));
    CFileStatus s = Status(f.name);
    EXPECT_EQ(s.m_ctime, f.ctime);
    EXPECT_EQ(s.m_mtime, f.mtime);
    EXPECT_EQ(s.m_attribute, ReadBack(f.attribute));
  }
}

// Each extraction seeks first, so order and where the payload was left do
// not matter.
TEST_F(ExtractFileTest, ExtractionsDoNotDependOnThePayloadPosition) {
  CatalogueBuilder b;
  b.File({"one.txt", std::string(40000, '1')}).File({"two.txt", "second"}).File({"three.txt", "3"});
  pack::Payload payload = b.Write();
  CountingPayload file(payload.bytes);
  for (size_t i : {2, 0, 1, 2}) {
    file.Seek(0, CFile::end);
    Extract(file, b, payload, i, nullptr);
    EXPECT_EQ(ReadFile(Host(b.catalogue().files[i].name)), ToString(b.catalogue().files[i].data));
  }
  EXPECT_EQ(log_.GetLength(), 0);
}

TEST_F(ExtractFileTest, MtimeZeroKeepsTheTimesOfWriting) {
  CatalogueBuilder b;
  TestFile f{"fresh.txt", "content"};
  f.ctime = 1000;
  f.mtime = 0;
  f.attribute = 0x01;
  b.File(f);
  pack::Payload payload = b.Write();
  CountingPayload file(payload.bytes);
  DWORD before = (DWORD)time(nullptr);
  Extract(file, b, payload, 0, &log_);
  DWORD after = (DWORD)time(nullptr);

  CFileStatus s = Status("fresh.txt");
  EXPECT_GE(s.m_mtime, before - 1);
  EXPECT_LE(s.m_mtime, after + 1);
  EXPECT_GE(s.m_ctime, before - 1);  // not the entry's 1000
  EXPECT_EQ(s.m_attribute, 0x01);
  EXPECT_EQ(std::string(log_.GetText()), "file:" + Path("fresh.txt") + "\n");
}

TEST_F(ExtractFileTest, ExistingDestinationIsTruncated) {
  WriteFile(Host("over.txt"), std::string(100000, '#'));
  CatalogueBuilder b;
  b.File({"over.txt", "short"});
  pack::Payload payload = b.Write();
  CountingPayload file(payload.bytes);
  Extract(file, b, payload, 0, &log_);
  EXPECT_EQ(ReadFile(Host("over.txt")), "short");
}

// A destination that cannot be opened for writing fails before the payload
// is touched, and nothing is logged.
TEST_F(ExtractFileTest, UnwritableDestinationThrowsBeforeReadingThePayload) {
  CatalogueBuilder b;
  b.File({"locked.txt", "new content"});
  pack::Payload payload = b.Write();
  struct Case {
    const char* what;
    bool readOnly;
  } cases[] = {{"read-only", true}, {"held open", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(Host("locked.txt"), "old content");
    CFile holder;
    if (c.readOnly) {
      CFileStatus ro;
      ro.m_attribute = CFile::readOnly;
      CFile::SetStatus(Path("locked.txt").c_str(), ro);
    } else {
      ASSERT_TRUE(holder.Open(Path("locked.txt").c_str(), CFile::modeRead | CFile::shareDenyNone));
    }
    CountingPayload file(payload.bytes);
    Caught caught = CatchFramework([&] { Extract(file, b, payload, 0, &log_); });
    EXPECT_EQ(caught.kind, "file");
    EXPECT_EQ(caught.fileName, Path("locked.txt"));
    EXPECT_EQ(file.reads + file.seeks, 0);
    EXPECT_EQ(log_.GetLength(), 0);
    holder.Close();
    EXPECT_EQ(ReadFile(Host("locked.txt")), "old content");
    CFileStatus rw;
    rw.m_attribute = CFile::archive;
    CFile::SetStatus(Path("locked.txt").c_str(), rw);
  }
}

// A stream that fails to decode, early or after whole windows were
// written, is an archive error naming the payload file: the destination
// keeps its old content (or does not appear), nothing is logged, and no
// temporary file stays in the folder.
TEST_F(ExtractFileTest, DamagedStreamKeepsTheOldFileAndIsAnArchiveError) {
  std::string data(105535, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = (char)(i % 251);
  // Whole stored blocks, then block type 0 with the last-block flag: invalid.
  struct Case {
    const char* what;
    size_t good;      // bytes decoded before the bad block
    const char* old;  // the destination's content before, null: none
  } cases[] = {{"after three windows, over a file", 105535, "old content"},
               {"inside the first window, no file before", 30000, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pack::Bytes stream = StoredStream(data.substr(0, c.good), false);
    stream.push_back(0x08);
    CatalogueBuilder b;
    TestFile f{"damaged.bin", ""};
    f.stream = stream;
    f.attribute = 0x21;
    b.File(f).File({"next.txt", "next"});
    pack::Payload payload = b.Write();
    WriteDataBin(dir_.path(), payload.bytes);
    if (c.old != nullptr) WriteFile(Host("damaged.bin"), c.old);
    CFile file((outDir_ + "Data.bin").c_str(), CFile::modeRead);
    CLogStream log;
    Caught caught = CatchFramework([&] { Extract(file, b, payload, 0, &log); });
    EXPECT_EQ(caught.kind, "archive");
    EXPECT_EQ(caught.message, Path("Data.bin") + " has a bad format.");
    if (c.old != nullptr) {
      EXPECT_EQ(ReadFile(Host("damaged.bin")), c.old);
    } else {
      EXPECT_FALSE(fs::exists(Host("damaged.bin")));
    }
    EXPECT_EQ(log.GetLength(), 0);
    std::vector<std::string> expected{"Data.bin"};
    if (c.old != nullptr) expected.push_back("damaged.bin");
    EXPECT_EQ(ListTree(dir_.path()), expected);
    fs::remove(Host("damaged.bin"));
  }
}

// An entry without a stream (start == end) gives an empty file rather than
// the next entry's content; it is stamped and logged like any other.
TEST_F(ExtractFileTest, EntryWithoutStreamGivesAnEmptyFile) {
  CatalogueBuilder b;
  TestFile none{"none.txt", ""};
  none.stream = pack::Bytes{};
  none.attribute = 0x02;
  b.File(none).File({"after.txt", "the next entry's content"});
  pack::Payload payload = b.Write();
  ASSERT_EQ(payload.layout.starts[0], payload.layout.ends[0]);
  CountingPayload file(payload.bytes);
  Extract(file, b, payload, 0, &log_);
  EXPECT_EQ(ReadFile(Host("none.txt")), "");
  CFileStatus s = Status("none.txt");
  EXPECT_EQ(s.m_ctime, none.ctime);
  EXPECT_EQ(s.m_mtime, none.mtime);
  EXPECT_EQ(s.m_attribute, 0x02);
  EXPECT_EQ(std::string(log_.GetText()), "file:" + Path("none.txt") + "\n");
}

}  // namespace
}  // namespace sfx::test
