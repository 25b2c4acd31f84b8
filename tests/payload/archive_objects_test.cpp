// Object references: tags, the class-and-object map, back-references, the
// big-index form, and every archive error cause of a load.
#include <gtest/gtest.h>

#include "archive_test_util.h"
#include "payload/catalogue.h"
#include "payload/owned_arrays.h"

using namespace sfx::test;

namespace {

const char kPath[] = "C:\\SETUP\\Data.bin";

// Loads a generic object array; the caller deletes its elements.
Caught LoadArray(const ByteVec& bytes, CObArray& arr) {
  NamedMemFile file(bytes, kPath);
  return CatchFramework([&] {
    CArchive ar(&file, CArchive::load);
    arr.Serialize(ar);
  });
}

}  // namespace

// A null slot and a back-reference, in both directions. The generic array
// allows the repeat; deleting its elements deletes the object once.
TEST(ArchiveObjects, NullAndBackReference) {
  B b;
  b.w(3).cls("CIndexArray");
  IndexListBytes(b, {7});
  b.w(0x0000).w(0x0002);

  CObArray back;
  ASSERT_FALSE(LoadArray(b, back).thrown());
  ASSERT_EQ(back.GetSize(), 3);
  EXPECT_NE(back[0], nullptr);
  EXPECT_EQ(back[1], nullptr);
  EXPECT_EQ(back[2], back[0]);

  EXPECT_EQ(Store([&](CArchive& ar) { back.Serialize(ar); }), b.vec());
  DeleteOwnedElements(back);
  EXPECT_EQ(back.GetSize(), 0);
}

// More than 0x7FFE map entries: objects and classes past index 0x7FFE are
// written with the big-index tag and read back through it.
TEST(ArchiveObjects, BigIndexTagsRoundTrip) {
  const int kLists = 40000;  // indices 2 .. 40001 (class CIndexArray is 1)
  CObArray arr;
  for (int i = 0; i < kLists; ++i) arr.Add(NewIndexList({(DWORD)i}));
  auto* item1 = new CBuildItem;  // class at 40002, object 40003
  auto* item2 = new CBuildItem;  // object 40004 of class 40002
  item1->m_strName = "one";
  item2->m_strName = "two";
  arr.Add(item1);
  arr.Add(item2);
  arr.Add(arr[35000]);  // object index 35002 (list i is object i + 2)
  arr.Add(arr[100]);    // object index 102: short form still
  ByteVec bytes = Store([&](CArchive& ar) { arr.Serialize(ar); });

  // Tail: item2 (big class tag), then the two back-references.
  B item2Bytes;
  item2Bytes.w(0x7FFF).d(0x80000000u | 40002).str("two").str("").str("").str("").d(0).d(0).d(0).d(0);
  B tail = item2Bytes;
  tail.w(0x7FFF).d(35002).w(102);
  ASSERT_GT(bytes.size(), tail.vec().size());
  EXPECT_EQ(ByteVec(bytes.end() - tail.vec().size(), bytes.end()), tail.vec());
  EXPECT_EQ(ByteVec(bytes.begin(), bytes.begin() + 2), (ByteVec)B().w(kLists + 4));

  CObArray back;
  ASSERT_FALSE(LoadArray(bytes, back).thrown());
  ASSERT_EQ(back.GetSize(), kLists + 4);
  for (int i = 0; i < kLists; ++i) {
    auto* p = static_cast<CIndexArray*>(back[i]);
    ASSERT_EQ(p->m_dwIndices[0], (DWORD)i);
  }
  EXPECT_EQ(static_cast<CBuildItem*>(back[kLists])->m_strName, "one");
  EXPECT_EQ(static_cast<CBuildItem*>(back[kLists + 1])->m_strName, "two");
  EXPECT_EQ(back[kLists + 2], back[35000]);
  EXPECT_EQ(back[kLists + 3], back[100]);

  // The big-index tag is also read where the short one would do.
  B b;
  b.w(3).w(0x7FFF).d(0x80000000u);  // class index 0 through the big tag: bad
  CObArray bad;
  EXPECT_EQ(LoadArray(b, bad).cause, CArchiveException::badIndex);
  B ok;
  ok.w(2).cls("CIndexArray");
  IndexListBytes(ok, {}).w(0x7FFF).d(0x80000001u);
  IndexListBytes(ok, {9});
  CObArray good;
  ASSERT_FALSE(LoadArray(ok, good).thrown());
  EXPECT_EQ(static_cast<CIndexArray*>(good[1])->m_dwIndices[0], 9u);

  DeleteOwnedElements(arr);
  DeleteOwnedElements(back);
  DeleteOwnedElements(bad);
  DeleteOwnedElements(good);
}

TEST(ArchiveObjects, ErrorCausesAndMessages) {
  const std::string badIndex = std::string(kPath) + " has a bad format.";
  const std::string badClass = std::string(kPath) + " contained an unexpected object.";
  const std::string badSchema = std::string(kPath) + " contains an incorrect schema.";
  auto first = [] {  // an array whose first element is class 1, object 2
    B b;
    b.w(2).cls("CIndexArray");
    return IndexListBytes(b, {1});
  };
  struct Case {
    const char* name;
    ByteVec bytes;
    int cause;
    std::string message;
  } cases[] = {
      {"class index 0", B().w(1).w(0x8000), CArchiveException::badIndex, badIndex},
      {"object index = next", B().w(1).w(0x0001), CArchiveException::badIndex, badIndex},
      {"class index = next", B().w(1).w(0x8001), CArchiveException::badIndex, badIndex},
      {"object index = next after two", first().w(0x0003), CArchiveException::badIndex, badIndex},
      {"class index names object", first().w(0x8002), CArchiveException::badIndex, badIndex},
      {"object index names class", first().w(0x0001), CArchiveException::badIndex, badIndex},
      {"big object index beyond", B().w(1).w(0x7FFF).d(5), CArchiveException::badIndex, badIndex},
      {"big class index beyond", B().w(1).w(0x7FFF).d(0x80000005u), CArchiveException::badIndex,
       badIndex},
      // Nothing follows the length: reading the name would be an end of file.
      {"name length 64", B().w(1).w(0xFFFF).w(0).w(64), CArchiveException::badClass, badClass},
      {"name cut short", B().w(1).w(0xFFFF).w(0).w(11).raw("CIndex"), CArchiveException::badClass,
       badClass},
      {"name differs in case", B().w(1).cls("cindexarray").w(0), CArchiveException::badClass,
       badClass},
      {"unknown name", B().w(1).cls("CNoSuchClass").w(0), CArchiveException::badClass, badClass},
      {"non-serializable class name", B().w(1).cls("CObject"), CArchiveException::badClass, badClass},
      {"schema 1", B().w(1).w(0xFFFF).w(1).w(11).raw("CIndexArray").w(0),
       CArchiveException::badSchema, badSchema},
      {"end inside tag", B().w(1).b(0xFF), CArchiveException::endOfFile,
       "An attempt was made to access an unnamed file past its end."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CObArray arr;
    Caught t = LoadArray(c.bytes, arr);
    EXPECT_EQ(t.kind, "archive");
    EXPECT_EQ(t.cause, c.cause);
    EXPECT_EQ(t.message, c.message);
    DeleteOwnedElements(arr);  // elements read before the fault stay in the array
  }
}

TEST(ArchiveObjects, RequiredClassIsEnforced) {
  B b;
  b.cls("CIndexArray");
  IndexListBytes(b, {});
  b.w(0x0002);
  NamedMemFile file(b, kPath);
  CArchive ar(&file, CArchive::load);
  Caught t = CatchFramework([&] { delete ar.ReadObject(RUNTIME_CLASS(CBuildItem)); });
  EXPECT_EQ(t.cause, CArchiveException::badClass);

  NamedMemFile file2(b, kPath);
  CArchive ar2(&file2, CArchive::load);
  CObject* pOb = ar2.ReadObject(RUNTIME_CLASS(CIndexArray));
  ASSERT_NE(pOb, nullptr);
  // A back-reference to an object of another class is refused too.
  t = CatchFramework([&] { ar2.ReadObject(RUNTIME_CLASS(CBuildItem)); });
  EXPECT_EQ(t.cause, CArchiveException::badClass);
  delete pOb;
}

// An object whose own members fail to load is deleted by ReadObject (the
// leak checker at exit would report it otherwise); elements before it stay.
TEST(ArchiveObjects, FailedObjectIsReleased) {
  B b;
  b.w(2).cls("CBuildItem").str("a").str("b").str("c").str("d").d(1).d(2).d(3).d(4);
  b.w(0x8001).str("name").str("dest");  // cut short inside the second item
  CObArray arr;
  Caught t = LoadArray(b, arr);
  EXPECT_EQ(t.cause, CArchiveException::endOfFile);
  ASSERT_EQ(arr.GetSize(), 2);
  EXPECT_NE(arr[0], nullptr);
  EXPECT_EQ(arr[1], nullptr);
  DeleteOwnedElements(arr);
}

class CNotSerializable : public CObject {
  DECLARE_DYNAMIC(CNotSerializable)
};
IMPLEMENT_DYNAMIC(CNotSerializable, CObject)

TEST(ArchiveObjects, StoringNonSerializableClassIsNotSupported) {
  CNotSerializable ob;
  CMemFile file;
  CArchive ar(&file, CArchive::store);
  Caught t = CatchFramework([&] { ar.WriteObject(&ob); });
  EXPECT_EQ(t.kind, "notSupported");
}

// A count the input cannot hold fails before the array is sized.
TEST(ArchiveArrays, HostileCountsFailAsEndOfFile) {
  struct Case {
    const char* name;
    ByteVec bytes;
    int which;  // 0 strings, 1 DWORDs, 2 objects
  } cases[] = {
      {"strings", B().w(0xFFFF).d(0xFFFFFFF0).raw("abcdefgh"), 0},
      {"dwords", B().w(0xFFFF).d(0x40000000).d(1).d(2), 1},
      {"objects", B().w(0xFFFF).d(0x7FFFFFFF).w(0).w(0), 2},
      {"dwords just too many", B().w(3).d(1).d(2).w(3), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NamedMemFile file(c.bytes, kPath);
    CArchive ar(&file, CArchive::load);
    CStringArray strings;
    CDWordArray dwords;
    CObArray objects;
    Caught t = CatchFramework([&] {
      if (c.which == 0) strings.Serialize(ar);
      if (c.which == 1) dwords.Serialize(ar);
      if (c.which == 2) objects.Serialize(ar);
    });
    EXPECT_EQ(t.cause, CArchiveException::endOfFile);
    EXPECT_EQ(strings.GetSize() + dwords.GetSize() + objects.GetSize(), 0);
  }
}
