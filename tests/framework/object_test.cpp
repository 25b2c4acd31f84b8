// CObject's run-time classes and the registry of serializable classes.
#include "framework/object.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

// Test-only classes: a small hierarchy, one with another schema, one that
// is dynamic but not serializable.
class CTestBase : public CObject {
  DECLARE_SERIAL(CTestBase)
 public:
  int m_nValue = 7;
};

class CTestDerived : public CTestBase {
  DECLARE_SERIAL(CTestDerived)
};

class CTestSchema3 : public CObject {
  DECLARE_SERIAL(CTestSchema3)
};

class CTestDynamic : public CObject {
  DECLARE_DYNAMIC(CTestDynamic)
};

}  // namespace

IMPLEMENT_SERIAL(CTestBase, CObject, 0)
IMPLEMENT_SERIAL(CTestDerived, CTestBase, 0)
IMPLEMENT_SERIAL(CTestSchema3, CObject, 3)
IMPLEMENT_DYNAMIC(CTestDynamic, CObject)

namespace {

TEST(ClassRegistryTest, LookupByName) {
  struct Case {
    const char* name;
    const CRuntimeClass* want;
  } cases[] = {
      {"CTestBase", RUNTIME_CLASS(CTestBase)},
      {"CTestDerived", RUNTIME_CLASS(CTestDerived)},
      {"CTestSchema3", RUNTIME_CLASS(CTestSchema3)},
      {"CTestUnknown", nullptr},
      {"", nullptr},
      {"ctestbase", nullptr},    // names compare case-sensitively
      {"CTESTBASE", nullptr},
      {"CTestBas", nullptr},     // a prefix is not the name
      {"CTestBaseX", nullptr},   // nor is a longer name
      {"CTestDynamic", nullptr}, // only serializable classes are registered
  };
  for (const Case& c : cases) EXPECT_EQ(CRuntimeClass::FromName(c.name), c.want) << c.name;
  EXPECT_EQ(CRuntimeClass::FromName(nullptr), nullptr);
}

TEST(ClassRegistryTest, LookupByCountedName) {
  // An archive hands over the name's bytes with their count, not terminated.
  const char bytes[] = {'C', 'T', 'e', 's', 't', 'B', 'a', 's', 'e', 'Q', 'Q'};
  EXPECT_EQ(CRuntimeClass::FromName(bytes, 9), RUNTIME_CLASS(CTestBase));
  EXPECT_EQ(CRuntimeClass::FromName(bytes, 8), nullptr);
  EXPECT_EQ(CRuntimeClass::FromName(bytes, 10), nullptr);
  EXPECT_EQ(CRuntimeClass::FromName(bytes, 0), nullptr);
  EXPECT_EQ(CRuntimeClass::FromName(bytes, -1), nullptr);
  EXPECT_EQ(CRuntimeClass::FromName(nullptr, 3), nullptr);
  // A NUL inside the counted bytes is part of the name, so it does not match.
  const char withNul[] = {'C', 'T', 'e', 's', 't', 'B', 'a', 's', 'e', '\0'};
  EXPECT_EQ(CRuntimeClass::FromName(withNul, 10), nullptr);
}

TEST(ClassRegistryTest, RuntimeClassFields) {
  const CRuntimeClass* base = RUNTIME_CLASS(CTestBase);
  EXPECT_STREQ(base->m_lpszClassName, "CTestBase");
  EXPECT_EQ(base->m_wSchema, 0u);
  EXPECT_EQ(base->m_nObjectSize, (int)sizeof(CTestBase));
  EXPECT_EQ(base->m_pBaseClass, RUNTIME_CLASS(CObject));
  EXPECT_EQ(RUNTIME_CLASS(CTestSchema3)->m_wSchema, 3u);
  EXPECT_EQ(RUNTIME_CLASS(CTestDynamic)->m_wSchema, 0xFFFFu);
}

TEST(ClassRegistryTest, Derivation) {
  struct Case {
    const CRuntimeClass* cls;
    const CRuntimeClass* base;
    BOOL want;
  } cases[] = {
      {RUNTIME_CLASS(CTestDerived), RUNTIME_CLASS(CTestDerived), TRUE},
      {RUNTIME_CLASS(CTestDerived), RUNTIME_CLASS(CTestBase), TRUE},
      {RUNTIME_CLASS(CTestDerived), RUNTIME_CLASS(CObject), TRUE},
      {RUNTIME_CLASS(CTestBase), RUNTIME_CLASS(CTestDerived), FALSE},
      {RUNTIME_CLASS(CTestSchema3), RUNTIME_CLASS(CTestBase), FALSE},
      {RUNTIME_CLASS(CObject), RUNTIME_CLASS(CTestBase), FALSE},
      {RUNTIME_CLASS(CTestBase), nullptr, FALSE},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.cls->IsDerivedFrom(c.base), c.want)
        << c.cls->m_lpszClassName << " from " << (c.base ? c.base->m_lpszClassName : "null");

  CTestDerived derived;
  const CObject& asObject = derived;
  EXPECT_EQ(asObject.GetRuntimeClass(), RUNTIME_CLASS(CTestDerived));
  EXPECT_TRUE(asObject.IsKindOf(RUNTIME_CLASS(CTestBase)));
  EXPECT_TRUE(asObject.IsKindOf(RUNTIME_CLASS(CObject)));
  EXPECT_FALSE(asObject.IsKindOf(RUNTIME_CLASS(CTestSchema3)));
  EXPECT_TRUE(asObject.IsSerializable());
  CTestDynamic dynamic;
  EXPECT_FALSE(dynamic.IsSerializable());
  EXPECT_TRUE(dynamic.IsKindOf(RUNTIME_CLASS(CObject)));
}

TEST(ClassRegistryTest, CreateObjectMakesAnObjectOfTheClass) {
  std::unique_ptr<CObject> made(CRuntimeClass::FromName("CTestDerived")->CreateObject());
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->GetRuntimeClass(), RUNTIME_CLASS(CTestDerived));
  EXPECT_EQ(static_cast<CTestBase*>(made.get())->m_nValue, 7);  // constructed
  // A class without a factory makes nothing.
  EXPECT_EQ(RUNTIME_CLASS(CTestDynamic)->CreateObject(), nullptr);
  EXPECT_EQ(RUNTIME_CLASS(CObject)->CreateObject(), nullptr);
}

}  // namespace
