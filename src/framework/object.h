// CObject, run-time class information and the registry of serializable
// classes.
//
// A serializable class is registered under its exact name with its schema and
// a factory before main runs (IMPLEMENT_SERIAL defines a global object whose
// constructor links the class into the registry), so that an archive can make
// an object from the name it reads.
#pragma once

#include "platform/platform.h"

class CArchive;
class CObject;

struct CRuntimeClass {
  const char* m_lpszClassName;
  int m_nObjectSize;
  UINT m_wSchema;                    // 0xFFFF: not serializable
  CObject* (*m_pfnCreateObject)();  // NULL: no factory
  const CRuntimeClass* m_pBaseClass;
  CRuntimeClass* m_pNextClass;       // registry chain

  // A new object of the class, or NULL when it has no factory or memory runs
  // out (the caller raises the memory exception).
  CObject* CreateObject() const;
  // TRUE if this class is pBaseClass or derives from it.
  BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;

  // The registered class of that exact name (byte for byte), or NULL.
  static const CRuntimeClass* FromName(const char* lpszClassName);
  // Same, for a name of nLength bytes that need not be NUL-terminated.
  static const CRuntimeClass* FromName(const char* pchName, int nLength);
};

// Links a class into the registry; IMPLEMENT_SERIAL makes one of these.
struct AFX_CLASSINIT {
  explicit AFX_CLASSINIT(CRuntimeClass* pNewClass);
};

class CObject {
 public:
  static const CRuntimeClass classCObject;

  virtual const CRuntimeClass* GetRuntimeClass() const;
  virtual ~CObject();
  virtual void Serialize(CArchive& ar);
  virtual void AssertValid() const {}
  virtual void Dump() const {}

  BOOL IsKindOf(const CRuntimeClass* pClass) const;
  BOOL IsSerializable() const;

 protected:
  CObject() = default;

 private:
  CObject(const CObject&) = delete;
  CObject& operator=(const CObject&) = delete;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNAMIC(class_name)                      \
 public:                                                 \
  static const CRuntimeClass class##class_name;          \
  const CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_SERIAL(class_name)                       \
 public:                                                 \
  static CRuntimeClass class##class_name;                \
  const CRuntimeClass* GetRuntimeClass() const override; \
  static CObject* CreateObject();

#define IMPLEMENT_DYNAMIC(class_name, base_class_name)                               \
  const CRuntimeClass class_name::class##class_name = {                              \
      #class_name, sizeof(class_name), 0xFFFF, nullptr, RUNTIME_CLASS(base_class_name), \
      nullptr};                                                                      \
  const CRuntimeClass* class_name::GetRuntimeClass() const { return RUNTIME_CLASS(class_name); }

#define IMPLEMENT_SERIAL(class_name, base_class_name, wSchema)                           \
  CObject* class_name::CreateObject() { return new class_name; }                         \
  CRuntimeClass class_name::class##class_name = {                                        \
      #class_name, sizeof(class_name), wSchema, class_name::CreateObject,                \
      RUNTIME_CLASS(base_class_name), nullptr};                                          \
  const CRuntimeClass* class_name::GetRuntimeClass() const { return RUNTIME_CLASS(class_name); } \
  static const AFX_CLASSINIT _init_##class_name(&class_name::class##class_name);
