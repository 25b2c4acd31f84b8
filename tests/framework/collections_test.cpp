// CObArray, CStringArray and CDWordArray.
#include "framework/collections.h"

#include <gtest/gtest.h>

#include <string>

#include "framework/exceptions.h"
#include "support/caught.h"

// The archive layer defines the arrays' Serialize; these tests never archive
// an array, they only need the virtual tables to link.
void CObArray::Serialize(CArchive&) {}
void CStringArray::Serialize(CArchive&) {}
void CDWordArray::Serialize(CArchive&) {}

namespace {

using sfx::test::CatchFramework;

// Counts its live instances, to see who deletes what.
class CCounted : public CObject {
 public:
  explicit CCounted(int* pLive) : m_pLive(pLive) { ++*m_pLive; }
  ~CCounted() override { --*m_pLive; }
  int* m_pLive;
};

TEST(ArrayTest, SetSizeGrowsWithEmptySlotsAndShrinks) {
  CDWordArray dw;
  dw.SetSize(3);
  ASSERT_EQ(dw.GetSize(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(dw[i], 0u);
  dw[0] = 10;
  dw[2] = 12;
  dw.SetSize(1);
  EXPECT_EQ(dw.GetSize(), 1);
  EXPECT_EQ(dw.GetUpperBound(), 0);
  // Growing again must not bring back the values that were cut off.
  dw.SetSize(5);
  EXPECT_EQ(dw[0], 10u);
  for (int i = 1; i < 5; ++i) EXPECT_EQ(dw[i], 0u) << i;
  dw.SetSize(-4);  // a negative size empties the array
  EXPECT_TRUE(dw.IsEmpty());

  CStringArray sa;
  sa.Add("one");
  sa.Add("two");
  sa.SetSize(1);
  sa.SetSize(3);
  EXPECT_EQ(sa[0], "one");
  EXPECT_TRUE(sa[1].IsEmpty());
  EXPECT_TRUE(sa[2].IsEmpty());

  CObArray ob;
  ob.SetSize(40);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(ob[i], nullptr);
}

TEST(ArrayTest, AddAppendsAndKeepsEarlierElements) {
  CStringArray sa;
  for (int i = 0; i < 100; ++i) EXPECT_EQ(sa.Add(CString('a', i % 7 + 1)), i);
  ASSERT_EQ(sa.GetSize(), 100);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(sa[i], CString('a', i % 7 + 1)) << i;

  CDWordArray dw;
  for (DWORD i = 0; i < 1000; ++i) dw.Add(i * 3);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(dw[i], (DWORD)i * 3);
}

TEST(ArrayTest, AddingAnElementOfTheSameArrayWhileItGrows) {
  // Add takes a reference; when the array reallocates, that reference would
  // point into freed storage unless it is copied first.
  CStringArray sa;
  sa.Add("first element, long enough to live on the heap");
  for (int i = 0; i < 50; ++i) sa.Add(sa[0]);
  for (int i = 0; i < sa.GetSize(); ++i)
    ASSERT_EQ(sa[i], "first element, long enough to live on the heap") << i;

  CDWordArray dw;
  dw.Add(0xDEADBEEF);
  for (int i = 0; i < 50; ++i) dw.Add(dw[dw.GetUpperBound()]);
  for (int i = 0; i < dw.GetSize(); ++i) ASSERT_EQ(dw[i], 0xDEADBEEFu);
}

TEST(ArrayTest, OutOfRangeAccessIsHarmless) {
  CStringArray sa;
  sa.Add("x");
  const CStringArray& csa = sa;
  for (int i : {-1, 1, 1000, -2147483647 - 1}) {
    EXPECT_TRUE(csa.GetAt(i).IsEmpty()) << i;
    EXPECT_TRUE(csa[i].IsEmpty()) << i;
    sa.SetAt(i, "ignored");
    sa.ElementAt(i) = "also ignored";
  }
  EXPECT_EQ(sa.GetSize(), 1);
  EXPECT_EQ(sa[0], "x");
  // A write through an out-of-range reference does not show up later.
  EXPECT_TRUE(sa.ElementAt(5).IsEmpty());

  CDWordArray empty;
  EXPECT_EQ(empty.GetAt(0), 0u);
  CObArray ob;
  EXPECT_EQ(ob.GetAt(3), nullptr);
}

TEST(ArrayTest, RemoveAt) {
  struct Case {
    int index;
    int count;
    const char* want;  // the remaining elements as letters
  } cases[] = {
      {0, 1, "bcde"}, {4, 1, "abcd"}, {1, 3, "ae"},  {2, 100, "ab"},
      {0, 5, ""},     {5, 1, "abcde"}, {-1, 1, "abcde"}, {1, 0, "abcde"},
      {1, -2, "abcde"},
  };
  for (const Case& c : cases) {
    CStringArray sa;
    for (char ch : std::string("abcde")) sa.Add(CString(ch));
    sa.RemoveAt(c.index, c.count);
    std::string got;
    for (int i = 0; i < sa.GetSize(); ++i) got += (const char*)sa[i];
    EXPECT_EQ(got, c.want) << c.index << "," << c.count;
  }
  // The freed slot at the end is empty when the array grows again.
  CStringArray sa;
  sa.Add("a");
  sa.Add("b");
  sa.RemoveAt(0);
  sa.SetSize(2);
  EXPECT_EQ(sa[0], "b");
  EXPECT_TRUE(sa[1].IsEmpty());
}

TEST(ArrayTest, ObjectArrayDoesNotOwnItsElements) {
  int live = 0;
  CCounted* a = new CCounted(&live);
  CCounted* b = new CCounted(&live);
  {
    CObArray ob;
    ob.Add(a);
    ob.Add(b);
    ob.Add(a);  // the same object twice
    ob.RemoveAt(0);
    ob.SetSize(1);
    ob.RemoveAll();
    ob.Add(b);
  }
  EXPECT_EQ(live, 2);  // neither removal nor destruction deleted anything
  delete a;
  delete b;
  EXPECT_EQ(live, 0);
}

TEST(ArrayTest, HugeSizesRaiseTheMemoryException) {
  CDWordArray dw;
  dw.Add(5);
  for (int size : {0x7FFFFFFF, 0x40000000, 0x20000000}) {
    EXPECT_EQ(CatchFramework([&] { dw.SetSize(size); }).kind, "memory") << size;
    EXPECT_EQ(dw.GetSize(), 1);  // the array is unchanged
    EXPECT_EQ(dw[0], 5u);
  }
  CObArray ob;
  EXPECT_EQ(CatchFramework([&] { ob.SetSize(0x7FFFFFFF); }).kind, "memory");
  EXPECT_TRUE(ob.IsEmpty());
  CStringArray sa;
  EXPECT_EQ(CatchFramework([&] { sa.SetSize(0x7FFFFFFF); }).kind, "memory");
  EXPECT_EQ(CatchFramework([&] { sa.SetSize(0x10000000); }).kind, "memory");
  EXPECT_TRUE(sa.IsEmpty());
}

}  // namespace
