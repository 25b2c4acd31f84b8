// The catalogue classes: the byte form of a four-file catalogue, store/load
// round trips of file tables and projects, data blocks, and the rejection of
// arrays whose elements the project could not own or use.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "archive_test_util.h"
#include "payload/catalogue.h"
#include "payload/owned_arrays.h"
#include "support/temp_dir.h"

using namespace sfx::test;

namespace {

const char kPath[] = "C:\\SETUP\\app.exe";

struct Entry {
  uint32_t ctime, mtime;
  uint8_t attribute;
  std::string name;
  uint32_t versionMS, versionLS, start, end;
};

// Four files; the first has no stream (start == end == 4).
const Entry kEntries[] = {
    {946684800, 946684801, 0x20, "readme.txt", 0, 0, 4, 4},
    {946684802, 946684803, 0x21, "app.exe", 0x00010002, 0x00030004, 4, 104},
    {946684804, 946684805, 0x00, "app.dll", 0x00050000, 0, 104, 230},
    {946684806, 946684807, 0x20, "font.ttf", 0, 0, 230, 300},
};

struct Item {
  std::string name, dest, platformDir, source;
  uint32_t platformSpecific, versionMS, versionLS, size;
};

// Item 0 is platform-specific but listed in no platform list.
const Item kItems[] = {
    {"readme.txt", "%inst%", "win32\\", "C:\\src\\", 1, 0, 0, 12},
    {"app.exe", "%inst%", "win32\\", "C:\\src\\app.exe", 1, 0x00010002, 0x00030004, 5000},
    {"app.dll", "%sysdir%", "", "C:\\src\\", 0, 0x00050000, 0, 9000},
    {"font.ttf", "%font%", "", "C:\\src\\", 0, 0, 0, 700},
};

B& EntryBytes(B& b, const Entry& e) {
  return b.d(e.ctime).d(e.mtime).b(e.attribute).str(e.name).d(e.versionMS).d(e.versionLS).d(e.start).d(
      e.end);
}

B& ItemBytes(B& b, const Item& i) {
  return b.str(i.name).str(i.dest).str(i.platformDir).str(i.source).d(i.platformSpecific).d(
      i.versionMS).d(i.versionLS).d(i.size);
}

ByteVec ExampleArchive1() {
  B b;
  b.w(4).cls("CCompFileInfo");
  EntryBytes(b, kEntries[0]);
  for (int i = 1; i < 4; ++i) EntryBytes(b.w(0x8001), kEntries[i]);
  return b;
}

ByteVec ExampleArchive2() {
  B b;
  b.w(3).str("").str("C:\\Program Files\\App\\").str("");  // m_arrInstallDirs
  b.w(0);                                                    // no programs
  b.w(4).cls("CBuildItem");                                  // class 1, object 2
  ItemBytes(b, kItems[0]);
  for (int i = 1; i < 4; ++i) ItemBytes(b.w(0x8001), kItems[i]);  // objects 3..5
  b.w(3).cls("CIndexArray");                                 // platforms: class 6, object 7
  IndexListBytes(b, {});
  IndexListBytes(b.w(0x8006), {1, 2, 3});
  IndexListBytes(b.w(0x8006), {});
  b.w(3);  // components
  IndexListBytes(b.w(0x8006), {1, 2, 3});
  IndexListBytes(b.w(0x8006), {});
  IndexListBytes(b.w(0x8006), {});
  b.d(0).d(0);  // no data blocks
  b.w(0);       // main program in the install directory
  b.str("My App").str("app.exe").str("");
  return b;
}

CCompFileInfo* NewEntry(const Entry& e) {
  auto* p = new CCompFileInfo;
  p->m_ctime = e.ctime;
  p->m_mtime = e.mtime;
  p->m_attribute = e.attribute;
  p->m_strName = e.name.c_str();
  p->m_dwVersionMS = e.versionMS;
  p->m_dwVersionLS = e.versionLS;
  p->m_dwStart = e.start;
  p->m_dwEnd = e.end;
  return p;
}

void FillExampleFileTable(CObArray& table) {
  for (const Entry& e : kEntries) table.Add(NewEntry(e));
}

void FillExampleProject(CBuildItems& project) {
  project.m_arrInstallDirs.Add("");
  project.m_arrInstallDirs.Add("C:\\Program Files\\App\\");
  project.m_arrInstallDirs.Add("");
  for (const Item& i : kItems) {
    auto* p = new CBuildItem;
    p->m_strName = i.name.c_str();
    p->m_strDestDir = i.dest.c_str();
    p->m_strPlatformDir = i.platformDir.c_str();
    p->m_strSourcePath = i.source.c_str();
    p->m_bPlatformSpecific = i.platformSpecific;
    p->m_dwVersionMS = i.versionMS;
    p->m_dwVersionLS = i.versionLS;
    p->m_dwSize = i.size;
    project.m_arrItems.Add(p);
  }
  project.m_arrPlatforms.Add(NewIndexList({}));
  project.m_arrPlatforms.Add(NewIndexList({1, 2, 3}));
  project.m_arrPlatforms.Add(NewIndexList({}));
  project.m_arrComponents.Add(NewIndexList({1, 2, 3}));
  project.m_arrComponents.Add(NewIndexList({}));
  project.m_arrComponents.Add(NewIndexList({}));
  project.m_strProject = "My App";
  project.m_strMainProgram = "app.exe";
}

// ---- Member-by-member comparison -------------------------------------------------

std::string S(const CString& s) { return std::string(s.GetString(), s.GetLength()); }

// Every member as one tuple, so that a difference prints both whole.
auto Members(const CCompFileInfo& e) {
  return std::make_tuple(e.m_ctime, e.m_mtime, e.m_attribute, S(e.m_strName), e.m_dwVersionMS,
                         e.m_dwVersionLS, e.m_dwStart, e.m_dwEnd);
}
auto Members(const CBuildItem& i) {
  return std::make_tuple(S(i.m_strName), S(i.m_strDestDir), S(i.m_strPlatformDir), S(i.m_strSourcePath),
                         i.m_bPlatformSpecific, i.m_dwVersionMS, i.m_dwVersionLS, i.m_dwSize);
}
auto Members(const CExecutableItem& p) {
  return std::make_tuple(S(p.m_strName), S(p.m_strDir), p.m_dwReserved, p.m_nComponent);
}
std::vector<DWORD> Members(const CIndexArray& a) {
  return std::vector<DWORD>(a.m_dwIndices.GetData(), a.m_dwIndices.GetData() + a.m_dwIndices.GetSize());
}

// Elements of class T, compared pairwise.
template <class T>
void ExpectEqualArrays(const CObArray& a, const CObArray& b) {
  ASSERT_EQ(a.GetSize(), b.GetSize());
  for (int i = 0; i < a.GetSize(); ++i) {
    SCOPED_TRACE(i);
    const T* pa = dynamic_cast<const T*>(a[i]);
    const T* pb = dynamic_cast<const T*>(b[i]);
    ASSERT_NE(pa, nullptr);
    ASSERT_NE(pb, nullptr);
    EXPECT_EQ(Members(*pa), Members(*pb));
  }
}

void ExpectEqualBlock(DWORD sizeA, const void* pA, DWORD sizeB, const void* pB) {
  ASSERT_EQ(sizeA, sizeB);
  ASSERT_EQ(pA == nullptr, pB == nullptr);
  if (pA != nullptr) {
    EXPECT_EQ(memcmp(pA, pB, sizeA), 0);
  }
}

void ExpectEqual(const CBuildItems& a, const CBuildItems& b) {
  EXPECT_EQ(S(a.m_strProject), S(b.m_strProject));
  EXPECT_EQ(S(a.m_strMainProgram), S(b.m_strMainProgram));
  ASSERT_EQ(a.m_arrInstallDirs.GetSize(), b.m_arrInstallDirs.GetSize());
  for (int i = 0; i < a.m_arrInstallDirs.GetSize(); ++i)
    EXPECT_EQ(S(a.m_arrInstallDirs[i]), S(b.m_arrInstallDirs[i]));
  EXPECT_EQ(a.m_wMainInWindowsDir, b.m_wMainInWindowsDir);
  ExpectEqualArrays<CExecutableItem>(a.m_arrPrograms, b.m_arrPrograms);
  ExpectEqualArrays<CBuildItem>(a.m_arrItems, b.m_arrItems);
  ExpectEqualArrays<CIndexArray>(a.m_arrComponents, b.m_arrComponents);
  ExpectEqualArrays<CIndexArray>(a.m_arrPlatforms, b.m_arrPlatforms);
  EXPECT_EQ(S(a.m_strExtra), S(b.m_strExtra));
  ExpectEqualBlock(a.m_dwBlock1Size, a.m_pBlock1, b.m_dwBlock1Size, b.m_pBlock1);
  ExpectEqualBlock(a.m_dwBlock2Size, a.m_pBlock2, b.m_dwBlock2Size, b.m_pBlock2);
}

// ---- Load helpers ------------------------------------------------------------------

Caught LoadProject(const ByteVec& bytes, CBuildItems& project) {
  NamedMemFile file(bytes, kPath);
  return CatchFramework([&] {
    CArchive ar(&file, CArchive::load);
    project.Serialize(ar);
    ar.Close();
  });
}

Caught LoadFileTable(const ByteVec& bytes, CObArray& table) {
  NamedMemFile file(bytes, kPath);
  return CatchFramework([&] {
    CArchive ar(&file, CArchive::load);
    SerializeFileTable(ar, table);
    ar.Close();
  });
}

void* NewBlock(const std::string& bytes) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  void* p = GlobalLock(h);
  memcpy(p, bytes.data(), bytes.size());
  return p;
}

}  // namespace

TEST(Catalogue, WorkedExampleBytes) {
  CObArray table;
  FillExampleFileTable(table);
  EXPECT_EQ(Store([&](CArchive& ar) { SerializeFileTable(ar, table); }), ExampleArchive1());

  CBuildItems project;
  FillExampleProject(project);
  EXPECT_EQ(Store([&](CArchive& ar) { project.Serialize(ar); }), ExampleArchive2());
  DeleteFileTable(table);
}

// Archive 1 followed by archive 2 in one file: closing archive 1 leaves the
// file at archive 2's first byte, whatever the buffer read ahead.
TEST(Catalogue, WorkedExampleLoadsInSequence) {
  ByteVec a1 = ExampleArchive1();
  ByteVec a2 = ExampleArchive2();
  NamedMemFile file(B().bytes(a1).bytes(a2).raw("junk after the catalogue"), kPath);

  CObArray table;
  CArchive ar1(&file, CArchive::load);
  SerializeFileTable(ar1, table);
  ar1.Close();
  EXPECT_EQ(file.GetPosition(), a1.size());

  CBuildItems project;
  CArchive ar2(&file, CArchive::load);
  project.Serialize(ar2);
  ar2.Close();
  EXPECT_EQ(file.GetPosition(), a1.size() + a2.size());

  CObArray expectedTable;
  FillExampleFileTable(expectedTable);
  ExpectEqualArrays<CCompFileInfo>(table, expectedTable);
  CBuildItems expected;
  FillExampleProject(expected);
  ExpectEqual(project, expected);
  EXPECT_EQ(project.m_arrPrograms.GetSize(), 0);
  EXPECT_EQ(project.m_pBlock1, nullptr);
  EXPECT_EQ(project.m_pBlock2, nullptr);
  DeleteFileTable(table);
  DeleteFileTable(expectedTable);
}

TEST(Catalogue, FullProjectRoundTrip) {
  CBuildItems project;
  FillExampleProject(project);
  for (DWORD c : {0u, 0u, 1u}) {
    auto* p = new CExecutableItem;
    p->m_strName.Format("prog%u.exe", c);
    p->m_strDir = "%inst%\\bin\\";
    p->m_dwReserved = 0xA5A5A5A5;
    p->m_nComponent = c;
    project.m_arrPrograms.Add(p);
  }
  project.m_wMainInWindowsDir = 1;
  project.m_strExtra = CString('e', 70000);  // the 7-byte string prefix
  std::string block1(10000, '\0');
  for (size_t i = 0; i < block1.size(); ++i) block1[i] = (char)(i * 31);
  project.m_pBlock1 = NewBlock(block1);
  project.m_dwBlock1Size = (DWORD)block1.size();
  project.m_pBlock2 = NewBlock("xyz");
  project.m_dwBlock2Size = 3;

  ByteVec bytes = Store([&](CArchive& ar) { project.Serialize(ar); });
  CBuildItems back;
  Caught t = LoadProject(bytes, back);
  ASSERT_FALSE(t.thrown()) << t.message;
  ExpectEqual(back, project);

  // Loading again into the same project releases what it held first (the
  // leak checker would report the old elements and blocks otherwise).
  t = LoadProject(ExampleArchive2(), back);
  ASSERT_FALSE(t.thrown()) << t.message;
  CBuildItems expected;
  FillExampleProject(expected);
  ExpectEqual(back, expected);
}

TEST(Catalogue, BlocksStoredFromFiles) {
  ScopedPrefix prefix;
  WriteFile(prefix.Host("C:\\block1.bin"), "first block");
  WriteFile(prefix.Host("C:\\empty.bin"), "");
  CBuildItems project;
  project.m_pBlock2 = NewBlock("held before");  // replaced by the empty file
  project.m_dwBlock2Size = 11;
  project.m_strBlock1File = "C:\\block1.bin";
  project.m_strBlock2File = "C:\\empty.bin";
  ByteVec bytes = Store([&](CArchive& ar) { project.Serialize(ar); });
  EXPECT_EQ(project.m_pBlock2, nullptr);
  // Five empty arrays, then the blocks.
  ByteVec expected = B().w(0).w(0).w(0).w(0).w(0).d(11).raw("first block").d(0).w(0).str("").str("").str("");
  EXPECT_EQ(bytes, expected);

  project.m_strBlock1File = "C:\\missing.bin";
  Caught t = CatchFramework([&] { Store([&](CArchive& ar) { project.Serialize(ar); }); });
  EXPECT_EQ(t.kind, "file");
}

TEST(Catalogue, FileTableRoundTripOfManyEntries) {
  CObArray table;
  for (DWORD i = 0; i < 0x8100; ++i)  // past the short-index range
    table.Add(NewEntry({i, i + 1, (uint8_t)i, "file" + std::to_string(i) + ".dat", i * 3, i * 5, 4 + i, 5 + i}));
  ByteVec bytes = Store([&](CArchive& ar) { SerializeFileTable(ar, table); });
  CObArray back;
  Caught t = LoadFileTable(bytes, back);
  ASSERT_FALSE(t.thrown()) << t.message;
  ExpectEqualArrays<CCompFileInfo>(back, table);
  DeleteFileTable(table);
  DeleteFileTable(back);
}

// Elements the project or the file table could not own or use are refused
// as unexpected objects, with the file's name, and nothing leaks.
TEST(Catalogue, UnusableElementsAreBadClass) {
  const std::string message = std::string(kPath) + " contained an unexpected object.";
  auto items = [](B& b) {  // two file items: class 1, objects 2 and 3
    b.w(2).cls("CBuildItem");
    ItemBytes(b, kItems[0]);
    return &ItemBytes(b.w(0x8001), kItems[1]);
  };
  struct Case {
    const char* name;
    ByteVec bytes;
    bool fileTable;
  } cases[] = {
      {"index list among items", B().w(0).w(0).w(1).cls("CIndexArray").w(0), false},
      {"null program", B().w(0).w(1).w(0), false},
      {"file item among programs", B().w(0).w(1).cls("CBuildItem"), false},
      {"item repeated as second item",
       [&] { B b; b.w(0).w(0).w(2).cls("CBuildItem"); ItemBytes(b, kItems[0]).w(0x0002); return ByteVec(b); }(),
       false},
      {"platform list reused as component",
       [&] { B b; b.w(0).w(0).w(0).w(1).cls("CIndexArray"); IndexListBytes(b, {1}).w(1).w(0x0002); return ByteVec(b); }(),
       false},
      {"item among platform lists",
       [&] { B b; b.w(0).w(0); items(b)->w(1).w(0x8001); ItemBytes(b, kItems[2]); return ByteVec(b); }(),
       false},
      {"null component", B().w(0).w(0).w(0).w(0).w(1).w(0), false},
      {"file item in file table", B().w(1).cls("CBuildItem"), true},
      {"null file table entry", B().w(2).w(0).w(0), true},
      {"repeated file table entry",
       [&] { B b; b.w(2).cls("CCompFileInfo"); EntryBytes(b, kEntries[0]).w(0x0002); return ByteVec(b); }(),
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Caught t;
    if (c.fileTable) {
      CObArray table;
      t = LoadFileTable(c.bytes, table);
      DeleteFileTable(table);
    } else {
      CBuildItems project;
      t = LoadProject(c.bytes, project);
    }
    EXPECT_EQ(t.kind, "archive");
    EXPECT_EQ(t.cause, CArchiveException::badClass);
    EXPECT_EQ(t.message, message);
  }
}

TEST(Catalogue, DataBlockSizes) {
  B head;
  head.w(0).w(0).w(0).w(0).w(0);  // five empty arrays
  struct Case {
    const char* name;
    ByteVec bytes;
    bool ok;
  } cases[] = {
      {"4 GB block in a small archive", B(head).d(0xFFFFFFF0).raw("abcdefgh"), false},
      {"block one byte longer than the rest", B(head).d(16).raw("0123456789abcde"), false},
      {"block, then the rest", B(head).d(3).raw("abc").d(0).w(1).str("p").str("m").str("x"), true},
      {"second block cut", B(head).d(0).d(5).raw("ab"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CBuildItems project;
    Caught t = LoadProject(c.bytes, project);
    if (c.ok) {
      ASSERT_FALSE(t.thrown()) << t.message;
      ASSERT_EQ(project.m_dwBlock1Size, 3u);
      EXPECT_EQ(memcmp(project.m_pBlock1, "abc", 3), 0);
      EXPECT_EQ(project.m_pBlock2, nullptr);
      EXPECT_EQ(project.m_wMainInWindowsDir, 1);
      EXPECT_EQ(S(project.m_strExtra), "x");
    } else {
      EXPECT_EQ(t.cause, CArchiveException::endOfFile);
      EXPECT_EQ(project.m_pBlock1, nullptr);
      EXPECT_EQ(project.m_pBlock2, nullptr);
    }
  }
}

// A load that fails half way leaves what was read in the project, whose
// destructor releases it.
TEST(Catalogue, FailureHalfWayKeepsMembersRead) {
  ByteVec full = ExampleArchive2();
  for (size_t cut : {size_t(50), full.size() / 2, full.size() - 3}) {
    SCOPED_TRACE(cut);
    CBuildItems project;
    Caught t = LoadProject(ByteVec(full.begin(), full.begin() + cut), project);
    EXPECT_EQ(t.cause, CArchiveException::endOfFile);
    EXPECT_EQ(project.m_arrInstallDirs.GetSize(), 3);
  }
}
