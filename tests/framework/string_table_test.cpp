// The application's string table and the formatting of its entries.
#include "framework/string_table.h"

#include <gtest/gtest.h>

namespace {

const AFX_STRING_ENTRY kTable[] = {
    {4, "\"%1\" /S"},
    {7, "plain"},
    {9, nullptr},  // an entry without text counts as missing
};

class StringTableTest : public testing::Test {
 protected:
  void TearDown() override { AfxSetStringTable(nullptr, 0); }
};

TEST_F(StringTableTest, WithoutATableEveryEntryIsMissing) {
  CString s("previous");
  EXPECT_FALSE(AfxLoadString(4, s));
  EXPECT_TRUE(s.IsEmpty());
  s = "previous";
  AfxFormatString1(s, 4, "C:\\WINDOWS\\MAIN.EXE");
  EXPECT_TRUE(s.IsEmpty());  // the command stays empty
}

TEST_F(StringTableTest, LookupAndFormat) {
  AfxSetStringTable(kTable, 3);
  struct Case {
    UINT id;
    BOOL found;
    const char* text;
  } cases[] = {{4, TRUE, "\"%1\" /S"}, {7, TRUE, "plain"}, {9, FALSE, ""}, {5, FALSE, ""}};
  for (const Case& c : cases) {
    CString s("previous");
    EXPECT_EQ(AfxLoadString(c.id, s), c.found) << c.id;
    EXPECT_EQ(s, c.text) << c.id;
  }
  CString cmd;
  AfxFormatString1(cmd, 4, "C:\\WINDOWS\\MAIN.EXE");
  EXPECT_EQ(cmd, "\"C:\\WINDOWS\\MAIN.EXE\" /S");

  // A count shorter than the table hides the entries beyond it.
  AfxSetStringTable(kTable, 1);
  CString s;
  EXPECT_FALSE(AfxLoadString(7, s));
  AfxSetStringTable(kTable, -3);
  EXPECT_FALSE(AfxLoadString(4, s));
}

}  // namespace
