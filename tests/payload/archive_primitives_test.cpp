// The archive's byte encodings: primitives, strings, counts, raw reads, the
// buffer refill and the file position that Close leaves.
#include <gtest/gtest.h>

#include "support/code_page_env.h"
#include "archive_test_util.h"

using namespace sfx::test;

namespace {

ByteVec Prefix(const ByteVec& bytes, size_t n) { return ByteVec(bytes.begin(), bytes.begin() + n); }

CString LoadString(const ByteVec& bytes, DWORD* pConsumed = nullptr) {
  NamedMemFile file(bytes);
  CArchive ar(&file, CArchive::load);
  CString s;
  ar >> s;
  ar.Close();
  if (pConsumed) *pConsumed = file.GetPosition();
  return s;
}

}  // namespace

TEST(ArchiveStrings, WriterChoosesPrefixByLength) {
  struct Case {
    size_t length;
    ByteVec prefix;
  } cases[] = {
      {0, {0x00}},
      {254, {0xFE}},
      {255, {0xFF, 0xFF, 0x00}},
      {65533, {0xFF, 0xFD, 0xFF}},
      {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::string text(c.length, 'x');
    if (c.length > 0) text[c.length - 1] = 'z';  // the last byte lands too
    ByteVec bytes = Store([&](CArchive& ar) { ar << CString(text.data(), (int)text.size()); });
    ASSERT_EQ(bytes.size(), c.prefix.size() + c.length);
    EXPECT_EQ(Prefix(bytes, c.prefix.size()), c.prefix);
    DWORD consumed = 0;
    CString back = LoadString(bytes, &consumed);
    EXPECT_EQ(std::string(back.GetString(), back.GetLength()), text);
    EXPECT_EQ(consumed, bytes.size());
  }
}

TEST(ArchiveStrings, ReaderAcceptsLongerAndWidePrefixes) {
  struct Case {
    const char* name;
    ByteVec bytes;
    std::string expected;
    unsigned codePage = 1252;
  } cases[] = {
      {"word prefix for 5", B().b(0xFF).w(5).raw("abcde"), "abcde"},
      {"dword prefix for 5", B().b(0xFF).w(0xFFFF).d(5).raw("abcde"), "abcde"},
      {"embedded zero kept", B().b(3).raw(std::string("a\0b", 3)), std::string("a\0b", 3)},
      // 16-bit characters in the code page: those it lacks become '?'.
      {"wide", B().b(0xFF).w(0xFFFE).b(4).w('A').w(0xE9).w(0x142).w(0), std::string("A\xE9?\0", 4)},
      {"wide, long prefix", B().b(0xFF).w(0xFFFE).b(0xFF).w(2).w('h').w('i'), "hi"},
      {"wide, empty", B().b(0xFF).w(0xFFFE).b(0), ""},
      // ソ, Ａ, x, é and 가 on 932: two bytes where the code page has them.
      {"wide on 932", B().b(0xFF).w(0xFFFE).b(5).w(0x30BD).w(0xFF21).w('x').w(0xE9).w(0xAC00),
       "\x83\x5C\x82\x60x??", 932},
      {"wide on 936", B().b(0xFF).w(0xFFFE).b(2).w(0x4E57).w(0xFF41), "\x81\x5C\xA3\xE1", 936},
      {"wide on 950", B().b(0xFF).w(0xFFFE).b(2).w(0x529F).w(0xFF57), "\xA5\x5C\xA3\x40", 950},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sfx::test::ScopedCodePage cp(c.codePage);
    DWORD consumed = 0;
    CString s = LoadString(c.bytes, &consumed);
    EXPECT_EQ(std::string(s.GetString(), s.GetLength()), c.expected);
    EXPECT_EQ(consumed, c.bytes.size());
  }
}

TEST(ArchiveStrings, EndInsideStringIsEndOfFileWithoutName) {
  const char kMessage[] = "An attempt was made to access an unnamed file past its end.";
  struct Case {
    const char* name;
    ByteVec bytes;
  } cases[] = {
      {"inside characters", B().b(5).raw("abc")},
      {"inside word prefix", B().b(0xFF).b(0x05)},
      {"inside wide characters", B().b(0xFF).w(0xFFFE).b(3).w('a').b('b')},
      // A length far beyond the input fails before anything is allocated.
      {"4 GB length", B().b(0xFF).w(0xFFFF).d(0xFFFFFFF0).raw("abc")},
      {"2 GB wide length", B().b(0xFF).w(0xFFFE).b(0xFF).w(0xFFFF).d(0x7FFFFFFF).raw("ab")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Caught t = CatchFramework([&] { LoadString(c.bytes); });
    EXPECT_EQ(t.kind, "archive");
    EXPECT_EQ(t.cause, CArchiveException::endOfFile);
    EXPECT_EQ(t.message, kMessage);  // the file has a path, but it is not named
  }
}

TEST(ArchiveCounts, EncodingsAndRoundTrip) {
  struct Case {
    DWORD count;
    ByteVec bytes;
  } cases[] = {
      {0, {0x00, 0x00}},
      {65534, {0xFE, 0xFF}},
      {65535, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
      {0x12345678, {0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    EXPECT_EQ(Store([&](CArchive& ar) { ar.WriteCount(c.count); }), c.bytes);
    NamedMemFile file(c.bytes);
    CArchive ar(&file, CArchive::load);
    EXPECT_EQ(ar.ReadCount(), c.count);
  }
}

TEST(ArchivePrimitives, LittleEndianRoundTrip) {
  ByteVec bytes = Store([](CArchive& ar) {
    ar << (BYTE)0xAB << (WORD)0x1234 << (DWORD)0xDEADBEEF << (LONG)-2;
  });
  EXPECT_EQ(bytes, (ByteVec)B().b(0xAB).w(0x1234).d(0xDEADBEEF).d(0xFFFFFFFE));
  NamedMemFile file(bytes);
  CArchive ar(&file, CArchive::load);
  BYTE by;
  WORD w;
  DWORD dw;
  LONG l;
  ar >> by >> w >> dw >> l;
  EXPECT_EQ(by, 0xAB);
  EXPECT_EQ(w, 0x1234);
  EXPECT_EQ(dw, 0xDEADBEEFu);
  EXPECT_EQ(l, -2);
  Caught t = CatchFramework([&] { ar >> by; });
  EXPECT_EQ(t.cause, CArchiveException::endOfFile);
}

// Primitives that straddle the buffer's end are completed by a refill that
// keeps the unconsumed bytes.
TEST(ArchiveBuffer, RefillAcrossBufferBoundary) {
  B b;
  for (int i = 0; i < CArchive::kBufSize - 1; ++i) b.b((uint8_t)i);
  b.d(0x11223344).w(0x5566);
  NamedMemFile file(b);
  CArchive ar(&file, CArchive::load);
  for (int i = 0; i < CArchive::kBufSize - 1; ++i) {
    BYTE by;
    ar >> by;
    ASSERT_EQ(by, (BYTE)i);
  }
  DWORD dw;
  WORD w;
  ar >> dw >> w;
  EXPECT_EQ(dw, 0x11223344u);
  EXPECT_EQ(w, 0x5566);
}

TEST(ArchiveRawRead, ShortCountAtEndIsNoError) {
  NamedMemFile file(B().raw("abc"));
  CArchive ar(&file, CArchive::load);
  char buf[10] = {};
  EXPECT_EQ(ar.Read(buf, 10), 3u);
  EXPECT_EQ(std::string(buf), "abc");
  EXPECT_EQ(ar.Read(buf, 10), 0u);
}

// Large and small raw reads, mixed with primitives, consume exactly their
// bytes; after Close the file stands right after the last consumed byte.
TEST(ArchiveRawRead, LargeReadsAndClosePosition) {
  ByteVec payload(20000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = (uint8_t)(i * 7);
  ByteVec bytes = B().w(0xBEEF).bytes(payload).d(0xCAFEF00D).raw("trailing data the archive never reads");
  NamedMemFile file(bytes);
  CArchive ar(&file, CArchive::load);
  WORD w;
  ar >> w;
  ByteVec got(payload.size());
  ASSERT_EQ(ar.Read(got.data(), 100), 100u);
  ASSERT_EQ(ar.Read(got.data() + 100, (UINT)payload.size() - 100), payload.size() - 100);
  EXPECT_EQ(got, payload);
  DWORD dw;
  ar >> dw;
  EXPECT_EQ(dw, 0xCAFEF00Du);
  ar.Close();
  EXPECT_EQ(file.GetPosition(), 2 + payload.size() + 4);
}

TEST(ArchiveClose, GivesBackReadAhead) {
  for (size_t consumed : {0, 1, 5, 4095, 4096, 4097, 9000}) {
    SCOPED_TRACE(consumed);
    ByteVec bytes(12000, 0x5A);
    NamedMemFile file(bytes);
    CArchive ar(&file, CArchive::load);
    for (size_t i = 0; i < consumed; ++i) {
      BYTE by;
      ar >> by;
    }
    ar.Close();
    EXPECT_EQ(file.GetPosition(), consumed);
  }
}

TEST(ArchiveClose, StoreWritesOutBuffer) {
  CMemFile file;
  CArchive ar(&file, CArchive::store);
  for (DWORD i = 0; i < 3000; ++i) ar << i;  // 12,000 bytes: several buffers
  ar.Write("end", 3);
  EXPECT_LT(file.GetLength(), 12003u);  // the tail waits in the buffer
  ar.Close();
  ASSERT_EQ(file.GetLength(), 12003u);
  const BYTE* p = file.GetData();
  EXPECT_EQ(p[4 * 2999] | (p[4 * 2999 + 1] << 8), 2999);
  EXPECT_EQ(std::string((const char*)p + 12000, 3), "end");
}

TEST(ArchiveDirection, WrongDirectionRaisesWithFileName) {
  NamedMemFile file(B().d(1), "C:\\data\\x.bin");
  CArchive loading(&file, CArchive::load);
  EXPECT_TRUE(loading.IsLoading());
  EXPECT_FALSE(loading.IsStoring());
  Caught t = CatchFramework([&] { loading << (DWORD)1; });
  EXPECT_EQ(t.cause, CArchiveException::readOnly);
  EXPECT_EQ(t.message, "An attempt was made to write to the reading C:\\data\\x.bin.");

  CArchive storing(&file, CArchive::store);
  DWORD dw;
  t = CatchFramework([&] { storing >> dw; });
  EXPECT_EQ(t.cause, CArchiveException::writeOnly);
  EXPECT_EQ(t.message, "An attempt was made to read from the writing C:\\data\\x.bin.");
  storing.Abort();
}
