// Object arrays whose elements belong to the array's owner: the project's
// four arrays and the engine's file table.
#pragma once

#include "framework/collections.h"
#include "framework/object.h"

class CArchive;

// Loads or stores the array. Loading first deletes the elements held, then
// accepts only objects of pClass that are new in this archive: an element of
// another class, a null element or a reference to an object read before
// raises badClass, so no object ends up owned twice (or not at all).
void SerializeOwnedArray(CArchive& ar, CObArray& arr, const CRuntimeClass* pClass);

// Deletes every non-null element, each distinct object once, and empties
// the array.
void DeleteOwnedElements(CObArray& arr);
