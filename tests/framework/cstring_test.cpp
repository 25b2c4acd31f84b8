// CString: construction, slicing, search, buffer access, aliasing and
// comparison.
#include "framework/cstring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "framework/exceptions.h"
#include "support/caught.h"
#include "support/code_page_env.h"

namespace {

using sfx::test::CatchFramework;

std::string S(const CString& s) { return std::string((const char*)s, (size_t)s.GetLength()); }

// Constructors, concatenation and slices (out-of-range counts clamped): the
// text each gives, always terminated.
TEST(CStringTest, TextOfConstructionConcatenationAndSlices) {
  const CString s("abcdef"), dir("C:\\TEMP\\");
  const struct {
    const char* what;
    CString got;
    std::string want;
  } cases[] = {
      {"default", CString(), ""},
      {"null", CString((const char*)nullptr), ""},
      {"C string", CString("abc"), "abc"},
      {"first 3", CString("abcdef", 3), "abc"},
      {"first 2", CString("abcdef", 2), "ab"},
      {"negative length", CString("abc", -1), ""},
      {"repeated", CString('x', 4), "xxxx"},
      {"repeated 0 times", CString('x', 0), ""},
      {"NUL inside, length given", CString("a\0b", 3), std::string("a\0b", 3)},
      {"+ C string", dir + "x.dll", "C:\\TEMP\\x.dll"},
      {"C string +", "pre" + dir, "preC:\\TEMP\\"},
      {"+ CString", dir + CString("y"), "C:\\TEMP\\y"},
      {"+ char", dir + '\\', "C:\\TEMP\\\\"},
      {"Left 0", s.Left(0), ""},
      {"Left 3", s.Left(3), "abc"},
      {"Left past end", s.Left(100), "abcdef"},
      {"Left negative", s.Left(-5), ""},
      {"Mid 2", s.Mid(2), "cdef"},
      {"Mid at end", s.Mid(6), ""},
      {"Mid past end", s.Mid(60), ""},
      {"Mid negative first", s.Mid(-3), "abcdef"},
      {"Mid 1,2", s.Mid(1, 2), "bc"},
      {"Mid count past end", s.Mid(4, 100), "ef"},
      {"Mid negative count", s.Mid(1, -1), ""},
      {"Mid first past end with count", s.Mid(10, 2), ""},
      {"Right 2", s.Right(2), "ef"},
      {"Right past end", s.Right(99), "abcdef"},
      {"Right negative", s.Right(-1), ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(S(c.got), c.want) << c.what;
    EXPECT_EQ(((const char*)c.got)[c.got.GetLength()], 0) << c.what;
  }
}

TEST(CStringTest, CopyMoveAssignAndAppend) {
  CString a("first");
  CString b(a);
  b += "!";
  EXPECT_EQ(S(a), "first");
  EXPECT_EQ(S(b), "first!");
  CString c(static_cast<CString&&>(b));
  EXPECT_EQ(S(c), "first!");
  EXPECT_TRUE(b.IsEmpty());
  c = 'z';
  EXPECT_EQ(S(c), "z");
  c = (const char*)nullptr;
  EXPECT_TRUE(c.IsEmpty());
  b = "again";  // a moved-from string is usable
  EXPECT_EQ(S(b), "again");
  // Many small appends keep the whole text.
  CString grown;
  std::string expected;
  for (int i = 0; i < 1000; ++i) {
    char ch = (char)('a' + i % 26);
    grown += ch;
    expected += ch;
  }
  EXPECT_EQ(S(grown), expected);
}

TEST(CStringTest, FindAndReverseFind) {
  const CString s("C:\\WINDOWS\\SYSTEM\\SHARED.DLL");
  EXPECT_EQ(s.Find('\\'), 2);
  EXPECT_EQ(s.Find('\\', 3), 10);
  EXPECT_EQ(s.Find('\\', -4), 2);
  EXPECT_EQ(s.Find('\\', 1000), -1);
  EXPECT_EQ(s.Find('q'), -1);
  EXPECT_EQ(s.ReverseFind('\\'), 17);
  EXPECT_EQ(s.ReverseFind('.'), 24);
  EXPECT_EQ(s.ReverseFind('q'), -1);
  EXPECT_EQ(CString().ReverseFind('a'), -1);
  EXPECT_EQ(s.Find("SYSTEM"), 11);
  EXPECT_EQ(s.Find("SYSTEM", 12), -1);
  EXPECT_EQ(s.Find("DLL", 1000), -1);
  EXPECT_EQ(s.Find((const char*)nullptr), -1);
  // The search is byte-exact: no case folding.
  EXPECT_EQ(s.Find("system"), -1);
}

// Searches step by character of the code page in force: a lead byte and
// the byte after it are one unit, so a second byte 0x5C is no "\\"; on 1252
// every byte is a character. ソ is 83 5C in 932, 乗 81 5C in 936, 功 A5 5C
// in 950.
TEST(CStringTest, SearchesStepByCharacterOfTheCodePage) {
  struct Case {
    unsigned codePage;
    const char* text;
    int find, findFrom3, reverse, oneOf, findSub;  // '\\', '\\' from 3, last '\\', of "/\\:", "\\x"
  };
  const Case cases[] = {
      {932, "C:\\\x83\x5Cx\\x", 2, 6, 6, 1, 6},
      {1252, "C:\\\x83\x5Cx\\x", 2, 4, 6, 1, 4},
      {936, "C:\\\x81\x5Cx\\x", 2, 6, 6, 1, 6},
      {950, "C:\\\xA5\x5Cx\\x", 2, 6, 6, 1, 6},
      {932, "\x95\x5C.txt", -1, -1, -1, -1, -1},
      {1252, "\x95\x5C.txt", 1, -1, 1, 1, -1},
      {932, "a\\\x83", 1, -1, 1, 1, -1},  // a lone lead byte at the end is a character
  };
  for (const Case& c : cases) {
    sfx::test::ScopedCodePage cp(c.codePage);
    const CString s(c.text);
    EXPECT_EQ(s.Find('\\'), c.find) << c.codePage << " " << c.text;
    EXPECT_EQ(s.Find('\\', 3), c.findFrom3) << c.codePage << " " << c.text;
    EXPECT_EQ(s.ReverseFind('\\'), c.reverse) << c.codePage << " " << c.text;
    EXPECT_EQ(s.FindOneOf("/\\:"), c.oneOf) << c.codePage << " " << c.text;
    EXPECT_EQ(s.Find("\\x"), c.findSub) << c.codePage << " " << c.text;
  }
  sfx::test::ScopedCodePage cp(932);
  EXPECT_EQ(CString("a\x83\x5C\x83").FindOneOf("\x83"), 3);   // a lead byte alone matches only itself
  EXPECT_EQ(CString("a\x83\x5C" "b").FindOneOf("b\x83\x5C"), 1);  // a double-byte member of the set
}

// Case-blind comparison folds ASCII letters outside double-byte characters
// and the code page's full-width Latin letters (bytes as the code pages
// assign U+FF21.. and U+FF41..).
TEST(CStringTest, NoCaseComparisonFoldsByCharacterOfTheCodePage) {
  struct Case {
    unsigned codePage;
    const char *a, *b;
    bool equal;
  };
  const Case cases[] = {
      {932, "\x83\x41", "\x83\x61", false},  // ア and ヂ: second bytes "A" and "a"
      {1252, "\x83\x41", "\x83\x61", true},
      {932, "x\x82\x60.TXT", "X\x82\x81.txt", true},  // Ａ and ａ
      {932, "\x82\x79", "\x82\x9A", true},            // Ｚ and ｚ
      {1252, "\x82\x60", "\x82\x81", false},
      {936, "\x82\x60", "\x82\x81", false},            // no letters there in 936
      {936, "\xA3\xC1", "\xA3\xE1", true},
      {949, "\xA3\xDA", "\xA3\xFA", true},
      {950, "\xA2\xCF", "\xA2\xE9", true},             // Ａ and ａ
      {950, "\xA2\xE5", "\xA3\x40", true},             // Ｗ and ｗ, after the change of lead byte
      {950, "\xA2\xE4", "\xA3\x40", false},            // Ｖ and ｗ
      {932, "ab\x83", "AB\x83", true},
  };
  for (const Case& c : cases) {
    sfx::test::ScopedCodePage cp(c.codePage);
    EXPECT_EQ(CString(c.a).CompareNoCase(c.b) == 0, c.equal) << c.codePage << " " << c.a;
    EXPECT_EQ(CString(c.b).CompareNoCase(c.a) == 0, c.equal) << c.codePage << " " << c.b;
  }
}

TEST(CStringTest, BufferFilledLikeAPlatformCall) {
  // A platform call writes up to 260 characters without caring what the
  // string held before, sometimes without a terminator.
  for (const char* before : {"", "short", "a rather longer previous value of the string"}) {
    CString s(before);
    char* p = s.GetBuffer(MAX_PATH);
    memset(p, 'x', MAX_PATH);  // all 260 characters, no NUL
    s.ReleaseBuffer(-1);
    EXPECT_EQ(s.GetLength(), MAX_PATH) << before;
    EXPECT_EQ(S(s), std::string(MAX_PATH, 'x'));
  }

  CString t("old text");
  char* p = t.GetBuffer(MAX_PATH);
  EXPECT_STREQ(p, "old text");  // GetBuffer keeps the current text
  strcpy(p, "C:\\TEMP\\");
  t.ReleaseBuffer();
  EXPECT_EQ(S(t), "C:\\TEMP\\");

  // A short write into a fresh buffer ends at its own terminator, whatever
  // the allocator left behind it.
  CString u;
  p = u.GetBuffer(MAX_PATH);
  p[0] = 'a';
  p[1] = 'b';
  u.ReleaseBuffer(-1);
  EXPECT_EQ(S(u), "ab");
}

TEST(CStringTest, ReleaseBufferWithExplicitLength) {
  CString s;
  char* p = s.GetBuffer(10);
  memcpy(p, "0123456789", 10);
  s.ReleaseBuffer(4);
  EXPECT_EQ(S(s), "0123");
  EXPECT_EQ(((const char*)s)[4], 0);

  // Bytes with a NUL among them count when the length is given.
  p = s.GetBuffer(5);
  memcpy(p, "ab\0cd", 5);
  s.ReleaseBuffer(5);
  EXPECT_EQ(s.GetLength(), 5);

  // A length beyond the buffer is cut to it rather than reaching past.
  CString t;
  p = t.GetBuffer(8);
  memset(p, 'y', 8);
  t.ReleaseBuffer(1 << 30);
  ASSERT_GE(t.GetLength(), 8);
  ASSERT_LT(t.GetLength(), 1 << 20);
  EXPECT_EQ(S(t).substr(0, 8), "yyyyyyyy");
  // The slack the caller did not write holds zeros, and the end is marked.
  EXPECT_EQ(S(t).substr(8), std::string((size_t)t.GetLength() - 8, '\0'));
  EXPECT_EQ(((const char*)t)[t.GetLength()], 0);

  // ReleaseBuffer on a string that never had a buffer does nothing.
  CString e;
  e.ReleaseBuffer(5);
  EXPECT_TRUE(e.IsEmpty());
}

TEST(CStringTest, SelfAssignmentAndSelfAppend) {
  CString s("abc");
  CString& alias = s;
  s = alias;
  EXPECT_EQ(S(s), "abc");
  s = (const char*)s;  // its own buffer as a C string
  EXPECT_EQ(S(s), "abc");
  s = (const char*)s + 1;  // a tail of its own buffer
  EXPECT_EQ(S(s), "bc");

  // Appending the string to itself, also when that makes the buffer move.
  CString t("0123456789");
  for (int i = 0; i < 6; ++i) t += t;
  EXPECT_EQ(t.GetLength(), 640);
  std::string expected;
  for (int i = 0; i < 64; ++i) expected += "0123456789";
  EXPECT_EQ(S(t), expected);

  CString u("xyz");
  u += (const char*)u + 1;  // part of itself
  EXPECT_EQ(S(u), "xyzyz");
  u.Append((const char*)u, 2);
  EXPECT_EQ(S(u), "xyzyzxy");
}

TEST(CStringTest, FormatMayUseItsOwnText) {
  CString s("abc");
  s.Format("%s-%d-%s", (const char*)s, 42, (const char*)s);
  EXPECT_EQ(S(s), "abc-42-abc");
  CString big;
  big.Format("%0500d", 7);
  EXPECT_EQ(big.GetLength(), 500);
  EXPECT_EQ(big[499], '7');
}

// Compare and the operators are byte-exact on unsigned bytes (0x80 and up
// sort after ASCII); CompareNoCase folds ASCII letters only: 0xC4 and 0xE4
// stay apart, and '[' (between 'Z' and 'a') matches no letter.
TEST(CStringTest, CompareIsUnsignedByteExactAndNoCaseFoldsAsciiOnly) {
  const struct {
    const char *a, *b;
    int compare, noCase;  // signs
  } cases[] = {
      {"abc", "abc", 0, 0},    {"abc", "abd", -1, -1}, {"abc", "ab", 1, 1},
      {"ABC", "abc", -1, 0},   {"Win16\\Setup.DLL", "WIN16\\setup.dll", 1, 0},
      {"a", "B", 1, -1},       {"b", "A", 1, 1},       {"ab", "a", 1, 1},
      {"\xC4", "\xE4", -1, -1}, {"[", "{", -1, -1},
      {"\x81\x40", "A", 1, 1}, {"z", "\x81\x40", -1, -1}, {"\x81\x41", "\x81\x40", 1, 1},
  };
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (const auto& c : cases) {
    const CString a(c.a), b(c.b);
    EXPECT_EQ(sign(a.Compare(c.b)), c.compare) << c.a << " " << c.b;
    EXPECT_EQ(sign(a.CompareNoCase(c.b)), c.noCase) << c.a << " " << c.b;
    EXPECT_EQ(a == b, c.compare == 0) << c.a << " " << c.b;
    EXPECT_EQ(a < b, c.compare < 0) << c.a << " " << c.b;
  }
  EXPECT_EQ(CString("").Compare(nullptr), 0);
  // Equality of two CStrings includes bytes after an embedded NUL.
  EXPECT_FALSE(CString("a\0b", 3) == CString("a\0c", 3));
  EXPECT_TRUE(CString("a\0b", 3) == CString("a\0b", 3));
}

TEST(CStringTest, UpperLowerAndAt) {
  CString s("Mixed \xE4 Case");
  s.MakeUpper();
  EXPECT_EQ(S(s), "MIXED \xE4 CASE");
  s.MakeLower();
  EXPECT_EQ(S(s), "mixed \xE4 case");
  EXPECT_EQ(s.GetAt(6), '\xE4');
  EXPECT_EQ(s.GetAt(-1), 0);
  EXPECT_EQ(s.GetAt(100), 0);
  s.SetAt(0, 'M');
  s.SetAt(100, 'X');  // outside: ignored
  EXPECT_EQ(S(s), "Mixed \xE4 case");
}

TEST(CStringTest, AfxFormatString1) {
  struct Case {
    const char* format;
    const char* arg;
    const char* want;
  } cases[] = {
      {"An invalid file handle was associated with %1.", "C:\\x", "An invalid file handle was associated with C:\\x."},
      {"An invalid file handle was associated with %1.", nullptr, "An invalid file handle was associated with ."},
      {"%1 has a bad format.", "an unnamed file", "an unnamed file has a bad format."},
      {"%1%1", "ab", "abab"},
      {"no marker", "x", "no marker"},
      {"100%", "x", "100%"},
      {"%2 and %%1", "x", "%2 and %x"},
  };
  for (const Case& c : cases) {
    CString out("previous");
    AfxFormatString1(out, c.format, c.arg);
    EXPECT_EQ(S(out), c.want) << c.format;
  }
  CString out("previous");
  AfxFormatString1(out, nullptr, "x");
  EXPECT_TRUE(out.IsEmpty());

  // The output may be the format or the argument itself.
  CString fmt("<%1>");
  AfxFormatString1(fmt, fmt, "v");
  EXPECT_EQ(S(fmt), "<v>");
  CString arg("name");
  AfxFormatString1(arg, "[%1|%1]", arg);
  EXPECT_EQ(S(arg), "[name|name]");
}

TEST(CStringTest, OversizedRequestsRaiseTheMemoryException) {
  // Sizes whose length plus terminator, or length plus what is there
  // already, no longer fit: refused before any byte is read or allocated.
  CString s("abc");
  const char* src = "x";
  EXPECT_EQ(CatchFramework([&] { s.GetBuffer(0x7FFFFFFF); }).kind, "memory");
  EXPECT_EQ(CatchFramework([&] { s.Append(src, 0x7FFFFFFF); }).kind, "memory");
  EXPECT_EQ(CatchFramework([&] { s.Append(src, 0x7FFFFFFE); }).kind, "memory");
  EXPECT_EQ(CatchFramework([&] { CString big('x', 0x7FFFFFFF); }).kind, "memory");
  EXPECT_EQ(S(s), "abc");  // unchanged
}

}  // namespace
