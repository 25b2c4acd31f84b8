// The small services: message box line, fonts, global memory, the
// lstr* string calls, and the byte order and range helpers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/byte_order.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

using sfx::test::ReadFile;
using sfx::test::ScopedPrefix;
using sfx::test::WriteFile;

namespace {

TEST(MessageBox, OneLineOnStandardError) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "A file error\r\noccurred.", "setup", MB_OK | MB_ICONEXCLAMATION), IDOK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "setup: A file error  occurred.\n");
}

TEST(Fonts, OnlyReadableFontFilesAreAddedAndRecorded) {
  ScopedPrefix prefix;
  struct {
    const char* name;
    std::string bytes;
    int result;
  } cases[] = {
      {"C:\\WINDOWS\\FONTS\\a.ttf", std::string("\0\1\0\0rest", 8), 1},
      {"C:\\WINDOWS\\FONTS\\b.otf", "OTTOrest", 1},
      {"C:\\WINDOWS\\FONTS\\c.ttf", "truerest", 1},
      {"C:\\WINDOWS\\FONTS\\d.ttc", "ttcfrest", 1},
      {"C:\\WINDOWS\\FONTS\\e.ttf", "GIF89a", 0},
      {"C:\\WINDOWS\\FONTS\\f.ttf", "OTT", 0},  // shorter than a signature
  };
  for (const auto& tc : cases) {
    WriteFile(prefix.Host(tc.name), tc.bytes);
    EXPECT_EQ(AddFontResourceA(tc.name), tc.result) << tc.name;
  }
  EXPECT_EQ(AddFontResourceA("C:\\WINDOWS\\FONTS\\missing.ttf"), 0);
  EXPECT_EQ(AddFontResourceA("a.ttf"), 1);  // a bare name is in the Fonts folder
  EXPECT_EQ(AddFontResourceA(nullptr), 0);
  EXPECT_EQ(ReadFile(prefix.root() + "/fontresources.txt"),
            "C:\\WINDOWS\\FONTS\\a.ttf\nC:\\WINDOWS\\FONTS\\b.otf\nC:\\WINDOWS\\FONTS\\c.ttf\n"
            "C:\\WINDOWS\\FONTS\\d.ttc\nC:\\WINDOWS\\FONTS\\a.ttf\n");
  EXPECT_EQ(SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0), 0);
}

TEST(GlobalMemory, MoveableAndFixedBlocks) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 100);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GlobalSize(h), 100u);
  char* p = static_cast<char*>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  EXPECT_NE(static_cast<void*>(p), h);  // moveable: the handle is not the pointer
  for (int i = 0; i < 100; ++i) EXPECT_EQ(p[i], 0) << i;
  memset(p, 'x', 100);
  EXPECT_EQ(GlobalHandle(p), h);
  EXPECT_EQ(GlobalLock(h), p);
  EXPECT_TRUE(GlobalUnlock(h));    // still locked once
  EXPECT_FALSE(GlobalUnlock(h));   // now unlocked
  EXPECT_EQ(GetLastError(), (DWORD)NO_ERROR);
  EXPECT_EQ(GlobalFree(h), nullptr);
  // A freed or unknown handle is refused, not used.
  EXPECT_EQ(GlobalLock(h), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  EXPECT_EQ(GlobalSize(h), 0u);
  EXPECT_EQ(GlobalFree(h), h);
  EXPECT_EQ(GlobalHandle(p), nullptr);

  HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 0);
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(GlobalLock(fixed), fixed);  // fixed: the handle is the pointer
  EXPECT_EQ(GlobalSize(fixed), 0u);
  EXPECT_EQ(GlobalFree(fixed), nullptr);
  EXPECT_EQ(GlobalFree(nullptr), nullptr);
  EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, (size_t)-1), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
}

TEST(Strings, LstrCalls) {
  char buf[32];
  EXPECT_EQ(lstrcpyA(buf, "Arial"), buf);
  EXPECT_STREQ(lstrcatA(buf, " (TrueType)"), "Arial (TrueType)");
  EXPECT_EQ(lstrlenA(buf), 16);
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_STREQ(lstrcpynA(buf, "abcdef", 4), "abc");
  EXPECT_STREQ(lstrcpynA(buf, "ab", 10), "ab");
  EXPECT_STREQ(lstrcpynA(buf, "abc", 1), "");
  strcpy(buf, "keep");
  EXPECT_STREQ(lstrcpynA(buf, "abc", 0), "keep");
  EXPECT_EQ(lstrcpyA(nullptr, "x"), nullptr);
  EXPECT_EQ(lstrcmpiA("Fonts", "FONTS"), 0);
  EXPECT_EQ(lstrcmpiA("a", "B"), -1);
  EXPECT_EQ(lstrcmpiA("b", "A"), 1);
  EXPECT_EQ(lstrcmpiA(nullptr, ""), 0);
}

TEST(ByteOrder, ValuesReadTheSameOnAnyHost) {
  const uint8_t b[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xF8};
  EXPECT_EQ(sfx::LoadLe16(b), 0x0201u);
  EXPECT_EQ(sfx::LoadLe32(b), 0x04030201u);
  EXPECT_EQ(sfx::LoadLe64(b), 0xF807060504030201ull);
  EXPECT_EQ(sfx::LoadBe16(b), 0x0102u);
  EXPECT_EQ(sfx::LoadBe32(b + 4), 0x050607F8u);
  uint8_t out[4] = {};
  sfx::StoreLe32(out, 0xF8070605u);
  EXPECT_EQ(sfx::LoadLe32(out), 0xF8070605u);
  sfx::StoreLe16(out, 0xBEEF);
  EXPECT_EQ(out[0], 0xEF);
  EXPECT_EQ(out[1], 0xBE);
  EXPECT_EQ(out[2], 0x07);  // nothing written past the value
}

TEST(ByteOrder, RangesNeverWrapAndViewsNeverReadPastTheEnd) {
  const uint64_t kMax = ~0ull;
  struct {
    uint64_t offset, size, total;
    bool fits;
  } cases[] = {
      {0, 0, 0, true},          {0, 4, 4, true},        {1, 4, 4, false},
      {4, 0, 4, true},          {5, 0, 4, false},       {kMax, 2, 4, false},
      {2, kMax - 1, 4, false},  {kMax, 0, kMax, true},  {1, kMax, kMax, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(sfx::Fits(c.offset, c.size, c.total), c.fits) << c.offset << "+" << c.size << " in " << c.total;

  const uint8_t b[6] = {1, 2, 3, 4, 5, 6};
  const sfx::ByteView view{b, 5};  // the sixth byte lies outside the view
  EXPECT_EQ(view.Le32(1), 0x05040302u);
  EXPECT_EQ(view.Le32(2), 0u);
  EXPECT_EQ(view.Le16(4), 0u);
  EXPECT_EQ(view.Le64(0), 0u);
  EXPECT_EQ(view.Le16(kMax), 0u);
}

}  // namespace
