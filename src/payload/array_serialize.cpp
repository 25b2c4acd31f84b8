// Serialize of the framework's three array classes: a count, then the
// elements. Loading checks the count against what the rest of the input can
// hold before sizing the array, so a hostile count fails with endOfFile
// instead of asking for gigabytes; a valid archive loads the same either way.
#include "framework/collections.h"
#include "framework/exceptions.h"
#include "payload/archive.h"
#include "platform/byte_order.h"

void CStringArray::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar.WriteCount((DWORD)GetSize());
    for (int i = 0; i < GetSize(); ++i) ar << GetAt(i);
    return;
  }
  SetSize(ar.ReadArrayCount(1));  // a string takes its prefix byte at least
  for (int i = 0; i < GetSize(); ++i) ar >> ElementAt(i);
}

void CDWordArray::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar.WriteCount((DWORD)GetSize());
    for (int i = 0; i < GetSize(); ++i) ar << GetAt(i);
    return;
  }
  int nCount = ar.ReadArrayCount(4);
  SetSize(nCount);
  if (nCount == 0) return;
  // Packed DWORDs, read raw: slots the end of the file cuts off stay 0.
  DWORD* pData = GetData();
  BYTE* pBytes = (BYTE*)pData;
  UINT nRead = ar.Read(pBytes, (UINT)nCount * 4);
  const sfx::ByteView read{pBytes, nRead};
  for (int i = 0; i < nCount; ++i) pData[i] = read.Le32((uint64_t)i * 4);
}

void CObArray::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar.WriteCount((DWORD)GetSize());
    for (int i = 0; i < GetSize(); ++i) ar.WriteObject(GetAt(i));
    return;
  }
  SetSize(ar.ReadArrayCount(2));  // every element has its tag WORD
  for (int i = 0; i < GetSize(); ++i) SetAt(i, ar.ReadObject(nullptr));
}
