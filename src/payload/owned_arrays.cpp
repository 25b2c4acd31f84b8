#include "payload/owned_arrays.h"

#include <algorithm>
#include <functional>

#include "framework/exceptions.h"
#include "payload/archive.h"

void DeleteOwnedElements(CObArray& arr) {
  // Sorting brings repeated pointers together, so each object is deleted
  // once even in an array loaded by the generic CObArray::Serialize, which
  // allows an element to repeat an earlier one. No memory is needed.
  CObject** pData = arr.GetData();
  int nSize = arr.GetSize();
  std::sort(pData, pData + nSize, std::less<CObject*>());
  for (int i = 0; i < nSize; ++i) {
    if (pData[i] != nullptr && (i == 0 || pData[i] != pData[i - 1])) delete pData[i];
  }
  arr.RemoveAll();
}

void SerializeOwnedArray(CArchive& ar, CObArray& arr, const CRuntimeClass* pClass) {
  if (ar.IsStoring()) {
    arr.Serialize(ar);
    return;
  }
  DeleteOwnedElements(arr);
  arr.SetSize(ar.ReadArrayCount(2));  // every element has its tag WORD
  for (int i = 0; i < arr.GetSize(); ++i) {
    // A new object always takes a map index; a back-reference takes none.
    DWORD nMapCount = ar.GetMapCount();
    CObject* pOb = ar.ReadObject(pClass);
    if (pOb == nullptr || ar.GetMapCount() == nMapCount)
      ar.ThrowException(CArchiveException::badClass);
    arr.SetAt(i, pOb);
  }
}
